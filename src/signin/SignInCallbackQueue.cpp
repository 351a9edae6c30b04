#include "signin/SignInCallbackQueue.h"

void SignInCallbackQueue::addCallback(Callback callback)
{
    if (!callback)
        return;
    m_queue.push_back(std::move(callback));
    if (m_pending == 0)
        fire();
}

void SignInCallbackQueue::wait()
{
    ++m_pending;
    m_strongSelf = shared_from_this();
}

void SignInCallbackQueue::next()
{
    if (m_pending == 0)
        return;
    --m_pending;
    if (m_pending == 0) {
        // Alive until the end of this call.
        std::shared_ptr<SignInCallbackQueue> keep = std::move(m_strongSelf);
        fire();
    }
}

void SignInCallbackQueue::fire()
{
    if (m_firing)
        return;
    m_firing = true;
    while (m_pending == 0 && !m_queue.empty()) {
        Callback callback = std::move(m_queue.front());
        m_queue.pop_front();
        callback();
    }
    m_firing = false;
}

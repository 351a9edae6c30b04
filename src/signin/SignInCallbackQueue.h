#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

// Callbacks run in order; a callback that starts asynchronous work calls wait(), and the work's
// end calls next(), which resumes the queue. Not thread-safe: one thread at a time.
// Make it with std::make_shared: a waiting queue keeps itself alive.
class SignInCallbackQueue : public std::enable_shared_from_this<SignInCallbackQueue> {
public:
    using Callback = std::function<void()>;

    virtual ~SignInCallbackQueue() = default;

    void addCallback(Callback callback);
    void wait();
    void next();
    void fire();

    uint32_t pending() const { return m_pending; }

private:
    bool m_firing = false;
    uint32_t m_pending = 0;
    std::deque<Callback> m_queue;
    std::shared_ptr<SignInCallbackQueue> m_strongSelf;
};

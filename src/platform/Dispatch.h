#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

// Main-queue and global-queue dispatch over Qt. Background work runs on private thread pools that
// are never destroyed, so a hung child process can never block quitting.
namespace Dispatch {

enum class Priority { UserInitiated, Utility };

// Runs `work` on a background pool of the given priority.
void global(Priority priority, std::function<void()> work);
inline void userInitiated(std::function<void()> work) { global(Priority::UserInitiated, std::move(work)); }
inline void utility(std::function<void()> work) { global(Priority::Utility, std::move(work)); }

// Queues `work` onto the main thread. Safe to call from any thread.
void main(std::function<void()> work);

// Queues `work` onto the main thread; it runs only if `guard` still exists then.
template <typename T>
void main(QPointer<T> guard, std::function<void(T*)> work)
{
    main([guard, work = std::move(work)]() {
        if (T* object = guard.data())
            work(object);
    });
}

// Runs `work` on the main thread after `ms` milliseconds, unless `context` is gone by then.
void after(int ms, QObject* context, std::function<void()> work);

} // namespace Dispatch

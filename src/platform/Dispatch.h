#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

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

// Counts as work not yet done for drainForTesting() while any copy of it lives: for work that
// does not go through the functions above (a network reply, a keychain job).
std::shared_ptr<void> pendingWork();

// For tests: runs the main thread's events and waits, until no work given to global(), main() or
// after() is left (queued, running, or not yet run on the main thread) and no pendingWork()
// lives, or until `timeoutMs` passes; deferred deletes run too. Returns whether none is left.
// Main thread only.
bool drainForTesting(int timeoutMs = 30000);

} // namespace Dispatch

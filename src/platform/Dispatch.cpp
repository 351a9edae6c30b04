#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QEvent>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <memory>

namespace Dispatch {
namespace {

QThreadPool* pool(Priority priority)
{
    // Deliberately leaked: Qt waits for its pools at exit, and a child that hangs must not hold
    // up quitting.
    static QThreadPool* userInitiated = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(16);
        p->setThreadPriority(QThread::NormalPriority);
        return p;
    }();
    static QThreadPool* utility = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(4);
        p->setThreadPriority(QThread::LowPriority);
        return p;
    }();
    return priority == Priority::Utility ? utility : userInitiated;
}

// Work handed to global(), main() or after() that has not run yet: each closure holds a token,
// and the count drops when the closure is destroyed, run or dropped. Work on a pool that hands its
// result to main() counts until that result has run, since its own token lives until it returns.
// Delayed work counts until its time has come, also when its context went meanwhile (Qt keeps the
// closure until then).
std::atomic<int> outstanding{0};

struct Pending {
    Pending() { ++outstanding; }
    ~Pending() { --outstanding; }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;
};

} // namespace

void global(Priority priority, std::function<void()> work)
{
    pool(priority)->start(QRunnable::create([pending = std::make_shared<Pending>(), work = std::move(work)]() { work(); }));
}

void main(std::function<void()> work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, [pending = std::make_shared<Pending>(), work = std::move(work)]() { work(); },
                              Qt::QueuedConnection);
}

void after(int ms, QObject* context, std::function<void()> work)
{
    QTimer::singleShot(ms, context, [pending = std::make_shared<Pending>(), work = std::move(work)]() { work(); });
}

std::shared_ptr<void> pendingWork()
{
    return std::make_shared<Pending>();
}

bool drainForTesting(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (outstanding.load() == 0)
            return true;
        if (deadline.hasExpired())
            return false;
        // Wait a little for a pool's result or a timer, without spinning.
        QEventLoop pause;
        QTimer::singleShot(5, &pause, &QEventLoop::quit);
        pause.exec();
    }
}

} // namespace Dispatch

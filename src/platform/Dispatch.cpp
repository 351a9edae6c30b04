#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

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

} // namespace

void global(Priority priority, std::function<void()> work)
{
    pool(priority)->start(QRunnable::create(std::move(work)));
}

void main(std::function<void()> work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void after(int ms, QObject* context, std::function<void()> work)
{
    QTimer::singleShot(ms, context, std::move(work));
}

} // namespace Dispatch

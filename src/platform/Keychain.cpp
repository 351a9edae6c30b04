#include "platform/Keychain.h"

#include "platform/Dispatch.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QSemaphore>
#include <QThread>

#include <deque>
#include <memory>

namespace Keychain {
namespace {

enum class Kind { read, write, remove };

struct Task {
    Kind kind;
    QString service;
    QString account;
    QByteArray data;
    std::function<void(const Result&)> finished; // runs on the keychain thread
};

Result resultOf(QKeychain::Job* job)
{
    Result r;
    r.error = job->errorString();
    switch (job->error()) {
    case QKeychain::NoError:
        r.status = Status::ok;
        r.error.clear();
        break;
    case QKeychain::EntryNotFound:
        r.status = Status::notFound;
        break;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        r.status = Status::unavailable;
        break;
    default:
        r.status = Status::failed;
        break;
    }
    if (r.status != Status::ok && r.error.isEmpty())
        r.error = QStringLiteral("The keychain could not be used.");
    return r;
}

// Lives on the keychain thread; runs the queued tasks one after the other.
class Worker : public QObject {
public:
    void enqueue(Task task)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_queue.push_back(std::move(task));
        }
        QMetaObject::invokeMethod(this, [this]() { startNext(); }, Qt::QueuedConnection);
    }

private:
    void startNext()
    {
        if (m_busy)
            return;
        Task task;
        {
            QMutexLocker lock(&m_mutex);
            if (m_queue.empty())
                return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        m_busy = true;
        QKeychain::Job* job = nullptr;
        switch (task.kind) {
        case Kind::read:
            job = new QKeychain::ReadPasswordJob(task.service, this);
            break;
        case Kind::write: {
            auto* write = new QKeychain::WritePasswordJob(task.service, this);
            write->setBinaryData(task.data);
            job = write;
            break;
        }
        case Kind::remove:
            job = new QKeychain::DeletePasswordJob(task.service, this);
            break;
        }
        job->setInsecureFallback(false);
        job->setAutoDelete(false);
        job->setKey(task.account);
        auto finished = std::move(task.finished);
        const Kind kind = task.kind;
        QObject::connect(job, &QKeychain::Job::finished, this, [this, finished, kind](QKeychain::Job* done) {
            Result r = resultOf(done);
            if (kind == Kind::read && r.status == Status::ok)
                r.data = static_cast<QKeychain::ReadPasswordJob*>(done)->binaryData();
            done->deleteLater();
            if (finished)
                finished(r);
            m_busy = false;
            startNext();
        });
        job->start();
    }

    QMutex m_mutex;
    std::deque<Task> m_queue;
    bool m_busy = false;
};

// Created on first use and never destroyed, like the background pools: a keychain call that
// hangs can never block quitting.
Worker& worker()
{
    static Worker* instance = [] {
        auto* thread = new QThread;
        thread->setObjectName(QStringLiteral("Keychain"));
        auto* w = new Worker;
        w->moveToThread(thread);
        thread->start();
        return w;
    }();
    return *instance;
}

void enqueueAsync(Kind kind, const QString& service, const QString& account, const QByteArray& data,
                  QObject* context, std::function<void(const Result&)> done)
{
    QPointer<QObject> guard(context);
    const bool hasContext = context != nullptr;
    Task task{kind, service, account, data, {}};
    // Under way until its result has been handed back.
    task.finished = [guard, hasContext, pending = Dispatch::pendingWork(), done = std::move(done)](const Result& r) {
        if (!done || !hasContext || !guard)
            return;
        QMetaObject::invokeMethod(guard.data(), [guard, pending, done, r]() {
            if (guard)
                done(r);
        }, Qt::QueuedConnection);
    };
    worker().enqueue(std::move(task));
}

Result runBlocking(Kind kind, const QString& service, const QString& account, const QByteArray& data)
{
    Q_ASSERT(!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread());
    auto result = std::make_shared<Result>();
    auto ready = std::make_shared<QSemaphore>();
    Task task{kind, service, account, data, [result, ready](const Result& r) {
                  *result = r;
                  ready->release();
              }};
    worker().enqueue(std::move(task));
    ready->acquire();
    return *result;
}

} // namespace

void read(const QString& service, const QString& account, QObject* context, std::function<void(const Result&)> done)
{
    enqueueAsync(Kind::read, service, account, {}, context, std::move(done));
}

void write(const QString& service, const QString& account, const QByteArray& data, QObject* context,
           std::function<void(const Result&)> done)
{
    enqueueAsync(Kind::write, service, account, data, context, std::move(done));
}

void remove(const QString& service, const QString& account, QObject* context, std::function<void(const Result&)> done)
{
    enqueueAsync(Kind::remove, service, account, {}, context, std::move(done));
}

Result readBlocking(const QString& service, const QString& account)
{
    return runBlocking(Kind::read, service, account, {});
}

Result writeBlocking(const QString& service, const QString& account, const QByteArray& data)
{
    return runBlocking(Kind::write, service, account, data);
}

Result removeBlocking(const QString& service, const QString& account)
{
    return runBlocking(Kind::remove, service, account, {});
}

} // namespace Keychain

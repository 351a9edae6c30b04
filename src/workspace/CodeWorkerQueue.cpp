#include "workspace/CodeWorkerQueue.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <vector>

namespace {

constexpr int kFinishAtExitMs = 2000;

std::vector<QThreadPool*>& queues()
{
    static std::vector<QThreadPool*> list;
    return list;
}

} // namespace

QThreadPool* CodeWorkerQueue::create()
{
    auto* pool = new QThreadPool;
    pool->setMaxThreadCount(1);
    pool->setExpiryTimeout(-1);
    if (queues().empty()) {
        qAddPostRoutine([] {
            for (QThreadPool* queue : queues())
                queue->clear();
            for (QThreadPool* queue : queues())
                queue->waitForDone(kFinishAtExitMs);
        });
    }
    queues().push_back(pool);
    return pool;
}

#pragma once

// Background queues of the code editor: one thread each, never destroyed. When the application
// ends, work not yet begun is dropped and the job in progress gets a moment to finish: it must not
// outlive the static data it reads, and quitting must not hang on it.

class QThreadPool;

namespace CodeWorkerQueue {

// A new queue, drained as above at exit. Main thread only.
QThreadPool* create();

} // namespace CodeWorkerQueue

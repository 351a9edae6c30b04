#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sys/types.h>

// Launching child processes. Every child gets /dev/null as standard input unless the caller
// gives one; the caller's descriptors become its standard output and error; nothing else is
// inherited (every descriptor this program opens is close-on-exec, and the child closes all
// beyond the standard three).
namespace Process {

using Environment = QMap<QString, QString>;

struct Spec {
    QString program;                   // a file path, never searched in PATH
    QStringList arguments;             // argv[1...]
    std::optional<Environment> environment; // none: inherit ours
    QString workingDirectory;          // empty: ours
    int outputFd = -1;                 // -1: /dev/null
    int errorFd = -1;                  // -1: /dev/null
    int inputFd = -1;                  // -1: /dev/null
    bool newProcessGroup = false;      // the child leads a process group of its own
};

struct Launch {
    pid_t pid = -1;
    QString error; // the launch error's description when pid is -1
};

Launch spawn(const Spec& spec);

// How a child run to completion ended, and what capture() collected of its standard output and
// error through one pipe.
struct Capture {
    bool launched = false;
    QString error;         // the launch error's description when not launched
    QByteArray output;     // both streams, in the order written; empty for runToCompletion()
    int status = -1;       // termination status; -1 when unknown
    bool timedOut = false; // killed because the time limit passed
    bool stopped = false;  // killed, or never started, because the stop signal was raised

    // The output as UTF-8 text (empty when it is not valid UTF-8), or the launch error's
    // description when the child did not start.
    QString text() const;
};

// Runs one child for capture() and runToCompletion().
struct Supervision;

// Raised once, from any thread, to end every capture() and runToCompletion() that watches it: a
// child still running is killed with its process group before raise() returns, and no further
// one is started. It stays raised.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void raise();
    bool isRaised() const;
    // Readable once raised (an eventfd); -1 when none could be made.
    int descriptor() const { return m_fd; }

private:
    friend struct Supervision;
    int m_fd = -1;
    std::atomic<bool> m_raised{false};
    // Children launched under this signal and not yet reaped (so their ids cannot have been
    // reused); a launch and raise() exclude each other.
    mutable std::mutex m_mutex;
    mutable std::set<pid_t> m_children;
};

// Runs the child to completion with its standard output and error on one pipe
// (Spec::outputFd and Spec::errorFd are ignored) and collects everything it writes; the child never blocks on
// a full pipe. Once the child has exited, a grandchild still holding the pipe is read from only
// while it keeps writing, and for at most a short while. With a time limit (milliseconds, >= 0)
// the child gets a process group of its own, and the whole group is killed with SIGKILL when the
// limit passes before the child exits. With a stop signal the child gets a process group of its
// own too, and the group is killed once the signal is raised.
Capture capture(Spec spec, int timeoutMs = -1, const StopSignal* stop = nullptr);

// Runs the child to completion, its standard output and error going to Spec::outputFd and
// Spec::errorFd (a log file, say), under the same time limit and stop signal as capture().
Capture runToCompletion(Spec spec, int timeoutMs = -1, const StopSignal* stop = nullptr);

// The current process environment as a map.
Environment currentEnvironment();

// Whether a process with this id exists and is not a zombie.
bool exists(pid_t pid);

// A close-on-exec pidfd for the process (readable once it has exited), or -1 where the kernel
// offers none.
int openPidfd(pid_t pid);

// Blocks until the child exits; returns its termination status (see ChildProcess::status).
int waitForExit(pid_t pid);

// Termination status in the platform's sense: the exit code, or the signal number when the child
// was killed by a signal.
int statusFromWait(int waitStatus);

} // namespace Process

// A launched child that is watched from a background thread: it is reaped as soon as it exits,
// so it never lingers as a zombie, and the exit handler runs on that thread.
class ChildProcess : public std::enable_shared_from_this<ChildProcess> {
public:
    using ExitHandler = std::function<void(int status)>;

    // Launches the child and starts watching it; returns nullptr and sets `error` on failure.
    // The handler is installed before launch, so an instant exit is never missed.
    static std::shared_ptr<ChildProcess> launch(const Process::Spec& spec, ExitHandler onExit, QString* error);

    pid_t pid() const { return m_pid; }
    bool isRunning() const { return m_running.load(); }
    // Valid once isRunning() is false.
    int terminationStatus() const { return m_status.load(); }
    // Launch serial, unique for the life of the program: identity of one launch.
    quint64 serial() const { return m_serial; }
    // Waits until the child has been reaped or the deadline has passed; true once it is reaped.
    bool waitForExit(std::chrono::steady_clock::time_point deadline);

private:
    ChildProcess() = default;
    pid_t m_pid = -1;
    quint64 m_serial = 0;
    std::atomic<bool> m_running{true};
    std::atomic<int> m_status{0};
    std::mutex m_exitMutex;
    std::condition_variable m_exited;
};

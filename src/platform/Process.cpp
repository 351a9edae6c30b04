#include "platform/Process.h"

#include "platform/Text.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Process {
namespace {

QString describeLaunchError(int error, const Spec& spec)
{
    const QString& program = spec.program;
    // posix_spawn also says ENOENT for a missing working folder or a missing script interpreter.
    if (error == ENOENT && ::access(QFile::encodeName(program).constData(), F_OK) == 0) {
        struct stat st {};
        if (!spec.workingDirectory.isEmpty()
            && (::stat(QFile::encodeName(spec.workingDirectory).constData(), &st) != 0 || !S_ISDIR(st.st_mode)))
            return QStringLiteral("The folder \u201C%1\u201D doesn\u2019t exist.").arg(spec.workingDirectory);
        return QStringLiteral("Could not launch \u201C%1\u201D: its interpreter doesn\u2019t exist.").arg(program);
    }
    switch (error) {
    case ENOENT:
        return QStringLiteral("The file \u201C%1\u201D doesn\u2019t exist.").arg(program);
    case EACCES:
        return QStringLiteral("You don\u2019t have permission to run \u201C%1\u201D.").arg(program);
    default:
        return QStringLiteral("Could not launch \u201C%1\u201D: %2").arg(program, QString::fromLocal8Bit(std::strerror(error)));
    }
}

} // namespace

Environment currentEnvironment()
{
    Environment env;
    for (char** e = environ; e && *e; ++e) {
        const QString entry = QString::fromLocal8Bit(*e);
        const qsizetype eq = entry.indexOf(u'=');
        if (eq <= 0)
            continue;
        env.insert(entry.left(eq), entry.mid(eq + 1));
    }
    return env;
}

Launch spawn(const Spec& spec)
{
    Launch result;
    const QByteArray program = QFile::encodeName(spec.program);

    std::vector<QByteArray> argStorage;
    argStorage.push_back(program);
    for (const QString& a : spec.arguments)
        argStorage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : argStorage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStorage;
    std::vector<char*> envp;
    if (spec.environment) {
        for (auto it = spec.environment->cbegin(); it != spec.environment->cend(); ++it)
            envStorage.push_back((it.key() + u'=' + it.value()).toLocal8Bit());
        for (QByteArray& e : envStorage)
            envp.push_back(e.data());
        envp.push_back(nullptr);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Output first, so a caller's descriptor that happens to be 0 is taken before stdin is
    // replaced.
    if (spec.outputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, spec.outputFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (spec.errorFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, spec.errorFd, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (spec.inputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, spec.inputFd, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // Nothing beyond the three standard descriptors, even one that a library thread opened
    // without close-on-exec at this very moment.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    QByteArray cwd;
    if (!spec.workingDirectory.isEmpty()) {
        cwd = QFile::encodeName(spec.workingDirectory);
        posix_spawn_file_actions_addchdir_np(&actions, cwd.constData());
    }

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Children start with default signal handling and an empty mask, whatever this thread has.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (spec.newProcessGroup) {
        posix_spawnattr_setpgroup(&attr, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attr, flags);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.constData(), &actions, &attr, argv.data(),
                               spec.environment ? envp.data() : environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.error = describeLaunchError(rc, spec);
        return result;
    }
    result.pid = pid;
    return result;
}

bool exists(pid_t pid)
{
    if (pid <= 0 || ::kill(pid, 0) != 0) {
        if (pid > 0 && errno == EPERM)
            return true;
        return false;
    }
    // A zombie still answers kill(pid, 0); its state letter in /proc says otherwise.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close >= 0 && close + 2 < line.size())
        return line.at(close + 2) != 'Z' && line.at(close + 2) != 'X';
    return true;
}

int statusFromWait(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return WTERMSIG(waitStatus);
    return waitStatus;
}

int waitForExit(pid_t pid)
{
    int st = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &st, 0);
        if (r == pid)
            return statusFromWait(st);
        if (r < 0 && errno != EINTR)
            return -1;
    }
}

namespace {

// After the child has exited, a grandchild may still hold the pipe open: keep reading only while
// output keeps coming within this window, and never for longer than the limit in all.
constexpr int kDrainQuietMs = 100;
constexpr qint64 kDrainLimitMs = 2000;
// Without a pidfd, how often the child is checked for exit while the pipe is quiet.
constexpr int kExitPollMs = 20;

} // namespace

int openPidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    return -1;
}

StopSignal::StopSignal()
    : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

StopSignal::~StopSignal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void StopSignal::raise()
{
    std::lock_guard lock(m_mutex);
    m_raised.store(true);
    // Never read, so it stays readable for every child's watcher that polls it.
    if (m_fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
    }
    // Every child here leads its own process group and is not yet reaped.
    for (const pid_t pid : m_children) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }
}

bool StopSignal::isRaised() const
{
    return m_raised.load();
}

QString Capture::text() const
{
    if (!launched)
        return error;
    return Text::decodeUtf8(output).value_or(QString());
}

// One child run to completion: launched, watched until it exits (reading its pipe, if any, so it
// never blocks on a full one), killed with its process group when the time limit passes or the
// stop signal is raised, and reaped.
struct Supervision {
    Capture result;

    // `readFd` is the read end of the pipe the child writes to, if any; `writeFd` its write end,
    // closed once the child has it, so that the pipe ends with the child's last writer.
    Supervision(Spec spec, int readFd, int writeFd, int timeoutMs, const StopSignal* stop)
        : m_readFd(readFd), m_timeoutMs(timeoutMs), m_stop(stop)
    {
        if (timeoutMs >= 0 || stop)
            spec.newProcessGroup = true;
        const bool launched = launch(spec);
        if (writeFd >= 0)
            ::close(writeFd);
        if (!launched)
            return;
        result.launched = true;
        m_pidfd = openPidfd(m_pid);
        watch();
        if (m_pidfd >= 0)
            ::close(m_pidfd);
    }

    ~Supervision()
    {
        if (m_readFd >= 0)
            ::close(m_readFd);
    }

    Supervision(const Supervision&) = delete;
    Supervision& operator=(const Supervision&) = delete;

private:
    // Launched under the stop signal's lock, so a raise() either comes first (nothing is
    // launched) or sees the child.
    bool launch(const Spec& spec)
    {
        std::unique_lock<std::mutex> lock;
        if (m_stop) {
            lock = std::unique_lock(m_stop->m_mutex);
            if (m_stop->isRaised()) {
                result.stopped = true;
                result.error = QStringLiteral("Stopped before it started.");
                return false;
            }
        }
        const Launch launched = spawn(spec);
        if (launched.pid < 0) {
            result.error = launched.error;
            return false;
        }
        m_pid = launched.pid;
        if (m_stop)
            m_stop->m_children.insert(m_pid);
        return true;
    }

    void killGroup()
    {
        ::kill(-m_pid, SIGKILL);
        ::kill(m_pid, SIGKILL);
    }

    // Whether the child has exited; once it has, it is reaped and its status taken. It is seen to
    // exit before it is reaped and taken off the stop signal's list first, so that raise() never
    // signals an id that was reused.
    bool reap(bool block)
    {
        siginfo_t info{};
        for (;;) {
            info.si_pid = 0;
            if (::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOWAIT | (block ? 0 : WNOHANG)) == 0) {
                if (info.si_pid == 0)
                    return false; // still running
                break;
            }
            if (errno != EINTR)
                break; // ECHILD: someone else reaped it; it is gone all the same
            if (!block)
                return false;
        }
        if (m_stop) {
            std::lock_guard lock(m_stop->m_mutex);
            m_stop->m_children.erase(m_pid);
            m_killedWhileRaised = m_stop->isRaised() && info.si_pid == m_pid && info.si_code == CLD_KILLED
                && info.si_status == SIGKILL;
        }
        for (;;) {
            int st = 0;
            const pid_t r = ::waitpid(m_pid, &st, 0);
            if (r == m_pid)
                result.status = statusFromWait(st);
            if (r >= 0 || errno != EINTR)
                return true;
        }
    }

    void watch()
    {
        const bool limited = m_timeoutMs >= 0;
        QElapsedTimer clock;
        clock.start();
        bool exited = false;
        qint64 exitedAt = 0;
        char buffer[65536];

        for (;;) {
            if (!exited && reap(false)) {
                // Killed by raise() itself before this watch saw the signal.
                if (m_killedWhileRaised) {
                    result.stopped = true;
                    return;
                }
                exited = true;
                exitedAt = clock.elapsed();
            }
            if (exited) {
                if (m_readFd < 0 || clock.elapsed() - exitedAt > kDrainLimitMs)
                    break;
            } else if (limited && clock.elapsed() >= m_timeoutMs) {
                killGroup();
                reap(true);
                result.timedOut = true;
                return;
            } else if (m_stop && m_stop->isRaised()) {
                killGroup();
                reap(true);
                result.stopped = true;
                return;
            }

            pollfd p[3];
            nfds_t count = 0;
            if (m_readFd >= 0)
                p[count++] = pollfd{m_readFd, POLLIN, 0};
            const bool watchExit = !exited && m_pidfd >= 0;
            if (watchExit)
                p[count++] = pollfd{m_pidfd, POLLIN, 0};
            if (!exited && m_stop && m_stop->descriptor() >= 0)
                p[count++] = pollfd{m_stop->descriptor(), POLLIN, 0};
            int wait = exited ? kDrainQuietMs : (m_pidfd >= 0 ? -1 : kExitPollMs);
            if (!exited && m_stop && m_stop->descriptor() < 0)
                wait = wait < 0 ? kExitPollMs : std::min(wait, kExitPollMs);
            if (!exited && limited) {
                const int left = static_cast<int>(std::max<qint64>(0, m_timeoutMs - clock.elapsed()));
                wait = wait < 0 ? left : std::min(wait, left);
            }
            const int ready = ::poll(p, count, wait);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (ready == 0) {
                if (exited)
                    break; // the child is gone and the pipe has gone quiet
                continue;
            }
            if (m_readFd >= 0 && p[0].revents) {
                const ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
                if (n > 0) {
                    result.output.append(buffer, n);
                } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                    // Every writer has closed the pipe; what is left is to see the child exit.
                    ::close(m_readFd);
                    m_readFd = -1;
                }
            }
        }
        if (!exited)
            reap(true);
    }

    pid_t m_pid = -1;
    int m_pidfd = -1;
    bool m_killedWhileRaised = false;
    int m_readFd;
    const int m_timeoutMs;
    const StopSignal* const m_stop;
};

Capture capture(Spec spec, int timeoutMs, const StopSignal* stop)
{
    if (stop && stop->isRaised()) {
        Capture result;
        result.stopped = true;
        result.error = QStringLiteral("Stopped before it started.");
        return result;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        Capture result;
        result.error = QStringLiteral("Could not create a pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    spec.outputFd = fds[1];
    spec.errorFd = fds[1];
    return Supervision(std::move(spec), fds[0], fds[1], timeoutMs, stop).result;
}

Capture runToCompletion(Spec spec, int timeoutMs, const StopSignal* stop)
{
    return Supervision(std::move(spec), -1, -1, timeoutMs, stop).result;
}

} // namespace Process

std::shared_ptr<ChildProcess> ChildProcess::launch(const Process::Spec& spec, ExitHandler onExit, QString* error)
{
    static std::atomic<quint64> serials{0};
    std::shared_ptr<ChildProcess> child(new ChildProcess);
    const Process::Launch launched = Process::spawn(spec);
    if (launched.pid < 0) {
        if (error)
            *error = launched.error;
        return nullptr;
    }
    child->m_pid = launched.pid;
    child->m_serial = ++serials;
    std::thread([child, onExit = std::move(onExit)]() {
        const int status = Process::waitForExit(child->m_pid);
        child->m_status.store(status);
        {
            std::lock_guard<std::mutex> lock(child->m_exitMutex);
            child->m_running.store(false);
        }
        child->m_exited.notify_all();
        if (onExit)
            onExit(status);
    }).detach();
    return child;
}

bool ChildProcess::waitForExit(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_exitMutex);
    return m_exited.wait_until(lock, deadline, [this]() { return !m_running.load(); });
}

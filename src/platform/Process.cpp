#include "platform/Process.h"

#include <QFile>
#include <QProcessEnvironment>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Process {
namespace {

QString describeLaunchError(int error, const QString& program)
{
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
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (spec.outputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, spec.outputFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (spec.errorFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, spec.errorFd, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
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
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.constData(), &actions, &attr, argv.data(),
                               spec.environment ? envp.data() : environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.error = describeLaunchError(rc, spec.program);
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
        child->m_running.store(false);
        if (onExit)
            onExit(status);
    }).detach();
    return child;
}

#include "app/AppModel.h"

#include "platform/Text.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTextBoundaryFinder>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// After the child has exited, a grandchild may still hold the pipe open. Keep reading only while
// output keeps coming within this window.
constexpr int kDrainQuietMs = 100;
// ...and never for longer than this in all.
constexpr qint64 kDrainLimitMs = 2000;

} // namespace

QString AppModel::run(const QString& executable, const QStringList& arguments,
                      const std::optional<Process::Environment>& environment) const
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return QStringLiteral("Could not create a pipe: %1").arg(QString::fromLocal8Bit(strerror(errno)));

    Process::Spec spec;
    spec.program = executable;
    spec.arguments = arguments;
    spec.environment = environment;
    spec.outputFd = fds[1];
    spec.errorFd = fds[1];
    const Process::Launch launched = Process::spawn(spec);
    ::close(fds[1]);
    if (launched.pid < 0) {
        ::close(fds[0]);
        return launched.error;
    }

    QByteArray collected;
    char buffer[65536];
    bool exited = false;
    QElapsedTimer sinceExit;
    for (;;) {
        if (!exited) {
            int st = 0;
            if (::waitpid(launched.pid, &st, WNOHANG) == launched.pid) {
                exited = true;
                sinceExit.start();
            }
        } else if (sinceExit.elapsed() > kDrainLimitMs) {
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, exited ? kDrainQuietMs : 50);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0) {
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n > 0) {
                collected.append(buffer, n);
                continue;
            }
            if (n == 0)
                break; // every writer has closed the pipe
            if (errno == EINTR || errno == EAGAIN)
                continue;
            break;
        }
        if (exited)
            break; // the child is gone and the pipe has gone quiet
    }
    ::close(fds[0]);
    if (!exited)
        Process::waitForExit(launched.pid);

    return Text::decodeUtf8(collected).value_or(QString());
}

CommandResult AppModel::runCommand(const QString& executable, const QStringList& arguments,
                                   const std::optional<Process::Environment>& environment,
                                   const QString& currentDirectory) const
{
    const QString logPath = m_logsURL + QStringLiteral("/command-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".log");
    const QByteArray logName = QFile::encodeName(logPath);
    const int fd = ::open(logName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return {-1, QStringLiteral("Could not create command log.")};

    Process::Spec spec;
    spec.program = executable;
    spec.arguments = arguments;
    spec.environment = environment;
    spec.workingDirectory = currentDirectory;
    spec.outputFd = fd;
    spec.errorFd = fd;
    const Process::Launch launched = Process::spawn(spec);
    if (launched.pid < 0) {
        ::close(fd);
        ::unlink(logName.constData());
        return {-1, launched.error};
    }
    const int status = Process::waitForExit(launched.pid);
    ::fsync(fd);
    ::close(fd);

    QString output;
    QFile log(logPath);
    if (log.open(QIODevice::ReadOnly))
        output = Text::decodeUtf8(log.readAll()).value_or(QString());
    log.close();
    ::unlink(logName.constData());
    return {status, output};
}

QString AppModel::shortOutput(const QString& output)
{
    const QString text = Text::trimmed(output);
    if (text.isEmpty())
        return QStringLiteral("Unknown command error.");
    // Cut at a grapheme boundary so a user-perceived character is never split.
    constexpr qsizetype kLimit = 1200;
    if (text.size() <= kLimit)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    // Count graphemes backwards from the end.
    finder.toEnd();
    qsizetype count = 0;
    qsizetype position = text.size();
    while (count < kLimit) {
        const qsizetype previous = finder.toPreviousBoundary();
        if (previous < 0)
            return text;
        position = previous;
        ++count;
    }
    return text.mid(position);
}

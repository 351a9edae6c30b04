#include "services/ServiceCommands.h"

#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Text.h"

#include <QFile>
#include <QUuid>

#include <fcntl.h>
#include <unistd.h>

namespace ServiceCommands {

QStringList downloadOptions(int stallSeconds)
{
    return {QStringLiteral("--silent"), QStringLiteral("--show-error"), QStringLiteral("--speed-limit"), QStringLiteral("1"),
            QStringLiteral("--speed-time"), QString::number(stallSeconds)};
}

CommandResult capture(const QString& executable, const QStringList& arguments,
                      const std::optional<Process::Environment>& environment)
{
    Process::Spec spec;
    spec.program = executable;
    spec.arguments = arguments;
    spec.environment = environment;
    const Process::Capture captured = Process::capture(spec);
    return {captured.launched ? captured.status : -1, captured.text()};
}

std::optional<QString> lookUp(const QStringList& candidates, const QString& which, const QString& name)
{
    for (const QString& candidate : candidates) {
        if (Files::isExecutableFile(candidate))
            return candidate;
    }
    // `which` prints nothing and fails when the tool is not on the PATH; a launch failure's
    // description is never taken for a path.
    const CommandResult found = capture(which, {name});
    if (found.status != 0)
        return std::nullopt;
    const QString path = Text::trimmed(found.output);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

CommandResult CancellableCommands::run(const QString& executable, const QStringList& arguments,
                            const std::optional<Process::Environment>& environment, const QString& currentDirectory)
{
    // Without a Logs folder there is nowhere to collect the output (never the file-system root).
    if (m_logsFolder.isEmpty())
        return {-1, QStringLiteral("Could not create command log.")};
    const QString logPath = m_logsFolder + QStringLiteral("/command-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".log");
    const QByteArray logName = QFile::encodeName(logPath);
    const int fd = ::open(logName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return {-1, QStringLiteral("Could not create command log.")};
    auto discardLog = [&]() {
        ::close(fd);
        ::unlink(logName.constData());
    };

    Process::Spec spec;
    spec.program = executable;
    spec.arguments = arguments;
    spec.environment = environment;
    spec.workingDirectory = currentDirectory;
    spec.outputFd = fd;
    spec.errorFd = fd;
    // Its own process group (given by the stop signal), so cancel() ends it with everything it
    // started.
    const Process::Capture ran = Process::runToCompletion(spec, -1, &m_stop);
    if (!ran.launched) {
        discardLog();
        return {-1, ran.stopped ? cancelledMessage() : ran.error};
    }
    // A cancel that came while it ran wins over how it ended.
    const bool cancelled = ran.stopped || m_stop.isRaised();

    QString output;
    QFile log(logPath);
    if (log.open(QIODevice::ReadOnly))
        output = Text::decodeUtf8(log.readAll()).value_or(QString());
    log.close();
    discardLog();
    if (cancelled)
        return {-1, cancelledMessage()};
    return {ran.status, output};
}

void CancellableCommands::cancel()
{
    m_stop.raise();
}

void CancellableCommands::finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_finishedChanged.notify_all();
}

bool CancellableCommands::waitUntilFinished(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_finishedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_finished; });
}

bool CancellableCommands::isCancelled() const
{
    return m_stop.isRaised();
}

QString CancellableCommands::cancelledMessage()
{
    return QStringLiteral("Cancelled because the application is closing.");
}

} // namespace ServiceCommands

#include "app/AppModel.h"

#include "platform/Text.h"

#include <QFile>
#include <QUuid>

#include <fcntl.h>
#include <unistd.h>
#include <unicode/ubrk.h>

QString AppModel::run(const QString& executable, const QStringList& arguments,
                      const std::optional<Process::Environment>& environment) const
{
    Process::Spec spec;
    spec.program = executable;
    spec.arguments = arguments;
    spec.environment = environment;
    const Process::Capture captured = Process::capture(spec);
    if (!captured.launched)
        return captured.error;
    return Text::decodeUtf8(captured.output).value_or(QString());
}

CommandResult AppModel::runCommand(const QString& executable, const QStringList& arguments,
                                   const std::optional<Process::Environment>& environment,
                                   const QString& currentDirectory) const
{
    // Without a storage folder there is no Logs folder to hold the log (never "/command-...").
    if (m_logsURL.isEmpty())
        return {-1, QStringLiteral("Could not create command log.")};
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
    // The child writes straight into the file, so nothing is buffered on our side once it exits.
    const int status = Process::waitForExit(launched.pid);

    QString output;
    QFile log(logPath);
    if (log.open(QIODevice::ReadOnly))
        output = Text::decodeUtf8(log.readAll()).value_or(QString());
    log.close();
    ::close(fd);
    ::unlink(logName.constData());
    return {status, output};
}

QString AppModel::shortOutput(const QString& output)
{
    constexpr int kLimit = 1200; // user-perceived characters
    const QString text = Text::trimmed(output);
    if (text.isEmpty())
        return QStringLiteral("Unknown command error.");
    // Fewer code units than the limit means fewer characters, too.
    if (text.size() <= kLimit)
        return text;
    UErrorCode error = U_ZERO_ERROR;
    UBreakIterator* characters = ubrk_open(UBRK_CHARACTER, "", reinterpret_cast<const UChar*>(text.utf16()),
                                           static_cast<int32_t>(text.size()), &error);
    if (U_FAILURE(error))
        return text.right(kLimit);
    int32_t start = ubrk_last(characters);
    for (int count = 0; count < kLimit && start > 0; ++count)
        start = ubrk_previous(characters);
    ubrk_close(characters);
    return start <= 0 ? text : text.mid(start);
}

#include "services/MySQLClient.h"

#include "platform/Text.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

// The option file of one call: made 0600 in a fresh 0700 folder, removed with the folder when the
// object goes.
class OptionFile {
public:
    OptionFile(const QByteArray& text, QString* problem)
    {
        QByteArray folder = QFile::encodeName(QDir::tempPath() + QStringLiteral("/kovani-mysql-XXXXXX"));
        if (!::mkdtemp(folder.data())) {
            *problem = QStringLiteral("Could not make a private folder for the mysql client: ") + systemError();
            return;
        }
        m_folder = folder;
        const QByteArray path = m_folder + "/client.cnf";
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            *problem = QStringLiteral("Could not write the mysql client's option file: ") + systemError();
            return;
        }
        m_path = path;
        const bool written = writeAll(fd, text);
        if (::close(fd) != 0 || !written) {
            *problem = QStringLiteral("Could not write the mysql client's option file: ") + systemError();
            return;
        }
        m_ready = true;
    }
    ~OptionFile()
    {
        if (!m_path.isEmpty())
            ::unlink(m_path.constData());
        if (!m_folder.isEmpty())
            ::rmdir(m_folder.constData());
    }
    OptionFile(const OptionFile&) = delete;
    OptionFile& operator=(const OptionFile&) = delete;

    bool isReady() const { return m_ready; }
    QString path() const { return QFile::decodeName(m_path); }

private:
    QByteArray m_folder;
    QByteArray m_path;
    bool m_ready = false;
};

// The client's standard input: an anonymous in-memory file holding `text`, read from its start.
int inputHolding(const QByteArray& text, QString* problem)
{
    const int fd = ::memfd_create("kovani-mysql-input", MFD_CLOEXEC);
    if (fd < 0) {
        *problem = QStringLiteral("Could not prepare the mysql client's input: ") + systemError();
        return -1;
    }
    if (!writeAll(fd, text) || ::lseek(fd, 0, SEEK_SET) != 0) {
        *problem = QStringLiteral("Could not prepare the mysql client's input: ") + systemError();
        ::close(fd);
        return -1;
    }
    return fd;
}

// The option files the clients read by default, in their order, where they can be read. Our file
// includes them before its password, so that the user's settings still apply and the password of
// the settings wins over one of theirs.
QStringList defaultOptionFiles()
{
    QStringList files;
    for (const QString& path : {QStringLiteral("/etc/my.cnf"), QStringLiteral("/etc/mysql/my.cnf"),
                                QDir::homePath() + QStringLiteral("/.my.cnf")}) {
        const QByteArray encoded = QFile::encodeName(path);
        struct stat info {};
        if (!path.contains(u'\n') && ::stat(encoded.constData(), &info) == 0 && S_ISREG(info.st_mode)
            && ::access(encoded.constData(), R_OK) == 0)
            files << path;
    }
    return files;
}

QStringList loginArguments(const QString& optionFile, const MySQLSettings& login, bool tcp)
{
    // The option file must come first, or the client does not take it.
    QStringList arguments = {QStringLiteral("--defaults-file=") + optionFile,
                             QStringLiteral("--host=") + login.host};
    if (tcp)
        arguments << QStringLiteral("--protocol=tcp");
    arguments << QStringLiteral("--port=") + QString::number(login.port) << QStringLiteral("--user=") + login.user;
    return arguments;
}

} // namespace

QByteArray MySQLClient::optionFileText(const QString& password, const QStringList& includes)
{
    QByteArray text;
    for (const QString& file : includes)
        text += QByteArrayLiteral("!include ") + QFile::encodeName(file) + '\n';
    // Inside double quotes the client undoes these escapes and keeps everything else as written.
    QString escaped;
    escaped.reserve(password.size() + 8);
    for (const QChar c : password) {
        switch (c.unicode()) {
        case u'\\': escaped += QStringLiteral("\\\\"); break;
        case u'"': escaped += QStringLiteral("\\\""); break;
        case u'\n': escaped += QStringLiteral("\\n"); break;
        case u'\r': escaped += QStringLiteral("\\r"); break;
        case u'\t': escaped += QStringLiteral("\\t"); break;
        case u'\b': escaped += QStringLiteral("\\b"); break;
        default: escaped += c;
        }
    }
    return text + QByteArrayLiteral("[client]\npassword=\"") + escaped.toUtf8() + QByteArrayLiteral("\"\n");
}

QString MySQLClient::noAnswerText(int timeoutMs)
{
    const int seconds = qMax(1, (timeoutMs + 999) / 1000);
    return QStringLiteral("mySQL did not answer within %1 %2.")
        .arg(seconds)
        .arg(seconds == 1 ? QStringLiteral("second") : QStringLiteral("seconds"));
}

MySQLClient::Outcome MySQLClient::query(const QString& client, const MySQLSettings& login, const QString& sql,
                                        int timeoutMs) const
{
    return run(client, login, true, {}, sql, timeoutMs);
}

MySQLClient::Outcome MySQLClient::admin(const QString& tool, const MySQLSettings& login, const QStringList& command,
                                        int timeoutMs) const
{
    return run(tool, login, false, command, QString(), timeoutMs);
}

MySQLClient::Outcome MySQLClient::run(const QString& program, const MySQLSettings& login, bool tcp,
                                      const QStringList& trailing, const QString& input, int timeoutMs) const
{
    Outcome outcome;
    {
        // Under the lock that stopAll() raises the signal under: a call is either refused here or
        // counted before waitUntilIdle() looks, so its option file is always removed in time.
        std::lock_guard lock(m_mutex);
        if (m_stop.isRaised()) {
            outcome.stopped = true;
            outcome.result = {-1, QStringLiteral("Stopped because the application is closing.")};
            return outcome;
        }
        ++m_active;
    }
    {
        QString problem;
        const OptionFile optionFile(optionFileText(login.password, defaultOptionFiles()), &problem);
        const int inputFd = optionFile.isReady() ? inputHolding(input.toUtf8(), &problem) : -1;
        if (inputFd >= 0) {
            Process::Spec spec;
            spec.program = program;
            spec.arguments = loginArguments(optionFile.path(), login, tcp) + trailing;
            spec.inputFd = inputFd;
            const Process::Capture captured = Process::capture(spec, timeoutMs, &m_stop);
            ::close(inputFd);
            outcome.timedOut = captured.timedOut;
            outcome.stopped = captured.stopped;
            outcome.result = {captured.launched ? captured.status : -1, captured.text()};
        } else {
            outcome.result = {-1, problem};
        }
    }
    {
        std::lock_guard lock(m_mutex);
        --m_active;
    }
    m_idle.notify_all();
    return outcome;
}

void MySQLClient::stopAll()
{
    std::lock_guard lock(m_mutex);
    m_stop.raise();
}

bool MySQLClient::waitUntilIdle(int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_active == 0; });
}

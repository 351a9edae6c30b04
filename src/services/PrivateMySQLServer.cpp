#include "services/PrivateMySQLServer.h"

#include "platform/Files.h"
#include "platform/Process.h"
#include "services/ServiceCommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>

#include <filesystem>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateMySQLServer {
namespace {

constexpr int kInitialiseTimeoutMs = 180000;

std::optional<QString> find(const QStringList& candidates, const QStringList& names, const QString& which)
{
    for (const QString& candidate : candidates) {
        if (Files::isExecutableFile(candidate))
            return candidate;
    }
    for (const QString& name : names) {
        if (const std::optional<QString> found = ServiceCommands::lookUp({}, which, name))
            return found;
    }
    return std::nullopt;
}

// The address the server binds: the configured host when it names this machine.
std::optional<QString> bindAddress(const QString& host)
{
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("127.0.0.1");
    const QHostAddress address(host);
    if (!address.isNull() && address.isLoopback())
        return address.toString();
    return std::nullopt;
}

QString currentUser()
{
    if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

void removeTree(const QString& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(path).toStdString()), ignored);
}

// The log is private like the rest of the storage folder: created 0600.
void appendToLog(const QString& log, const QByteArray& bytes)
{
    const int fd = ::open(QFile::encodeName(log).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0)
        return;
    QFile file;
    if (file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle))
        file.write(bytes);
    else
        ::close(fd);
}

// A server of ours that is running (not a zombie) on this data folder, according to the pid file.
bool ourServerIsAlive(const QString& pidFile, const QString& dataDir)
{
    QFile file(pidFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const pid_t pid = pid_t(file.readAll().trimmed().toInt(&ok));
    if (!ok || pid <= 0 || !Process::exists(pid))
        return false;
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return false;
    return cmdline.readAll().split('\0').contains(QFile::encodeName(QStringLiteral("--datadir=") + dataDir));
}

// Makes the data folder in a sibling folder and moves it into place only when the initialiser
// succeeded, so a failed or interrupted run never leaves a half-made "MySQL" folder behind.
// The server's own folder for temporary files (its default is the shared /tmp).
QString privateTemporaryFolder(const QString& root)
{
    const QString folder = root + QStringLiteral("/mysql-tmp");
    Files::makePath(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    return folder;
}

bool initialise(const Request& request, const QString& server, const QString& dataDir, const QString& log,
                const QString& temporary)
{
    const QString staging = dataDir + QStringLiteral(".initializing");
    removeTree(staging);
    if (::mkdir(QFile::encodeName(staging).constData(), 0700) != 0)
        return false;

    Process::Spec spec;
    const QString user = QStringLiteral("--user=") + currentUser();
    const QString dataArgument = QStringLiteral("--datadir=") + staging;
    if (const std::optional<QString> installDb
        = find(request.tools.mysqlInstallDb, request.tools.mysqlInstallDbNames, request.tools.which)) {
        spec.program = *installDb;
        spec.arguments = {QStringLiteral("--no-defaults"), user, dataArgument,
                          QStringLiteral("--auth-root-authentication-method=normal"), QStringLiteral("--skip-test-db")};
    } else {
        spec.program = server;
        spec.arguments = {QStringLiteral("--no-defaults"), QStringLiteral("--initialize-insecure"), user, dataArgument};
    }
    // The initialiser takes no folder for temporary files of its own; its server reads TMPDIR.
    Process::Environment environment = Process::currentEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), temporary);
    spec.environment = environment;
    appendToLog(log, (QStringLiteral("Initialising ") + dataDir + QStringLiteral(": ") + spec.program + u' '
                      + spec.arguments.join(u' ') + u'\n')
                         .toUtf8());
    const Process::Capture result = Process::capture(spec, kInitialiseTimeoutMs);
    appendToLog(log, result.launched ? result.output : result.error.toUtf8() + '\n');
    if (!result.launched || result.status != 0 || result.timedOut) {
        removeTree(staging);
        return false;
    }
    if (::rename(QFile::encodeName(staging).constData(), QFile::encodeName(dataDir).constData()) != 0) {
        removeTree(staging);
        return false;
    }
    return true;
}

} // namespace

std::optional<QString> serverBinary(const ToolPaths& tools)
{
    return find(tools.mysqlServer, tools.mysqlServerNames, tools.which);
}

bool answersOn(const QString& host, qint64 port, int timeoutMs)
{
    if (port <= 0 || port > 65535)
        return false;
    QTcpSocket socket;
    socket.connectToHost(host, quint16(port));
    const bool connected = socket.waitForConnected(timeoutMs);
    socket.abort();
    return connected;
}

Outcome ensureRunning(const Request& request)
{
    // One at a time in this process (start-up and Check Database may overlap).
    static std::mutex serialised;
    const std::lock_guard<std::mutex> lock(serialised);

    if (request.storageRoot.isEmpty())
        return Outcome::notApplicable;
    const std::optional<QString> address = bindAddress(request.host);
    if (!address || request.port <= 0 || request.port > 65535)
        return Outcome::notApplicable;
    if (answersOn(request.host, request.port, 1000))
        return Outcome::alreadyAnswering;
    const std::optional<QString> server = serverBinary(request.tools);
    if (!server)
        return Outcome::failed;

    const QString root = QDir::cleanPath(request.storageRoot);
    const QString logs = root + QStringLiteral("/Logs");
    Files::makePath(logs);
    const QString log = logs + QStringLiteral("/mysql.log");
    const QString dataDir = root + QStringLiteral("/MySQL");
    const QString pidFile = root + QStringLiteral("/mysql.pid");
    const QString temporary = privateTemporaryFolder(root);

    if (!QFileInfo(dataDir).isDir()) {
        if (QFileInfo(dataDir).exists() || QFileInfo(dataDir).isSymLink())
            return Outcome::failed; // something else has the name: left alone
        if (!initialise(request, *server, dataDir, log, temporary))
            return Outcome::failed;
    }
    ::chmod(QFile::encodeName(dataDir).constData(), 0700);

    std::shared_ptr<ChildProcess> child;
    // A server of ours that is still starting is waited for, not started twice.
    if (!ourServerIsAlive(pidFile, dataDir)) {
        const int logFd = ::open(QFile::encodeName(log).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        Process::Spec spec;
        spec.program = *server;
        spec.arguments = {QStringLiteral("--no-defaults"),
                          QStringLiteral("--user=") + currentUser(),
                          QStringLiteral("--datadir=") + dataDir,
                          QStringLiteral("--socket=") + root + QStringLiteral("/mysql.sock"),
                          QStringLiteral("--pid-file=") + pidFile,
                          QStringLiteral("--log-error=") + log,
                          QStringLiteral("--tmpdir=") + temporary,
                          QStringLiteral("--port=") + QString::number(request.port),
                          QStringLiteral("--bind-address=") + *address};
        spec.outputFd = logFd;
        spec.errorFd = logFd;
        // Its own process group: no signal meant for the application (Ctrl+C in its terminal)
        // reaches the server, which keeps running after the application ends.
        spec.newProcessGroup = true;
        QString error;
        child = ChildProcess::launch(spec, nullptr, &error);
        if (logFd >= 0)
            ::close(logFd);
        if (!child) {
            appendToLog(log, error.toUtf8() + '\n');
            return Outcome::failed;
        }
    }

    const int steps = qMax(1, request.readyTimeoutMs / 100);
    for (int i = 0; i < steps; ++i) {
        if (answersOn(request.host, request.port, 200))
            return Outcome::started;
        if (child && !child->isRunning())
            return Outcome::failed;
        if (!child && !ourServerIsAlive(pidFile, dataDir))
            return Outcome::failed;
        QThread::msleep(100);
    }
    return Outcome::failed;
}

} // namespace PrivateMySQLServer

#include "app/AppModel.h"

#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/ProcessGroup.h"
#include "platform/Text.h"
#include "services/LogTail.h"
#include "services/PHPDevelopmentRouter.h"
#include "services/ProjectIds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kProbeTries = 30;
constexpr auto kProbePause = std::chrono::microseconds(100000);
// A server still starting after the tries above (a cold machine loading many modules) is waited
// for up to this long in all, unless it has reported that it cannot listen.
constexpr auto kProbeLimit = std::chrono::seconds(10);
constexpr auto kStopCeiling = std::chrono::milliseconds(1500);
constexpr auto kOrphanGrace = std::chrono::microseconds(100000);

const QString kPhpMyAdminId = QStringLiteral("phpmyadmin");

bool isTcpPort(qint64 port)
{
    return port >= 1 && port <= 65535;
}

// One connection attempt to 127.0.0.1:port with 0.1 s send and receive time-outs.
bool connectsToLoopback(qint64 port)
{
    if (!isTcpPort(port))
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr) != 1)
        return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    timeval timeout{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// The built-in server reports that it cannot listen before anything else it writes: only the
// start of the log is looked at, however much the server has written since.
constexpr qint64 kListenReportBytes = 64 * 1024;

// Whether the start of the server's log holds the built-in server's report that it could not
// listen.
bool reportedListenFailure(const QString& logURL)
{
    QFile log(logURL);
    return log.open(QIODevice::ReadOnly) && log.read(kListenReportBytes).contains("Failed to listen on ");
}

// Inodes of the TCP sockets listening on `port`, from a /proc/<pid>/net/tcp table.
QSet<QByteArray> listeningInodes(const QString& table, qint64 port, bool* readable)
{
    QSet<QByteArray> inodes;
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly)) {
        *readable = false;
        return inodes;
    }
    *readable = true;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
        if (fields.size() < 10 || fields[3] != "0A")
            continue;
        const qsizetype colon = fields[1].lastIndexOf(':');
        bool ok = false;
        const int localPort = fields[1].mid(colon + 1).toInt(&ok, 16);
        if (ok && localPort == port)
            inodes.insert(fields[9]);
    }
    return inodes;
}

// Whether a process of the server's process group holds `port`'s listening socket. The server
// may be a wrapper that runs PHP as its child; another program that already holds the port would
// otherwise answer the probe for a server that is about to fail. When /proc cannot tell, yes.
bool listenerInGroup(pid_t group, qint64 port)
{
    bool readable4 = false;
    bool readable6 = false;
    QSet<QByteArray> inodes = listeningInodes(QStringLiteral("/proc/self/net/tcp"), port, &readable4);
    inodes.unite(listeningInodes(QStringLiteral("/proc/self/net/tcp6"), port, &readable6));
    if (!readable4 && !readable6)
        return true;
    for (const pid_t pid : ProcessGroup::liveMembers(group)) {
        QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& entry : entries) {
            // A socket descriptor links to "socket:[inode]".
            char link[128];
            const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(entry)).constData(), link, sizeof link - 1);
            if (n <= 9)
                continue;
            const QByteArray target(link, n);
            if (target.startsWith("socket:[") && target.endsWith(']') && inodes.contains(target.mid(8, target.size() - 9)))
                return true;
        }
    }
    return false;
}

// Whether anything of a server is left: its first process (until reaped) or another process of
// its group (a wrapper's PHP child). A reaped server's id is signalled only while its group
// still has members, so a reused id is never hit.
bool serverAlive(const std::shared_ptr<ChildProcess>& child)
{
    return child->isRunning() || ProcessGroup::hasLiveMembers(child->pid());
}

// SIGTERM to every server's process group first, then waits for them together, for up to 1.5 s:
// on the reaper for each server's first process, and on the exit of the other processes its
// group had when it was signalled. Then SIGKILL to the groups still alive. A zombie never counts.
void stopChildren(const QList<std::shared_ptr<ChildProcess>>& children)
{
    struct Signalled {
        std::shared_ptr<ChildProcess> child;
        std::unique_ptr<ProcessGroup::Watch> others;
    };
    std::vector<Signalled> signalled;
    for (const std::shared_ptr<ChildProcess>& child : children) {
        if (!child || child->pid() <= 0 || !serverAlive(child))
            continue;
        // Watched from before the signal, so that no id is reused meanwhile.
        auto others = std::make_unique<ProcessGroup::Watch>(ProcessGroup::membersBesidesLeader(child->pid()));
        ::kill(-child->pid(), SIGTERM);
        signalled.push_back({child, std::move(others)});
    }
    const auto deadline = std::chrono::steady_clock::now() + kStopCeiling;
    for (Signalled& server : signalled) {
        server.child->waitForExit(deadline);
        server.others->waitUntilGone(deadline);
    }
    for (const Signalled& server : signalled) {
        if (serverAlive(server.child))
            ::kill(-server.child->pid(), SIGKILL);
    }
}

// The file stems of the logs in a Logs folder.
QSet<QString> logStems(const QString& folder)
{
    QSet<QString> stems;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.log")}, QDir::Files | QDir::Hidden))
        stems.insert(name.chopped(4));
    return stems;
}

// ---- Orphan clean-up helpers (background thread; no model access) ---------------------------

// Standard output of a tool, or nothing when it could not be launched. Standard error is not
// read, so neither a launch error nor a warning is ever parsed for process ids.
std::optional<QByteArray> toolOutput(const QString& program, const QStringList& arguments)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return std::nullopt;
    Process::Spec spec;
    spec.program = program;
    spec.arguments = arguments;
    spec.outputFd = fds[1];
    const Process::Launch launched = Process::spawn(spec);
    ::close(fds[1]);
    if (launched.pid < 0) {
        ::close(fds[0]);
        return std::nullopt;
    }
    QByteArray output;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0) {
            output.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    ::close(fds[0]);
    Process::waitForExit(launched.pid);
    return output;
}

QList<pid_t> listenerPids(const QString& lsof, qint64 port)
{
    QList<pid_t> pids;
    const std::optional<QByteArray> output = toolOutput(
        lsof, {QStringLiteral("-nP"), QStringLiteral("-tiTCP:") + QString::number(port), QStringLiteral("-sTCP:LISTEN")});
    if (!output)
        return pids;
    const QString text = Text::decodeUtf8(*output).value_or(QString());
    for (const QString& piece : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        if (const std::optional<qint32> pid = Text::parseInt32(piece))
            pids.append(*pid);
    }
    return pids;
}

// The parent of a process, from /proc/<pid>/stat; 0 when unknown.
pid_t parentOf(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 2)
        return 0;
    return static_cast<pid_t>(fields[1].toInt());
}

// Whether `pid` is this process or one it started (directly or further down).
bool isOwnProcess(pid_t pid, pid_t self)
{
    pid_t current = pid;
    for (int depth = 0; depth < 128 && current > 1; ++depth) {
        if (current == self)
            return true;
        current = parentOf(current);
    }
    return false;
}

// Whether `pid` is a server an earlier run of this application started: its own arguments
// (read from /proc, not from a tool's output) hold "-S" with a loopback address and the path of a
// router script directly in this storage folder's Routers folder. A server the user started, or
// one of another storage folder, is not ours, whatever port it listens on.
bool servesWithOurRouter(pid_t pid, const QString& routersMarker)
{
    if (routersMarker.isEmpty())
        return false;
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> argv = file.readAll().split('\0');
    bool serves = false;
    bool routed = false;
    for (qsizetype i = 1; i < argv.size(); ++i) {
        if (argv[i] == "-S" && i + 1 < argv.size() && argv[i + 1].startsWith("127.0.0.1:"))
            serves = true;
        const QString argument = QFile::decodeName(argv[i]);
        if (argument.startsWith(routersMarker) && argument.endsWith(QStringLiteral("-router.php"))
            && !argument.mid(routersMarker.size()).contains(u'/'))
            routed = true;
    }
    return serves && routed;
}

struct OrphanScan {
    QList<qint64> ports;
    QString lsof;
    QString ps;
    QString routersMarker;
    qint64 mysqlPort = 0;
    pid_t self = 0;
};

void killOrphan(pid_t pid, const OrphanScan& scan, const QSet<pid_t>& protectedPids)
{
    if (pid <= 0 || pid == scan.self || protectedPids.contains(pid) || isOwnProcess(pid, scan.self)
        || !servesWithOurRouter(pid, scan.routersMarker))
        return;
    if (::kill(pid, SIGTERM) != 0)
        return;
    std::this_thread::sleep_for(kOrphanGrace);
    if (Process::exists(pid))
        ::kill(pid, SIGKILL);
}

void runOrphanScan(const OrphanScan& scan)
{
    // Without a storage folder no server can be told to be ours: a bare "/Routers/" would match
    // other programs' paths.
    if (scan.routersMarker.isEmpty())
        return;

    // Whatever listens on the MySQL port is the database server: never touched.
    QSet<pid_t> protectedPids;
    if (isTcpPort(scan.mysqlPort)) {
        for (pid_t pid : listenerPids(scan.lsof, scan.mysqlPort))
            protectedPids.insert(pid);
    }

    for (qint64 port : scan.ports) {
        if (!isTcpPort(port) || port == scan.mysqlPort)
            continue;
        // Only a server with one of our router scripts; any other program there is left running
        // (a start on that port then reports it in use).
        for (pid_t pid : listenerPids(scan.lsof, port))
            killOrphan(pid, scan, protectedPids);
    }

    const std::optional<QByteArray> output = toolOutput(scan.ps, {QStringLiteral("-axo"), QStringLiteral("pid=,command=")});
    if (!output)
        return;
    const QString text = Text::decodeUtf8(*output).value_or(QString::fromLocal8Bit(*output));
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.contains(QStringLiteral(" -S 127.0.0.1:")) || !line.contains(scan.routersMarker))
            continue;
        const QString first = line.trimmed().section(u' ', 0, 0, QString::SectionSkipEmpty);
        if (const std::optional<qint32> pid = Text::parseInt32(first))
            killOrphan(*pid, scan, protectedPids);
    }
}

} // namespace

// ---- Start ----------------------------------------------------------------------------------

void AppModel::startInternal(const Project& project)
{
    // The shared phpMyAdmin is served under its id: a website of the list never takes it.
    if (project.id == kPhpMyAdminId && m_config.projects.contains(project)) {
        setStatusMessage(project.name + QStringLiteral(" cannot be started: the id \"phpmyadmin\" is reserved for the "
                                                       "shared phpAdmin. Import the folder under another name."));
        return;
    }
    if (m_processes.contains(project.id)) {
        setStatusMessage(project.name + QStringLiteral(" is already starting or running."));
        return;
    }
    if (!ProjectIds::isSafe(project.id)) {
        setStatusMessage(ProjectIds::refusal(project.id));
        return;
    }
    const std::optional<PHPVersion> php = selectedPHP();
    if (!php || !php->supported) {
        setStatusMessage(QStringLiteral("No supported PHP 8.5+ runtime found."));
        return;
    }
    const QString documentRoot = resolvedDocumentRoot(project.root);
    if (!QFileInfo::exists(documentRoot)) {
        setStatusMessage(QStringLiteral("Project root does not exist: ") + project.root);
        return;
    }
    if (!QFileInfo::exists(documentRoot + QStringLiteral("/index.php"))) {
        setStatusMessage(QStringLiteral("Project index.php was not found in ") + documentRoot
                         + QStringLiteral(". Choose the Laravel project folder or a folder that contains index.php."));
        return;
    }

    const QString logURL = m_logsURL + u'/' + ProjectIds::fileStem(project.id) + QStringLiteral(".log");
    // A server without its router would answer every request with an error: nothing starts.
    QString routerFailure;
    const QString router = routerScript(project, &routerFailure);
    if (!routerFailure.isEmpty()) {
        setStatusMessage(QStringLiteral("Could not write router script: ") + routerFailure);
        return;
    }

    Process::Spec task;
    task.program = php->binary;
    task.arguments = phpRuntimeArguments({QStringLiteral("-S"), QStringLiteral("127.0.0.1:") + QString::number(project.port),
                                          QStringLiteral("-t"), documentRoot, router},
                                         php->binary);
    task.workingDirectory = documentRoot;
    task.environment = phpEnvironment(php->binary);
    // Its own process group: a runtime that runs PHP as its child is stopped with it.
    task.newProcessGroup = true;
    const int logFd = attachLog(task, logURL);
    if (logFd >= 0)
        emit projectChanged(project.id);

    // The launch serial is recorded here before the event loop can run the handler's main-queue
    // step, so the handler always knows which launch it belongs to.
    auto serial = std::make_shared<quint64>(0);
    QPointer<AppModel> weak(this);
    auto onExit = [weak, project, serial](int status) {
        Dispatch::main([weak, project, serial, status]() {
            if (AppModel* model = weak.data())
                model->serverExited(project, *serial, status);
        });
    };

    QString error;
    std::shared_ptr<ChildProcess> process = ChildProcess::launch(task, onExit, &error);
    if (logFd >= 0)
        ::close(logFd);
    if (!process) {
        setStatusMessage(QStringLiteral("Failed to start ") + project.name + QStringLiteral(": ") + error);
        return;
    }
    *serial = process->serial();

    m_processes.insert(project.id, RunningProcess{process, logURL});
    setStatusMessage(project.name + QStringLiteral(" is starting on port ") + QString::number(project.port)
                     + QStringLiteral("..."));
    confirmProjectServer(project, process, logURL);
}

QString AppModel::routerScript(const Project& project, QString* error)
{
    const QString path = m_routersURL + u'/' + ProjectIds::fileStem(project.id) + QStringLiteral("-router.php");
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return path;
    };
    // An id that would name a file outside the Routers folder is never written, nor anything
    // without a storage folder.
    if (m_routersURL.isEmpty())
        return fail(QStringLiteral("there is no storage folder."));
    if (!ProjectIds::isSafe(project.id))
        return fail(ProjectIds::refusal(project.id));
    if (!Files::makePath(m_routersURL))
        return fail(QStringLiteral("the folder %1 could not be created.").arg(m_routersURL));
    QString reason;
    if (!Files::writeAtomically(path, PHPDevelopmentRouter::source().toUtf8(), false, &reason))
        return fail(path + QStringLiteral(": ") + reason);
    return path;
}

int AppModel::attachLog(Process::Spec& task, const QString& logURL)
{
    // Without a storage folder there is no Logs folder to write into.
    const int fd = m_logsURL.isEmpty()
        ? -1
        : ::open(QFile::encodeName(logURL).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        // The logs that were there before it ran are listed first.
        if (!m_logStems)
            m_logStems = logStems(m_logsURL);
        m_logStems->insert(QFileInfo(logURL).fileName().chopped(4));
    }
    // Without a log the server's output goes nowhere; the start goes on.
    task.outputFd = fd;
    task.errorFd = fd;
    return fd;
}

void AppModel::confirmProjectServer(const Project& project, const std::shared_ptr<ChildProcess>& process,
                                    const QString& logURL)
{
    std::weak_ptr<const bool> alive = m_serversAlive;
    QPointer<AppModel> weak(this);
    const qint64 port = project.port;
    Dispatch::userInitiated([alive, weak, project, process, logURL, port]() {
        bool succeeded = false;
        bool foreign = false;
        const auto limit = std::chrono::steady_clock::now() + kProbeLimit;
        for (int attempt = 1;; ++attempt) {
            if (!process->isRunning())
                break;
            // Something listens: it is the server only when its group holds the socket. Another
            // program's listener is checked once; the server is then only waited for, so that its
            // log holds why it could not listen.
            if (!foreign && !alive.expired() && connectsToLoopback(port)) {
                succeeded = listenerInGroup(process->pid(), port);
                if (succeeded)
                    break;
                foreign = true;
            }
            // Past the usual tries, a server that is alive and has not said it cannot listen is
            // still starting: it is given until the limit.
            if (attempt >= kProbeTries
                && (!isTcpPort(port) || alive.expired() || std::chrono::steady_clock::now() >= limit
                    || reportedListenFailure(logURL)))
                break;
            std::this_thread::sleep_for(kProbePause);
        }
        Dispatch::main([weak, project, process, logURL, succeeded]() {
            AppModel* model = weak.data();
            if (!model)
                return;
            const auto entry = model->m_processes.constFind(project.id);
            if (entry == model->m_processes.cend() || entry->process.get() != process.get()
                || entry->process->serial() != process->serial())
                return;
            if (!succeeded || !process->isRunning()) {
                model->stopProcess(project.id);
                QString text;
                QFile log(logURL);
                if (log.open(QIODevice::ReadOnly))
                    text = Text::decodeUtf8(log.readAll()).value_or(QString());
                model->setStatusMessage(QStringLiteral("Failed to start ") + project.name + QStringLiteral(": ")
                                        + shortOutput(text));
                return;
            }
            QMap<QString, qint32> running = model->m_runningProjects;
            running.insert(project.id, process->pid());
            model->setRunningProjects(running);
            if (project.id == kPhpMyAdminId)
                model->setPhpMyAdminPid(process->pid());
            model->setStatusMessage(project.name + QStringLiteral(" started on port ") + QString::number(project.port)
                                    + u'.');
        });
    });
}

void AppModel::serverExited(const Project& project, quint64 serial, int status)
{
    const auto entry = m_processes.constFind(project.id);
    if (entry == m_processes.cend() || entry->process->serial() != serial)
        return;
    // A server that dies while still starting is left to its probe, which reports the failure
    // with the log excerpt.
    if (!m_runningProjects.contains(project.id))
        return;
    forgetServer(project.id);
    if (status != 0)
        setStatusMessage(project.name + QStringLiteral(" stopped unexpectedly. Check Logs for details."));
}

// ---- Stop -----------------------------------------------------------------------------------

void AppModel::stopProcess(const QString& id)
{
    stopServers({id});
}

void AppModel::stopServers(const QStringList& ids)
{
    QList<std::shared_ptr<ChildProcess>> children;
    QStringList registered;
    QSet<QString> seen;
    for (const QString& id : ids) {
        const auto entry = m_processes.constFind(id);
        if (entry == m_processes.cend() || seen.contains(id))
            continue;
        seen.insert(id);
        registered.append(id);
        children.append(entry->process);
    }
    if (registered.isEmpty())
        return;
    stopChildren(children);
    forgetServers(registered);
}

void AppModel::forgetServer(const QString& id)
{
    forgetServers({id});
}

void AppModel::forgetServers(const QStringList& ids)
{
    QMap<QString, qint32> running = m_runningProjects;
    for (const QString& id : ids) {
        m_processes.remove(id);
        running.remove(id);
    }
    setRunningProjects(running);
    // The published phpMyAdmin pid mirrors its running entry.
    if (ids.contains(kPhpMyAdminId))
        setPhpMyAdminPid(std::nullopt);
}

void AppModel::stopAllProjects()
{
    QStringList ids;
    for (const Project& project : m_config.projects) {
        // A website stored under the shared phpMyAdmin's id never stops phpMyAdmin.
        if (m_runningProjects.contains(project.id) && project.id != kPhpMyAdminId)
            ids.append(project.id);
    }
    stopServers(ids);
    setStatusMessage(QStringLiteral("All websites stopped."));
}

void AppModel::shutdown()
{
    // A creation under way would otherwise hold its command (and leave its destination) past
    // the end of the process.
    cancelWebsiteCreation();
    stopServers(m_processes.keys());
}

// ---- Orphans --------------------------------------------------------------------------------

void AppModel::cleanupOrphanedPHPServers()
{
    OrphanScan scan;
    QSet<qint64> seen;
    for (const Project& project : m_config.projects) {
        if (!seen.contains(project.port)) {
            seen.insert(project.port);
            scan.ports.append(project.port);
        }
    }
    if (!seen.contains(m_config.phpMyAdminPort))
        scan.ports.append(m_config.phpMyAdminPort);
    scan.lsof = m_platform.tools.lsof;
    scan.ps = m_platform.tools.ps;
    if (!m_appSupport.isEmpty())
        scan.routersMarker = m_appSupport + QStringLiteral("/Routers/");
    scan.mysqlPort = m_config.mysqlPort;
    scan.self = ::getpid();
    Dispatch::utility([scan]() { runOrphanScan(scan); });
}

// ---- Queries --------------------------------------------------------------------------------

qint64 AppModel::suggestedWebsitePort() const
{
    QSet<qint64> used;
    for (const Project& project : m_config.projects)
        used.insert(project.port);
    used.insert(m_config.phpMyAdminPort);
    qint64 port = 8082;
    while (port < 65535 && used.contains(port))
        ++port;
    return port;
}

void AppModel::showLog(const QString& id)
{
    // Only the latest request is shown, whichever read finishes first.
    const quint64 request = ++m_logRequest;
    if (m_logsURL.isEmpty() || !ProjectIds::isSafe(id)) {
        setSelectedLog(QStringLiteral("No log yet."));
        return;
    }
    const QString path = m_logsURL + u'/' + ProjectIds::fileStem(id) + QStringLiteral(".log");
    QPointer<AppModel> weak(this);
    Dispatch::userInitiated([weak, path, request]() {
        std::optional<QString> text = LogTail::read(path);
        Dispatch::main([weak, request, text = std::move(text)]() {
            AppModel* model = weak.data();
            if (!model || model->m_logRequest != request)
                return;
            model->setSelectedLog(text.value_or(QStringLiteral("No log yet.")));
        });
    });
}

bool AppModel::hasLog(const QString& id) const
{
    if (m_logsURL.isEmpty() || !ProjectIds::isSafe(id))
        return false;
    // The application writes the logs itself: one listing tells which were there before it ran.
    if (!m_logStems)
        m_logStems = logStems(m_logsURL);
    return m_logStems->contains(ProjectIds::fileStem(id));
}

bool AppModel::hasRunningWebsites() const
{
    for (const Project& project : m_config.projects) {
        if (m_runningProjects.contains(project.id) && project.id != kPhpMyAdminId)
            return true;
    }
    return false;
}

bool AppModel::isStarting(const QString& id) const { return m_processes.contains(id) && !m_runningProjects.contains(id); }
bool AppModel::isRunning(const QString& id) const { return m_runningProjects.contains(id); }

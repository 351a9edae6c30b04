#include "app/AppModel.h"

#include "app/ConfigWriter.h"

#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/ProcessGroup.h"
#include "platform/ProcessTable.h"
#include "platform/Text.h"
#include "services/LogTail.h"
#include "services/PHPDevelopmentRouter.h"
#include "services/ProjectIds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
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

// Whether a process of the server's process group holds `port`'s listening socket. The server
// may be a wrapper that runs PHP as its child; another program that already holds the port would
// otherwise answer the probe for a server that is about to fail. When /proc cannot tell, yes.
bool listenerInGroup(pid_t group, qint64 port)
{
    const std::optional<QSet<QByteArray>> inodes = ProcessTable::listeningSockets(port);
    if (!inodes)
        return true;
    const QList<pid_t> members = ProcessGroup::liveMembers(group);
    return std::any_of(members.cbegin(), members.cend(), [&](pid_t pid) { return ProcessTable::holdsSocket(pid, *inodes); });
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

// Whether `pid` is this process or one it started (directly or further down).
bool isOwnProcess(pid_t pid, pid_t self)
{
    pid_t current = pid;
    for (int depth = 0; depth < 128 && current > 1; ++depth) {
        if (current == self)
            return true;
        current = ProcessTable::parentOf(current);
    }
    return false;
}

// Whether the arguments are those of a server an earlier run of this application started: "-S"
// with a loopback address and the path of a router script directly in this storage folder's
// Routers folder. Its workers have the same arguments. A server the user started, or one of
// another storage folder, is not ours, whatever port it listens on.
bool servesWithOurRouter(const QList<QByteArray>& argv, const QString& routersMarker)
{
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
    QString routersMarker;
    qint64 mysqlPort = 0;
    pid_t self = 0;
};

// One walk of /proc finds every process of the servers left behind (a server and its workers);
// they get SIGTERM together (a server that leads its own process group, with the group), and
// what is left after the grace gets SIGKILL. No program is run, whatever the number of websites.
void runOrphanScan(const OrphanScan& scan)
{
    // Without a storage folder no server can be told to be ours: a bare "/Routers/" would match
    // other programs' paths.
    if (scan.routersMarker.isEmpty())
        return;
    const QList<ProcessTable::Entry> found = ProcessTable::find(
        [&](const QList<QByteArray>& argv) { return servesWithOurRouter(argv, scan.routersMarker); });
    if (found.isEmpty())
        return;

    // Whatever listens on the MySQL port is the database server: never touched.
    const std::optional<QSet<QByteArray>> database =
        isTcpPort(scan.mysqlPort) ? ProcessTable::listeningSockets(scan.mysqlPort) : std::nullopt;
    QList<pid_t> targets;
    QList<pid_t> pids;
    for (const ProcessTable::Entry& entry : found) {
        if (entry.pid == scan.self || isOwnProcess(entry.pid, scan.self)
            || (database && ProcessTable::holdsSocket(entry.pid, *database)))
            continue;
        targets.append(entry.group == entry.pid ? -entry.pid : entry.pid);
        pids.append(entry.pid);
    }
    // Watched from before the signal, so that no id is reused meanwhile.
    ProcessGroup::Watch watch(pids);
    for (const pid_t target : std::as_const(targets))
        ::kill(target, SIGTERM);
    if (watch.waitUntilGone(std::chrono::steady_clock::now() + kOrphanGrace))
        return;
    for (qsizetype i = 0; i < targets.size(); ++i) {
        if (Process::exists(pids[i]))
            ::kill(targets[i], SIGKILL);
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

    // PHP's server would take port 0 for any free port, and the probe could never find it.
    if (!isTcpPort(project.port)) {
        setStatusMessage(project.name + QStringLiteral(" cannot be started: the website port must be between 1 and 65535."));
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
    task.environment = serverEnvironment(php->binary);
    // Its own process group: its workers, and a runtime that runs PHP as its child, are stopped
    // with it.
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
    if (!Files::writeWholeFile(path, PHPDevelopmentRouter::source().toUtf8(), false, &reason))
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
                model->setStatusMessage(StatusText::withExcerpt(
                    QStringLiteral("Failed to start ") + project.name + QStringLiteral(": "), shortOutput(text)));
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
    // MySQL clients and a creation under way would otherwise outlive the process (and the
    // creation leave its destination behind).
    m_mysqlClients.stop();
    cancelWebsiteCreation();
    stopServers(m_processes.keys());
    // The last change of the settings reaches the disk before the process ends.
    waitForConfigWrites(ConfigWriter::kQuitWaitMs);
}

// ---- Orphans --------------------------------------------------------------------------------

void AppModel::cleanupOrphanedPHPServers()
{
    OrphanScan scan;
    if (!m_appSupport.isEmpty())
        scan.routersMarker = m_appSupport + QStringLiteral("/Routers/");
    scan.mysqlPort = m_config.mysqlPort;
    scan.self = ::getpid();
    Dispatch::utility([scan, finished = m_platform.orphanCleanupFinished]() {
        runOrphanScan(scan);
        if (finished)
            finished();
    });
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

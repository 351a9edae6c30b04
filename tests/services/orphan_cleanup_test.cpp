// Servers left behind by an earlier run are killed when a model starts; nothing else is.
#include "services/ServerTestKit.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <atomic>
#include <csignal>
#include <unistd.h>

using namespace ServerTestKit;
using TestEnvironment::freePort;
using TestEnvironment::waitUntil;

namespace {

// Starts a process that is not a child of this test (as a crashed application would leave it).
qint64 startDetached(const QStringList& command, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProgram(command.first());
    process.setArguments(command.mid(1));
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    EXPECT_TRUE(process.startDetached(&pid)) << command.join(' ').toStdString();
    return pid;
}

QStringList listener(quint16 port)
{
    return {BundledPhp::binary(), "-r",
            QStringLiteral("$s = stream_socket_server('tcp://127.0.0.1:%1'); sleep(120);").arg(port)};
}

// A PHP built-in server without a router.
QStringList plainServer(quint16 port, const QString& root)
{
    return {BundledPhp::binary(), "-S", QStringLiteral("127.0.0.1:%1").arg(port), "-t", root};
}

// A PHP built-in server with a router that ignores SIGTERM (an ignored signal stays ignored
// across exec).
QStringList stubbornServer(quint16 port, const QString& root, const QString& router)
{
    return {"/bin/sh", "-c",
            QStringLiteral("trap '' TERM; exec %1 -S 127.0.0.1:%2 -t '%3' '%4'").arg(BundledPhp::binary()).arg(port).arg(root, router)};
}

// A web server that is not PHP.
QStringList pythonServer(quint16 port, const QString& root)
{
    return {"/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory", root, QString::number(port)};
}

QStringList routedServer(quint16 port, const QString& root, const QString& router)
{
    return {BundledPhp::binary(), "-S", QStringLiteral("127.0.0.1:%1").arg(port), "-t", root, router};
}

bool listening(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}

void waitListening(quint16 port)
{
    ASSERT_TRUE(waitUntil([&] { return listening(port); }, 30000)) << port;
}

void killAll(const QList<qint64>& pids)
{
    for (qint64 pid : pids) {
        if (pid > 0)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
}

class OrphanCleanup : public ServerTest {
protected:
    void TearDown() override
    {
        killAll(leftovers);
        ServerTest::TearDown();
    }
    // A model of the storage folder that runs the clean-up at its start; `finished` is set once
    // the clean-up has signalled what it found.
    std::unique_ptr<AppModel> cleaningModel(Platform p)
    {
        p.runOrphanCleanup = true;
        p.orphanCleanupFinished = [done = finished] { done->store(true); };
        return std::make_unique<AppModel>(p);
    }
    bool waitCleanedUp() { return waitUntil([this] { return finished->load(); }, 60000); }

    QList<qint64> leftovers;
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
};

} // namespace

TEST_F(OrphanCleanup, OnlyServersWithThisStorageFoldersRoutersAreKilled)
{
    const QString site = makeSite(path("site"));
    const QString elsewhereRoot = makeSite(path("somewhere"));
    const QString routers = model->routersURL();
    const quint16 routedPort = freePort();    // not a project port: found through ps
    const quint16 pmaPort = freePort();       // phpMyAdmin left behind
    const quint16 stubbornPort = freePort();  // left behind and ignores SIGTERM
    const quint16 handPort = freePort();      // a server the user started by hand on a project port
    const quint16 elsewherePort = freePort(); // a server of another storage folder on a project port
    const quint16 nestedPort = freePort();    // another storage folder whose path ends in ours
    const quint16 mysqlPort = freePort();     // the database server, also (wrongly) a project port
    const quint16 selfPort = freePort();      // this very process listens on a project port
    const quint16 pythonPort = freePort();    // another program's web server on a project port
    const quint16 scriptPort = freePort();    // a PHP program that is not the built-in server
    const quint16 workersPort = freePort();   // left behind with its workers

    const Project hand = makeProject("hand", "Hand", site, handPort);
    model->modifyConfig([&](AppConfig& c) {
        c.projects = {hand, makeProject("db", "Db", site, mysqlPort),
                      makeProject("stubborn", "Stubborn", site, stubbornPort),
                      makeProject("elsewhere", "Elsewhere", site, elsewherePort),
                      makeProject("nested", "Nested", site, nestedPort),
                      makeProject("python", "Python", site, pythonPort), makeProject("script", "Script", site, scriptPort),
                      makeProject("self", "Self", site, selfPort), makeProject("zero", "Zero", site, 0)};
        c.mysqlPort = mysqlPort;
        c.phpMyAdminPort = pmaPort;
    });
    model->saveConfig();
    model.reset();

    const QString otherRouter = path("other/Kovani/Routers/x-router.php");
    const QString nestedRouter = path("nest") + routers + "/n-router.php";
    for (const QString& router : {routers + "/old-router.php", routers + "/phpmyadmin-router.php",
                                  routers + "/stubborn-router.php", routers + "/workers-router.php", otherRouter,
                                  nestedRouter})
        writeFile(router, "<?php return false;");
    const qint64 routed = startDetached(routedServer(routedPort, site, routers + "/old-router.php"));
    const qint64 pma = startDetached(routedServer(pmaPort, site, routers + "/phpmyadmin-router.php"));
    const qint64 stubborn = startDetached(stubbornServer(stubbornPort, site, routers + "/stubborn-router.php"));
    const qint64 byHand = startDetached(plainServer(handPort, elsewhereRoot));
    const qint64 elsewhere = startDetached(routedServer(elsewherePort, site, otherRouter));
    const qint64 nested = startDetached(routedServer(nestedPort, site, nestedRouter));
    const qint64 database = startDetached(listener(mysqlPort));
    const qint64 python = startDetached(pythonServer(pythonPort, site));
    const qint64 script = startDetached(listener(scriptPort));
    QProcessEnvironment withWorkers = QProcessEnvironment::systemEnvironment();
    withWorkers.insert("PHP_CLI_SERVER_WORKERS", "4");
    const qint64 workers = startDetached(routedServer(workersPort, site, routers + "/workers-router.php"), withWorkers);
    leftovers = {routed, pma, stubborn, byHand, elsewhere, nested, database, python, script, workers};
    for (quint16 port : {routedPort, pmaPort, stubbornPort, handPort, elsewherePort, nestedPort, mysqlPort, pythonPort,
                         scriptPort, workersPort})
        waitListening(port);
    // The server and its four workers, forked once it listens.
    QList<qint32> workerProcesses;
    EXPECT_TRUE(waitUntil([&] {
        workerProcesses = processesMentioning(routers + "/workers-router.php");
        return workerProcesses.size() == 5;
    }, 30000)) << workerProcesses.size();
    QTcpServer self;
    ASSERT_TRUE(self.listen(QHostAddress::LocalHost, selfPort));

    model = cleaningModel(platform.platform);
    ASSERT_TRUE(waitCleanedUp());

    // The stubborn one gets SIGKILL after the grace; the others end on SIGTERM.
    EXPECT_TRUE(waitUntil([&] { return !Process::exists(routed) && !Process::exists(pma) && !Process::exists(stubborn); },
                          20000));
    for (qint32 pid : workerProcesses)
        EXPECT_TRUE(waitUntil([&] { return !Process::exists(pid); }, 20000)) << "worker " << pid;
    for (const char* name : {"/old-router.php", "/phpmyadmin-router.php", "/stubborn-router.php", "/workers-router.php"})
        EXPECT_TRUE(waitUntil([&] { return processesMentioning(routers + name).isEmpty(); }, 20000)) << name;
    EXPECT_FALSE(listening(routedPort));
    EXPECT_FALSE(listening(pmaPort));
    EXPECT_FALSE(listening(stubbornPort));
    EXPECT_FALSE(listening(workersPort));
    // Nothing else is touched.
    for (const auto& [label, pid] : {std::pair{"by hand", byHand}, std::pair{"other storage folder", elsewhere},
                                     std::pair{"nested storage folder", nested}, std::pair{"database", database},
                                     std::pair{"python", python}, std::pair{"php script", script}})
        EXPECT_TRUE(Process::exists(pid)) << label;
    EXPECT_TRUE(listening(handPort));
    EXPECT_TRUE(listening(pythonPort));
    EXPECT_TRUE(self.isListening());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Ready"));

    // The hand-started server keeps its port: starting the website there reports it in use.
    selectRuntime(*model, php);
    model->startInternal(hand);
    ASSERT_TRUE(waitUntil([&] { return !model->isStarting("hand"); }, 60000));
    EXPECT_FALSE(model->isRunning("hand"));
    EXPECT_TRUE(model->statusMessage().startsWith("Failed to start Hand: ")) << model->statusMessage().toStdString();
    EXPECT_TRUE(model->statusMessage().contains("Address already in use")) << model->statusMessage().toStdString();
    EXPECT_TRUE(Process::exists(byHand));
    EXPECT_EQ(curl(handPort, "/").body, QByteArray("front:/index.php:/"));
}

TEST_F(OrphanCleanup, ServersOfThisModelSurviveALaterCleanup)
{
    const QString site = makeSite(path("site"));
    const quint16 ownPort = freePort();
    const quint16 strayPort = freePort();
    model->modifyConfig([&](AppConfig& c) { c.projects = {makeProject("own", "Own", site, ownPort)}; });
    model->startInternal(makeProject("own", "Own", site, ownPort));
    ASSERT_TRUE(waitRunning("own"));
    const qint32 ownPid = model->runningProjects().value("own");

    writeFile(model->routersURL() + "/stray-router.php", "<?php return false;");
    const qint64 stray = startDetached(routedServer(strayPort, site, model->routersURL() + "/stray-router.php"));
    leftovers = {stray};
    waitListening(strayPort);

    ASSERT_TRUE(waitUntil([&] { return processesMentioning(model->routersURL() + "/own-router.php").size() == 1 + kServerWorkers; }));
    // A second model of the same storage folder cleans up while the first one still runs.
    auto second = cleaningModel(platform.platform);
    ASSERT_TRUE(waitCleanedUp());
    EXPECT_TRUE(waitUntil([&] { return !Process::exists(stray); }, 20000));
    // Its workers are the first model's children: they are left too.
    EXPECT_EQ(processesMentioning(model->routersURL() + "/own-router.php").size(), 1 + kServerWorkers);
    EXPECT_TRUE(Process::exists(ownPid));
    EXPECT_TRUE(model->isRunning("own"));
    EXPECT_EQ(curl(ownPort, "/").body, QByteArray("front:/index.php:/"));
}

TEST_F(OrphanCleanup, WithoutAStorageFolderNothingIsKilled)
{
    // A server under some ".../Routers/" folder: without a storage folder no server is ours.
    const QString site = makeSite(path("site"));
    const QString router = path("srv/Routers/a-router.php");
    writeFile(router, "<?php return false;");
    const quint16 port = freePort();
    const qint64 bystander = startDetached(routedServer(port, site, router));
    leftovers = {bystander};
    waitListening(port);

    Platform bare = platform.platform;
    bare.storageRoot.clear();
    auto homeless = cleaningModel(bare);
    ASSERT_TRUE(waitCleanedUp());
    EXPECT_TRUE(Process::exists(bystander));
    EXPECT_TRUE(listening(port));
}

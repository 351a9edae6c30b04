// A second launch of the real executable hands its command to the running instance and exits
// without a model of its own, so the running instance's websites keep running: also after a
// flood of connections used up the running instance's descriptors, with a runtime folder whose
// path is too long for a socket address, and without a private runtime folder, where another
// user's program holding the old names in the temporary folder never hears from it.
#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "app/ContentView.h"
#include "app/ElidedLabel.h"
#include "app/Footer.h"
#include "app/SablewickhavenApp.h"
#include "platform/InstanceChannel.h"
#include "platform/InstanceLock.h"
#include "platform/PrivateFolder.h"
#include "platform/Process.h"
#include "services/ServerTestKit.h"
#include "support/DescriptorFlood.h"
#include "support/ForeignListener.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kExecutable = QStringLiteral(KOVANI_TEST_BINARY_DIR "/Kovani.app/Contents/MacOS/Kovani");

struct Launch {
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray output;
};

// Runs the executable with this process's (temporary) HOME and XDG folders, offscreen, while
// the event loop keeps running so the first instance can answer. `change` edits its environment.
Launch launchSecondInstance(const QStringList& arguments = {},
                            const std::function<void(QProcessEnvironment&)>& change = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (change)
        change(environment);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(kExecutable, arguments);
    Launch launch;
    if (!process.waitForStarted(5000))
        return launch;
    launch.finished = TestEnvironment::waitUntil([&]() { return process.state() == QProcess::NotRunning; }, 20000);
    if (!launch.finished) {
        process.kill();
        process.waitForFinished(3000);
        launch.output = process.readAll();
        return launch;
    }
    launch.exitCode = process.exitCode();
    launch.exitStatus = process.exitStatus();
    launch.output = process.readAll();
    return launch;
}

// Sets (or, with no value, removes) an environment variable of this process for a scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::optional<QString>& value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        if (value)
            qputenv(name, value->toLocal8Bit());
        else
            qunsetenv(name);
    }
    ~ScopedVariable()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

// A private runtime folder "runtime" in `parent`.
QString privateRuntime(const QString& parent)
{
    const QString runtime = parent + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    return runtime;
}

// Another user's account: only root can give a folder to it.
constexpr uid_t kOtherUser = 65534;

// The running instance: a window with a model on the storage folder a launch with this HOME
// uses, running one website, so a second model would find that website's server among its
// orphans. Its channel is made with this process's environment at the time.
class SecondInstance : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QFileInfo(kExecutable).isExecutable()) << kExecutable.toStdString(); }

    void TearDown() override
    {
        if (window) {
            window->model().shutdown();
            if (pid > 0)
                EXPECT_FALSE(Process::exists(pid));
        }
    }

    void startFirstInstance()
    {
        Platform platform;
        platform.resourcesDir = QStringLiteral(KOVANI_TEST_RESOURCES_DIR);
        platform.runDeferredStartup = false;
        platform.runOrphanCleanup = false;
        platform.phpSearchWhich = false;
        window = std::make_unique<ContentView>(platform);
        channel = std::make_unique<InstanceChannel>();
        ASSERT_EQ(channel->claim(), InstanceChannel::Claim::listening);
        ASSERT_TRUE(channel->isListening());
        SablewickhavenApp::connectInstanceChannel(*channel, *window);

        AppModel& model = window->model();
        php = std::make_unique<PhpWrapper>(dir.path() + QStringLiteral("/php-bin"));
        model.setPhpVersions({PHPVersion{php->binary(), QStringLiteral("8.5.1"), true}});
        const QString site = dir.path() + QStringLiteral("/site");
        TestFiles::writeFile(site + QStringLiteral("/index.php"), "<?php echo 'hello';\n");
        Project project = ServerTestKit::makeProject(QStringLiteral("site"), QStringLiteral("Site"), site, TestEnvironment::freePort());
        project.databaseName = QStringLiteral("site");
        // Should a launch run a model after all, its start-up touches no real port.
        model.modifyConfig([&](AppConfig& c) {
            c.selectedPhp = php->binary();
            c.projects = {project};
            c.mysqlPort = TestEnvironment::freePort();
            c.mysqlStartCommand = QStringLiteral("true");
            c.phpMyAdminPort = TestEnvironment::freePort();
        });
        model.saveConfig();
        model.startInternal(project);
        ASSERT_TRUE(TestEnvironment::waitUntil(
            [&model]() { return model.runningProjects().contains(QStringLiteral("site")); }, 10000))
            << model.statusMessage().toStdString();
        pid = model.runningProjects().value(QStringLiteral("site"));
        port = quint16(project.port);
        configPath = platform.storageRoot + QStringLiteral("/config.json");
        configBefore = TestFiles::readBytes(configPath);
        ASSERT_FALSE(configBefore.isEmpty());

        window->showMinimized();
        ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return window->isMinimized(); }, 15000));
    }

    // The launch ended at once, the window came to the front and the website is the same process.
    void expectRaisedAndUntouched(const Launch& launch)
    {
        ASSERT_TRUE(launch.finished) << "the second instance kept running\n" << launch.output.toStdString();
        EXPECT_EQ(launch.exitStatus, QProcess::NormalExit);
        EXPECT_EQ(launch.exitCode, 0) << launch.output.toStdString();
        EXPECT_TRUE(TestEnvironment::waitUntil([&]() { return !window->isMinimized() && window->isVisible(); }, 15000));
        // The launch has ended and this instance's own work with it: the website must still be the
        // same process.
        ASSERT_TRUE(Dispatch::drainForTesting());
        EXPECT_TRUE(Process::exists(pid));
        EXPECT_EQ(window->model().runningProjects().value(QStringLiteral("site")), pid);
        EXPECT_EQ(ServerTestKit::curl(port, QStringLiteral("/")).body, QByteArray("hello"));
        EXPECT_EQ(TestFiles::readBytes(configPath), configBefore);
    }

    void minimizeAgain()
    {
        window->showMinimized();
        ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return window->isMinimized(); }, 15000));
    }

    QTemporaryDir dir;
    std::unique_ptr<PhpWrapper> php;
    std::unique_ptr<ContentView> window;
    std::unique_ptr<InstanceChannel> channel;
    qint32 pid = 0;
    quint16 port = 0;
    QString configPath;
    QByteArray configBefore;
};

} // namespace

TEST_F(SecondInstance, RaisesTheRunningWindowAndLeavesItsWebsitesAlone)
{
    startFirstInstance();
    expectRaisedAndUntouched(launchSecondInstance());
}

TEST_F(SecondInstance, FindsTheRunningInstanceAfterItsLockFileWasDeletedOrReplaced)
{
    startFirstInstance();
    const QString folder = QFileInfo(configPath).absolutePath() + QStringLiteral("/Instance");
    const QString lockPath = folder + QStringLiteral("/Kovani.lock");
    ASSERT_TRUE(QFileInfo(lockPath).isFile());
    const struct {
        const char* what;
        std::function<void()> change;
    } cases[] = {
        {"lock file deleted", [&]() { ASSERT_TRUE(QFile::remove(lockPath)); }},
        {"its folder deleted", [&]() { ASSERT_TRUE(QDir(folder).removeRecursively()); }},
        {"lock file replaced",
         [&]() {
             TestFiles::writeFile(folder + QStringLiteral("/replacement"), "another file");
             ASSERT_EQ(::rename(QFile::encodeName(folder + QStringLiteral("/replacement")).constData(),
                                QFile::encodeName(lockPath).constData()),
                       0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        // Launched at once, and again later: each ends by itself and the website lives on.
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            expectRaisedAndUntouched(launchSecondInstance());
            minimizeAgain();
        }
    }
}

TEST_F(SecondInstance, ALaunchWithAnotherRuntimeFolderRaisesTheRunningWindow)
{
    startFirstInstance();
    const QString other = dir.path() + QStringLiteral("/other-runtime");
    ASSERT_TRUE(QDir().mkpath(other));
    ASSERT_EQ(::chmod(QFile::encodeName(other).constData(), 0700), 0);
    const struct {
        const char* what;
        std::optional<QString> runtime;
    } cases[] = {
        {"another runtime folder", other},
        {"no runtime folder", std::nullopt},
        {"a relative runtime folder", QStringLiteral("relative/runtime")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectRaisedAndUntouched(launchSecondInstance({}, [&](QProcessEnvironment& environment) {
            if (c.runtime)
                environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), *c.runtime);
            else
                environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        }));
        minimizeAgain();
    }
}

TEST(SecondInstanceAfterAFlood, FindsTheRunningInstanceAfterAFloodUsedUpItsDescriptors)
{
    ASSERT_TRUE(QFileInfo(kExecutable).isExecutable()) << kExecutable.toStdString();
    QTemporaryDir dir;
    // The settings name a website whose server runs, started as the running instance starts it
    // (its router script in the storage folder's Routers), so a second model would take it for
    // an orphan. The running instance here is a bare window: a model's worker threads could not
    // start while the flood holds every descriptor.
    Platform platform;
    platform.resourcesDir = QStringLiteral(KOVANI_TEST_RESOURCES_DIR);
    platform.runDeferredStartup = false;
    platform.runOrphanCleanup = false;
    platform.phpSearchWhich = false;
    const QString site = dir.path() + QStringLiteral("/site");
    TestFiles::writeFile(site + QStringLiteral("/index.php"), "<?php echo 'hello';\n");
    const QString router = platform.storageRoot + QStringLiteral("/Routers/site-router.php");
    TestFiles::writeFile(router, "<?php return false;\n");
    const quint16 port = TestEnvironment::freePort();
    {
        AppModel model(platform);
        Project project;
        project.id = QStringLiteral("site");
        project.name = QStringLiteral("Site");
        project.root = site;
        project.port = port;
        model.modifyConfig([&](AppConfig& c) {
            c.selectedPhp = BundledPhp::binary();
            c.projects = {project};
            c.mysqlPort = TestEnvironment::freePort();
            c.mysqlStartCommand = QStringLiteral("true");
            c.phpMyAdminPort = TestEnvironment::freePort();
        });
        model.saveConfig();
    }
    QProcess website;
    website.setStandardInputFile(QProcess::nullDevice());
    website.setProcessChannelMode(QProcess::ForwardedChannels);
    website.start(BundledPhp::binary(), {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(port),
                                          QStringLiteral("-t"), site, router});
    ASSERT_TRUE(website.waitForStarted(5000));
    ASSERT_TRUE(TestEnvironment::waitUntil([&]() {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        return probe.waitForConnected(200);
    }, 10000));
    const qint64 pid = website.processId();

    QWidget window;
    InstanceChannel channel;
    ASSERT_EQ(channel.claim(), InstanceChannel::Claim::listening);
    SablewickhavenApp::connectInstanceChannel(channel, window);
    window.showMinimized();
    ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return window.isMinimized(); }, 15000));
    const QString socket = channel.socketPath();
    {
        // This process is the running instance: the flood takes its last descriptors, and its
        // listener meets the queued connections with none left to accept them.
        DescriptorFlood flood(socket);
        ASSERT_TRUE(flood.exhausted()) << flood.connections();
        ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return channel.acceptRetryPendingForTesting(); }));
    }
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const Launch launch = launchSecondInstance();
        ASSERT_TRUE(launch.finished) << "the second instance kept running\n" << launch.output.toStdString();
        EXPECT_EQ(launch.exitCode, 0) << launch.output.toStdString();
        EXPECT_TRUE(TestEnvironment::waitUntil([&]() { return !window.isMinimized() && window.isVisible(); }, 15000));
        ASSERT_TRUE(Dispatch::drainForTesting());
        EXPECT_EQ(website.state(), QProcess::Running);
        EXPECT_TRUE(Process::exists(qint32(pid)));
        // The listener is back for the launches after that one too.
        window.showMinimized();
        ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return window.isMinimized(); }, 15000));
    }
    website.kill();
    website.waitForFinished(5000);
}

TEST_F(SecondInstance, FindsTheRunningInstanceWhenTheRuntimePathIsTooLongForASocket)
{
    const QString runtime = dir.path() + u'/' + QString(120, QLatin1Char('r'));
    ASSERT_TRUE(QDir().mkpath(runtime));
    ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
    ScopedVariable variable("XDG_RUNTIME_DIR", runtime);
    startFirstInstance();
    expectRaisedAndUntouched(launchSecondInstance());
}

TEST_F(SecondInstance, NeverTalksToAnotherUsersProgramInTheTemporaryFolder)
{
    // No runtime folder. Another user's program took the names a shared temporary folder offers.
    const QString temp = dir.path() + QStringLiteral("/tmp");
    ASSERT_TRUE(QDir().mkpath(temp));
    ::chmod(QFile::encodeName(temp).constData(), 01777);
    const QString theirs = temp + QStringLiteral("/runtime-") + qEnvironmentVariable("USER", QStringLiteral("root"));
    ASSERT_TRUE(QDir().mkpath(theirs));
    ::chmod(QFile::encodeName(theirs).constData(), 0777);
    if (::chown(QFile::encodeName(theirs).constData(), kOtherUser, kOtherUser) != 0)
        GTEST_SKIP() << "another user's folder needs root";
    const QString name = InstanceChannel::socketName(Platform().storageRoot);
    ForeignListener inTemp(temp + u'/' + name);
    ForeignListener inTheirRuntime(theirs + u'/' + name);
    ASSERT_TRUE(inTemp.isListening() && inTheirRuntime.isListening());
    ScopedVariable noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    ScopedVariable tmpdir("TMPDIR", temp);
    const auto sameEnvironment = [&](QProcessEnvironment& environment) {
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.insert(QStringLiteral("TMPDIR"), temp);
    };

    // Nothing runs: the sign-in redirect has nobody to go to, and is not handed to them.
    const QString redirect = QStringLiteral("kovani-test:/callback?code=4%2Fsecret-code&state=secret-state");
    const Launch alone = launchSecondInstance({QStringLiteral("--oauth-redirect"), redirect}, sameEnvironment);
    ASSERT_TRUE(alone.finished) << alone.output.toStdString();
    EXPECT_EQ(alone.exitCode, 1) << alone.output.toStdString();
    EXPECT_TRUE(alone.output.contains("No running Kovani is waiting for this sign-in.")) << alone.output.toStdString();

    // With the instance running, a launch raises it, not them.
    startFirstInstance();
    EXPECT_TRUE(channel->socketPath().startsWith(QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath("Kovani/Instance/")))
        << channel->socketPath().toStdString();
    expectRaisedAndUntouched(launchSecondInstance({}, sameEnvironment));

    QByteArray heard;
    EXPECT_FALSE(inTemp.receivedConnection(&heard)) << heard.toStdString();
    EXPECT_FALSE(inTheirRuntime.receivedConnection(&heard)) << heard.toStdString();
}

TEST(LaunchDecision, RunsHandsOverOrSaysItCannotTell)
{
    QTemporaryDir dir;
    const QString storage = dir.path() + QStringLiteral("/Kovani");
    const QString runtime = privateRuntime(dir.path());
    const SablewickhavenApp::LaunchCommand raise{InstanceChannel::kRaise, QString()};
    const SablewickhavenApp::LaunchCommand redirect{InstanceChannel::kOAuthRedirect, QStringLiteral("kovani-test:/cb?code=c")};

    {
        // Nothing runs: this launch is the instance, with the clean-up.
        InstanceChannel channel(storage, runtime);
        const auto decision = SablewickhavenApp::decideLaunch(channel, raise, 1000);
        EXPECT_FALSE(decision.exitCode);
        EXPECT_TRUE(decision.runOrphanCleanup);
        EXPECT_TRUE(decision.message.isEmpty()) << decision.message.toStdString();
        EXPECT_TRUE(channel.isListening());

        // A launch while it runs hands its command over and ends.
        QStringList heard;
        QObject::connect(&channel, &InstanceChannel::commandReceived, &channel,
                         [&](const QString& command, const QString&) { heard << command; });
        InstanceChannel second(storage, runtime);
        std::optional<SablewickhavenApp::LaunchDecision> handedOver;
        std::thread launch([&]() { handedOver = SablewickhavenApp::decideLaunch(second, redirect, 5000); });
        TestEnvironment::waitUntil([&]() { return heard.size() == 1; }, 10000);
        launch.join();
        ASSERT_TRUE(handedOver && handedOver->exitCode);
        EXPECT_EQ(*handedOver->exitCode, 0) << handedOver->message.toStdString();
        EXPECT_EQ(heard, QStringList{InstanceChannel::kOAuthRedirect});
    }
    {
        // The lock is held by a process that does not answer: the launch ends, having stopped nothing.
        const PrivateFolder folder = PrivateFolder::make(storage + QStringLiteral("/Instance"));
        InstanceLock holder;
        ASSERT_EQ(holder.acquire(folder), InstanceLock::State::held);
        InstanceChannel channel(storage, runtime);
        const auto decision = SablewickhavenApp::decideLaunch(channel, raise, 500);
        ASSERT_TRUE(decision.exitCode);
        EXPECT_EQ(*decision.exitCode, 1);
        EXPECT_EQ(decision.message, QStringLiteral("Kovani is already running but does not answer."));
        EXPECT_FALSE(channel.isListening());
    }
    {
        // The lock's folder belongs to another user: the launch says it cannot tell and runs
        // without the clean-up (its model's start-up leaves it out).
        const QString folder = storage + QStringLiteral("/Instance");
        QFile::remove(folder + QStringLiteral("/Kovani.lock"));
        if (::chown(QFile::encodeName(folder).constData(), kOtherUser, kOtherUser) != 0)
            GTEST_SKIP() << "another user's folder needs root";
        InstanceChannel channel(storage, runtime);
        const auto decision = SablewickhavenApp::decideLaunch(channel, raise, 500);
        EXPECT_FALSE(decision.exitCode);
        EXPECT_FALSE(decision.runOrphanCleanup);
        EXPECT_TRUE(decision.message.startsWith(QStringLiteral("Kovani cannot tell whether another instance is running")))
            << decision.message.toStdString();
        EXPECT_TRUE(decision.message.contains(folder)) << decision.message.toStdString();

        TestEnvironment::TestPlatform t = TestEnvironment::makePlatform(dir.path() + QStringLiteral("/model"));
        t.platform.runOrphanCleanup = decision.runOrphanCleanup;
        QStringList steps;
        t.platform.startupTrace = [&](const QString& step) { steps << step; };
        AppModel model(t.platform);
        EXPECT_FALSE(steps.contains(QStringLiteral("cleanupOrphanedPHPServers"))) << steps.join(u',').toStdString();

        const auto forRedirect = SablewickhavenApp::decideLaunch(channel, redirect, 500);
        ASSERT_TRUE(forRedirect.exitCode);
        EXPECT_EQ(*forRedirect.exitCode, 1);
        EXPECT_TRUE(forRedirect.message.contains(QStringLiteral("No running Kovani is waiting for this sign-in.")));
    }
}

TEST(LaunchDecision, ALockPathThatIsNoFileIsSaidInTheFooterAndSkipsTheCleanUp)
{
    QTemporaryDir dir;
    const QString runtime = privateRuntime(dir.path());
    const SablewickhavenApp::LaunchCommand raise{InstanceChannel::kRaise, QString()};
    const QString elsewhere = dir.path() + QStringLiteral("/elsewhere");
    TestFiles::writeFile(elsewhere, "a file of its own");
    const struct {
        const char* what;
        std::function<bool(const QByteArray&)> make;
        QString said;
    } cases[] = {
        {"folder", [](const QByteArray& path) { return ::mkdir(path.constData(), 0700) == 0; }, QStringLiteral("is a folder, not a lock file")},
        {"FIFO", [](const QByteArray& path) { return ::mkfifo(path.constData(), 0600) == 0; }, QStringLiteral("is a FIFO, not a lock file")},
        {"link", [&](const QByteArray& path) { return ::symlink(QFile::encodeName(elsewhere).constData(), path.constData()) == 0; },
         QStringLiteral("is a link, not a lock file")},
        {"dangling link", [](const QByteArray& path) { return ::symlink("/nowhere/at/all", path.constData()) == 0; },
         QStringLiteral("is a link, not a lock file")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString storage = dir.path() + u'/' + QString::fromLatin1(c.what) + QStringLiteral("/Kovani");
        const QString lockPath = storage + QStringLiteral("/Instance/Kovani.lock");
        ASSERT_TRUE(PrivateFolder::make(storage + QStringLiteral("/Instance")).isValid());
        ASSERT_TRUE(c.make(QFile::encodeName(lockPath)));

        // Nothing answers: the launch runs, says why it cannot tell, and leaves the clean-up out.
        InstanceChannel channel(storage, runtime);
        const auto decision = SablewickhavenApp::decideLaunch(channel, raise, 500);
        EXPECT_FALSE(decision.exitCode);
        EXPECT_FALSE(decision.runOrphanCleanup);
        EXPECT_TRUE(decision.message.contains(lockPath + u' ' + c.said)) << decision.message.toStdString();
        EXPECT_TRUE(decision.message.contains(QStringLiteral("It starts without stopping servers left behind by an earlier run.")))
            << decision.message.toStdString();

        // The window's footer says it for the whole run, whatever the status line says after it.
        TestEnvironment::TestPlatform t = TestEnvironment::makePlatform(dir.path() + u'/' + QString::fromLatin1(c.what) + QStringLiteral("-model"));
        t.platform.runOrphanCleanup = decision.runOrphanCleanup;
        t.platform.launchNotice = decision.message;
        QStringList steps;
        t.platform.startupTrace = [&](const QString& step) { steps << step; };
        ContentView window(t.platform);
        EXPECT_FALSE(steps.contains(QStringLiteral("cleanupOrphanedPHPServers")));
        ASSERT_TRUE(window.footer()->notice());
        EXPECT_EQ(window.footer()->notice()->text(), decision.message);
        window.model().setStatusMessage(QStringLiteral("Database started."));
        EXPECT_EQ(window.footer()->notice()->text(), decision.message);
        EXPECT_EQ(window.footer()->status()->text(), QStringLiteral("Database started."));
        // Wrapped, not cut, at the window's width.
        window.show();
        ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return window.footer()->notice()->isVisible(); }));
        EXPECT_FALSE(window.footer()->notice()->isElided()) << window.footer()->notice()->displayedLines().join(u'|').toStdString();
    }
}

TEST(LaunchDecision, ARunningInstanceWhoseLockPathBecameAFolderStillTakesTheLaunch)
{
    QTemporaryDir dir;
    const QString storage = dir.path() + QStringLiteral("/Kovani");
    const QString runtime = privateRuntime(dir.path());
    InstanceChannel running(storage, runtime);
    ASSERT_EQ(running.claim(), InstanceChannel::Claim::listening);
    QStringList heard;
    QObject::connect(&running, &InstanceChannel::commandReceived, &running,
                     [&](const QString& command, const QString&) { heard << command; });
    const QString lockPath = storage + QStringLiteral("/Instance/Kovani.lock");
    ASSERT_TRUE(QFile::remove(lockPath));
    ASSERT_TRUE(QDir().mkpath(lockPath));

    // From another runtime folder, so only the record in the storage folder leads to it.
    InstanceChannel launch(storage, dir.path() + QStringLiteral("/missing-runtime"));
    std::optional<SablewickhavenApp::LaunchDecision> decision;
    std::thread launching([&]() { decision = SablewickhavenApp::decideLaunch(launch, {InstanceChannel::kRaise, QString()}, 5000); });
    TestEnvironment::waitUntil([&]() { return heard.size() == 1; }, 10000);
    launching.join();
    ASSERT_TRUE(decision && decision->exitCode);
    EXPECT_EQ(*decision->exitCode, 0) << decision->message.toStdString();
    EXPECT_EQ(heard, QStringList{InstanceChannel::kRaise});
}

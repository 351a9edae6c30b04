// A second launch of the real executable hands "raise" to the running instance and exits
// without a model of its own, so the running instance's websites keep running.
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/SablewickhavenApp.h"
#include "platform/InstanceChannel.h"
#include "platform/Process.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString kExecutable = QStringLiteral(KOVANI_TEST_BINARY_DIR "/Kovani.app/Contents/MacOS/Kovani");

struct Launch {
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray output;
};

// Runs the executable with this process's (temporary) HOME and XDG folders, offscreen, while
// the event loop keeps running so the first instance can answer.
Launch launchSecondInstance()
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(kExecutable, {});
    Launch launch;
    if (!process.waitForStarted(5000))
        return launch;
    launch.finished = TestEnvironment::waitUntil([&]() { return process.state() == QProcess::NotRunning; }, 15000);
    if (!launch.finished) {
        process.kill();
        process.waitForFinished(3000);
        return launch;
    }
    launch.exitCode = process.exitCode();
    launch.exitStatus = process.exitStatus();
    launch.output = process.readAll();
    return launch;
}

} // namespace

TEST(SecondInstance, RaisesTheRunningWindowAndLeavesItsWebsitesAlone)
{
    ASSERT_TRUE(QFileInfo(kExecutable).isExecutable()) << kExecutable.toStdString();
    QTemporaryDir dir;

    // The first instance uses the storage folder a launch with this HOME uses, so a second model
    // would find the website's server among its orphans.
    Platform platform;
    platform.resourcesDir = QStringLiteral(KOVANI_TEST_RESOURCES_DIR);
    platform.runDeferredStartup = false;
    platform.runOrphanCleanup = false;
    platform.phpSearchWhich = false;
    ContentView window(platform);
    InstanceChannel channel;
    ASSERT_EQ(channel.claim(), InstanceChannel::Claim::listening);
    SablewickhavenApp::connectInstanceChannel(channel, window);

    AppModel& model = window.model();
    const QString php = BundledPhp::binary();
    model.setPhpVersions({PHPVersion{php, BundledPhp::version(), true}});
    const QString site = dir.path() + QStringLiteral("/site");
    TestFiles::writeFile(site + QStringLiteral("/index.php"), "<?php echo 'hello';\n");
    Project project;
    project.id = QStringLiteral("site");
    project.name = QStringLiteral("Site");
    project.root = site;
    project.port = TestEnvironment::freePort();
    project.databaseName = QStringLiteral("site");
    // Should the second launch run a model after all, its start-up touches no real port.
    model.modifyConfig([&](AppConfig& c) {
        c.selectedPhp = php;
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
    const qint32 pid = model.runningProjects().value(QStringLiteral("site"));
    const QString configPath = platform.storageRoot + QStringLiteral("/config.json");
    const QByteArray configBefore = TestFiles::readBytes(configPath);
    ASSERT_FALSE(configBefore.isEmpty());

    window.showMinimized();
    ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return window.isMinimized(); }, 2000));

    const Launch launch = launchSecondInstance();
    ASSERT_TRUE(launch.finished) << "the second instance kept running";
    EXPECT_EQ(launch.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(launch.exitCode, 0) << launch.output.toStdString();

    EXPECT_TRUE(TestEnvironment::waitUntil([&]() { return !window.isMinimized() && window.isVisible(); }, 3000));
    // Give a stray clean-up time to act, then the website must still be the same process.
    QTest::qWait(500);
    EXPECT_TRUE(Process::exists(pid));
    EXPECT_EQ(model.runningProjects().value(QStringLiteral("site")), pid);
    EXPECT_EQ(TestFiles::readBytes(configPath), configBefore);

    model.shutdown();
    EXPECT_FALSE(Process::exists(pid));
}

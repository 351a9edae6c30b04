// The deferred start-up brings up the shared services: the database against the MariaDB fixture,
// then, after the PHP scan and only for a stored profile, phpMyAdmin from a loopback archive.

#include "services/MySQLTestKit.h"
#include "platform/Dispatch.h"
#include "support/LoopbackHttpServer.h"
#include "support/MariaDbFixture.h"
#include "support/TestEnvironment.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace MySQLTestKit;
using TestEnvironment::waitUntil;

namespace {

const QByteArray kArchivePath = "/downloads/phpMyAdmin-latest-all-languages.zip";

class StartupServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MariaDbFixture::available()) << "the MariaDB fixture is not running";
        MariaDbFixture::resetRootPassword();
        t = TestEnvironment::makePlatform(dir.path());
        t.platform.tools.mysql = {};
        t.platform.tools.mysqladmin = {};
        t.platform.tools.brew = {dir.path() + QStringLiteral("/no-brew")};
        t.platform.phpMyAdminDownloadURL = server.baseURL();
        t.platform.sessionToken = []() -> std::optional<QString> { return std::nullopt; };
        auto trace = steps;
        t.platform.startupTrace = [trace](const QString& step) { trace->append(step); };
        const QByteArray archive = buildPhpMyAdminArchive(dir.path());
        ASSERT_FALSE(archive.isEmpty());
        server.setReply(kArchivePath, {200, {{"Content-Type", "application/zip"}}, archive});
    }
    void TearDown() override { MariaDbFixture::resetRootPassword(); }

    // Settings written by an earlier run, as the next start-up finds them.
    void writeSettings(bool signedIn)
    {
        Platform quiet = t.platform;
        quiet.runDeferredStartup = false;
        AppModel earlier(quiet);
        earlier.modifyConfig([&](AppConfig& c) {
            c.mysqlPort = MariaDbFixture::port();
            c.mysqlStartCommand = QStringLiteral("true");
            c.phpMyAdminPort = adminPort;
            if (signedIn) {
                UserProfile user;
                user.name = QStringLiteral("Grace Hopper");
                user.email = QStringLiteral("grace@example.test");
                user.avatarInitials = QStringLiteral("GH");
                c.user = user;
            }
        });
        earlier.saveConfig();
    }

    QTemporaryDir dir;
    LoopbackHttpServer server;
    TestEnvironment::TestPlatform t;
    std::shared_ptr<QStringList> steps = std::make_shared<QStringList>();
    quint16 adminPort = TestEnvironment::freePort();
};

} // namespace

TEST_F(StartupServicesTest, SignedInStartUpStartsDatabaseThenPhpMyAdmin)
{
    writeSettings(true);
    t.platform.runDeferredStartup = true;
    AppModel model(t.platform);
    QStringList messages;
    QObject::connect(&model, &AppModel::statusMessageChanged, [&]() { messages << model.statusMessage(); });

    ASSERT_TRUE(waitUntil([&] {
        return model.runningProjects().contains(QStringLiteral("phpmyadmin")) && model.databaseStatus() == QStringLiteral("Running");
    }, 30000)) << model.statusMessage().toStdString();
    EXPECT_EQ(*steps, (QStringList{"readSecureToken", "autoStartDatabase", "refreshPHPVersions", "autoStartPhpMyAdmin"}));
    EXPECT_TRUE(messages.contains(QStringLiteral("Database started."))) << messages.join(u" | ").toStdString();
    EXPECT_TRUE(messages.contains(QStringLiteral("phpMyAdmin installed.")));
    EXPECT_EQ(messages.last(), QStringLiteral("phpMyAdmin started on port ") + QString::number(adminPort) + u'.');
    EXPECT_TRUE(model.isDatabaseRunning());
    EXPECT_TRUE(MariaDbFixture::canLogin(QStringLiteral("root"), QStringLiteral("kelp")));
    EXPECT_EQ(model.phpMyAdminPid(), model.runningProjects().value(QStringLiteral("phpmyadmin")));
    EXPECT_EQ(httpGet(adminPort), QStringLiteral("phpMyAdmin fixture page on ") + QString::number(adminPort));
    // Started, not opened.
    EXPECT_TRUE(t.openedURLs->isEmpty());
    model.shutdown();
}

TEST_F(StartupServicesTest, SignedOutStartUpLeavesPhpMyAdminAlone)
{
    writeSettings(false);
    t.platform.runDeferredStartup = true;
    AppModel model(t.platform);
    ASSERT_TRUE(waitUntil([&] { return steps->contains(QStringLiteral("autoStartPhpMyAdmin")); }, 30000));
    ASSERT_TRUE(waitUntil([&] { return model.databaseStatus() == QStringLiteral("Running"); }, 30000));
    // The start-up's work has ended.
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(model.config().phpMyAdminRoot));
    EXPECT_TRUE(model.runningProjects().isEmpty());
    EXPECT_TRUE(t.openedURLs->isEmpty());
}

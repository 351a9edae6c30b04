// The shared phpMyAdmin: configuration edits, the cookie secret, and the install from a release
// archive served by a loopback HTTP server, then served by a real PHP server.

#include "services/MySQLTestKit.h"
#include "ServerTestKit.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestEnvironment.h"

#include "platform/Text.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <gtest/gtest.h>

using namespace MySQLTestKit;
using TestEnvironment::waitUntil;

namespace {

const QByteArray kArchivePath = "/downloads/phpMyAdmin-latest-all-languages.zip";
const QString kSecretKey = QStringLiteral("KovaniPhpMyAdminBlowfishSecret");

const QByteArray kSample = phpMyAdminSample();

// Runs PHP on a configuration file and prints the six values, one per line.
QStringList phpReadsConfig(const QString& configPath)
{
    QProcess php;
    php.setProcessEnvironment(BundledPhp::environment());
    php.start(BundledPhp::binary(), BundledPhp::arguments({QStringLiteral("-r"),
               QStringLiteral("$i = 0; include $argv[1]; $s = $cfg['Servers'][1];"
                              "echo $cfg['blowfish_secret'], \"\\n\", $s['auth_type'], \"\\n\", $s['host'], \"\\n\","
                              " var_export($s['port'], true), \"\\n\", var_export($s['AllowNoPassword'], true), \"\\n\","
                              " var_export($s['hide_connection_errors'], true), \"\\n\";"),
               configPath}));
    php.waitForFinished(20000);
    return QString::fromUtf8(php.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class PhpMyAdminTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        t = TestEnvironment::makePlatform(dir.path());
        t.platform.phpMyAdminDownloadURL = server.baseURL() + QStringLiteral("/"); // a trailing slash is dropped
        t.platform.downloadStallSeconds = 2; // 60 in the application
        archive = buildPhpMyAdminArchive(dir.path());
        ASSERT_FALSE(archive.isEmpty());
    }

    std::unique_ptr<AppModel> makeModel()
    {
        auto model = std::make_unique<AppModel>(t.platform);
        model->setPhpVersions({PHPVersion{php, BundledPhp::version(), true}});
        model->modifyConfig([&](AppConfig& c) {
            c.phpMyAdminPort = adminPort;
            c.mysqlPort = 3307;
        });
        return model;
    }

    void serveArchive() { server.setReply(kArchivePath, {200, {{"Content-Type", "application/zip"}}, archive}); }

    QTemporaryDir dir;
    LoopbackHttpServer server;
    TestEnvironment::TestPlatform t;
    const QString php = BundledPhp::binary();
    QByteArray archive;
    quint16 adminPort = TestEnvironment::freePort();
};

} // namespace

TEST(SetPHPConfig, ReplacesOrAppendsOneAssignment)
{
    const QString host = QStringLiteral("$cfg['Servers'][$i]['host']");
    struct Case {
        const char* name;
        QString text;
        QString key;
        QString value;
        QString expected;
    };
    const QList<Case> cases = {
        {"replaced, rest of line kept", "$cfg['Servers'][$i]['host'] = 'localhost'; // the server\n", host, "'127.0.0.1'",
         "$cfg['Servers'][$i]['host'] = '127.0.0.1'; // the server\n"},
        {"appended after a newline", "<?php\n$cfg['Servers'][$i]['host'] = 'x';\n", "$cfg['Servers'][$i]['port']", "'3307'",
         "<?php\n$cfg['Servers'][$i]['host'] = 'x';\n\n$cfg['Servers'][$i]['port'] = '3307';\n"},
        {"comment marker stays", "// $cfg['blowfish_secret'] = '';\n", "$cfg['blowfish_secret']", "'s'",
         "// $cfg['blowfish_secret'] = 's';\n"},
        {"white space and line breaks around =", "$cfg['Servers'][$i]['host']\n  =\n  'old';", host, "'new'",
         "$cfg['Servers'][$i]['host'] = 'new';"},
        {"every match", "$cfg['Servers'][$i]['host']='a';\n$cfg['Servers'][$i]['host'] = 'b';\n", host, "'c'",
         "$cfg['Servers'][$i]['host'] = 'c';\n$cfg['Servers'][$i]['host'] = 'c';\n"},
        {"value inserted literally", "$cfg['Servers'][$i]['host'] = 'a';", host, "'\\1 $0 \\\\ & %1'",
         "$cfg['Servers'][$i]['host'] = '\\1 $0 \\\\ & %1';"},
        {"the value does not cross a line break", "$cfg['Servers'][$i]['host'] = 'a'\n;", host, "'b'",
         "$cfg['Servers'][$i]['host'] = 'a'\n;\n$cfg['Servers'][$i]['host'] = 'b';\n"},
        {"a quoted ; is part of the value", "$cfg['Servers'][$i]['host'] = 'a;b\\';c'; // x;\n", host, "'d'",
         "$cfg['Servers'][$i]['host'] = 'd'; // x;\n"},
        {"double-quoted too", "$cfg['Servers'][$i]['host'] = \"a;\\\"b\";\n", host, "'d'",
         "$cfg['Servers'][$i]['host'] = 'd';\n"},
        {"key is literal", "$cfg['Servers'][1]['host'] = 'a';", host, "'b'",
         "$cfg['Servers'][1]['host'] = 'a';\n$cfg['Servers'][$i]['host'] = 'b';\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AppModelTestAccess::setPHPConfig(c.text, c.key, c.value), c.expected) << c.name;
}

TEST_F(PhpMyAdminTest, ConfigurationHoldsTheSixSettingsAsPHPReadsThem)
{
    auto model = makeModel();
    const QString root = model->config().phpMyAdminRoot;
    writeFile(root + QStringLiteral("/config.sample.inc.php"), kSample);
    // A host that needs escaping in a single-quoted PHP string.
    model->modifyConfig([](AppConfig& c) { c.mysqlHost = QStringLiteral("db'host\\"); });
    AppModelTestAccess::configurePhpMyAdmin(*model);

    const QString config = root + QStringLiteral("/config.inc.php");
    ASSERT_TRUE(QFile::exists(config)); // copied from the sample
    EXPECT_EQ(readBytes(root + QStringLiteral("/config.sample.inc.php")), QByteArray(kSample));
    const QString secret = model->userDefaults().string(kSecretKey);
    EXPECT_EQ(phpReadsConfig(config),
              (QStringList{secret, "cookie", "db'host\\", "'3307'", "false", "false"}));
    const QString text = QString::fromUtf8(readBytes(config));
    EXPECT_TRUE(text.contains(QStringLiteral("$cfg['Servers'][$i]['host'] = 'db\\'host\\\\';")));
    EXPECT_TRUE(text.contains(QStringLiteral("$cfg['Servers'][$i]['compress'] = false;")));
    EXPECT_EQ(text.count(QStringLiteral("['host']")), 1);
    EXPECT_EQ(QFileInfo(config).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);

    // Rewritten, not duplicated, on the next runs, whatever the earlier value held.
    model->modifyConfig([](AppConfig& c) { c.mysqlHost = QStringLiteral("semi;colon\\';x"); });
    AppModelTestAccess::configurePhpMyAdmin(*model);
    AppModelTestAccess::configurePhpMyAdmin(*model);
    EXPECT_EQ(phpReadsConfig(config), (QStringList{secret, "cookie", "semi;colon\\';x", "'3307'", "false", "false"}));
    model->modifyConfig([](AppConfig& c) { c.mysqlHost = QStringLiteral("127.0.0.1"); c.mysqlPort = 3306; });
    AppModelTestAccess::configurePhpMyAdmin(*model);
    EXPECT_EQ(phpReadsConfig(config), (QStringList{secret, "cookie", "127.0.0.1", "'3306'", "false", "false"}));
    EXPECT_EQ(QString::fromUtf8(readBytes(config)).count(QStringLiteral("['port']")), 1);
}

TEST_F(PhpMyAdminTest, UnreadableConfigurationIsLeftAlone)
{
    auto model = makeModel();
    const QString config = model->config().phpMyAdminRoot + QStringLiteral("/config.inc.php");
    const QByteArray notUtf8("<?php $cfg['Servers'][$i]['host'] = '\xff\xfe';\n");
    writeFile(config, notUtf8);
    AppModelTestAccess::configurePhpMyAdmin(*model);
    EXPECT_EQ(readBytes(config), notUtf8);
    // Nothing at all: no file is made from nothing.
    QDir(model->config().phpMyAdminRoot).removeRecursively();
    AppModelTestAccess::configurePhpMyAdmin(*model);
    EXPECT_FALSE(QFile::exists(config));
}

TEST_F(PhpMyAdminTest, CookieSecretIsKeptAcrossRunsAndShortOnesAreReplaced)
{
    static const QRegularExpression urlSafe32(QStringLiteral("^[A-Za-z0-9_-]{32}$"));
    QString first;
    {
        auto model = makeModel();
        writeFile(model->config().phpMyAdminRoot + QStringLiteral("/config.inc.php"), "<?php\n");
        AppModelTestAccess::configurePhpMyAdmin(*model);
        first = model->userDefaults().string(kSecretKey);
        EXPECT_TRUE(urlSafe32.match(first).hasMatch()) << first.toStdString();
    }
    {
        auto model = makeModel(); // a new run, the same user defaults
        AppModelTestAccess::configurePhpMyAdmin(*model);
        EXPECT_EQ(model->userDefaults().string(kSecretKey), first);
        EXPECT_TRUE(QString::fromUtf8(readBytes(model->config().phpMyAdminRoot + QStringLiteral("/config.inc.php")))
                        .contains(QStringLiteral("$cfg['blowfish_secret'] = '") + first + QStringLiteral("';")));
    }
    {
        const QString shortSecret(31, QLatin1Char('s'));
        UserDefaults(t.platform.userDefaultsFile).set(kSecretKey, shortSecret);
        auto model = makeModel();
        AppModelTestAccess::configurePhpMyAdmin(*model);
        const QString replaced = model->userDefaults().string(kSecretKey);
        EXPECT_TRUE(urlSafe32.match(replaced).hasMatch());
        EXPECT_NE(replaced, first);
    }
    {
        const QString longSecret(40, QLatin1Char('L'));
        UserDefaults(t.platform.userDefaultsFile).set(kSecretKey, longSecret);
        auto model = makeModel();
        AppModelTestAccess::configurePhpMyAdmin(*model);
        EXPECT_EQ(model->userDefaults().string(kSecretKey), longSecret);
    }
}

TEST_F(PhpMyAdminTest, OpenInstallsStartsAndOpensOnce)
{
    serveArchive();
    auto model = makeModel();
    QList<std::optional<qint32>> pids;
    QObject::connect(model.get(), &AppModel::phpMyAdminPidChanged, [&] { pids << model->phpMyAdminPid(); });
    const QString root = model->config().phpMyAdminRoot;
    model->openPhpMyAdmin();
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Installing phpMyAdmin..."));
    ASSERT_TRUE(waitUntil([&] { return !t.openedURLs->isEmpty(); }, 20000)) << model->statusMessage().toStdString();
    EXPECT_EQ(*t.openedURLs, QStringList{QStringLiteral("http://127.0.0.1:") + QString::number(adminPort)});
    ASSERT_TRUE(model->runningProjects().contains(QStringLiteral("phpmyadmin")));
    EXPECT_EQ(model->phpMyAdminPid(), model->runningProjects().value(QStringLiteral("phpmyadmin")));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("phpMyAdmin started on port ") + QString::number(adminPort) + u'.');

    // The release folder is in place, configured; the decoys are not.
    EXPECT_EQ(QString::fromUtf8(readBytes(root + QStringLiteral("/index.php"))).contains(QStringLiteral("fixture page")), true);
    const QStringList values = phpReadsConfig(root + QStringLiteral("/config.inc.php"));
    ASSERT_EQ(values.size(), 6);
    EXPECT_EQ(values.mid(1), (QStringList{"cookie", "127.0.0.1", "'3307'", "false", "false"}));
    EXPECT_EQ(server.requestCount(kArchivePath), 1);
    EXPECT_EQ(server.requests().size(), 1);

    // Served by a real PHP server on the phpMyAdmin port.
    EXPECT_EQ(httpGet(adminPort), QStringLiteral("phpMyAdmin fixture page on ") + QString::number(adminPort));

    // No further opening happens later: no open round, download or start is left.
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(t.openedURLs->size(), 1);

    // Already running: open goes straight to the browser; ensure rewrites the configuration and
    // starts nothing.
    const qint32 pid = *model->phpMyAdminPid();
    model->openPhpMyAdmin();
    EXPECT_EQ(t.openedURLs->size(), 2);
    writeFile(root + QStringLiteral("/config.inc.php"), "<?php\n$i++;\n");
    AppModelTestAccess::ensurePhpMyAdminInstalledAndStart(*model, false);
    EXPECT_EQ(phpReadsConfig(root + QStringLiteral("/config.inc.php")).size(), 6);
    EXPECT_EQ(model->phpMyAdminPid(), pid);
    EXPECT_EQ(model->runningProjects().value(QStringLiteral("phpmyadmin")), pid);
    EXPECT_EQ(server.requests().size(), 1);
    // Observers heard of the one change, the confirmed server's pid.
    EXPECT_EQ(pids, (QList<std::optional<qint32>>{pid}));

    model->shutdown();
}

TEST_F(PhpMyAdminTest, ArchiveThatUnpacksWithWarningsIsInstalled)
{
    // Bytes before the archive: unzip warns, unpacks everything and ends with status 1.
    server.setReply(kArchivePath, {200, {{"Content-Type", "application/zip"}}, "leading bytes" + archive});
    auto model = makeModel();
    model->openPhpMyAdmin();
    ASSERT_TRUE(waitUntil([&] { return !t.openedURLs->isEmpty(); }, 20000)) << model->statusMessage().toStdString();
    EXPECT_EQ(httpGet(adminPort), QStringLiteral("phpMyAdmin fixture page on ") + QString::number(adminPort));
    model->shutdown();
}

TEST_F(PhpMyAdminTest, SignedOutStartUpDoesNothingSignedInStartsWithoutOpening)
{
    serveArchive();
    {
        auto model = makeModel();
        model->setStatusMessage(QStringLiteral("before"));
        model->autoStartPhpMyAdmin();
        ASSERT_TRUE(Dispatch::drainForTesting());
        EXPECT_EQ(model->statusMessage(), QStringLiteral("before"));
        EXPECT_FALSE(QFileInfo::exists(model->config().phpMyAdminRoot));
        EXPECT_TRUE(server.requests().isEmpty());
    }
    auto model = makeModel();
    model->modifyConfig([](AppConfig& c) {
        UserProfile user;
        user.name = QStringLiteral("Ada Lovelace");
        user.email = QStringLiteral("ada@example.test");
        c.user = user;
    });
    model->autoStartPhpMyAdmin();
    ASSERT_TRUE(waitUntil([&] { return model->runningProjects().contains(QStringLiteral("phpmyadmin")); }, 20000))
        << model->statusMessage().toStdString();
    EXPECT_TRUE(t.openedURLs->isEmpty());
    EXPECT_TRUE(model->phpMyAdminPid().has_value());
    model->shutdown();
}

TEST_F(PhpMyAdminTest, FailedDownloadsAndUnpacksLeaveNothingAndTheNextPressTriesAgain)
{
    struct Case {
        const char* name;
        std::function<void()> serve;
        QString expectedPrefix;
    };
    const quint16 closedPort = TestEnvironment::freePort();
    const QList<Case> cases = {
        {"not a zip", [&] { server.setReply(kArchivePath, LoopbackHttpServer::Reply::text("<html>Not a zip</html>")); },
         QStringLiteral("phpMyAdmin archive could not be extracted.")},
        {"404 page", [&] { server.setReply(kArchivePath, LoopbackHttpServer::Reply::text("Not Found", 404)); },
         QStringLiteral("phpMyAdmin archive could not be extracted.")},
        {"cut off", [&] {
             LoopbackHttpServer::Reply cut{200, {}, archive};
             cut.cutAfter = archive.size() / 2;
             server.setReply(kArchivePath, cut);
         },
         QStringLiteral("phpMyAdmin download failed: ")},
        {"nothing listening", [&] { t.platform.phpMyAdminDownloadURL = QStringLiteral("http://127.0.0.1:") + QString::number(closedPort); },
         QStringLiteral("phpMyAdmin download failed: curl: (7)")},
        {"stalled", [&] {
             LoopbackHttpServer::Reply never = LoopbackHttpServer::Reply::text("late");
             never.delayMs = 60000;
             server.setReply(kArchivePath, never);
         },
         QStringLiteral("phpMyAdmin download failed: curl: (28)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t.platform.phpMyAdminDownloadURL = server.baseURL();
        c.serve();
        auto model = makeModel();
        const QString root = model->config().phpMyAdminRoot;
        model->openPhpMyAdmin();
        ASSERT_TRUE(waitUntil([&] { return model->statusMessage() != QStringLiteral("Installing phpMyAdmin..."); }, 20000));
        EXPECT_TRUE(model->statusMessage().startsWith(c.expectedPrefix)) << model->statusMessage().toStdString();
        // curl's one-line reason, never its progress table.
        EXPECT_FALSE(model->statusMessage().contains(QStringLiteral("% Total"))) << model->statusMessage().toStdString();
        EXPECT_FALSE(model->statusMessage().contains(u'\n')) << model->statusMessage().toStdString();
        EXPECT_FALSE(QFileInfo::exists(root));
        const QString downloads = model->appSupport() + QStringLiteral("/Downloads");
        EXPECT_FALSE(QFileInfo::exists(downloads + QStringLiteral("/phpMyAdmin.zip")));
        EXPECT_FALSE(QFileInfo::exists(downloads + QStringLiteral("/phpMyAdminExtract")));
        ASSERT_TRUE(Dispatch::drainForTesting());
        EXPECT_TRUE(t.openedURLs->isEmpty());
        EXPECT_FALSE(model->runningProjects().contains(QStringLiteral("phpmyadmin")));

        // The next press, with the archive served, installs.
        t.platform.phpMyAdminDownloadURL = server.baseURL();
        serveArchive();
        auto next = makeModel();
        next->openPhpMyAdmin();
        ASSERT_TRUE(waitUntil([&] { return !t.openedURLs->isEmpty(); }, 20000)) << next->statusMessage().toStdString();
        EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("/index.php")));
        next->shutdown();
        QDir(root).removeRecursively();
        t.openedURLs->clear();
    }
}

TEST_F(PhpMyAdminTest, OpenLoopIsBoundedAndSaysWhy)
{
    serveArchive();
    {
        // No PHP runtime: one install, one refused start, then the reason.
        auto model = makeModel();
        model->setPhpVersions({});
        model->openPhpMyAdmin();
        ASSERT_TRUE(waitUntil([&] { return model->statusMessage().startsWith(QStringLiteral("phpAdmin was not opened")); },
                              20000))
            << model->statusMessage().toStdString();
        EXPECT_EQ(model->statusMessage(), QStringLiteral("phpAdmin was not opened: No supported PHP 8.5+ runtime found."));
        ASSERT_TRUE(Dispatch::drainForTesting());
        EXPECT_EQ(server.requestCount(kArchivePath), 1);
        EXPECT_TRUE(t.openedURLs->isEmpty());
        EXPECT_EQ(model->statusMessage(), QStringLiteral("phpAdmin was not opened: No supported PHP 8.5+ runtime found."));
    }
    {
        // The port is taken: the start fails and the open gives up with the start's own words.
        QTcpServer taken;
        ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, adminPort));
        auto model = makeModel();
        model->openPhpMyAdmin();
        ASSERT_TRUE(waitUntil([&] { return model->statusMessage().startsWith(QStringLiteral("phpAdmin was not opened")); },
                              20000))
            << model->statusMessage().toStdString();
        EXPECT_TRUE(model->statusMessage().startsWith(QStringLiteral("phpAdmin was not opened: Failed to start phpMyAdmin: ")))
            << model->statusMessage().toStdString();
        EXPECT_TRUE(t.openedURLs->isEmpty());
        EXPECT_FALSE(model->runningProjects().contains(QStringLiteral("phpmyadmin")));
        QDir(model->config().phpMyAdminRoot).removeRecursively();
    }
    server.clearRequests();
    {
        // An install that cannot put the folder in place is not repeated.
        const QString blocker = dir.path() + QStringLiteral("/a-file");
        writeFile(blocker, "in the way");
        auto model = makeModel();
        model->modifyConfig([&](AppConfig& c) { c.phpMyAdminRoot = blocker + QStringLiteral("/phpMyAdmin"); });
        model->openPhpMyAdmin();
        ASSERT_TRUE(waitUntil([&] { return model->statusMessage() != QStringLiteral("Installing phpMyAdmin..."); }, 20000));
        EXPECT_EQ(model->statusMessage(),
                  QStringLiteral("phpMyAdmin could not be installed in ") + blocker + QStringLiteral("/phpMyAdmin."));
        ASSERT_TRUE(Dispatch::drainForTesting());
        EXPECT_EQ(server.requestCount(kArchivePath), 1);
        EXPECT_TRUE(t.openedURLs->isEmpty());
    }
}

TEST_F(PhpMyAdminTest, PressesDuringAnInstallShareIt)
{
    LoopbackHttpServer::Reply slow{200, {}, archive};
    slow.delayMs = 800;
    server.setReply(kArchivePath, slow);
    auto model = makeModel();
    model->openPhpMyAdmin();
    model->openPhpMyAdmin();
    model->autoStartPhpMyAdmin();
    ASSERT_TRUE(waitUntil([&] { return !t.openedURLs->isEmpty(); }, 20000)) << model->statusMessage().toStdString();
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(server.requestCount(kArchivePath), 1);
    EXPECT_EQ(t.openedURLs->size(), 1);
    model->shutdown();
}

TEST_F(PhpMyAdminTest, NoInstallIntoARelativeOrEmptyFolder)
{
    serveArchive();
    for (const QString& root : {QString(), QStringLiteral("relative/phpMyAdmin")}) {
        auto model = makeModel();
        model->modifyConfig([&](AppConfig& c) { c.phpMyAdminRoot = root; });
        model->openPhpMyAdmin();
        EXPECT_EQ(model->statusMessage(), QStringLiteral("phpMyAdmin could not be installed in ") + root + u'.');
        ASSERT_TRUE(Dispatch::drainForTesting());
        EXPECT_TRUE(server.requests().isEmpty());
        EXPECT_TRUE(t.openedURLs->isEmpty());
    }
}

TEST_F(PhpMyAdminTest, DestroyingTheModelEndsAHungDownload)
{
    // The archive is held back far longer than the test may take.
    LoopbackHttpServer::Reply hung{200, {}, archive};
    hung.delayMs = 10 * 60 * 1000;
    server.setReply(kArchivePath, hung);
    const QString url = server.url(QString::fromLatin1(kArchivePath));
    auto model = makeModel();
    const QString downloads = model->appSupport() + QStringLiteral("/Downloads");
    const QString root = model->config().phpMyAdminRoot;
    model->openPhpMyAdmin();
    ASSERT_TRUE(waitUntil([&] { return !ServerTestKit::processesMentioning(url).isEmpty(); }, 30000));
    ASSERT_TRUE(waitUntil([&] { return server.requestCount(kArchivePath) == 1; }, 30000));

    QElapsedTimer clock;
    clock.start();
    model.reset();
    // A hang guard far below the ten minutes the archive is held back.
    EXPECT_LT(clock.elapsed(), 30000);

    // curl is killed, not left running, and the job cleans up after itself.
    EXPECT_TRUE(waitUntil([&] { return ServerTestKit::processesMentioning(url).isEmpty(); }, 10000));
    EXPECT_TRUE(waitUntil([&] {
        return !QFileInfo::exists(downloads + QStringLiteral("/phpMyAdmin.zip"))
            && !QFileInfo::exists(downloads + QStringLiteral("/phpMyAdminExtract"));
    }, 10000));
    EXPECT_FALSE(QFileInfo::exists(root));
}

TEST_F(PhpMyAdminTest, NoInstallWithoutAStorageFolder)
{
    serveArchive();
    t.platform.storageRoot = QString();
    auto model = makeModel();
    model->openPhpMyAdmin();
    EXPECT_EQ(model->statusMessage(),
              QStringLiteral("phpMyAdmin could not be installed in ") + model->config().phpMyAdminRoot + u'.');
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_TRUE(server.requests().isEmpty());
}

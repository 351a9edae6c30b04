// The shared MySQL server against the private MariaDB fixture: start-up, default password, ping
// outcomes, the login-shell start command and the root-password change.

#include "services/MySQLTestKit.h"
#include "support/MariaDbFixture.h"
#include "support/TestEnvironment.h"

#include "app/AppConfig.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace MySQLTestKit;
using TestEnvironment::waitUntil;

namespace {

const QString kUpdatedPrefix = QStringLiteral("mySQL password updated. phpAdmin login is now ");

class MySQLFixtureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MariaDbFixture::available()) << "the MariaDB fixture is not running";
        MariaDbFixture::resetRootPassword();
        bin = dir.path() + QStringLiteral("/bin");
        QDir().mkpath(bin);
        clientLog = dir.path() + QStringLiteral("/mysql.log");
        t = TestEnvironment::makePlatform(dir.path());
        // The real client behind a recorder; mysqladmin found by `which`; no Homebrew.
        t.platform.tools.mysql = {writeRecorder(bin + QStringLiteral("/mysql"), clientLog,
                                                QStringLiteral("exec /usr/bin/mysql \"$@\""))};
        t.platform.tools.mysqladmin = {bin + QStringLiteral("/missing-mysqladmin")};
        t.platform.tools.brew = {bin + QStringLiteral("/missing-brew")};
    }
    void TearDown() override { MariaDbFixture::resetRootPassword(); }

    std::unique_ptr<AppModel> makeModel(const QString& password = QStringLiteral("kelp"))
    {
        auto model = std::make_unique<AppModel>(t.platform);
        model->modifyConfig([&](AppConfig& c) {
            c.mysqlHost = QStringLiteral("127.0.0.1");
            c.mysqlPort = MariaDbFixture::port();
            c.mysqlUser = QStringLiteral("root");
            c.mysqlPassword = password;
            c.mysqlStartCommand = QStringLiteral("true");
        });
        model->saveConfig();
        return model;
    }

    static bool startUpEnded(const AppModel& model)
    {
        return model.statusMessage() == QStringLiteral("Database started.")
            || model.statusMessage() == QStringLiteral("Database did not start. Check Settings.");
    }

    QStringList sqlSent() const
    {
        QStringList sql;
        for (const QString& line : readLines(clientLog))
            sql << line.section(QLatin1Char('|'), 6);
        return sql;
    }

    QTemporaryDir dir;
    QString bin;
    QString clientLog;
    TestEnvironment::TestPlatform t;
};

} // namespace

TEST_F(MySQLFixtureTest, StartUpPreparesAFreshRootOnce)
{
    ASSERT_TRUE(MariaDbFixture::canLogin(QStringLiteral("root"), QString()));
    {
        auto model = makeModel();
        model->autoStartDatabase();
        ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 30000));
        EXPECT_EQ(model->statusMessage(), QStringLiteral("Database started."));
        EXPECT_EQ(model->databaseStatus(), QStringLiteral("Running"));
        EXPECT_TRUE(model->isDatabaseRunning());
    }
    EXPECT_TRUE(MariaDbFixture::canLogin(QStringLiteral("root"), QStringLiteral("kelp")));
    EXPECT_FALSE(MariaDbFixture::canLogin(QStringLiteral("root"), QString()));
    EXPECT_EQ(sqlSent(), (QStringList{"SELECT 1;", "ALTER USER 'root'@'localhost' IDENTIFIED BY 'kelp'; FLUSH PRIVILEGES;"}));
    const QStringList first = readLines(clientLog);
    ASSERT_EQ(first.size(), 2);
    const QString port = QString::number(MariaDbFixture::port());
    EXPECT_EQ(first[0], QStringLiteral("--host=127.0.0.1|--protocol=tcp|--port=") + port
                            + QStringLiteral("|--user=root|--password=kelp|-e|SELECT 1;"));
    EXPECT_TRUE(first[1].startsWith(QStringLiteral("--host=127.0.0.1|--protocol=tcp|--port=") + port
                                    + QStringLiteral("|--user=root|--password=|-e|ALTER USER")));

    // A second start finds the default login accepted and sends no change.
    QFile::remove(clientLog);
    auto model = makeModel();
    model->autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 30000));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Database started."));
    EXPECT_EQ(sqlSent(), QStringList{"SELECT 1;"});
}

TEST_F(MySQLFixtureTest, OtherCredentialsAreNotPrepared)
{
    MariaDbFixture::resetRootPassword(QStringLiteral("custom"));
    auto model = makeModel(QStringLiteral("custom"));
    model->autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 30000));
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("Running"));
    EXPECT_TRUE(readLines(clientLog).isEmpty());
    EXPECT_TRUE(MariaDbFixture::canLogin(QStringLiteral("root"), QStringLiteral("custom")));
}

TEST_F(MySQLFixtureTest, WrongCredentialsCountAsRunning)
{
    // Root has a password that is neither empty nor the default: the preparation fails, and the
    // ping that follows is what stays.
    MariaDbFixture::resetRootPassword(QStringLiteral("somebody else's"));
    auto model = makeModel();
    QStringList statuses;
    QObject::connect(model.get(), &AppModel::databaseStatusChanged, [&]() { statuses << model->databaseStatus(); });
    model->autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 30000));
    const QString denied = QStringLiteral("mySQL is running. Update username/password in Settings if phpAdmin login fails.");
    EXPECT_EQ(statuses, (QStringList{"mySQL is running, but root/kelp could not be prepared. Use Settings to update the password.",
                                     denied}));
    EXPECT_TRUE(model->isDatabaseRunning());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Database started."));
}

TEST_F(MySQLFixtureTest, StoppedServerShowsThePingText)
{
    auto model = makeModel();
    const quint16 closed = TestEnvironment::freePort();
    model->modifyConfig([&](AppConfig& c) { c.mysqlPort = closed; });
    model->autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 30000));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Database did not start. Check Settings."));
    EXPECT_FALSE(model->isDatabaseRunning());
    EXPECT_TRUE(model->databaseStatus().contains(QStringLiteral("Can't connect"))) << model->databaseStatus().toStdString();
    // Verbatim: the admin tool's own text, line break included.
    EXPECT_TRUE(model->databaseStatus().endsWith(QLatin1Char('\n')));
}

TEST_F(MySQLFixtureTest, CheckDatabasePingsAtOnce)
{
    auto model = makeModel(QString());
    model->setStatusMessage(QStringLiteral("unchanged"));
    model->checkMySQL();
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("Running"));
    EXPECT_TRUE(model->isDatabaseRunning());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("unchanged"));
}

TEST_F(MySQLFixtureTest, LoginShellStartCommandStartsTheServer)
{
    QTemporaryDir serverDir;
    const quint16 port = TestEnvironment::freePort();
    auto model = makeModel();
    model->modifyConfig([&](AppConfig& c) {
        c.mysqlPort = port;
        c.mysqlStartCommand = QStringLiteral("KOVANI_MARIADB_FIXTURE_PORT=%1 /bin/bash '%2' start '%3' >/dev/null")
                                  .arg(QString::number(port), MariaDbFixture::script(), serverDir.path());
    });
    model->autoStartDatabase();
    const bool ended = waitUntil([&] { return startUpEnded(*model); }, 60000);
    const quint16 started = MariaDbFixture::portIn(serverDir.path());
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/mysql"),
                {QStringLiteral("--no-defaults"), QStringLiteral("--host=127.0.0.1"), QStringLiteral("--protocol=tcp"),
                 QStringLiteral("--port=") + QString::number(port), QStringLiteral("--user=root"),
                 QStringLiteral("--password=kelp"), QStringLiteral("-N"), QStringLiteral("-e"), QStringLiteral("SELECT @@port;")});
    probe.waitForFinished(20000);
    const QString answer = QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
    MariaDbFixture::stopServer(serverDir.path());

    ASSERT_TRUE(ended);
    EXPECT_EQ(started, port);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Database started."));
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("Running"));
    // The fresh server's root was given the default password.
    EXPECT_EQ(answer, QString::number(port));
}

TEST_F(MySQLFixtureTest, PasswordChangeRoundTrips)
{
    struct Case {
        QString typed;
        QString stored;
    };
    const QList<Case> cases = {
        {QStringLiteral("  spaced out \n"), QStringLiteral("spaced out")},
        {QStringLiteral(" it's "), QStringLiteral("it's")},
        {QStringLiteral("back\\slash"), QStringLiteral("back\\slash")},
        {QStringLiteral("\\'; DROP USER root; -- "), QStringLiteral("\\'; DROP USER root; --")},
        {QStringLiteral("ends with \\"), QStringLiteral("ends with \\")},
        {QStringLiteral("''\\\\'"), QStringLiteral("''\\\\'")},
        {QStringLiteral("%1 $1 \\1 &"), QStringLiteral("%1 $1 \\1 &")},
        {QStringLiteral("gr\u00fc\u00dfe \u2603"), QStringLiteral("gr\u00fc\u00dfe \u2603")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        MariaDbFixture::resetRootPassword(QStringLiteral("kelp"));
        auto model = makeModel();
        // An empty current password logs in with the stored one.
        model->changeMySQLPassword(QString(), c.typed);
        EXPECT_EQ(model->statusMessage(), QStringLiteral("Changing mySQL root password..."));
        ASSERT_TRUE(waitUntil([&] {
            return model->statusMessage() != QStringLiteral("Changing mySQL root password...");
        }, 30000));
        EXPECT_EQ(model->statusMessage(), kUpdatedPrefix + QStringLiteral("root/") + c.stored + QLatin1Char('.'));
        EXPECT_EQ(model->config().mysqlPassword, c.stored);
        EXPECT_TRUE(MariaDbFixture::canLogin(QStringLiteral("root"), c.stored));
        EXPECT_FALSE(MariaDbFixture::canLogin(QStringLiteral("root"), QStringLiteral("kelp")));
        // Saved, and re-checked with the new login.
        const std::optional<AppConfig> saved = ConfigCoding::decode(readBytes(model->configURL()));
        ASSERT_TRUE(saved.has_value());
        EXPECT_EQ(saved->mysqlPassword, c.stored);
        EXPECT_EQ(model->databaseStatus(), QStringLiteral("Running"));
    }
}

TEST_F(MySQLFixtureTest, UserNameIsEscapedToo)
{
    for (const QString& user : {QStringLiteral("o'neil"), QStringLiteral("back\\slash")}) {
        SCOPED_TRACE(user.toStdString());
        QString quoted = user;
        quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
        MariaDbFixture::runAdminSql(QStringLiteral("DROP USER IF EXISTS '%1'@'localhost'; "
                                                   "CREATE USER '%1'@'localhost' IDENTIFIED BY 'before'; "
                                                   "GRANT CREATE USER, RELOAD ON *.* TO '%1'@'localhost';")
                                        .arg(quoted));
        ASSERT_TRUE(MariaDbFixture::canLogin(user, QStringLiteral("before")));
        auto model = makeModel(QStringLiteral("before"));
        model->modifyConfig([&](AppConfig& c) { c.mysqlUser = user; });
        model->changeMySQLPassword(QStringLiteral("before"), QStringLiteral("after"));
        ASSERT_TRUE(waitUntil([&] {
            return model->statusMessage() != QStringLiteral("Changing mySQL root password...");
        }, 30000));
        EXPECT_EQ(model->statusMessage(), kUpdatedPrefix + user + QStringLiteral("/after."));
        EXPECT_TRUE(MariaDbFixture::canLogin(user, QStringLiteral("after")));
        MariaDbFixture::runAdminSql(QStringLiteral("DROP USER IF EXISTS '%1'@'localhost';").arg(quoted));
    }
}

TEST_F(MySQLFixtureTest, FailedChangeLeavesEverythingAsItWas)
{
    MariaDbFixture::resetRootPassword(QStringLiteral("kelp"));
    auto model = makeModel();
    // phpMyAdmin's configuration must stay untouched too.
    const QString admin = model->config().phpMyAdminRoot;
    QDir().mkpath(admin);
    const QByteArray configText = "<?php\n$cfg['Servers'][$i]['host'] = 'localhost';\n";
    {
        QFile file(admin + QStringLiteral("/config.inc.php"));
        file.open(QIODevice::WriteOnly);
        file.write(configText);
    }
    const QByteArray savedBefore = readBytes(model->configURL());
    model->setDatabaseStatus(QStringLiteral("before"));

    model->changeMySQLPassword(QStringLiteral("wrong current"), QStringLiteral("new one"));
    ASSERT_TRUE(waitUntil([&] {
        return model->statusMessage() != QStringLiteral("Changing mySQL root password...");
    }, 30000));
    EXPECT_TRUE(model->statusMessage().startsWith(QStringLiteral("Could not change mySQL password: ")));
    EXPECT_TRUE(model->statusMessage().contains(QStringLiteral("Access denied"))) << model->statusMessage().toStdString();
    EXPECT_EQ(model->config().mysqlPassword, QStringLiteral("kelp"));
    EXPECT_EQ(readBytes(model->configURL()), savedBefore);
    EXPECT_EQ(readBytes(admin + QStringLiteral("/config.inc.php")), configText);
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("before"));
    EXPECT_TRUE(MariaDbFixture::canLogin(QStringLiteral("root"), QStringLiteral("kelp")));
}

TEST_F(MySQLFixtureTest, AServerAlreadyOnThePortIsUsedAndNoneOfOurOwnIsStarted)
{
    // No Homebrew, the default start command and a server program at hand: with the port held
    // by a running server, that server is prepared and pinged and nothing else is started.
    t.platform.tools.mysqladmin = {QStringLiteral("/usr/bin/mysqladmin")};
    t.platform.tools.mysqlServer = {QStringLiteral("/usr/sbin/mariadbd")};
    t.platform.tools.mysqlInstallDb = {QStringLiteral("/usr/bin/mariadb-install-db")};
    auto model = makeModel();
    model->modifyConfig([&](AppConfig& c) { c.mysqlStartCommand = AppConfig().mysqlStartCommand; });
    model->autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 30000));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Database started."));
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("Running"));
    EXPECT_TRUE(MariaDbFixture::canLogin(QStringLiteral("root"), QStringLiteral("kelp")));
    EXPECT_FALSE(QFileInfo::exists(t.platform.storageRoot + QStringLiteral("/MySQL")));
    EXPECT_FALSE(QFileInfo::exists(t.platform.storageRoot + QStringLiteral("/mysql.pid")));
}

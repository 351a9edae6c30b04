// The shared MySQL server against the private MariaDB fixture: start-up, default password, ping
// outcomes, the login-shell start command and the root-password change.

#include "services/MySQLTestKit.h"
#include "support/MariaDbFixture.h"
#include "support/TestEnvironment.h"

#include "app/AppConfig.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
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
        sqlLog = dir.path() + QStringLiteral("/sql.log");
        t = TestEnvironment::makePlatform(dir.path());
        // The real client behind a recorder of its arguments and its input; mysqladmin found by
        // `which`; no Homebrew.
        t.platform.tools.mysql = {writeRecorder(bin + QStringLiteral("/mysql"), clientLog,
                                                QStringLiteral("sql=$(cat)\nprintf '%s\\n' \"$sql\" >> '%1'\n"
                                                               "printf '%s\\n' \"$sql\" | /usr/bin/mysql \"$@\"")
                                                    .arg(sqlLog))};
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

    QStringList sqlSent() const { return readLines(sqlLog); }

    QTemporaryDir dir;
    QString bin;
    QString clientLog;
    QString sqlLog;
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
    // The option file first, then the login without its password; the SQL went to the input.
    const QStringList first = readLines(clientLog);
    ASSERT_EQ(first.size(), 2);
    const QString login = QStringLiteral("--host=127.0.0.1|--protocol=tcp|--port=%1|--user=root").arg(MariaDbFixture::port());
    for (const QString& line : first) {
        EXPECT_TRUE(line.startsWith(kOptionFileArgument)) << line.toStdString();
        EXPECT_EQ(line.section(u'|', 1), login);
    }

    // A second start finds the default login accepted and sends no change.
    QFile::remove(clientLog);
    QFile::remove(sqlLog);
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

TEST_F(MySQLFixtureTest, TheSettingsPasswordWinsOverTheUsersOwnOptionFile)
{
    // The user's own ~/.my.cnf (in this process's temporary home) gives every client another
    // password: Kovani's calls still log in with the one of the settings.
    MariaDbFixture::resetRootPassword(QStringLiteral("kelp"));
    const QString userFile = TestEnvironment::home() + QStringLiteral("/.my.cnf");
    writeFile(userFile, "[client]\npassword=not-the-settings-one\n[mysql]\npassword=nor-this\n");
    const std::unique_ptr<const QString, void (*)(const QString*)> removed(&userFile, [](const QString* file) {
        QFile::remove(*file);
    });
    auto model = makeModel();
    model->checkMySQL();
    ASSERT_TRUE(waitUntil([&] { return model->databaseStatus() != QStringLiteral("Checking database..."); }, 30000));
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("Running"));
    model->changeMySQLPassword(QString(), QStringLiteral("fresh"));
    ASSERT_TRUE(waitUntil([&] {
        return model->statusMessage() != QStringLiteral("Changing mySQL root password...");
    }, 30000));
    EXPECT_EQ(model->statusMessage(), kUpdatedPrefix + QStringLiteral("root/fresh."));
    EXPECT_TRUE(MariaDbFixture::canLogin(QStringLiteral("root"), QStringLiteral("fresh")));
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
    ASSERT_TRUE(waitUntil([&] { return model->databaseStatus() != QStringLiteral("Checking database..."); }, 30000));
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
        // What the option file quotes and escapes.
        {QStringLiteral("say \"hi\" # not a comment; ok"), QStringLiteral("say \"hi\" # not a comment; ok")},
        {QStringLiteral("tab\tand\nline \\n"), QStringLiteral("tab\tand\nline \\n")},
        {QStringLiteral("[client]\npassword=x"), QStringLiteral("[client]\npassword=x")},
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
        EXPECT_TRUE(TestEnvironment::configWritten(*model));
        const std::optional<AppConfig> saved = ConfigCoding::decode(readBytes(model->configURL()));
        ASSERT_TRUE(saved.has_value());
        EXPECT_EQ(saved->mysqlPassword, c.stored);
        EXPECT_TRUE(waitUntil([&] { return model->databaseStatus() == QStringLiteral("Running"); }, 30000))
            << model->databaseStatus().toStdString();
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
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    const QByteArray savedBefore = readBytes(model->configURL());
    model->setDatabaseStatus(QStringLiteral("before"));

    model->changeMySQLPassword(QStringLiteral("wrong current"), QStringLiteral("new one"));
    ASSERT_TRUE(waitUntil([&] {
        return model->statusMessage() != QStringLiteral("Changing mySQL root password...");
    }, 30000));
    EXPECT_TRUE(model->statusMessage().startsWith(QStringLiteral("Could not change mySQL password: ")));
    EXPECT_TRUE(model->statusMessage().contains(QStringLiteral("Access denied"))) << model->statusMessage().toStdString();
    EXPECT_EQ(model->config().mysqlPassword, QStringLiteral("kelp"));
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
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

TEST_F(MySQLFixtureTest, PasswordsStayOffEveryCommandLine)
{
    // The real clients, each held a moment before it runs so that the sampler sees every call.
    t.platform.tools.mysql = {writeScript(bin + QStringLiteral("/mysql"), QStringLiteral("sleep 0.5\nexec /usr/bin/mysql \"$@\"\n"))};
    t.platform.tools.mysqladmin
        = {writeScript(bin + QStringLiteral("/mysqladmin"), QStringLiteral("sleep 0.5\nexec /usr/bin/mysqladmin \"$@\"\n"))};
    const QString secret = QStringLiteral("Sampled-%1-pw").arg(QUuid::createUuid().toString(QUuid::Id128));
    const QString database = QStringLiteral("sampled_%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(8));
    std::optional<StatusText> created;
    {
        CommandLineSampler sampler;
        // Start-up: the fresh root gets the default password, then the ping.
        auto model = makeModel();
        model->autoStartDatabase();
        ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 30000));
        EXPECT_EQ(model->statusMessage(), QStringLiteral("Database started."));
        // The password change, and its ping with the new password.
        model->changeMySQLPassword(QString(), secret);
        ASSERT_TRUE(waitUntil([&] { return model->statusMessage().startsWith(kUpdatedPrefix); }, 30000))
            << model->statusMessage().toStdString();
        ASSERT_TRUE(waitUntil([&] { return model->databaseStatus() == QStringLiteral("Running"); }, 30000));
        // A database creation with the new login.
        created = model->createDatabase(database, MySQLSettings::from(model->config()));
        const CommandLineSampler::Seen seen = sampler.stop();

        EXPECT_EQ(created, std::nullopt);
        EXPECT_TRUE(MariaDbFixture::databases().contains(database));
        for (const QString& line : seen.everyLine)
            EXPECT_FALSE(line.contains(secret)) << line.toStdString();
        int clients = 0;
        int pings = 0;
        for (const QString& line : seen.childLines) {
            EXPECT_FALSE(line.contains(QStringLiteral("kelp"))) << line.toStdString();
            EXPECT_FALSE(line.contains(QStringLiteral("IDENTIFIED"))) << line.toStdString();
            EXPECT_FALSE(line.contains(QStringLiteral("CREATE DATABASE"))) << line.toStdString();
            EXPECT_FALSE(line.contains(QStringLiteral("--password"))) << line.toStdString();
            // Each call seen while its stand-in waits, with the arguments the real client gets.
            if (line.startsWith(QStringLiteral("/bin/sh %1/mysql %2").arg(bin, kOptionFileArgument)))
                ++clients;
            if (line.startsWith(QStringLiteral("/bin/sh %1/mysqladmin %2").arg(bin, kOptionFileArgument)))
                ++pings;
        }
        // Probe, preparation, change and creation; the start-up's ping and the one after the change.
        EXPECT_EQ(clients, 4) << seen.childLines.join(u'\n').toStdString();
        EXPECT_EQ(pings, 2) << seen.childLines.join(u'\n').toStdString();
        ASSERT_EQ(seen.optionFiles.size(), 6);
        for (auto it = seen.optionFiles.cbegin(); it != seen.optionFiles.cend(); ++it) {
            EXPECT_TRUE(S_ISREG(it.value())) << it.key().toStdString();
            EXPECT_EQ(it.value() & 0777, 0600u) << it.key().toStdString();
            EXPECT_FALSE(QFileInfo::exists(it.key())) << it.key().toStdString();
        }
        for (auto it = seen.optionFolders.cbegin(); it != seen.optionFolders.cend(); ++it) {
            EXPECT_TRUE(S_ISDIR(it.value())) << it.key().toStdString();
            EXPECT_EQ(it.value() & 0777, 0700u) << it.key().toStdString();
            EXPECT_FALSE(QFileInfo::exists(it.key())) << it.key().toStdString();
        }
    }
    MariaDbFixture::dropDatabase(database);
}

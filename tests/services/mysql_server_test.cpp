// The MySQL look-ups, the ping classification and the install/start branches, with recording
// scripts standing in for Homebrew. (The runs against a real server are in the _mysql_ tests.)

#include "services/MySQLTestKit.h"
#include "services/ServerTestKit.h"
#include "support/TestEnvironment.h"

#include "platform/ToolPaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace MySQLTestKit;
using TestEnvironment::waitUntil;

namespace {

const QString kNoAdmin =
    QStringLiteral("mysqladmin not found. Kovani will install MySQL automatically if Homebrew is available.");

class MySQLServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bin = dir.path() + QStringLiteral("/bin");
        QDir().mkpath(bin);
        t = TestEnvironment::makePlatform(dir.path());
        // Nothing is found unless a test puts it there.
        t.platform.tools.mysql = {bin + QStringLiteral("/mysql")};
        t.platform.tools.mysqladmin = {bin + QStringLiteral("/mysqladmin")};
        t.platform.tools.brew = {bin + QStringLiteral("/brew")};
        t.platform.tools.which = QStringLiteral("/bin/false");
        log = dir.path() + QStringLiteral("/calls.log");
    }

    QTemporaryDir dir;
    QString bin;
    QString log;
    TestEnvironment::TestPlatform t;
};

} // namespace

TEST(MySQLToolTable, CandidatesAreInLookUpOrder)
{
    const ToolPaths tools;
    EXPECT_EQ(tools.mysqladmin.mid(0, 9),
              (QStringList{"/opt/homebrew/bin/mysqladmin", "/usr/local/bin/mysqladmin",
                           "/opt/homebrew/opt/mysql/bin/mysqladmin", "/usr/local/opt/mysql/bin/mysqladmin",
                           "/opt/homebrew/opt/mysql-client/bin/mysqladmin", "/usr/local/opt/mysql-client/bin/mysqladmin",
                           "/Applications/MAMP/Library/bin/mysql80/bin/mysqladmin",
                           "/Applications/MAMP/Library/bin/mysql/bin/mysqladmin", "/Applications/ServBay/bin/mysqladmin"}));
    EXPECT_EQ(tools.mysql.mid(0, 7),
              (QStringList{"/opt/homebrew/bin/mysql", "/usr/local/bin/mysql", "/opt/homebrew/opt/mysql/bin/mysql",
                           "/usr/local/opt/mysql/bin/mysql", "/Applications/MAMP/Library/bin/mysql80/bin/mysql",
                           "/Applications/MAMP/Library/bin/mysql/bin/mysql", "/Applications/ServBay/bin/mysql"}));
    EXPECT_EQ(tools.brew.mid(0, 2), (QStringList{"/opt/homebrew/bin/brew", "/usr/local/bin/brew"}));
    EXPECT_EQ(tools.which, QStringLiteral("/usr/bin/which"));
}

TEST_F(MySQLServerTest, FirstExecutableCandidateWinsThenWhich)
{
    const QString homebrew = bin + QStringLiteral("/homebrew-mysqladmin");
    const QString usrLocal = bin + QStringLiteral("/usr-local-mysqladmin");
    const QString mamp = bin + QStringLiteral("/mamp-mysqladmin");
    const QString plain = bin + QStringLiteral("/not-executable");
    QFile(plain).open(QIODevice::WriteOnly);
    t.platform.tools.mysqladmin = {bin + QStringLiteral("/missing"), plain, homebrew, usrLocal, mamp};
    writeScript(usrLocal, QString());
    writeScript(mamp, QString());
    {
        AppModel model(t.platform);
        EXPECT_EQ(AppModelTestAccess::mysqlAdminBinary(model), usrLocal);
    }
    writeScript(homebrew, QString());
    {
        AppModel model(t.platform);
        EXPECT_EQ(AppModelTestAccess::mysqlAdminBinary(model), homebrew);
    }

    // None of the fixed places: `which` is asked with the tool's name and its output trimmed.
    const QString whichLog = dir.path() + QStringLiteral("/which.log");
    t.platform.tools.mysqladmin = {bin + QStringLiteral("/missing")};
    t.platform.tools.mysql = {bin + QStringLiteral("/missing")};
    t.platform.tools.brew = {bin + QStringLiteral("/missing")};
    t.platform.tools.which = writeRecorder(bin + QStringLiteral("/which"), whichLog,
                                           QStringLiteral("printf '  /found/by/which/%s \\n\\n' \"$1\""));
    {
        AppModel model(t.platform);
        EXPECT_EQ(AppModelTestAccess::mysqlAdminBinary(model), QStringLiteral("/found/by/which/mysqladmin"));
        EXPECT_EQ(AppModelTestAccess::mysqlBinary(model), QStringLiteral("/found/by/which/mysql"));
        EXPECT_EQ(AppModelTestAccess::brewBinary(model), QStringLiteral("/found/by/which/brew"));
    }
    EXPECT_EQ(readLines(whichLog), (QStringList{"mysqladmin", "mysql", "brew"}));

    // `which` finding nothing, or not launching at all, yields nothing.
    for (const QString& which : {QStringLiteral("/bin/false"), bin + QStringLiteral("/no-such-which")}) {
        t.platform.tools.which = which;
        AppModel model(t.platform);
        EXPECT_EQ(AppModelTestAccess::mysqlAdminBinary(model), std::nullopt) << which.toStdString();
    }
}

TEST_F(MySQLServerTest, PingTextIsClassified)
{
    AppModel model(t.platform);
    const QString denied = QStringLiteral("mySQL is running. Update username/password in Settings if phpAdmin login fails.");
    struct Case {
        QString text;
        bool running;
        QString status;
    };
    const QList<Case> cases = {
        {"mysqld is alive\n", true, "Running"},
        {"MYSQLD IS ALIVE", true, "Running"},
        {"mysqladmin: connect to server at '127.0.0.1' failed\nerror: 'Access denied for user 'root'@'localhost' (using password: YES)'\n",
         true, denied},
        {"ACCESS DENIED", true, denied},
        {"", false, "Not responding"},
        {"mysqladmin: connect to server at '127.0.0.1' failed\nerror: 'Can't connect to server on '127.0.0.1' (111)'\n", false,
         "mysqladmin: connect to server at '127.0.0.1' failed\nerror: 'Can't connect to server on '127.0.0.1' (111)'\n"},
        {kNoAdmin, false, kNoAdmin},
    };
    for (const Case& c : cases) {
        AppModelTestAccess::applyDatabaseStatus(model, QStringLiteral("mysqld is alive"));
        AppModelTestAccess::applyDatabaseStatus(model, c.text);
        EXPECT_EQ(model.isDatabaseRunning(), c.running) << c.text.toStdString();
        EXPECT_EQ(model.databaseStatus(), c.status) << c.text.toStdString();
    }
}

TEST_F(MySQLServerTest, PingArgumentsAndMissingAdmin)
{
    {
        AppModel model(t.platform);
        EXPECT_EQ(AppModelTestAccess::databasePingMessage(model), kNoAdmin);
    }
    writeRecorder(bin + QStringLiteral("/mysqladmin"), log, QStringLiteral("printf 'mysqld is alive\\n'"));
    AppModel model(t.platform);
    model.modifyConfig([](AppConfig& c) {
        c.mysqlHost = QStringLiteral("127.0.0.1");
        c.mysqlPort = 3307;
        c.mysqlUser = QStringLiteral("admin");
        c.mysqlPassword = QString();
    });
    // The output exactly as received.
    EXPECT_EQ(AppModelTestAccess::databasePingMessage(model), QStringLiteral("mysqld is alive\n"));
    EXPECT_EQ(readLines(log), QStringList{"--host=127.0.0.1|--port=3307|--user=admin|--password=|ping"});
}

TEST_F(MySQLServerTest, CheckOfAServerThatNeverAnswersEndsWithinFiveSeconds)
{
    ASSERT_TRUE(QFileInfo(QStringLiteral("/usr/bin/mysqladmin")).isExecutable());
    t.platform.tools.mysqladmin = {QStringLiteral("/usr/bin/mysqladmin")};
    // Listening but never accepting: the connection is made by the kernel, no greeting follows.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    AppModel model(t.platform);
    model.modifyConfig([&](AppConfig& c) {
        c.mysqlHost = QStringLiteral("127.0.0.1");
        c.mysqlPort = silent.serverPort();
    });
    model.setStatusMessage(QStringLiteral("before"));
    QElapsedTimer timer;
    timer.start();
    model.checkMySQL();
    // Left alone, mysqladmin waits far longer than 20 s for the greeting: the upper bound shows
    // the five-second limit ended it, with a margin no busy machine uses up.
    EXPECT_GE(timer.elapsed(), 4500);
    EXPECT_LT(timer.elapsed(), 20000);
    EXPECT_FALSE(model.isDatabaseRunning());
    EXPECT_EQ(model.databaseStatus(), QStringLiteral("Not responding"));
    EXPECT_EQ(model.statusMessage(), QStringLiteral("before"));
    // The ping was killed, not left behind.
    EXPECT_TRUE(ServerTestKit::processesMentioning(QStringLiteral("--port=%1").arg(silent.serverPort())).isEmpty());
}

TEST_F(MySQLServerTest, NoAdminToolAndNoHomebrew)
{
    AppModel model(t.platform);
    QStringList statuses;
    QObject::connect(&model, &AppModel::databaseStatusChanged, [&]() { statuses << model.databaseStatus(); });
    model.autoStartDatabase();
    EXPECT_EQ(model.statusMessage(), QStringLiteral("Starting database..."));
    ASSERT_TRUE(waitUntil([&] { return model.statusMessage() != QStringLiteral("Starting database..."); }));
    EXPECT_EQ(model.statusMessage(), QStringLiteral("Database did not start. Check Settings."));
    EXPECT_EQ(statuses, (QStringList{"Homebrew not found. Install Homebrew or MySQL manually.", kNoAdmin}));
    EXPECT_FALSE(model.isDatabaseRunning());

    // Check Database takes the install road too.
    statuses.clear();
    model.checkMySQL();
    EXPECT_EQ(model.statusMessage(), QStringLiteral("Installing MySQL..."));
    ASSERT_TRUE(waitUntil([&] { return model.statusMessage() != QStringLiteral("Installing MySQL..."); }));
    EXPECT_EQ(model.statusMessage(), QStringLiteral("Database is not ready yet."));
    EXPECT_EQ(model.databaseStatus(), kNoAdmin);
}

TEST_F(MySQLServerTest, HomebrewInstallsBeforeItStartsTheService)
{
    writeRecorder(bin + QStringLiteral("/brew"), log);
    AppModel model(t.platform);
    model.autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return model.statusMessage() != QStringLiteral("Starting database..."); }));
    EXPECT_EQ(readLines(log), (QStringList{"install|mysql", "services|start|mysql"}));
    // The install printed nothing useful and left no admin tool: the ping says so.
    EXPECT_EQ(model.databaseStatus(), kNoAdmin);
    EXPECT_EQ(model.statusMessage(), QStringLiteral("Database did not start. Check Settings."));
}

TEST_F(MySQLServerTest, StartRunsEveryTimeThroughHomebrewOrTheLoginShell)
{
    writeScript(bin + QStringLiteral("/mysqladmin"), QStringLiteral("echo 'mysqld is alive'\n"));
    writeRecorder(bin + QStringLiteral("/brew"), log);
    {
        AppModel model(t.platform);
        model.autoStartDatabase();
        ASSERT_TRUE(waitUntil([&] { return model.statusMessage() == QStringLiteral("Database started."); }));
        EXPECT_EQ(model.databaseStatus(), QStringLiteral("Running"));
        EXPECT_TRUE(model.isDatabaseRunning());
    }
    EXPECT_EQ(readLines(log), QStringList{"services|start|mysql"});

    // Without Homebrew the settings' start command runs through zsh -lc.
    QFile::remove(bin + QStringLiteral("/brew"));
    const QString marker = dir.path() + QStringLiteral("/started by zsh");
    AppModel model(t.platform);
    model.modifyConfig([&](AppConfig& c) {
        c.mysqlStartCommand = QStringLiteral("printf '%s' \"$ZSH_NAME\" > '") + marker + QStringLiteral("'");
    });
    model.checkMySQL(); // the admin tool exists: the ping runs at once, nothing is started
    EXPECT_EQ(model.databaseStatus(), QStringLiteral("Running"));
    EXPECT_FALSE(QFile::exists(marker));
    model.autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return model.statusMessage() == QStringLiteral("Database started."); }));
    EXPECT_EQ(readBytes(marker), QByteArray("zsh"));
}

TEST_F(MySQLServerTest, StartCommandRunsThroughShWhereZshIsMissing)
{
    writeScript(bin + QStringLiteral("/mysqladmin"), QStringLiteral("echo 'mysqld is alive'\n"));
    t.platform.tools.zsh = bin + QStringLiteral("/missing-zsh");
    const QString marker = dir.path() + QStringLiteral("/started");
    AppModel model(t.platform);
    model.modifyConfig([&](AppConfig& c) {
        c.mysqlStartCommand = QStringLiteral("printf '%s:%s' \"$0\" \"$ZSH_NAME\" > '") + marker + QStringLiteral("'");
    });
    model.autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return model.statusMessage() == QStringLiteral("Database started."); }));
    EXPECT_EQ(readBytes(marker), QByteArray("/bin/sh:"));
}

TEST_F(MySQLServerTest, PasswordChangeRefusals)
{
    AppModel model(t.platform);
    for (const QString& blank : {QString(), QStringLiteral("   "), QStringLiteral(" \n\t ")}) {
        model.changeMySQLPassword(QStringLiteral("kelp"), blank);
        EXPECT_EQ(model.statusMessage(), QStringLiteral("New mySQL password is required."));
    }
    model.changeMySQLPassword(QStringLiteral("kelp"), QStringLiteral("new"));
    EXPECT_EQ(model.statusMessage(), QStringLiteral("mysql client was not found."));
    EXPECT_EQ(model.config().mysqlPassword, QStringLiteral("kelp"));
}

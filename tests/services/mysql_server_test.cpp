// The MySQL look-ups, the ping classification and the install/start branches, with recording
// scripts standing in for Homebrew. (The runs against a real server are in the _mysql_ tests.)

#include "services/MySQLTestKit.h"
#include "services/ServerTestKit.h"
#include "support/TestEnvironment.h"

#include "platform/ToolPaths.h"

#include <QDir>
#include <QTcpServer>
#include <QTimer>
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

    // A model whose MySQL server is `port` on 127.0.0.1, with the real client tools, settings saved.
    std::unique_ptr<AppModel> modelWithServerOn(quint16 port)
    {
        t.platform.tools.mysql = {QStringLiteral("/usr/bin/mysql")};
        t.platform.tools.mysqladmin = {QStringLiteral("/usr/bin/mysqladmin")};
        auto model = std::make_unique<AppModel>(t.platform);
        model->modifyConfig([&](AppConfig& c) {
            c.mysqlHost = QStringLiteral("127.0.0.1");
            c.mysqlPort = port;
        });
        model->saveConfig();
        return model;
    }

    QTemporaryDir dir;
    QString bin;
    QString log;
    TestEnvironment::TestPlatform t;
};

} // namespace

TEST_F(MySQLServerTest, ToolsAreFoundInTheirPlacesInLookUpOrder)
{
    // The application's own table, moved below a temporary root that is laid out as a Mac with
    // some of the usual installations; the real `which` searches a PATH of the test's own.
    const QString machine = dir.path() + QStringLiteral("/machine");
    const QString path = dir.path() + QStringLiteral("/path-bin");
    const auto rooted = [&](QStringList candidates) {
        for (QString& candidate : candidates)
            candidate.prepend(machine);
        return candidates;
    };
    const ToolPaths table;
    t.platform.tools.mysqladmin = rooted(table.mysqladmin);
    t.platform.tools.mysql = rooted(table.mysql);
    t.platform.tools.brew = rooted(table.brew);
    t.platform.tools.which = table.which;
    TestEnvironment::ScopedEnvironment environment;
    environment.set("PATH", QFile::encodeName(path));

    struct Case {
        const char* machine;
        QStringList executables;    // stand-ins, at their places on the machine
        QStringList notExecutable;  // plain files at their places
        QStringList onPath;         // names in the PATH folder
        std::optional<QString> mysqladmin, mysql, brew; // on the machine, or "PATH:" + the name
    };
    const QList<Case> cases = {
        {"Homebrew on Apple silicon and on Intel: Apple silicon's",
         {"/opt/homebrew/bin/mysqladmin", "/usr/local/bin/mysqladmin", "/opt/homebrew/bin/mysql", "/usr/local/bin/mysql",
          "/opt/homebrew/bin/brew", "/usr/local/bin/brew"},
         {}, {"mysqladmin", "mysql", "brew"},
         "/opt/homebrew/bin/mysqladmin", "/opt/homebrew/bin/mysql", "/opt/homebrew/bin/brew"},
        {"Intel Homebrew's links before the kegs",
         {"/usr/local/bin/mysqladmin", "/opt/homebrew/opt/mysql/bin/mysqladmin", "/usr/local/bin/mysql",
          "/opt/homebrew/opt/mysql/bin/mysql", "/usr/local/bin/brew"},
         {}, {},
         "/usr/local/bin/mysqladmin", "/usr/local/bin/mysql", "/usr/local/bin/brew"},
        {"the kegs: mysql's before mysql-client's, Apple silicon's first",
         {"/usr/local/opt/mysql-client/bin/mysqladmin", "/opt/homebrew/opt/mysql-client/bin/mysqladmin",
          "/usr/local/opt/mysql/bin/mysqladmin", "/usr/local/opt/mysql/bin/mysql", "/opt/homebrew/opt/mysql/bin/mysql"},
         {}, {},
         "/usr/local/opt/mysql/bin/mysqladmin", "/opt/homebrew/opt/mysql/bin/mysql", std::nullopt},
        {"mysql-client's keg holds no mysql client that is looked for",
         {"/opt/homebrew/opt/mysql-client/bin/mysqladmin", "/opt/homebrew/opt/mysql-client/bin/mysql"},
         {}, {"mysql"},
         "/opt/homebrew/opt/mysql-client/bin/mysqladmin", "PATH:mysql", std::nullopt},
        {"MAMP's MySQL 8.0 before its other MySQL, both before ServBay",
         {"/Applications/ServBay/bin/mysqladmin", "/Applications/MAMP/Library/bin/mysql/bin/mysqladmin",
          "/Applications/MAMP/Library/bin/mysql80/bin/mysqladmin", "/Applications/ServBay/bin/mysql",
          "/Applications/MAMP/Library/bin/mysql/bin/mysql"},
         {}, {"brew"},
         "/Applications/MAMP/Library/bin/mysql80/bin/mysqladmin", "/Applications/MAMP/Library/bin/mysql/bin/mysql",
         "PATH:brew"},
        {"ServBay only",
         {"/Applications/ServBay/bin/mysqladmin", "/Applications/ServBay/bin/mysql"}, {}, {},
         "/Applications/ServBay/bin/mysqladmin", "/Applications/ServBay/bin/mysql", std::nullopt},
        {"files that cannot be run are passed over",
         {"/Applications/ServBay/bin/mysqladmin"},
         {"/opt/homebrew/bin/mysqladmin", "/opt/homebrew/bin/mysql", "/opt/homebrew/bin/brew"}, {"mysql"},
         "/Applications/ServBay/bin/mysqladmin", "PATH:mysql", std::nullopt},
        {"nothing in the usual places: what the PATH has", {}, {}, {"mysqladmin", "mysql", "brew"},
         "PATH:mysqladmin", "PATH:mysql", "PATH:brew"},
        {"nothing anywhere", {}, {}, {}, std::nullopt, std::nullopt, std::nullopt},
    };
    const auto expected = [&](const std::optional<QString>& place) -> std::optional<QString> {
        if (!place)
            return std::nullopt;
        return place->startsWith(QLatin1String("PATH:")) ? path + u'/' + place->mid(5) : machine + *place;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.machine);
        QDir(machine).removeRecursively();
        QDir(path).removeRecursively();
        QDir().mkpath(path);
        for (const QString& place : c.executables) {
            QDir().mkpath(QFileInfo(machine + place).path());
            writeScript(machine + place, QString());
        }
        for (const QString& place : c.notExecutable) {
            QDir().mkpath(QFileInfo(machine + place).path());
            TestFiles::writeFile(machine + place, "#!/bin/sh\n");
        }
        for (const QString& name : c.onPath)
            writeScript(path + u'/' + name, QString());
        AppModel model(t.platform);
        EXPECT_EQ(AppModelTestAccess::mysqlAdminBinary(model), expected(c.mysqladmin));
        EXPECT_EQ(AppModelTestAccess::mysqlBinary(model), expected(c.mysql));
        EXPECT_EQ(AppModelTestAccess::brewBinary(model), expected(c.brew));
    }
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

TEST_F(MySQLServerTest, RunningStateTellsItsObserversOnlyWhenItChanges)
{
    AppModel model(t.platform);
    QList<bool> seen;
    QObject::connect(&model, &AppModel::isDatabaseRunningChanged, [&] { seen << model.isDatabaseRunning(); });
    for (const QString& ping : {QStringLiteral("mysqld is alive"), QStringLiteral("mysqld is alive"),
                                QStringLiteral("Access denied for user"), QString(), QString()})
        AppModelTestAccess::applyDatabaseStatus(model, ping);
    EXPECT_EQ(seen, (QList<bool>{true, false}));
}

TEST_F(MySQLServerTest, PingArgumentsAndMissingAdmin)
{
    {
        AppModel model(t.platform);
        EXPECT_EQ(AppModelTestAccess::databasePingMessage(model), kNoAdmin);
    }
    // The option file comes first; the password is in it, not among the arguments.
    const QString optionLog = dir.path() + QStringLiteral("/option-file.log");
    writeRecorder(bin + QStringLiteral("/mysqladmin"), log,
                  QStringLiteral("cat \"${1#--defaults-file=}\" >> '%1'\nprintf 'mysqld is alive\\n'").arg(optionLog));
    AppModel model(t.platform);
    model.modifyConfig([](AppConfig& c) {
        c.mysqlHost = QStringLiteral("127.0.0.1");
        c.mysqlPort = 3307;
        c.mysqlUser = QStringLiteral("admin");
        c.mysqlPassword = QStringLiteral("se\"cr\\et");
    });
    // The output exactly as received.
    EXPECT_EQ(AppModelTestAccess::databasePingMessage(model), QStringLiteral("mysqld is alive\n"));
    const QStringList lines = readLines(log);
    ASSERT_EQ(lines.size(), 1);
    const QString optionFile = lines[0].section(u'|', 0, 0).mid(kOptionFileArgument.size());
    EXPECT_TRUE(optionFile.startsWith(QDir::tempPath() + QStringLiteral("/kovani-mysql-"))) << lines[0].toStdString();
    EXPECT_EQ(lines[0].section(u'|', 1), QStringLiteral("--host=127.0.0.1|--port=3307|--user=admin|ping"));
    // The clients' default option files included first, the password of the settings last.
    const QByteArray options = readBytes(optionLog);
    const QByteArray group = "[client]\npassword=\"se\\\"cr\\\\et\"\n";
    EXPECT_TRUE(options.endsWith(group)) << options.toStdString();
    for (const QByteArray& line : options.left(options.size() - group.size()).split('\n'))
        EXPECT_TRUE(line.isEmpty() || line.startsWith("!include /")) << options.toStdString();
    EXPECT_FALSE(QFileInfo::exists(optionFile));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(optionFile).absolutePath()));
}

TEST_F(MySQLServerTest, CheckOfAServerThatNeverAnswersLeavesTheWindowFree)
{
    t.platform.mysqlTimeLimits.pingMs = 1500;
    // A stand-in MySQL server: it accepts connections and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    const std::unique_ptr<AppModel> model = modelWithServerOn(silent.serverPort());
    model->setStatusMessage(QStringLiteral("before"));
    model->setDatabaseStatus(QStringLiteral("before"));
    model->checkMySQL();
    // The check returned with the ping still waiting, and the event loop goes on meanwhile.
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("before"));
    bool answeredMeanwhile = false;
    QTimer::singleShot(0, model.get(), [&]() { answeredMeanwhile = model->databaseStatus() == QStringLiteral("before"); });
    ASSERT_TRUE(waitUntil([&] { return model->databaseStatus() != QStringLiteral("before"); }, 30000));
    EXPECT_TRUE(answeredMeanwhile);
    // Killed after its limit: no answer.
    EXPECT_FALSE(model->isDatabaseRunning());
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("Not responding"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("before"));
    EXPECT_TRUE(ServerTestKit::processesMentioning(QStringLiteral("--port=%1").arg(silent.serverPort())).isEmpty());
}

TEST_F(MySQLServerTest, PasswordChangeWithAServerThatNeverAnswersFailsAndSavesNothing)
{
    t.platform.mysqlTimeLimits.passwordChangeMs = 1500;
    // A stand-in MySQL server: it accepts connections and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    const std::unique_ptr<AppModel> model = modelWithServerOn(silent.serverPort());
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    const QByteArray savedBefore = readBytes(model->configURL());
    const QString changing = QStringLiteral("Changing mySQL root password...");

    model->changeMySQLPassword(QStringLiteral("kelp"), QStringLiteral("never saved"));
    EXPECT_EQ(model->statusMessage(), changing);
    bool answeredMeanwhile = false;
    QTimer::singleShot(0, model.get(), [&]() { answeredMeanwhile = model->statusMessage() == changing; });
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() != changing; }, 30000));
    EXPECT_TRUE(answeredMeanwhile);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Could not change mySQL password: mySQL did not answer within 2 seconds."));
    EXPECT_EQ(model->config().mysqlPassword, QStringLiteral("kelp"));
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(readBytes(model->configURL()), savedBefore);
    EXPECT_TRUE(ServerTestKit::processesMentioning(QStringLiteral("--port=%1").arg(silent.serverPort())).isEmpty());
}

TEST_F(MySQLServerTest, DatabaseCreationWithAServerThatNeverAnswersSaysSo)
{
    t.platform.mysqlTimeLimits.databaseCreationMs = 1500;
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    const std::unique_ptr<AppModel> model = modelWithServerOn(silent.serverPort());
    EXPECT_EQ(model->createDatabase(QStringLiteral("shop"), MySQLSettings::from(model->config())),
              StatusText(QStringLiteral("database shop could not be created: mySQL did not answer within 2 seconds.")));
    EXPECT_TRUE(ServerTestKit::processesMentioning(QStringLiteral("--port=%1").arg(silent.serverPort())).isEmpty());
}

TEST_F(MySQLServerTest, QuittingStopsAClientStillWaiting)
{
    // A stand-in MySQL server: it accepts connections and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    const QString port = QStringLiteral("--port=%1").arg(silent.serverPort());
    std::unique_ptr<AppModel> model = modelWithServerOn(silent.serverPort());
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    const QByteArray savedBefore = readBytes(model->configURL());

    model->changeMySQLPassword(QStringLiteral("kelp"), QStringLiteral("never saved"));
    ASSERT_TRUE(waitUntil([&] { return !ServerTestKit::processesMentioning(port).isEmpty(); }, 30000));
    const QList<qint32> clients = ServerTestKit::processesMentioning(port);
    ASSERT_EQ(clients.size(), 1);
    const QString optionFile = ServerTestKit::procCmdline(clients[0]).value(1).mid(kOptionFileArgument.size());
    ASSERT_TRUE(QFileInfo::exists(optionFile)) << optionFile.toStdString();

    // The application quits: the window's shutdown, then the model goes.
    model->shutdown();
    EXPECT_TRUE(ServerTestKit::processesMentioning(port).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(optionFile));
    model.reset();
    EXPECT_EQ(readBytes(t.platform.storageRoot + QStringLiteral("/config.json")), savedBefore);
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
    model.checkMySQL(); // the admin tool exists: only the ping runs, nothing is started
    EXPECT_TRUE(waitUntil([&] { return model.databaseStatus() == QStringLiteral("Running"); }));
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

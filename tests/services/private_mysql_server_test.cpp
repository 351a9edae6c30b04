// Without Homebrew, the default start command is played by a MariaDB server of the user's own in
// the storage folder: made from nothing, started detached on the configured port, prepared with
// the default root password, found running by the next model. Each test starts its server on a
// free port and stops it again.

#include "services/MySQLTestKit.h"
#include "services/PrivateMySQLServer.h"
#include "support/TestEnvironment.h"

#include "platform/Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace MySQLTestKit;
using TestEnvironment::waitUntil;

namespace {

const QString kStarted = QStringLiteral("Database started.");
const QString kNotStarted = QStringLiteral("Database did not start. Check Settings.");

QString currentUser()
{
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

// Processes whose command line names this data folder.
QList<pid_t> serversOn(const QString& dataDir)
{
    QList<pid_t> found;
    const QByteArray wanted = QFile::encodeName(QStringLiteral("--datadir=") + dataDir);
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        if (!ok || !Process::exists(pid))
            continue;
        if (readBytes(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline")).split('\0').contains(wanted))
            found << pid;
    }
    return found;
}

bool canLogin(quint16 port, const QString& password)
{
    QProcess client;
    client.start(QStringLiteral("/usr/bin/mysql"),
                 {QStringLiteral("--no-defaults"), QStringLiteral("--host=127.0.0.1"), QStringLiteral("--protocol=tcp"),
                  QStringLiteral("--port=") + QString::number(port), QStringLiteral("--user=root"),
                  QStringLiteral("--password=") + password, QStringLiteral("-N"), QStringLiteral("-e"),
                  QStringLiteral("SELECT 1;")});
    client.waitForFinished(20000);
    return client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0
        && client.readAllStandardOutput().trimmed() == "1";
}

class PrivateMySQLServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        bin = dir.path() + QStringLiteral("/bin");
        QDir().mkpath(bin);
        t = TestEnvironment::makePlatform(dir.path());
        ToolPaths& tools = t.platform.tools;
        tools.mysql = {QStringLiteral("/usr/bin/mysql")};
        tools.mysqladmin = {QStringLiteral("/usr/bin/mysqladmin")};
        tools.brew = {bin + QStringLiteral("/missing-brew")};
        tools.which = QStringLiteral("/bin/false");
        tools.mysqlServer = {QStringLiteral("/usr/sbin/mariadbd")};
        tools.mysqlInstallDb = {QStringLiteral("/usr/bin/mariadb-install-db")};
        storage = t.platform.storageRoot;
        dataDir = storage + QStringLiteral("/MySQL");
    }

    void TearDown() override
    {
        // Whatever a test started, by the data folder it runs on.
        for (const pid_t pid : serversOn(dataDir))
            ::kill(pid, SIGTERM);
        const bool stopped = waitUntil([&] { return serversOn(dataDir).isEmpty(); }, 60000);
        for (const pid_t pid : serversOn(dataDir))
            ::kill(pid, SIGKILL);
        EXPECT_TRUE(stopped) << "the server did not stop on SIGTERM";
    }

    std::unique_ptr<AppModel> makeModel()
    {
        auto model = std::make_unique<AppModel>(t.platform);
        model->modifyConfig([&](AppConfig& c) {
            c.mysqlHost = QStringLiteral("127.0.0.1");
            c.mysqlPort = port;
            c.mysqlUser = QStringLiteral("root");
            c.mysqlPassword = QStringLiteral("kelp");
            c.mysqlStartCommand = AppConfig().mysqlStartCommand;
        });
        return model;
    }

    static bool startUpEnded(const AppModel& model)
    {
        return model.statusMessage() == kStarted || model.statusMessage() == kNotStarted;
    }

    QTemporaryDir dir;
    QString bin;
    QString storage;
    QString dataDir;
    quint16 port = TestEnvironment::freePort();
    TestEnvironment::TestPlatform t;
};

} // namespace

TEST_F(PrivateMySQLServerTest, FreshStorageGetsAServerThatOutlivesTheModelAndIsFoundRunning)
{
    {
        auto model = makeModel();
        model->autoStartDatabase();
        ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 90000));
        EXPECT_EQ(model->statusMessage(), kStarted) << model->databaseStatus().toStdString()
                                                    << readBytes(storage + QStringLiteral("/Logs/mysql.log")).toStdString();
        EXPECT_EQ(model->databaseStatus(), QStringLiteral("Running"));
        EXPECT_TRUE(model->isDatabaseRunning());
    }

    // The model is gone; its server is not.
    const QList<pid_t> servers = serversOn(dataDir);
    ASSERT_EQ(servers.size(), 1);
    const pid_t pid = servers.first();
    EXPECT_EQ(readBytes(storage + QStringLiteral("/mysql.pid")).trimmed(), QByteArray::number(pid));
    EXPECT_TRUE(canLogin(port, QStringLiteral("kelp")));
    EXPECT_FALSE(canLogin(port, QString()));

    // Its files: the data folder private, socket and pid file beside it, the log under Logs.
    const QFileInfo data(dataDir);
    ASSERT_TRUE(data.isDir());
    EXPECT_EQ(data.permissions() & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                    | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther),
              QFileDevice::Permissions());
    EXPECT_TRUE(QFileInfo::exists(storage + QStringLiteral("/mysql.sock")));
    // Temporary files in a folder of its own, not the shared /tmp.
    EXPECT_TRUE(QFileInfo(storage + QStringLiteral("/mysql-tmp")).isDir());
    EXPECT_TRUE(readBytes(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0').contains(
        QFile::encodeName(QStringLiteral("--tmpdir=") + storage + QStringLiteral("/mysql-tmp"))));
    EXPECT_FALSE(QFileInfo::exists(dataDir + QStringLiteral(".initializing")));
    const QByteArray log = readBytes(storage + QStringLiteral("/Logs/mysql.log"));
    EXPECT_EQ(log.count("Initialising "), 1);
    struct stat logStat {};
    ASSERT_EQ(::stat(QFile::encodeName(storage + QStringLiteral("/Logs/mysql.log")).constData(), &logStat), 0);
    EXPECT_EQ(logStat.st_mode & 07777, 0600u) << "the log is private like the rest";
    EXPECT_TRUE(log.contains(("--user=" + currentUser()).toUtf8()));

    // The next model finds it running: same process, nothing made or started again.
    auto model = makeModel();
    model->autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 60000));
    EXPECT_EQ(model->statusMessage(), kStarted);
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("Running"));
    EXPECT_EQ(serversOn(dataDir), QList<pid_t>{pid});
    EXPECT_EQ(readBytes(storage + QStringLiteral("/Logs/mysql.log")).count("Initialising "), 1);
    EXPECT_TRUE(canLogin(port, QStringLiteral("kelp")));
}

TEST_F(PrivateMySQLServerTest, OverlappingStartsMakeOneServer)
{
    auto first = makeModel();
    auto second = makeModel();
    first->autoStartDatabase();
    second->autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return startUpEnded(*first) && startUpEnded(*second); }, 90000));
    EXPECT_EQ(first->statusMessage(), kStarted);
    EXPECT_EQ(second->statusMessage(), kStarted);
    EXPECT_EQ(serversOn(dataDir).size(), 1);
    EXPECT_EQ(readBytes(storage + QStringLiteral("/Logs/mysql.log")).count("Initialising "), 1);
}

TEST_F(PrivateMySQLServerTest, PortHeldByAnotherListenerStartsNothing)
{
    // Something that is not MySQL holds the port: it takes each connection and closes it.
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, port));
    QObject::connect(&other, &QTcpServer::newConnection, [&]() {
        while (QTcpSocket* socket = other.nextPendingConnection()) {
            socket->abort();
            socket->deleteLater();
        }
    });
    auto model = makeModel();
    model->autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 60000));
    EXPECT_EQ(model->statusMessage(), kNotStarted);
    EXPECT_FALSE(model->isDatabaseRunning());
    EXPECT_NE(model->databaseStatus(), PrivateMySQLServer::kMissingServerText);
    EXPECT_FALSE(QFileInfo::exists(dataDir));
    EXPECT_FALSE(QFileInfo::exists(storage + QStringLiteral("/mysql.pid")));
    EXPECT_TRUE(serversOn(dataDir).isEmpty());
}

TEST_F(PrivateMySQLServerTest, NoServerProgramSaysWhatToInstall)
{
    t.platform.tools.mysqlServer = {bin + QStringLiteral("/missing-mariadbd")};
    t.platform.tools.mysqlServerNames = {};
    auto model = makeModel();
    model->autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 30000));
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("mySQL server not found. Install mariadb-server or Homebrew."));
    EXPECT_EQ(model->statusMessage(), kNotStarted);
    EXPECT_FALSE(model->isDatabaseRunning());
    EXPECT_FALSE(QFileInfo::exists(dataDir));
}

TEST_F(PrivateMySQLServerTest, AStartCommandOfTheUsersOwnRunsInstead)
{
    const QString marker = dir.path() + QStringLiteral("/ran");
    auto model = makeModel();
    model->modifyConfig([&](AppConfig& c) { c.mysqlStartCommand = QStringLiteral("touch '") + marker + u'\''; });
    model->autoStartDatabase();
    ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 30000));
    EXPECT_TRUE(QFileInfo::exists(marker));
    EXPECT_FALSE(QFileInfo::exists(dataDir));
    EXPECT_TRUE(serversOn(dataDir).isEmpty());
    // The ping's own text, not the missing-server one.
    EXPECT_NE(model->databaseStatus(), PrivateMySQLServer::kMissingServerText);
}

TEST_F(PrivateMySQLServerTest, FailedInitialisationLeavesNoDataFolderAndIsTriedAgain)
{
    const QString me = currentUser();
    const struct {
        const char* what;
        bool withInstallDb;
        QString expectedStart;
    } cases[] = {
        {"mariadb-install-db", true, QStringLiteral("--no-defaults|--user=") + me + QStringLiteral("|--datadir=")},
        {"mysqld --initialize-insecure", false,
         QStringLiteral("--no-defaults|--initialize-insecure|--user=") + me + QStringLiteral("|--datadir=")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString calls = dir.path() + QStringLiteral("/calls-") + QString::fromLatin1(c.what).replace(u' ', u'-');
        // Leaves half a data folder behind and fails.
        const QString failing = writeRecorder(bin + QStringLiteral("/failing-init"), calls,
                                              QStringLiteral("for a in \"$@\"; do case \"$a\" in --datadir=*) d=\"${a#--datadir=}\"; "
                                                             "mkdir -p \"$d/mysql\"; echo half > \"$d/ibdata1\";; esac; done\n"
                                                             "echo 'initialisation failed' >&2\nexit 1"));
        ToolPaths& tools = t.platform.tools;
        tools.mysqlServer = {c.withInstallDb ? QStringLiteral("/usr/sbin/mariadbd") : failing};
        tools.mysqlInstallDb = {c.withInstallDb ? failing : bin + QStringLiteral("/missing-install-db")};
        tools.mysqlInstallDbNames = {};
        for (int run = 1; run <= 2; ++run) {
            auto model = makeModel();
            model->autoStartDatabase();
            ASSERT_TRUE(waitUntil([&] { return startUpEnded(*model); }, 30000));
            EXPECT_EQ(model->statusMessage(), kNotStarted);
            EXPECT_FALSE(model->isDatabaseRunning());
            EXPECT_FALSE(QFileInfo::exists(dataDir)) << run;
            EXPECT_FALSE(QFileInfo::exists(dataDir + QStringLiteral(".initializing"))) << run;
        }
        const QStringList lines = readLines(calls);
        ASSERT_EQ(lines.size(), 2);
        EXPECT_TRUE(lines[0].startsWith(c.expectedStart)) << lines[0].toStdString();
        EXPECT_TRUE(readBytes(storage + QStringLiteral("/Logs/mysql.log")).contains("initialisation failed"));
        EXPECT_TRUE(serversOn(dataDir).isEmpty());
    }
}

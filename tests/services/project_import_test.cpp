// Import of website folders, path edits and the environment text.
#include "services/ServerTestKit.h"

#include <QSignalSpy>

#include <chrono>
#include <future>
#include <thread>

using namespace ServerTestKit;
using TestEnvironment::freePort;
using TestEnvironment::waitUntil;

namespace {

class ProjectImport : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        // No database server answers here: the background creation fails fast and says so.
        deadMySQLPort = freePort();
        model->modifyConfig([&](AppConfig& c) { c.mysqlPort = deadMySQLPort; });
        model->saveConfig();
    }

    // Waits for the database job of an import to report.
    bool waitForDatabaseJob()
    {
        return waitUntil([&] { return model->statusMessage().startsWith(QStringLiteral("Website imported, but ")); }, 15000);
    }

    AppConfig savedConfig() const
    {
        EXPECT_TRUE(TestEnvironment::configWritten(*model));
        return ConfigCoding::decode(readFile(model->configURL())).value_or(AppConfig());
    }

    quint16 deadMySQLPort = 0;
};

} // namespace

TEST_F(ProjectImport, RefusalsComeInOrderAndChangeNothing)
{
    const QString site = makeSite(path("site"));
    QDir().mkpath(path("bare"));
    makeSite(path("public-only/public"));
    const QString existing = makeSite(path("existing"));
    ASSERT_TRUE(model->addProject("My Site", existing, 9100, "", "root", "pw"));
    ASSERT_TRUE(waitForDatabaseJob());
    const AppConfig before = model->config();
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    const QByteArray fileBefore = readFile(model->configURL());

    struct Case {
        const char* label;
        QString name;
        QString root;
        qint64 port;
        QString message;
    };
    const QString indexMessage = "Project index.php was not found. Choose the Laravel project folder, its public folder, "
                                 "or a PHP/WordPress folder that contains index.php.";
    const Case cases[] = {
        {"blank name first", " \t\n ", path("missing"), 8081, "Project name is required."},
        {"empty name", "", site, 9200, "Project name is required."},
        {"missing folder", "New", path("missing"), 8081, "Project path does not exist."},
        {"folder taken as passed", "New", site + " ", 9200, "Project path does not exist."},
        {"no index", "New", path("bare"), 8081, indexMessage},
        {"index only in public without artisan", "New", path("public-only"), 9200, indexMessage},
        {"port 0", "New", site, 0, "Website port must be between 1 and 65535."},
        {"port 65536", "New", site, 65536, "Website port must be between 1 and 65535."},
        {"negative port", "New", site, -9200, "Website port must be between 1 and 65535."},
        {"port range before the phpMyAdmin port", "New", site, 70000, "Website port must be between 1 and 65535."},
        {"phpMyAdmin port before project ports", "New", site, 8081, "Port 8081 is reserved for shared phpAdmin. Choose another website port."},
        {"port of another website", "New", site, 9100, "Port 9100 is already used by another website."},
        {"duplicate id", "  my site ", site, 9200, "Project already exists: my site"},
        {"duplicate through the slug", "MY-SITE!", site, 9200, "Project already exists: MY-SITE!"},
        {"phpmyadmin is taken", "phpMyAdmin", site, 9200, "Project already exists: phpMyAdmin"},
        {"nothing left for an id", "!!!", site, 9200, "Project name must contain a letter or a digit."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        model->setStatusMessage("before");
        EXPECT_FALSE(model->addProject(c.name, c.root, c.port, "db", "user", "pw"));
        EXPECT_EQ(model->statusMessage(), c.message);
        EXPECT_EQ(model->config(), before);
    }
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(readFile(model->configURL()), fileBefore);
}

TEST_F(ProjectImport, ValidImportAppendsAndSaves)
{
    const QString laravel = path("shop");
    writeFile(laravel + "/artisan", "");
    makeSite(laravel + "/public");
    model->modifyConfig([&](AppConfig& c) {
        c.projects = {makeProject("first", "First", makeSite(path("first")), 9000)};
        c.mysqlPassword = "global-secret";
    });

    ASSERT_TRUE(model->addProject("  My Site \n", laravel, 65535, "  ", "", ""));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Website imported. Database my-site is ready in shared phpAdmin."));
    ASSERT_EQ(model->config().projects.size(), 2);
    const Project stored = model->config().projects.last();
    EXPECT_EQ(stored.id, QStringLiteral("my-site"));
    EXPECT_EQ(stored.name, QStringLiteral("My Site"));
    EXPECT_EQ(stored.root, laravel + "/public");
    EXPECT_EQ(stored.port, 65535);
    EXPECT_EQ(stored.databaseName, QStringLiteral("my-site"));
    EXPECT_EQ(stored.databaseUser, QString());
    EXPECT_EQ(stored.databasePassword, QStringLiteral("global-secret"));
    EXPECT_FALSE(model->isStarting("my-site"));
    EXPECT_EQ(savedConfig(), model->config());

    // The database job reports in the status line; the project stays whatever it says.
    ASSERT_TRUE(waitForDatabaseJob()) << model->statusMessage().toStdString();
    EXPECT_TRUE(model->statusMessage().contains("my-site")) << model->statusMessage().toStdString();
    EXPECT_EQ(model->config().projects.size(), 2);

    // Choosing the public folder itself gives the same root; values given are kept as typed.
    ASSERT_TRUE(model->addProject("Shop Two", laravel + "/public/", 1, " shop_db ", " spaced user ", "pw"));
    const Project second = model->config().projects.last();
    EXPECT_EQ(second.root, laravel + "/public");
    EXPECT_EQ(second.port, 1);
    EXPECT_EQ(second.databaseName, QStringLiteral("shop_db"));
    EXPECT_EQ(second.databaseUser, QStringLiteral(" spaced user "));
    EXPECT_EQ(second.databasePassword, QStringLiteral("pw"));
    ASSERT_TRUE(waitForDatabaseJob());
    EXPECT_EQ(savedConfig().projects.size(), 3);
}

TEST_F(ProjectImport, ProjectEnvIsExact)
{
    model->modifyConfig([&](AppConfig& c) {
        c.mysqlHost = "db.local";
        c.mysqlPort = 3307;
        c.mysqlUser = "admin";
        c.mysqlPassword = "global";
    });
    Project full = makeProject("shop", "Shop", path("shop"), 8082);
    full.databaseName = "shop_db";
    full.databaseUser = "shopper";
    full.databasePassword = "s3cret";
    EXPECT_EQ(model->projectEnv(full), QStringLiteral("APP_URL=http://localhost:8082\n"
                                                      "APP_URL_ALT=http://127.0.0.1:8082\n"
                                                      "DB_CONNECTION=mysql\n"
                                                      "DB_HOST=db.local\n"
                                                      "DB_PORT=3307\n"
                                                      "DB_DATABASE=shop_db\n"
                                                      "DB_USERNAME=shopper\n"
                                                      "DB_PASSWORD=s3cret"));

    Project blank = makeProject("my-blog", "My Blog", path("blog"), 9001);
    blank.databaseName = "";
    blank.databaseUser = "";
    blank.databasePassword = "";
    EXPECT_EQ(model->projectEnv(blank), QStringLiteral("APP_URL=http://localhost:9001\n"
                                                       "APP_URL_ALT=http://127.0.0.1:9001\n"
                                                       "DB_CONNECTION=mysql\n"
                                                       "DB_HOST=db.local\n"
                                                       "DB_PORT=3307\n"
                                                       "DB_DATABASE=my-blog\n"
                                                       "DB_USERNAME=admin\n"
                                                       "DB_PASSWORD=global"));

    Project spaces = blank;
    spaces.databaseUser = " ";
    spaces.databasePassword = " ";
    EXPECT_TRUE(model->projectEnv(spaces).endsWith(QStringLiteral("\nDB_USERNAME= \nDB_PASSWORD= ")));
}

TEST_F(ProjectImport, PathEditStopsARunningProjectAndSaves)
{
    const quint16 port = freePort();
    const QString oldRoot = makeSite(path("old"));
    const QString laravel = path("laravel");
    writeFile(laravel + "/artisan", "");
    makeSite(laravel + "/public");
    const Project p = makeProject("edit", "Edit Me", oldRoot, port);
    model->modifyConfig([&](AppConfig& c) { c.projects = {p}; });
    model->startInternal(p);
    ASSERT_TRUE(waitRunning("edit"));
    const qint32 pid = model->runningProjects().value("edit");

    QStringList messages;
    QObject::connect(model.get(), &AppModel::statusMessageChanged, [&] { messages.append(model->statusMessage()); });
    model->updateProjectPath(p, laravel);
    EXPECT_EQ(messages, (QStringList{"Edit Me stopped.", "Project path updated."}));
    EXPECT_FALSE(model->isRunning("edit"));
    EXPECT_FALSE(model->isStarting("edit"));
    EXPECT_FALSE(Process::exists(pid));
    EXPECT_EQ(model->config().projects.first().root, laravel + "/public");
    EXPECT_EQ(savedConfig().projects.first().root, laravel + "/public");

    // A stopped project is only re-pointed; the folder is not checked.
    model->setStatusMessage("x");
    messages.clear();
    model->updateProjectPath(p, path("nowhere/"));
    EXPECT_EQ(messages, QStringList{"Project path updated."});
    EXPECT_EQ(model->config().projects.first().root, path("nowhere"));

    // A project no longer in the list: nothing.
    messages.clear();
    const AppConfig before = model->config();
    model->updateProjectPath(makeProject("gone", "Gone", oldRoot, 1), oldRoot);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(model->config(), before);
}

TEST_F(ProjectImport, DatabaseJobEndsWithTheModel)
{
    // A mysql client that waits for a gate the test holds, then records what it was asked to do.
    const QString record = path("client-arguments");
    const QString gate = path("gate");
    const QString client = path("bin/slow-mysql");
    writeScript(client, QStringLiteral("#!/bin/sh\nwhile [ ! -e '%2' ]; do sleep 0.05; done\n"
                                       "printf '%s\\n' \"$@\" > '%1.part'\nmv '%1.part' '%1'\n")
                            .arg(record, gate)
                            .toUtf8());
    Platform slow = platform.platform;
    slow.tools.mysql = {client};
    // The second model reads what the first one saved.
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    auto importing = std::make_unique<AppModel>(slow);

    ASSERT_TRUE(importing->addProject("Quick Quit", makeSite(path("quick")), 9300, "", "nobody", "not-it"));
    // The client is under way, held at the gate, with the global login.
    ASSERT_TRUE(waitUntil([&] { return !processesMentioning(client).isEmpty(); }, 30000));
    const QStringList arguments = procCmdline(launchedMentioning(client).value(0));
    EXPECT_TRUE(arguments.contains(QStringLiteral("--port=%1").arg(deadMySQLPort))) << arguments.join(' ').toStdString();
    EXPECT_TRUE(arguments.contains(QStringLiteral("--user=root"))) << arguments.join(' ').toStdString();
    const QString optionFile = arguments.value(2).mid(QStringLiteral("--defaults-file=").size());
    EXPECT_TRUE(QFileInfo::exists(optionFile)) << arguments.join(' ').toStdString();
    // Should the model wait for the job, the gate opens by itself after a while so that the
    // test fails instead of hanging.
    std::promise<void> released;
    std::thread guard([&gate, done = released.get_future()]() {
        if (done.wait_for(std::chrono::seconds(60)) == std::future_status::timeout)
            writeFile(gate, "guard");
    });
    importing.reset();
    const bool returnedAtTheGate = !QFileInfo::exists(gate) && !QFileInfo::exists(record);
    released.set_value();
    guard.join();
    EXPECT_TRUE(returnedAtTheGate) << "the model waited for the database job";

    // Quitting stopped the client: nothing of it is left to go on once the gate opens.
    EXPECT_TRUE(processesMentioning(client).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(optionFile));
    writeFile(gate, "open");
    EXPECT_FALSE(QFileInfo::exists(record));
}

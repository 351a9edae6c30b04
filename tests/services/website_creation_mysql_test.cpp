// End to end: createWebsite lays WordPress or Laravel down from the offline fixtures, creates
// the database in the private MariaDB server, registers and saves the project, starts it with
// the bundled PHP runtime, and the website answers on its port.
#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "support/LoopbackHttpServer.h"
#include "support/MariaDbFixture.h"
#include "support/TestEnvironment.h"
#include "support/WebsiteFixtures.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using TestFiles::readBytes;

QString httpGet(quint16 port)
{
    QProcess curl;
    curl.start(QStringLiteral("/usr/bin/curl"),
               {QStringLiteral("--silent"), QStringLiteral("--max-time"), QStringLiteral("10"),
                QStringLiteral("http://127.0.0.1:%1/").arg(port)});
    curl.waitForFinished(15000);
    return QString::fromUtf8(curl.readAllStandardOutput());
}

} // namespace

class WebsiteCreationEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MariaDbFixture::available()) << "the MariaDB fixture is not running";
        MariaDbFixture::resetRootPassword();
        for (const char* db : {"my_blog", "my_shop", "broken_shop", "denied"})
            MariaDbFixture::dropDatabase(QString::fromLatin1(db));

        auto t = TestEnvironment::makePlatform(dir.path());
        t.platform.composerDownloadURL = server.baseURL();
        t.platform.wordpressDownloadURL = server.baseURL();
        t.platform.wordpressSaltURL = server.baseURL();
        model = std::make_unique<AppModel>(t.platform);
        model->setPhpVersions({PHPVersion{php, BundledPhp::version(), true}});
        model->modifyConfig([](AppConfig& c) {
            c.mysqlHost = QStringLiteral("127.0.0.1");
            c.mysqlPort = MariaDbFixture::port();
            c.mysqlUser = QStringLiteral("root");
            c.mysqlPassword = QString();
        });
        model->saveConfig();

        server.setReply("/latest.zip", {200, {{"Content-Type", "application/zip"}}, WebsiteFixtures::wordpressArchive()});
        server.setReply("/secret-key/1.1/salt/", LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
        server.setReply("/download/latest-stable/composer.phar", {200, {}, WebsiteFixtures::composerShim()});
        const QString fixture = dir.path() + QStringLiteral("/laravel-fixture");
        WebsiteFixtures::writeLaravelProject(fixture);
        WebsiteFixtures::writeComposerHome(model->toolsURL() + QStringLiteral("/Composer"), fixture);

        QObject::connect(model.get(), &AppModel::websiteCreationProgressChanged, model.get(),
                         [this]() { progress << model->websiteCreationProgress(); });
        QObject::connect(model.get(), &AppModel::statusMessageChanged, model.get(),
                         [this]() { statuses << model->statusMessage(); });
    }

    void TearDown() override
    {
        if (model)
            model->shutdown();
    }

    // Runs one creation to its end; returns the completion's value.
    bool createAndWait(WebsiteTemplate kind, const QString& name, quint16 port, const QString& database = QString())
    {
        int calls = 0;
        bool result = false;
        model->createWebsite(kind, name, model->sitesURL(), port, database, [&](bool ok) {
            ++calls;
            result = ok;
        });
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return calls > 0; }, 120000));
        EXPECT_TRUE(Dispatch::drainForTesting());
        EXPECT_EQ(calls, 1);
        return result;
    }

    std::optional<Project> savedProject(const QString& id) const
    {
        EXPECT_TRUE(TestEnvironment::configWritten(*model));
        const std::optional<AppConfig> saved = ConfigCoding::decode(readBytes(model->configURL()));
        if (!saved)
            return std::nullopt;
        for (const Project& p : saved->projects)
            if (p.id == id)
                return p;
        return std::nullopt;
    }

    QTemporaryDir dir;
    LoopbackHttpServer server;
    std::unique_ptr<AppModel> model;
    const QString php = BundledPhp::binary();
    QStringList progress;
    QStringList statuses;
};

TEST_F(WebsiteCreationEndToEnd, WordPress)
{
    const quint16 port = TestEnvironment::freePort();
    ASSERT_TRUE(createAndWait(WebsiteTemplate::wordpress, QStringLiteral("  My Blog!  "), port))
        << model->statusMessage().toStdString();

    EXPECT_EQ(progress, (QStringList{"Preparing WordPress...", "Downloading WordPress...", "Installing WordPress files...",
                                     "Creating database my_blog...", ""}));
    EXPECT_TRUE(statuses.contains(QStringLiteral("WordPress website created. Database my_blog is connected.")));
    EXPECT_LT(statuses.indexOf(QStringLiteral("Creating database my_blog...")),
              statuses.indexOf(QStringLiteral("WordPress website created. Database my_blog is connected.")));
    EXPECT_FALSE(model->isCreatingWebsite());
    EXPECT_TRUE(MariaDbFixture::databases().contains(QStringLiteral("my_blog")));

    const QString destination = model->sitesURL() + QStringLiteral("/my-blog");
    const Project& added = model->config().projects.last();
    EXPECT_EQ(added.id, QStringLiteral("my-blog"));
    EXPECT_EQ(added.name, QStringLiteral("My Blog!"));
    EXPECT_EQ(added.root, destination);
    EXPECT_EQ(added.port, port);
    EXPECT_EQ(added.databaseName, QStringLiteral("my_blog"));
    EXPECT_EQ(added.databaseUser, QStringLiteral("root"));
    EXPECT_EQ(added.databasePassword, QString());
    EXPECT_EQ(savedProject(QStringLiteral("my-blog")), added);

    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return model->isRunning(QStringLiteral("my-blog")); }, 15000))
        << model->statusMessage().toStdString();
    EXPECT_EQ(httpGet(port), QStringLiteral("WordPress fixture home my_blog"));
    EXPECT_TRUE(QDir(model->toolsURL()).entryList({QStringLiteral("WebsiteCreation-*")}, QDir::AllEntries).isEmpty());
}

TEST_F(WebsiteCreationEndToEnd, Laravel)
{
    const quint16 port = TestEnvironment::freePort();
    ASSERT_TRUE(createAndWait(WebsiteTemplate::laravel, QStringLiteral("My Shop"), port))
        << model->statusMessage().toStdString();

    EXPECT_EQ(progress, (QStringList{"Preparing Laravel...", "Preparing Composer...",
                                     "Creating Laravel project. This may take a few minutes...",
                                     "Generating Laravel application key...", "Creating database my_shop...",
                                     "Preparing Laravel database tables...", ""}));
    EXPECT_TRUE(statuses.contains(QStringLiteral("Laravel website created. Database my_shop is connected.")));
    EXPECT_TRUE(MariaDbFixture::databases().contains(QStringLiteral("my_shop")));

    const QString destination = model->sitesURL() + QStringLiteral("/my-shop");
    const Project& added = model->config().projects.last();
    EXPECT_EQ(added.id, QStringLiteral("my-shop"));
    EXPECT_EQ(added.root, destination + QStringLiteral("/public"));
    EXPECT_TRUE(added.root.endsWith(QStringLiteral("/public")));
    EXPECT_EQ(savedProject(QStringLiteral("my-shop")), added);

    const QString env = QString::fromUtf8(readBytes(destination + QStringLiteral("/.env")));
    EXPECT_TRUE(env.contains(QStringLiteral("\nDB_PORT=%1\n").arg(MariaDbFixture::port())));
    EXPECT_TRUE(env.contains(QStringLiteral("\nDB_DATABASE=my_shop\n")));
    const QString calls = QString::fromUtf8(readBytes(destination + QStringLiteral("/artisan-calls.log")));
    EXPECT_LT(calls.indexOf(QStringLiteral("key:generate")), calls.indexOf(QStringLiteral("\"migrate\"")));

    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return model->isRunning(QStringLiteral("my-shop")); }, 15000))
        << model->statusMessage().toStdString();
    EXPECT_EQ(httpGet(port), QStringLiteral("Laravel fixture home"));
}

TEST_F(WebsiteCreationEndToEnd, FailuresRemoveTheDestinationAndKeepTheSettings)
{
    const AppConfig before = model->config();
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    const QByteArray savedBefore = readBytes(model->configURL());

    // The migration fails after the database was made: the database stays, the folder goes.
    qputenv("KOVANI_FIXTURE_ARTISAN_EXIT_MIGRATE", "5");
    const bool migrated = createAndWait(WebsiteTemplate::laravel, QStringLiteral("Broken Shop"), TestEnvironment::freePort());
    qunsetenv("KOVANI_FIXTURE_ARTISAN_EXIT_MIGRATE");
    EXPECT_FALSE(migrated);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Laravel database migration failed: artisan migrate failed on purpose"));
    EXPECT_FALSE(QFileInfo::exists(model->sitesURL() + QStringLiteral("/broken-shop")));
    EXPECT_TRUE(MariaDbFixture::databases().contains(QStringLiteral("broken_shop")));
    EXPECT_TRUE(QFileInfo::exists(model->toolsURL() + QStringLiteral("/composer.phar"))); // kept for later creations

    // The database server refuses the password: WordPress was laid down and is removed again.
    model->modifyConfig([](AppConfig& c) { c.mysqlPassword = QStringLiteral("wrong password"); });
    const AppConfig withWrongPassword = model->config();
    EXPECT_FALSE(createAndWait(WebsiteTemplate::wordpress, QStringLiteral("Denied"), TestEnvironment::freePort()));
    EXPECT_TRUE(model->statusMessage().contains(QStringLiteral("denied"))) << model->statusMessage().toStdString();
    EXPECT_FALSE(QFileInfo::exists(model->sitesURL() + QStringLiteral("/denied")));
    EXPECT_FALSE(MariaDbFixture::databases().contains(QStringLiteral("denied")));

    EXPECT_EQ(model->config().projects, before.projects);
    EXPECT_EQ(model->config(), withWrongPassword);
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(readBytes(model->configURL()), savedBefore);
    EXPECT_FALSE(model->isCreatingWebsite());
    EXPECT_TRUE(model->websiteCreationProgress().isEmpty());
    EXPECT_TRUE(model->runningProjects().isEmpty());
}

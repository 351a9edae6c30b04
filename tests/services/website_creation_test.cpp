// createWebsite without a database server: the refusals, the derived values, one creation at a
// time, and the clean-up after a failed step.
#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "services/WebsiteCreation.h"
#include "ServerTestKit.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestEnvironment.h"
#include "support/WebsiteFixtures.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using TestFiles::readBytes;

} // namespace

TEST(WebsiteCreationValues, DatabaseNameRule)
{
    struct Case {
        QString field;
        QString trimmedName;
        QString expected;
    };
    const QString hundred(100, u'a');
    const QList<Case> cases = {
        {"", "My Blog!", "my_blog"},
        {"Shop-DB 2", "whatever", "shop_db_2"},
        {"   ", "My Blog", "website"},
        {"", "!!!", "website"},
        {"", hundred, QString(64, u'a')},
        {"  Ünïcode Shop  ", "x", "ünïcode_shop"},
        {"a`b", "x", "a_b"},
        // A character outside the BMP at the cut is kept whole, never split into half a pair.
        {"", QString(63, u'a') + QString::fromUtf8("\xF0\x9D\x90\x80") + "b", QString(63, u'a') + QString::fromUtf8("\xF0\x9D\x90\x80")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WebsiteCreation::databaseName(c.field, c.trimmedName), c.expected) << c.field.toStdString();
    EXPECT_EQ(AppModel::slug(hundred).size(), 100); // folder and id keep the whole slug
}

TEST(WebsiteCreationValues, DestinationIsAbsolute)
{
    EXPECT_EQ(WebsiteCreation::destination(QStringLiteral("/tmp/sites/"), QStringLiteral("my-blog")),
              QStringLiteral("/tmp/sites/my-blog"));
    EXPECT_EQ(WebsiteCreation::destination(QStringLiteral("relative/dir"), QStringLiteral("x")),
              QDir::currentPath() + QStringLiteral("/relative/dir/x"));
}

class WebsiteCreationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        auto t = TestEnvironment::makePlatform(dir.path());
        t.platform.composerDownloadURL = server.baseURL();
        t.platform.wordpressDownloadURL = server.baseURL();
        t.platform.wordpressSaltURL = server.baseURL();
        model = std::make_unique<AppModel>(t.platform);
        model->setPhpVersions({PHPVersion{php, BundledPhp::version(), true}});
        // No database server listens here.
        const quint16 nothing = TestEnvironment::freePort();
        model->modifyConfig([&](AppConfig& c) { c.mysqlPort = nothing; });
        model->saveConfig();
        parent = model->sitesURL();
        QObject::connect(model.get(), &AppModel::websiteCreationProgressChanged, model.get(),
                         [this]() { progress << model->websiteCreationProgress(); });
    }

    struct Call {
        int calls = 0;
        bool result = false;
    };
    std::shared_ptr<Call> create(WebsiteTemplate t, const QString& name, const QString& parentDir, qint64 port,
                                 const QString& database = QString())
    {
        auto call = std::make_shared<Call>();
        model->createWebsite(t, name, parentDir, port, database, [call](bool ok) {
            ++call->calls;
            call->result = ok;
        });
        return call;
    }

    QTemporaryDir dir;
    LoopbackHttpServer server;
    std::unique_ptr<AppModel> model;
    const QString php = BundledPhp::binary();
    QString parent;
    QStringList progress;
};

TEST_F(WebsiteCreationTest, RefusalsInOrderEachWithOneSynchronousCompletion)
{
    QDir().mkpath(parent + QStringLiteral("/taken-folder"));
    QFile(parent + QStringLiteral("/taken-file")).open(QIODevice::WriteOnly);
    QFile::link(parent + QStringLiteral("/nowhere"), parent + QStringLiteral("/taken-link"));
    struct Case {
        const char* label;
        WebsiteTemplate kind;
        QString name;
        QString parentDir;
        qint64 port;
        QString message;
    };
    const WebsiteTemplate wp = WebsiteTemplate::wordpress;
    const QString missing = dir.path() + QStringLiteral("/missing");
    // Sites holds the default website's folder; the name clash is checked in another folder.
    const QString elsewhere = dir.path() + QStringLiteral("/elsewhere");
    QDir().mkpath(elsewhere);
    const QList<Case> cases = {
        {"blank name", wp, "   ", parent, 8090, "Website name is required."},
        {"punctuation name", wp, "!!!", parent, 8090, "Website name is required."},
        {"name before parent and port", wp, " \n ", missing, 0, "Website name is required."},
        {"name on two lines", wp, "My\nSite", parent, 8090, "Website name must be a single line."},
        {"missing parent", wp, "My Site", missing, 8090, "Parent folder does not exist."},
        {"empty parent", wp, "My Site", "", 8090, "Parent folder does not exist."},
        {"parent before port", wp, "My Site", missing, 8081, "Parent folder does not exist."},
        {"existing folder", wp, "Taken Folder", parent, 8090, "Destination already exists: " + parent + "/taken-folder"},
        {"existing file", wp, "taken file", parent, 8090, "Destination already exists: " + parent + "/taken-file"},
        {"dangling link", wp, "Taken Link", parent, 8090, "Destination already exists: " + parent + "/taken-link"},
        {"destination before port", wp, "Taken Folder", parent, 0, "Destination already exists: " + parent + "/taken-folder"},
        {"port 0", wp, "My Site", parent, 0, "Website port must be between 1 and 65535."},
        {"port 65536", wp, "My Site", parent, 65536, "Website port must be between 1 and 65535."},
        {"negative port", wp, "My Site", parent, -8082, "Website port must be between 1 and 65535."},
        {"phpMyAdmin port", wp, "My Site", parent, 8081, "Port 8081 is reserved for shared phpAdmin."},
        {"port of a website", wp, "My Site", parent, 8080, "Port 8080 is already used by another website."},
        {"port before name clash", wp, "Default", elsewhere, 8080, "Port 8080 is already used by another website."},
        {"id of a website", wp, "  Default  ", elsewhere, 8090, "A website named Default already exists."},
        {"id of the shared phpMyAdmin", wp, " phpMyAdmin ", elsewhere, 8090, "Project already exists: phpMyAdmin"},
        {"phpmyadmin through the slug", wp, "PhpMyAdmin!!", elsewhere, 8090, "Project already exists: PhpMyAdmin!!"},
    };
    const AppConfig before = model->config();
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    const QByteArray savedBefore = readBytes(model->configURL());
    const QStringList sitesBefore = QDir(parent).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const Case& c : cases) {
        const auto call = create(c.kind, c.name, c.parentDir, c.port);
        EXPECT_EQ(call->calls, 1) << c.label; // synchronous, exactly once
        EXPECT_FALSE(call->result) << c.label;
        EXPECT_EQ(model->statusMessage(), c.message) << c.label;
        EXPECT_FALSE(model->isCreatingWebsite()) << c.label;
        EXPECT_TRUE(model->websiteCreationProgress().isEmpty()) << c.label;
    }
    EXPECT_EQ(model->config(), before);
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(readBytes(model->configURL()), savedBefore);
    EXPECT_EQ(QDir(parent).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), sitesBefore);
    EXPECT_EQ(server.requests().size(), 0);
}

TEST_F(WebsiteCreationTest, PHPMustBeSupported)
{
    for (const QList<PHPVersion>& versions :
         {QList<PHPVersion>{}, QList<PHPVersion>{PHPVersion{php, QStringLiteral("8.2.7"), false}}}) {
        model->setPhpVersions(versions);
        const auto call = create(WebsiteTemplate::laravel, QStringLiteral("My Site"), parent, 8090);
        EXPECT_EQ(call->calls, 1);
        EXPECT_EQ(model->statusMessage(), QStringLiteral("PHP 8.5+ is required to create a website."));
    }
}

TEST_F(WebsiteCreationTest, LaravelRefusesMySQLSettingsOnSeveralLines)
{
    model->modifyConfig([](AppConfig& c) { c.mysqlPassword = QStringLiteral("pass\nAPP_DEBUG=true"); });
    const auto call = create(WebsiteTemplate::laravel, QStringLiteral("My Site"), parent, 8090);
    EXPECT_EQ(call->calls, 1);
    EXPECT_FALSE(call->result);
    EXPECT_EQ(model->statusMessage(),
              QStringLiteral("The mySQL host, user and password must each be a single line for Laravel's .env file."));
    EXPECT_EQ(server.requests().size(), 0);
}

TEST_F(WebsiteCreationTest, RelativeParentIsReportedAbsolute)
{
    QDir().mkpath(parent + QStringLiteral("/my-site"));
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(parent);
    create(WebsiteTemplate::wordpress, QStringLiteral("My Site"), QStringLiteral("."), 8090);
    QDir::setCurrent(cwd);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Destination already exists: ") + parent + QStringLiteral("/my-site"));
}

TEST_F(WebsiteCreationTest, OneCreationAtATimeAndFailureCleansUp)
{
    LoopbackHttpServer::Reply slow{200, {{"Content-Type", "application/zip"}}, WebsiteFixtures::wordpressArchive()};
    slow.delayMs = 700;
    server.setReply("/latest.zip", slow);
    server.setReply("/secret-key/1.1/salt/", LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
    const AppConfig before = model->config();
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    const QByteArray savedBefore = readBytes(model->configURL());

    const auto first = create(WebsiteTemplate::wordpress, QStringLiteral("My Blog!"), parent, 8090);
    EXPECT_EQ(first->calls, 0);
    EXPECT_TRUE(model->isCreatingWebsite());
    EXPECT_EQ(model->websiteCreationProgress(), QStringLiteral("Preparing WordPress..."));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Preparing WordPress..."));

    const auto second = create(WebsiteTemplate::laravel, QStringLiteral("Other"), parent, 8091);
    EXPECT_EQ(second->calls, 1);
    EXPECT_FALSE(second->result);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Another website is currently being created."));
    EXPECT_TRUE(model->isCreatingWebsite());

    // The WordPress files go down, then the database step fails: nothing listens on the port.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return first->calls > 0; }, 60000));
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(first->calls, 1);
    EXPECT_FALSE(first->result);
    EXPECT_EQ(progress, (QStringList{"Preparing WordPress...", "Downloading WordPress...", "Installing WordPress files...",
                                     "Creating database my_blog...", ""}));
    EXPECT_FALSE(model->isCreatingWebsite());
    EXPECT_TRUE(model->websiteCreationProgress().isEmpty());
    EXPECT_FALSE(model->statusMessage().isEmpty());
    EXPECT_NE(model->statusMessage(), QStringLiteral("Creating database my_blog..."));
    EXPECT_TRUE(model->statusMessage().contains(QStringLiteral("my_blog"))) << model->statusMessage().toStdString();
    EXPECT_FALSE(QFileInfo::exists(parent + QStringLiteral("/my-blog")));
    EXPECT_TRUE(QDir(model->toolsURL()).entryList({QStringLiteral("WebsiteCreation-*")}, QDir::AllEntries).isEmpty());
    EXPECT_EQ(model->config(), before);
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(readBytes(model->configURL()), savedBefore);
    EXPECT_EQ(server.requestCount("/latest.zip"), 1); // the refused Laravel request downloaded nothing

    // The next request is accepted again.
    server.setReply("/latest.zip", LoopbackHttpServer::Reply::withStatus(404));
    const auto third = create(WebsiteTemplate::wordpress, QStringLiteral("My Blog!"), parent, 8090);
    EXPECT_TRUE(model->isCreatingWebsite());
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return third->calls > 0; }, 60000));
    EXPECT_TRUE(model->statusMessage().startsWith(QStringLiteral("Could not download WordPress: ")))
        << model->statusMessage().toStdString();
    EXPECT_FALSE(QFileInfo::exists(parent + QStringLiteral("/my-blog")));
}

TEST_F(WebsiteCreationTest, DestroyingTheModelMidCreationLeavesNothingBehind)
{
    LoopbackHttpServer::Reply slow{200, {}, WebsiteFixtures::wordpressArchive()};
    slow.delayMs = 500;
    server.setReply("/latest.zip", slow);
    const auto call = create(WebsiteTemplate::wordpress, QStringLiteral("Gone"), parent, 8090);
    const QString tools = model->toolsURL();
    model.reset(); // cancels the running step; the rest is abandoned
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return call->calls > 0; }, 10000));
    EXPECT_EQ(call->calls, 1);
    EXPECT_FALSE(call->result);
    EXPECT_FALSE(QFileInfo::exists(parent + QStringLiteral("/gone")));
    EXPECT_TRUE(QDir(tools).entryList({QStringLiteral("WebsiteCreation-*")}, QDir::AllEntries).isEmpty());
}

TEST_F(WebsiteCreationTest, DestroyingTheModelEndsAHungDownloadAtOnce)
{
    // The archive is held back far longer than the test may take.
    LoopbackHttpServer::Reply hung{200, {}, WebsiteFixtures::wordpressArchive()};
    hung.delayMs = 10 * 60 * 1000;
    server.setReply("/latest.zip", hung);
    const QString url = server.url(QStringLiteral("/latest.zip"));
    const auto call = create(WebsiteTemplate::wordpress, QStringLiteral("Stuck"), parent, 8090);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !ServerTestKit::processesMentioning(url).isEmpty(); }, 30000));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return server.requestCount("/latest.zip") == 1; }, 30000));

    const QString tools = model->toolsURL();
    QElapsedTimer clock;
    clock.start();
    model.reset();
    EXPECT_LT(clock.elapsed(), 30000); // no waiting for the download, held back for ten minutes

    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return call->calls > 0; }, 20000));
    EXPECT_EQ(call->calls, 1);
    EXPECT_FALSE(call->result);
    EXPECT_TRUE(ServerTestKit::processesMentioning(url).isEmpty()); // curl was killed, not left behind
    EXPECT_FALSE(QFileInfo::exists(parent + QStringLiteral("/stuck")));
    EXPECT_TRUE(QDir(tools).entryList({QStringLiteral("WebsiteCreation-*")}, QDir::AllEntries).isEmpty());
}

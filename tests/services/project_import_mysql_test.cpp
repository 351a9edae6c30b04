// An import creates its database in the private MariaDB server with the global credentials.
#include "services/ServerTestKit.h"
#include "support/MariaDbFixture.h"

using namespace ServerTestKit;
using TestEnvironment::waitUntil;

namespace {

class ProjectImportDatabase : public ServerTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MariaDbFixture::available()) << "the MariaDB fixture is not running";
        MariaDbFixture::resetRootPassword();
        ServerTest::SetUp();
        model->modifyConfig([](AppConfig& c) {
            c.mysqlHost = "127.0.0.1";
            c.mysqlPort = MariaDbFixture::port();
            c.mysqlUser = "root";
            c.mysqlPassword = "";
        });
    }

    bool waitForJob(const QString& database)
    {
        return waitUntil([&] {
            return model->statusMessage().startsWith("Website imported, but ")
                || (MariaDbFixture::databases().contains(database) && model->statusMessage().contains(database));
        }, 20000);
    }
};

} // namespace

TEST_F(ProjectImportDatabase, ValidImportCreatesItsDatabaseWithTheGlobalCredentials)
{
    MariaDbFixture::dropDatabase("fixture-shop");
    const QString site = makeSite(path("shop"));
    // The project's own user and password are not what creates the database.
    ASSERT_TRUE(model->addProject("Fixture Shop", site, 9400, "", "nobody", "not-the-password"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Website imported. Database fixture-shop is ready in shared phpAdmin."));
    ASSERT_TRUE(waitForJob("fixture-shop")) << model->statusMessage().toStdString();
    EXPECT_TRUE(MariaDbFixture::databases().contains("fixture-shop"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Website imported. Database fixture-shop is ready in shared phpAdmin."));
    EXPECT_EQ(model->config().projects.last().id, QStringLiteral("fixture-shop"));
    MariaDbFixture::dropDatabase("fixture-shop");
}

TEST_F(ProjectImportDatabase, FailedCreationIsReportedAndTheProjectStays)
{
    MariaDbFixture::dropDatabase("refused_db");
    model->modifyConfig([](AppConfig& c) { c.mysqlPassword = "wrong-password"; });
    const QString site = makeSite(path("refused"));
    ASSERT_TRUE(model->addProject("Refused", site, 9401, "refused_db", "root", ""));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage().startsWith("Website imported, but "); }, 20000))
        << model->statusMessage().toStdString();
    EXPECT_TRUE(model->statusMessage().contains("refused_db")) << model->statusMessage().toStdString();
    EXPECT_FALSE(MariaDbFixture::databases().contains("refused_db"));
    EXPECT_EQ(model->config().projects.last().id, QStringLiteral("refused"));
    EXPECT_EQ(model->config().projects.last().databasePassword, QStringLiteral("wrong-password"));
}

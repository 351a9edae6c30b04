#include "app/AppModel.h"
#include "support/MariaDbFixture.h"
#include "support/TestEnvironment.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

MySQLSettings fixtureRoot()
{
    return {QStringLiteral("127.0.0.1"), MariaDbFixture::port(), QStringLiteral("root"), QString()};
}

} // namespace

class DatabaseCreation : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MariaDbFixture::available()) << "the MariaDB fixture is not running";
        MariaDbFixture::resetRootPassword();
    }
    QTemporaryDir dir;
};

TEST_F(DatabaseCreation, NamesAreQuotedByBackquoteDoubling)
{
    auto t = TestEnvironment::makePlatform(dir.path());
    AppModel model(t.platform);
    const QStringList names = {QStringLiteral("shop"), QStringLiteral("we`ird"), QStringLiteral("with space"),
                               QStringLiteral("x`; DROP DATABASE mysql; --")};
    for (const QString& name : names) {
        MariaDbFixture::dropDatabase(name);
        EXPECT_EQ(model.createDatabase(name, fixtureRoot()), std::nullopt) << name.toStdString();
        EXPECT_TRUE(MariaDbFixture::databases().contains(name)) << name.toStdString();
        // IF NOT EXISTS: a second run succeeds too.
        EXPECT_EQ(model.createDatabase(name, fixtureRoot()), std::nullopt);
        MariaDbFixture::dropDatabase(name);
    }
    EXPECT_TRUE(MariaDbFixture::databases().contains(QStringLiteral("mysql")));
}

TEST_F(DatabaseCreation, FailuresReturnTheirText)
{
    auto t = TestEnvironment::makePlatform(dir.path());
    AppModel model(t.platform);

    const QString tooLong(65, QLatin1Char('a'));
    const std::optional<StatusText> error = model.createDatabase(tooLong, fixtureRoot());
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->text.startsWith(QStringLiteral("database ") + tooLong + QStringLiteral(" could not be created: ")))
        << error->text.toStdString();
    EXPECT_TRUE(error->text.contains(QStringLiteral("Incorrect database name"))) << error->text.toStdString();
    EXPECT_FALSE(MariaDbFixture::databases().contains(tooLong));

    const QString longest(64, QLatin1Char('b'));
    EXPECT_EQ(model.createDatabase(longest, fixtureRoot()), std::nullopt);
    EXPECT_TRUE(MariaDbFixture::databases().contains(longest));
    MariaDbFixture::dropDatabase(longest);

    MySQLSettings wrong = fixtureRoot();
    wrong.password = QStringLiteral("not-the-password");
    const std::optional<StatusText> denied = model.createDatabase(QStringLiteral("denied_db"), wrong);
    ASSERT_TRUE(denied.has_value());
    EXPECT_TRUE(denied->text.contains(QStringLiteral("Access denied"))) << denied->text.toStdString();
}

TEST_F(DatabaseCreation, MissingClientIsReported)
{
    auto t = TestEnvironment::makePlatform(dir.path());
    t.platform.tools.mysql = {dir.path() + QStringLiteral("/nowhere/mysql")};
    t.platform.tools.which = QStringLiteral("/bin/false");
    AppModel model(t.platform);
    EXPECT_EQ(model.createDatabase(QStringLiteral("shop"), fixtureRoot()),
              StatusText(QStringLiteral("mysql client was not found, so database shop could not be created.")));
}

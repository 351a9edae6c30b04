// Where the account service is: the address the build was configured with, unless the
// environment variable KOVANI_ACCOUNT_API_URL names another when the program starts.
#include "account/AccountTestKit.h"
#include "platform/Platform.h"

using namespace AccountTestKit;

TEST(AccountServiceAddress, TheBuildsOwnUnlessTheEnvironmentNamesAnother)
{
    struct Case {
        const char* what;
        std::optional<QByteArray> variable;
        QString expected;
    };
    const Case cases[] = {
        {"not set", std::nullopt, QStringLiteral(KOVANI_TEST_ACCOUNT_API_URL)},
        {"empty", QByteArray(), QStringLiteral(KOVANI_TEST_ACCOUNT_API_URL)},
        {"another service", QByteArray("https://accounts.example.test:8443/api"), QStringLiteral("https://accounts.example.test:8443/api")},
    };
    for (const Case& c : cases) {
        TestEnvironment::ScopedEnvironment environment;
        environment.set("KOVANI_ACCOUNT_API_URL", c.variable);
        EXPECT_EQ(Platform().accountApiBaseURL, c.expected) << c.what;
    }
}

TEST(AccountServiceAddress, TheServiceTheEnvironmentNamesIsTheOneSignedInTo)
{
    World w;
    {
        // The application's own platform, read with the variable set: its address is the stand-in's.
        TestEnvironment::ScopedEnvironment environment;
        environment.set("KOVANI_ACCOUNT_API_URL", w.service.baseURL().toUtf8());
        w.t.platform.accountApiBaseURL = Platform().accountApiBaseURL;
    }
    AppModel& model = w.start();
    model.login("Ada", "ada@example.test", kStrongPassword, "register");
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return w.statuses.contains("Account created."); }, 20000))
        << w.statuses.join(" | ").toStdString();
    EXPECT_EQ(w.service.requestsTo("/api/auth/register").size(), 1);
    EXPECT_TRUE(w.service.hasUser("ada@example.test"));
}

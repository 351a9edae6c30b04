// Without a Secret Service the account still works for this run, says that the keychain failed,
// and writes the token to no other file than the settings.
#include "account/AccountTestKit.h"
#include "support/KeyringSession.h"

#include <QDirIterator>

using namespace AccountTestKit;

TEST(AccountWithoutKeyring, SignInReportsTheKeychainAndKeepsNoFallbackFile)
{
    ASSERT_FALSE(KeyringSession::active());
    World w;
    AppModel& model = w.start();
    model.login("Ada", "ada@example.test", kStrongPassword, "register");
    ASSERT_TRUE(TestEnvironment::waitUntil([&] {
        return model.statusMessage().startsWith("Could not save the session token in the keychain: ");
    }, 20000)) << w.statuses.join(" | ").toStdString();
    EXPECT_TRUE(w.statuses.contains("Account created."));
    ASSERT_TRUE(model.config().user);
    const QByteArray token = model.config().user->apiToken.toUtf8();
    ASSERT_FALSE(token.isEmpty());

    // The token is in config.json and nowhere else under the home or the test's folders.
    QStringList holders;
    for (const QString& root : {TestEnvironment::home(), w.dir.path()}) {
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (f.size() < 10'000'000 && f.open(QIODevice::ReadOnly) && f.readAll().contains(token))
                holders << f.fileName();
        }
    }
    EXPECT_EQ(holders, QStringList{model.configURL()});
}

TEST(AccountWithoutKeyring, RestoreAndLogoutSayTheKeychainCannotBeReached)
{
    World w;
    AppModel& model = w.start();
    const UserProfile kept = profile("Ada", "ada@example.test", "email", "", "tok");
    w.setUser(kept);
    model.restoreSessionFromSecureToken();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] {
        return model.statusMessage().startsWith("Could not read the session token from the keychain: ");
    }, 20000));
    EXPECT_EQ(model.config().user, kept);
    EXPECT_TRUE(w.service.server().requests().isEmpty());

    model.logout();
    EXPECT_EQ(model.statusMessage(), "Signed out.");
    ASSERT_TRUE(TestEnvironment::waitUntil([&] {
        return model.statusMessage().startsWith("Could not remove the session token from the keychain: ");
    }, 20000));
    EXPECT_FALSE(model.config().user);
}

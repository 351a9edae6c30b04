// Profile update, password change and set-up, and the reset e-mail, against the stand-in.
#include "account/AccountTestKit.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace AccountTestKit;
using Reply = LoopbackHttpServer::Reply;

namespace {

QJsonObject bodyOf(const LoopbackHttpServer::Request& r)
{
    return QJsonDocument::fromJson(r.body).object();
}

struct SignedIn : World {
    QString token;
    SignedIn(const QString& provider, const QString& hash)
    {
        token = service.addUser("Ada Lovelace", "ada@example.test", kStrongPassword);
        start();
        setUser(profile("Ada Lovelace", "ada@example.test", provider, hash, token));
    }
};

} // namespace

TEST(ProfileUpdate, SendsTheNameAsTypedAndRebuildsTheProfile)
{
    SignedIn w("google", AppModel::hash("x"));
    w.model->updateUser("  ada king ", "ignored@example.test");
    EXPECT_EQ(w.model->statusMessage(), "Ready"); // no progress text
    ASSERT_TRUE(w.waitForStatus("Profile updated."));
    const auto sent = w.service.requestsTo("/api/me");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].method, "PUT");
    EXPECT_EQ(sent[0].body, "{\"name\":\"  ada king \"}");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer " + w.token.toUtf8());
    const UserProfile expected{"  ada king ", "ada@example.test", "AK", "", "google", w.token};
    EXPECT_EQ(w.model->config().user, expected);
    EXPECT_EQ(w.configFile()->user, expected);
    EXPECT_EQ(storedToken(), w.token);
}

TEST(ProfileUpdate, FailuresAndNobodySignedIn)
{
    SignedIn w("email", AppModel::hash(kStrongPassword));
    const UserProfile before = *w.model->config().user;
    w.service.script("/api/me", Reply::json("{\"message\":\"The name field is required.\"}", 422));
    w.model->updateUser("", "");
    ASSERT_TRUE(w.waitForStatus("Profile API error: The name field is required."));
    EXPECT_EQ(w.model->config().user, before);

    w.model->modifyConfig([](AppConfig& c) { c.user.reset(); });
    w.service.server().clearRequests();
    w.model->setStatusMessage("Ready");
    w.model->updateUser("Ada", "ada@example.test");
    w.model->changePassword("a", "bbbbbb");
    World::settle();
    EXPECT_EQ(w.model->statusMessage(), "Ready");
    EXPECT_TRUE(w.service.server().requests().isEmpty());
}

TEST(ProfileUpdate, AReplyWithoutATokenLeavesLaterCallsWithoutAuthorization)
{
    SignedIn w("email", "");
    w.service.script("/api/me", Reply::json("{\"user\":{\"name\":\"Ada\",\"email\":\"ada@example.test\"}}"));
    w.model->updateUser("Ada", "");
    ASSERT_TRUE(w.waitForStatus("Profile updated."));
    EXPECT_EQ(w.model->config().user->apiToken, "");
    EXPECT_EQ(storedToken(), std::nullopt); // nothing was written (none stored before)
    w.model->changePassword("anything", "newpass");
    ASSERT_TRUE(w.waitForStatus("Password API error: Unauthenticated."));
    EXPECT_TRUE(w.service.requestsTo("/api/me/change-password")[0].header("Authorization").isEmpty());
}

TEST(PasswordChange, LocalChecks)
{
    struct Case {
        const char* name;
        QString provider, storedHash, current, next, status;
    };
    const QString h = AppModel::hash(kStrongPassword);
    const QList<Case> cases{
        {"empty current first", "email", h, "", "abc", "Current password is required."},
        {"wrong current", "email", h, "nope", "abcdef", "Current password is incorrect."},
        {"google with hash is change mode", "google", h, "", "abcdef", "Current password is required."},
        {"too short", "email", h, kStrongPassword, "abcde", "Password must be at least 6 characters."},
        {"clusters are counted", "email", h, kStrongPassword, "e\u0301e\u0301e\u0301e\u0301e\u0301", "Password must be at least 6 characters."},
        {"set-up also needs six", "google", "", "", "12345", "Password must be at least 6 characters."},
    };
    for (const Case& c : cases) {
        SignedIn w(c.provider, c.storedHash);
        w.model->changePassword(c.current, c.next);
        EXPECT_EQ(w.model->statusMessage(), c.status) << c.name;
        World::settle();
        EXPECT_TRUE(w.service.requestsTo("/api/me/change-password").isEmpty()) << c.name;
    }
}

TEST(PasswordChange, SetUpThenChange)
{
    SignedIn w("google", "");
    w.model->changePassword("typed but ignored", "new pw");
    ASSERT_TRUE(w.waitForStatus("Password set up."));
    auto sent = w.service.requestsTo("/api/me/change-password");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].body, "{\"password\":\"new pw\"}");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer " + w.token.toUtf8());
    EXPECT_EQ(w.model->config().user->passwordHash, AppModel::hash("new pw"));
    EXPECT_EQ(w.model->config().user->provider, "email");
    EXPECT_EQ(w.configFile()->user, w.model->config().user);
    EXPECT_EQ(w.service.passwordOf("ada@example.test"), "new pw");

    // Now in change mode: the current password is needed and checked here.
    w.model->changePassword("", "another");
    EXPECT_EQ(w.model->statusMessage(), "Current password is required.");
    w.model->changePassword("new pw", "another");
    ASSERT_TRUE(w.waitForStatus("Password changed."));
    sent = w.service.requestsTo("/api/me/change-password");
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(bodyOf(sent[1]), (QJsonObject{{"current_password", "new pw"}, {"password", "another"}}));
    EXPECT_EQ(w.model->config().user->passwordHash, AppModel::hash("another"));
}

TEST(PasswordChange, WithoutAStoredHashTheServiceChecks)
{
    SignedIn w("email", "");
    w.model->changePassword("not it", "abcdef");
    ASSERT_TRUE(w.waitForStatus("Password API error: The current password is incorrect."));
    EXPECT_EQ(w.model->config().user->passwordHash, "");
    w.model->changePassword(kStrongPassword, "abcdef");
    ASSERT_TRUE(w.waitForStatus("Password changed."));
    EXPECT_EQ(w.model->config().user->passwordHash, AppModel::hash("abcdef"));
}

TEST(PasswordChange, ALateReplyAfterLogoutChangesNothing)
{
    SignedIn w("email", AppModel::hash(kStrongPassword));
    Reply slow = Reply::json("{\"message\":\"ok\"}");
    slow.delayMs = 600;
    w.service.script("/api/me/change-password", slow);
    w.model->changePassword(kStrongPassword, "abcdef");
    w.model->logout();
    World::settle();
    EXPECT_FALSE(w.model->config().user);
    EXPECT_EQ(w.model->statusMessage(), "Signed out.");
}

TEST(PasswordReset, TrimsChecksAndShowsTheServiceMessage)
{
    World w;
    AppModel& model = w.start();
    model.sendPasswordReset(" \n ada@example.test\t\n");
    EXPECT_EQ(model.statusMessage(), "Sending password reset email...");
    ASSERT_TRUE(w.waitForStatus(AccountServiceStandIn::resetMessage()));
    const auto sent = w.service.requestsTo("/api/password/email");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(bodyOf(sent[0]), (QJsonObject{{"email", "ada@example.test"}, {"app_id", APIClient::bundleIdentifier()}}));
    EXPECT_TRUE(sent[0].header("Authorization").isEmpty());

    for (const QString bad : {QString("ada@example"), QString("ada@example.c"), QString("")}) {
        model.sendPasswordReset(bad);
        EXPECT_EQ(model.statusMessage(), "Enter a valid email before requesting password reset.");
    }
    World::settle();
    EXPECT_EQ(w.service.requestsTo("/api/password/email").size(), 1);

    w.service.script("/api/password/email", Reply::withStatus(500));
    model.sendPasswordReset("ada@example.test");
    ASSERT_TRUE(w.waitForStatus("Password reset API error: HTTP 500 Internal Server Error"));
    EXPECT_FALSE(model.config().user);
}

// Registration, login, the stored session, its restore and sign-out, against the account
// service stand-in and a real Secret Service.
#include "account/AccountTestKit.h"
#include "account/GoogleSignOut.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace AccountTestKit;
using Reply = LoopbackHttpServer::Reply;

namespace {

QJsonObject bodyOf(const LoopbackHttpServer::Request& r)
{
    return QJsonDocument::fromJson(r.body).object();
}

// Counts calls of the Google sign-out while alive.
struct GoogleSignOutSpy {
    int calls = 0;
    GoogleSignOut::Hook previous = GoogleSignOut::installed();
    GoogleSignOutSpy() { GoogleSignOut::install([this] { ++calls; }); }
    ~GoogleSignOutSpy() { GoogleSignOut::install(previous); }
};

} // namespace

TEST(AccountSession, RegisterStoresTheProfileTheHashAndTheKeychainToken)
{
    World w;
    AppModel& model = w.start();
    // What config.json held each time the settings were published: a save happens between two
    // publications.
    QList<std::optional<AppConfig>> onDisk;
    QObject::connect(&model, &AppModel::configChanged, &model, [&] { onDisk << w.configFile(); });

    model.login("  Ada Lovelace \n", "  Ada@Example.test ", kStrongPassword, "register");
    EXPECT_EQ(model.statusMessage(), "Creating account...");
    ASSERT_TRUE(w.waitForStatus("Account created.")) << w.statuses.join(" | ").toStdString();

    const auto sent = w.service.requestsTo("/api/auth/register");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(bodyOf(sent[0]), (QJsonObject{{"name", "Ada Lovelace"}, {"email", "Ada@Example.test"},
                                            {"password", kStrongPassword}, {"device_id", model.deviceId()},
                                            {"platform", "macos"}, {"app_id", APIClient::bundleIdentifier()}}));
    EXPECT_TRUE(sent[0].header("Authorization").isEmpty());

    ASSERT_TRUE(model.config().user);
    const UserProfile user = *model.config().user;
    EXPECT_EQ(user.name, "Ada Lovelace");
    EXPECT_EQ(user.email, "Ada@Example.test");
    EXPECT_EQ(user.avatarInitials, "AL");
    EXPECT_EQ(user.provider, "email");
    EXPECT_EQ(user.passwordHash, AppModel::hash(kStrongPassword));
    EXPECT_TRUE(w.service.isTokenValid(user.apiToken));
    EXPECT_EQ(storedToken(), user.apiToken);

    // First the profile without the hash was saved, then the hash.
    ASSERT_EQ(onDisk.size(), 2);
    ASSERT_TRUE(onDisk[1] && onDisk[1]->user);
    EXPECT_EQ(onDisk[1]->user->passwordHash, "");
    EXPECT_EQ(onDisk[1]->user->apiToken, user.apiToken);
    EXPECT_EQ(w.configFile()->user, user);
    // It holds the token: owner-only.
    EXPECT_EQ(QFile(model.configURL()).permissions() & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser),
              QFileDevice::Permissions());
    // The shared phpMyAdmin was asked to start once a user was stored.
    EXPECT_TRUE(w.statuses.contains("No supported PHP 8.5+ runtime found.")) << w.statuses.join(" | ").toStdString();
    EXPECT_EQ(w.statuses.last(), "Account created.");
}

TEST(AccountSession, LoginSendsNoNameAndSignsIn)
{
    World w;
    w.service.addUser("Grace Hopper", "grace@example.test", kStrongPassword);
    AppModel& model = w.start();
    model.login("ignored name", "grace@example.test", kStrongPassword, "login");
    EXPECT_EQ(model.statusMessage(), "Signing in...");
    ASSERT_TRUE(w.waitForStatus("Signed in."));
    const auto sent = w.service.requestsTo("/api/auth/login");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_FALSE(bodyOf(sent[0]).contains("name"));
    EXPECT_EQ(model.config().user->name, "Grace Hopper");
    EXPECT_EQ(model.config().user->avatarInitials, "GH");
    EXPECT_EQ(storedToken(), model.config().user->apiToken);
}

TEST(AccountSession, LocalChecksSendNothing)
{
    struct Case {
        QString name, email, password, mode, status;
    };
    const QList<Case> cases{
        {"Ada", "ada@example", kStrongPassword, "register", "Email is not valid."},
        {"Ada", "ada@example.c", kStrongPassword, "login", "Email is not valid."},
        {"   ", "ada@example.test", "short", "register", "Full name is required."},
        {"", "ada@example.test", "Abcdefgh1!x", "register", "Full name is required."},
        {"Ada", "ada@example.test", "Abcdefgh1!x", "register", "Password must be at least 12 characters."},
        {"", "ada@example.test", "abcdefgh1!xy", "login", "Password must include an uppercase letter."},
        {"", "ada@example.test", "Abcdefgh1!xy ", "Register", "Password must not contain spaces."},
    };
    World w;
    AppModel& model = w.start();
    for (const Case& c : cases) {
        model.login(c.name, c.email, c.password, c.mode);
        EXPECT_EQ(model.statusMessage(), c.status) << c.email.toStdString() << " " << c.password.toStdString();
    }
    World::settle();
    EXPECT_TRUE(w.service.server().requests().isEmpty());
    EXPECT_FALSE(model.config().user);
}

TEST(AccountSession, AFailedLoginChangesNothing)
{
    World w;
    w.service.addUser("Grace", "grace@example.test", kStrongPassword);
    AppModel& model = w.start();
    storeToken("earlier-token");
    const UserProfile before = profile("Old", "old@example.test", "email", "", "earlier-token");
    w.setUser(before);
    model.login("", "grace@example.test", "Wrong-Horse-99", "login");
    ASSERT_TRUE(w.waitForStatus("API error: These credentials do not match our records."));
    EXPECT_EQ(model.config().user, before);
    EXPECT_EQ(w.configFile()->user, before);
    EXPECT_EQ(storedToken(), "earlier-token");
}

TEST(AccountSession, WhichTokenIsStored)
{
    struct Case {
        const char* name;
        QByteArray reply;
        QString profileToken;
        std::optional<QString> keychain;
    };
    const QByteArray user = "\"user\":{\"name\":\"Ada\",\"email\":\"ada@example.test\"}";
    const QList<Case> cases{
        {"access token first", "{\"access_token\":\"A\",\"token\":\"B\"," + user + "}", "A", QString("A")},
        {"token when no access token", "{\"token\":\"B\"," + user + "}", "B", QString("B")},
        {"empty access token wins and keeps the old item", "{\"access_token\":\"\",\"token\":\"B\"," + user + "}", "", QString("old")},
        {"no token keeps the old item", "{" + user + "}", "", QString("old")},
    };
    for (const Case& c : cases) {
        World w;
        AppModel& model = w.start();
        storeToken("old");
        w.service.script("/api/auth/login", Reply::json(c.reply));
        model.login("", "ada@example.test", kStrongPassword, "login");
        ASSERT_TRUE(w.waitForStatus("Signed in.")) << c.name;
        EXPECT_EQ(model.config().user->apiToken, c.profileToken) << c.name;
        EXPECT_EQ(storedToken(), c.keychain) << c.name;
    }
}

TEST(AccountSession, RestoreWithAValidToken)
{
    struct Case {
        const char* name;
        std::optional<UserProfile> stored;
        QString provider;
        QString hash;
    };
    const QList<Case> cases{
        {"no stored profile", std::nullopt, "email", ""},
        {"stored Google profile keeps provider and hash",
         profile("Old Name", "old@example.test", "google", AppModel::hash("x"), "stale"), "google", AppModel::hash("x")},
    };
    for (const Case& c : cases) {
        World w;
        const QString token = w.service.addUser("Ada Lovelace", "ada@example.test", kStrongPassword);
        AppModel& model = w.start();
        if (c.stored)
            w.setUser(*c.stored);
        storeToken(token);
        model.restoreSessionFromSecureToken();
        ASSERT_TRUE(w.waitForStatus("Session restored.")) << c.name << ": " << w.statuses.join(" | ").toStdString();
        const auto sent = w.service.requestsTo("/api/me");
        ASSERT_EQ(sent.size(), 1);
        EXPECT_EQ(sent[0].path, "/api/me");
        EXPECT_EQ(sent[0].header("Authorization"), "Bearer " + token.toUtf8());
        const UserProfile expected{"Ada Lovelace", "ada@example.test", "AL", c.hash, c.provider, token};
        EXPECT_EQ(model.config().user, expected) << c.name;
        EXPECT_EQ(w.configFile()->user, expected) << c.name;
        EXPECT_EQ(storedToken(), token);
    }
}

TEST(AccountSession, ARestoreThatFailsSignsOutAndDeletesTheItem)
{
    struct Case {
        const char* name;
        bool reachable;
        Reply reply;
    };
    const QList<Case> cases{
        {"token refused", true, Reply::json("{\"message\":\"Unauthenticated.\"}", 401)},
        {"reply does not decode", true, Reply::json("{\"user\":42}")},
        {"no network", false, Reply()},
    };
    for (const Case& c : cases) {
        World w;
        if (c.reachable) {
            w.service.script("/api/me", c.reply);
        } else {
            LoopbackHttpServer gone(LoopbackHttpServer::Mode::https);
            w.t.platform.accountApiBaseURL = gone.baseURL() + "/api";
        }
        AppModel& model = w.start();
        w.setUser(profile("Ada", "ada@example.test", "email", "", "tok"));
        storeToken("tok");
        model.restoreSessionFromSecureToken();
        ASSERT_TRUE(w.waitForStatus("Session expired. Please login again.")) << c.name;
        EXPECT_FALSE(model.config().user) << c.name;
        EXPECT_FALSE(w.configFile()->user) << c.name;
        EXPECT_EQ(keychain().status, Keychain::Status::notFound) << c.name;
    }
}

TEST(AccountSession, NoStoredTokenMeansNoRestore)
{
    World w;
    AppModel& model = w.start();
    const UserProfile kept = profile("Ada", "ada@example.test", "email", "", "tok");
    w.setUser(kept);
    model.restoreSessionFromSecureToken();
    World::settle();
    EXPECT_TRUE(w.service.server().requests().isEmpty());
    EXPECT_EQ(model.config().user, kept);
    EXPECT_EQ(model.statusMessage(), "Ready");
}

TEST(AccountSession, TheDeferredStartUpRestoresTheSession)
{
    World w;
    const QString token = w.service.addUser("Ada Lovelace", "ada@example.test", kStrongPassword);
    storeToken(token);
    w.t.platform.runDeferredStartup = true;
    AppModel& model = w.start();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return w.statuses.contains("Session restored."); }, 20000))
        << w.statuses.join(" | ").toStdString();
    EXPECT_EQ(model.config().user->name, "Ada Lovelace");
}

TEST(AccountSession, RepliesAfterALogoutChangeNothing)
{
    struct Case {
        const char* name;
        std::function<void(World&)> start;
    };
    const QList<Case> cases{
        {"login", [](World& w) { w.model->login("", "grace@example.test", kStrongPassword, "login"); }},
        {"restore", [](World& w) {
             w.setUser(profile("Grace", "grace@example.test", "email", "", "tok"));
             storeToken(w.service.addUser("Grace", "grace2@example.test", kStrongPassword));
             w.model->restoreSessionFromSecureToken();
         }},
    };
    for (const Case& c : cases) {
        World w;
        w.service.addUser("Grace", "grace@example.test", kStrongPassword);
        Reply slowLogin = Reply::json("{\"access_token\":\"late\",\"user\":{\"name\":\"Grace\",\"email\":\"grace@example.test\"}}");
        slowLogin.delayMs = 700;
        w.service.script("/api/auth/login", slowLogin);
        Reply slowMe = Reply::json("{\"user\":{\"name\":\"Grace\",\"email\":\"grace@example.test\"}}");
        slowMe.delayMs = 700;
        w.service.script("/api/me", slowMe);
        AppModel& model = w.start();
        c.start(w);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return w.service.server().requests().size() == 1; }, 10000)) << c.name;
        model.logout();
        EXPECT_EQ(model.statusMessage(), "Signed out.");
        World::settle();
        EXPECT_FALSE(model.config().user) << c.name;
        EXPECT_FALSE(w.configFile()->user) << c.name;
        EXPECT_EQ(model.statusMessage(), "Signed out.") << c.name;
        EXPECT_EQ(keychain().status, Keychain::Status::notFound) << c.name;
    }
}

TEST(AccountSession, ALateRestoreReplyLeavesTheNewerSession)
{
    struct Case {
        const char* name;
        Reply me;
    };
    const QList<Case> cases{
        {"failure", Reply::json("{\"message\":\"Unauthenticated.\"}", 401)},
        {"success", Reply::json("{\"user\":{\"name\":\"Old\",\"email\":\"old@example.test\"}}")},
    };
    for (Case c : cases) {
        World w;
        const QString oldToken = w.service.addUser("Old", "old@example.test", kStrongPassword);
        w.service.addUser("Grace", "grace@example.test", kStrongPassword);
        c.me.delayMs = 1500;
        w.service.script("/api/me", c.me);
        AppModel& model = w.start();
        storeToken(oldToken);
        model.restoreSessionFromSecureToken();
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !w.service.requestsTo("/api/me").isEmpty(); }, 10000)) << c.name;
        // The user signs in again while the restore is still waiting for its answer.
        model.login("", "grace@example.test", kStrongPassword, "login");
        ASSERT_TRUE(w.waitForStatus("Signed in.")) << c.name << ": " << w.statuses.join(" | ").toStdString();
        ASSERT_TRUE(model.config().user);
        const QString newToken = model.config().user->apiToken;
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return storedToken() == newToken; }, 10000)) << c.name;
        World::settle(); // the restore's answer arrives meanwhile and is dropped
        ASSERT_TRUE(model.config().user) << c.name;
        EXPECT_EQ(model.config().user->name, "Grace") << c.name;
        EXPECT_EQ(w.configFile()->user->name, "Grace") << c.name;
        EXPECT_EQ(storedToken(), newToken) << c.name;
        EXPECT_EQ(model.statusMessage(), "Signed in.") << c.name;
        EXPECT_FALSE(w.statuses.contains("Session expired. Please login again.")) << c.name;
    }
}

TEST(AccountSession, TwoLoginsInOneSessionTheLaterReplyWins)
{
    World w;
    w.service.addUser("First", "first@example.test", kStrongPassword);
    w.service.addUser("Second", "second@example.test", kStrongPassword);
    AppModel& model = w.start();
    model.login("", "first@example.test", kStrongPassword, "login");
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return w.service.server().requests().size() == 1; }, 10000));
    World::settle();
    model.login("", "second@example.test", kStrongPassword, "login");
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return model.config().user && model.config().user->name == "Second"; }, 20000));
    EXPECT_EQ(model.statusMessage(), "Signed in.");
}

TEST(AccountSession, LogoutTellsTheServiceAndForgetsEverything)
{
    World w;
    GoogleSignOutSpy google;
    const QString token = w.service.addUser("Ada", "ada@example.test", kStrongPassword);
    AppModel& model = w.start();
    w.setUser(profile("Ada", "ada@example.test", "email", AppModel::hash(kStrongPassword), token));
    storeToken(token);
    const quint64 generation = model.signOutGeneration();
    model.logout();
    EXPECT_EQ(model.statusMessage(), "Signed out.");
    EXPECT_EQ(google.calls, 1);
    EXPECT_FALSE(model.config().user);
    EXPECT_FALSE(w.configFile()->user);
    EXPECT_EQ(model.signOutGeneration(), generation + 1);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !w.service.isTokenValid(token); }, 10000));
    const auto sent = w.service.requestsTo("/api/auth/logout");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].method, "POST");
    EXPECT_EQ(sent[0].body, "{}");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer " + token.toUtf8());
    EXPECT_EQ(keychain().status, Keychain::Status::notFound);
    World::settle();
    EXPECT_EQ(model.statusMessage(), "Signed out.");
}

TEST(AccountSession, LogoutWithoutATokenOrWithoutAUserSendsNothing)
{
    for (const bool withUser : {true, false}) {
        World w;
        GoogleSignOutSpy google;
        AppModel& model = w.start();
        if (withUser)
            w.setUser(profile("Ada", "ada@example.test", "google", "", ""));
        storeToken("left-over");
        model.logout();
        EXPECT_EQ(model.statusMessage(), "Signed out.");
        EXPECT_EQ(google.calls, 1);
        EXPECT_FALSE(model.config().user);
        EXPECT_FALSE(w.configFile()->user);
        EXPECT_EQ(keychain().status, Keychain::Status::notFound);
        World::settle();
        EXPECT_TRUE(w.service.server().requests().isEmpty()) << withUser;
    }
}

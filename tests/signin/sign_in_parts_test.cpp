// The small parts of the sign-in: the ID-token check of the application, redirect schemes,
// scopes, the callback queue, token equality and the provider's hosts.
#include "signin/GoogleTokenCheck.h"
#include "signin/SignInCallbackQueue.h"
#include "signin/SignInCallbackSchemes.h"
#include "signin/SignInPreferences.h"
#include "signin/SignInToken.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

QString segment(const QByteArray& json)
{
    return QString::fromLatin1(json.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString token(const QByteArray& payload)
{
    return segment(R"({"alg":"RS256"})") + "." + segment(payload) + ".c2ln";
}

} // namespace

TEST(GoogleTokenCheck, Table)
{
    const QDateTime now = QDateTime::fromSecsSinceEpoch(2000000000, QTimeZone::utc()).addMSecs(300);
    const QString aud = QStringLiteral("server.apps.example.com");
    using namespace GoogleTokenCheck;
    struct Case {
        const char* what;
        QString token;
        std::optional<QString> result;
    } cases[] = {
        {"valid", token(R"({"aud":"server.apps.example.com","exp":2000000600})"), std::nullopt},
        {"one segment", segment(R"({"aud":"server.apps.example.com"})"), kUnreadable},
        {"empty", QString(), kUnreadable},
        // Two dots side by side split into two pieces: the last segment is read as the payload.
        {"empty middle segment", segment(R"({"alg":"none"})") + ".." + segment(R"({"aud":"server.apps.example.com"})"), std::nullopt},
        {"empty middle, unreadable last", segment(R"({"alg":"none"})") + "..c2ln", kUnreadable},
        {"length 1 mod 4", QStringLiteral("aGVh.eyJhdWQiOiJzIn0xA.c2ln"), kUnreadable},
        {"not base64", QStringLiteral("aGVh.e*J!.c2ln"), kUnreadable},
        {"non-ASCII", QStringLiteral("aGVh.eyJ\u00e9.c2ln"), kUnreadable},
        {"not JSON", QStringLiteral("aGVh.") + segment("hello") + ".c2ln", kUnreadable},
        {"JSON array", token(R"(["aud"])"), kUnreadable},
        {"no aud", token(R"({"exp":2000000600})"), kAudienceMismatch},
        {"aud array", token(R"({"aud":["server.apps.example.com"],"exp":2000000600})"), kAudienceMismatch},
        {"other aud", token(R"({"aud":"client.apps.example.com","exp":2000000600})"), kAudienceMismatch},
        {"aud differs in case", token(R"({"aud":"Server.apps.example.com"})"), kAudienceMismatch},
        {"exp now", token(R"({"aud":"server.apps.example.com","exp":2000000000})"), kExpired},
        {"exp past", token(R"({"aud":"server.apps.example.com","exp":1999999999})"), kExpired},
        {"exp next second", token(R"({"aud":"server.apps.example.com","exp":2000000001})"), std::nullopt},
        {"exp text", token(R"({"aud":"server.apps.example.com","exp":"1"})"), std::nullopt},
        {"no exp", token(R"({"aud":"server.apps.example.com"})"), std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(failure(c.token, aud, now), c.result) << c.what;
}

TEST(SignInCallbackSchemes, ReversedLowerCasedSchemeAndRegistration)
{
    const SignInCallbackSchemes schemes(QStringLiteral("123-Abc.Apps.Example"));
    EXPECT_EQ(schemes.clientIdentifierScheme(), QStringLiteral("example.apps.123-abc"));
    const QVariantMap registered{
        {"CFBundleURLTypes",
         QVariantList{QVariantMap{{"CFBundleURLSchemes", QVariantList{"other", "EXAMPLE.Apps.123-ABC"}}}}}};
    EXPECT_EQ(SignInCallbackSchemes::relevantURLSchemes(registered), (QStringList{"other", "example.apps.123-abc"}));
    EXPECT_TRUE(schemes.unsupportedSchemes(registered).isEmpty());
    EXPECT_EQ(schemes.unsupportedSchemes({}), QStringList{"example.apps.123-abc"});
    const QVariantMap malformed{{"CFBundleURLTypes", QVariantList{QVariantMap{{"CFBundleURLSchemes", "example.apps.123-abc"}}}}};
    EXPECT_EQ(schemes.unsupportedSchemes(malformed), QStringList{"example.apps.123-abc"});
}

TEST(SignInScopes, BasicProfileIsAppendedUnlessPresent)
{
    using SignInScopes::scopesWithBasicProfile;
    EXPECT_EQ(scopesWithBasicProfile({}), (QStringList{"email", "profile"}));
    EXPECT_EQ(scopesWithBasicProfile({"profile"}), (QStringList{"profile", "email"}));
    EXPECT_EQ(scopesWithBasicProfile({"https://www.googleapis.com/auth/userinfo.email", "https://www.googleapis.com/auth/userinfo.profile"}),
              (QStringList{"https://www.googleapis.com/auth/userinfo.email", "https://www.googleapis.com/auth/userinfo.profile"}));
    EXPECT_EQ(scopesWithBasicProfile({"openid", "email"}), (QStringList{"openid", "email", "profile"}));
}

TEST(SignInCallbackQueue, WaitHoldsLaterCallbacksUntilNext)
{
    QStringList order;
    std::weak_ptr<SignInCallbackQueue> weak;
    {
        auto queue = std::make_shared<SignInCallbackQueue>();
        weak = queue;
        queue->addCallback([&]() { order << "a"; });
        queue->wait();
        queue->addCallback([&]() { order << "b"; });
        queue->addCallback([&, q = queue.get()]() {
            order << "c";
            q->wait();
            q->next(); // work that ends at once
        });
        queue->addCallback([&]() { order << "d"; });
        queue->addCallback({}); // ignored
        EXPECT_EQ(order, QStringList{"a"});
    }
    // The waiting queue keeps itself alive.
    auto queue = weak.lock();
    ASSERT_TRUE(queue);
    queue->next();
    queue->next(); // nothing pending: nothing happens
    EXPECT_EQ(order, (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(queue->pending(), 0u);
    queue.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(SignInToken, Equality)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(1000, QTimeZone::utc());
    const SignInToken a(QStringLiteral("x"), t);
    const SignInToken aAlmost(QStringLiteral("x"), t.addMSecs(400));
    const SignInToken noDate(QStringLiteral("x"), std::nullopt);
    const SignInToken otherText(QStringLiteral("y"), t);
    const SignInToken noText(std::nullopt, std::nullopt);
    EXPECT_TRUE(a.isEqualToToken(&aAlmost));
    EXPECT_FALSE(a.isEqualToToken(&noDate));
    EXPECT_FALSE(noDate.isEqualToToken(&a));
    EXPECT_FALSE(a.isEqualToToken(&otherText));
    EXPECT_FALSE(a.isEqualToToken(nullptr));
    EXPECT_TRUE(noText.isEqualToToken(&noText));
    EXPECT_FALSE(a.isEqualToToken(&noText));
}

TEST(SignInPreferences, HostsAndTheirOverrides)
{
    SignInPreferences defaults;
    EXPECT_EQ(defaults.authorizationEndpoint(), QUrl("https://accounts.google.com/o/oauth2/v2/auth"));
    EXPECT_EQ(defaults.tokenEndpoint(), QUrl("https://oauth2.googleapis.com/token"));
    EXPECT_EQ(defaults.userInfoEndpoint(), QUrl("https://www.googleapis.com/oauth2/v3/userinfo"));
    qputenv("KOVANI_GOOGLE_TOKEN_SERVER", "127.0.0.1:4443");
    qputenv("KOVANI_GOOGLE_USERINFO_SERVER", "evil.test/path?x");
    const SignInPreferences overridden = SignInPreferences::fromEnvironment();
    qunsetenv("KOVANI_GOOGLE_TOKEN_SERVER");
    qunsetenv("KOVANI_GOOGLE_USERINFO_SERVER");
    EXPECT_EQ(overridden.tokenEndpoint(), QUrl("https://127.0.0.1:4443/token"));
    EXPECT_EQ(overridden.googleUserInfoServer, QStringLiteral("www.googleapis.com")) << "not a host: ignored";
    EXPECT_EQ(overridden.googleAuthorizationServer, QStringLiteral("accounts.google.com"));
}

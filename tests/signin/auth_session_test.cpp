// The OAuth session record with its identity and archive, and the signed-in user's tokens.
#include "signin/AuthSession.h"
#include "signin/GoogleUser.h"
#include "signin/SignInFixtures.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace SignInFixtures;

TEST(AuthSession, IdentityComesFromTheIdTokenOfTheTokenResponseElseTheAuthorizationResponse)
{
    QJsonObject c = claims();
    c.insert("email_verified", "true");
    const AuthSession fromToken(state({{"access_token", "at"}, {"id_token", IdTokens::make(c)}}),
                                QStringLiteral("provider"), QStringLiteral("given-id"), QStringLiteral("given@x"), QStringLiteral("no"));
    EXPECT_EQ(fromToken.userID(), QStringLiteral("1234567890"));
    EXPECT_EQ(fromToken.userEmail(), QStringLiteral("ada@example.com"));
    EXPECT_EQ(fromToken.userEmailIsVerified(), QStringLiteral("true"));
    EXPECT_EQ(fromToken.serviceProvider(), QStringLiteral("provider"));

    QJsonObject other = claims();
    other.insert("sub", "from-authorization");
    auto s = std::make_shared<OAuthState>(authorization({{"code", "c"}, {"id_token", IdTokens::make(other)}}),
                                          token({{"access_token", "at"}}));
    EXPECT_EQ(AuthSession(s).userID(), QStringLiteral("from-authorization"));

    // A boolean "email_verified" is not a text; an unparsable token leaves the given values.
    QJsonObject boolean = claims();
    boolean.insert("email_verified", true);
    EXPECT_EQ(AuthSession(state({{"id_token", IdTokens::make(boolean)}}), std::nullopt, std::nullopt, std::nullopt,
                          QStringLiteral("given"))
                  .userEmailIsVerified(),
              QStringLiteral("given"));
    const AuthSession unparsable(state({{"access_token", "at"}, {"id_token", "not.a-token"}}));
    EXPECT_FALSE(unparsable.userID());
    EXPECT_FALSE(unparsable.userEmail());
    EXPECT_FALSE(unparsable.userEmailIsVerified());
}

TEST(AuthSession, ArchiveRecordsTheStoredClassNameAndNullIdentity)
{
    const AuthSession session(state({{"access_token", "at"}, {"id_token", "not.a-token"}}));
    KeyedArchiver archiver;
    archiver.setClassName(AuthSession::StoredClassName, AuthSession::ArchiveClassName);
    archiver.encodeRootObject(session);
    const QJsonObject root = QJsonDocument::fromJson(archiver.encodedData()).object()["$top"].toObject()["root"].toObject();
    EXPECT_EQ(root["$class"].toString(), QStringLiteral("OAuthFetcherAuthorization"));
    const QJsonObject fields = root["fields"].toObject();
    EXPECT_EQ(fields.keys(), (QStringList{"authState", "serviceProvider", "userEmail", "userEmailIsVerified", "userID"}));
    for (const char* key : {"serviceProvider", "userID", "userEmail", "userEmailIsVerified"})
        EXPECT_TRUE(fields[key].isNull()) << key;
    EXPECT_EQ(fields["authState"].toObject()["$class"].toString(), QStringLiteral("OAuthState"));

    KeyedUnarchiver reader(archiver.encodedData());
    reader.setClass(AuthSession::ArchiveClassName, AuthSession::StoredClassName);
    auto decoded = reader.decodeTopLevelObject<AuthSession>();
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->authState()->accessToken(), QStringLiteral("at"));
}

TEST(AuthSession, AnArchiveWithoutAuthStateDoesNotDecode)
{
    const QByteArray archive = R"({"$archiver":"Kovani.KeyedArchive","$version":1,"$top":{"root":)"
                               R"({"$type":"object","$class":"OAuthFetcherAuthorization","fields":{"userID":"x"}}}})";
    KeyedUnarchiver reader(archive);
    reader.setClass(AuthSession::ArchiveClassName, AuthSession::StoredClassName);
    EXPECT_FALSE(reader.decodeTopLevelObject<AuthSession>());
    EXPECT_TRUE(reader.failed());
}

TEST(GoogleUser, TokensFromTheStateAndTheirUpdates)
{
    const QString id = IdTokens::make(claims());
    auto s = state({{"access_token", "at1"}, {"expires_in", 3600}, {"refresh_token", "rt1"}, {"id_token", id},
                    {"refresh_token_expires_in", 7200}});
    auto user = GoogleUser::create(s, std::make_shared<const ProfileData>(QString("ada@example.com"), QString("Ada"),
                                                                          std::nullopt, std::nullopt, std::nullopt));
    ASSERT_TRUE(user->accessToken() && user->refreshToken() && user->idToken());
    EXPECT_EQ(user->accessToken()->tokenString(), QStringLiteral("at1"));
    EXPECT_TRUE(user->accessToken()->expirationDate());
    EXPECT_EQ(user->refreshToken()->tokenString(), QStringLiteral("rt1"));
    ASSERT_TRUE(user->refreshToken()->expirationDate());
    EXPECT_NEAR(QDateTime::currentDateTimeUtc().secsTo(*user->refreshToken()->expirationDate()), 7200, 5);
    EXPECT_EQ(user->idToken()->tokenString(), id);
    EXPECT_EQ(user->idToken()->expirationDate()->toSecsSinceEpoch(), claims()["exp"].toInteger());
    EXPECT_EQ(user->profile()->name(), QStringLiteral("Ada"));
    EXPECT_EQ(user->fetcherAuthorizer()->authState(), s);
    EXPECT_EQ(user->fetcherAuthorizer()->userEmail(), QStringLiteral("ada@example.com"));

    // The user follows the state: a token response without an ID token and with the expiry as a text.
    const auto before = user->accessToken();
    s->updateWithTokenResponse(token({{"access_token", "at2"}, {"refresh_token_expires_in", "7200"}}), std::nullopt);
    EXPECT_EQ(user->accessToken()->tokenString(), QStringLiteral("at2"));
    EXPECT_NE(user->accessToken(), before);
    EXPECT_EQ(user->refreshToken()->tokenString(), QStringLiteral("rt1")) << "the state keeps the refresh token";
    EXPECT_FALSE(user->refreshToken()->expirationDate());
    EXPECT_FALSE(user->idToken());
}

TEST(GoogleUser, NoIdTokenInTheResponseMeansNone)
{
    auto user = GoogleUser::create(state({{"access_token", "at"}}), nullptr);
    EXPECT_FALSE(user->idToken());
    EXPECT_FALSE(user->profile());
    EXPECT_FALSE(user->refreshToken()->tokenString());
}

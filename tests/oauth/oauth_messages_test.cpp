// The OAuth message records: generated values, the authorization URL, responses built from
// parameters, the token request's body and headers, and the decoded ID token.
#include "oauth/OAuthAuthorizationRequest.h"
#include "oauth/OAuthAuthorizationResponse.h"
#include "oauth/OAuthErrorUtilities.h"
#include "oauth/OAuthException.h"
#include "oauth/OAuthIDToken.h"
#include "oauth/OAuthTokenResponse.h"
#include "oauth/OAuthTokenUtilities.h"
#include "oauth/OAuthURLQueryComponent.h"
#include "support/IdTokens.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace {

const QUrl Redirect("com.example.app:/oauth2callback");

OAuthServiceConfigurationPtr configuration()
{
    return std::make_shared<const OAuthServiceConfiguration>(QUrl("https://auth.example/o/oauth2/v2/auth?keep=no"),
                                                             QUrl("https://token.example/token"));
}

OAuthAuthorizationRequestPtr generated(const std::optional<QMap<QString, QString>>& extra = std::nullopt)
{
    return OAuthAuthorizationRequest::create(configuration(), "client.apps", {"email", "profile"}, Redirect, "code", extra);
}

QJsonObject queryOf(const QUrl& url) { return OAuthURLQueryComponent(url).dictionaryValue(); }

TEST(OAuthAuthorizationRequest, GeneratesPkceStateAndNonce)
{
    const auto request = generated();
    ASSERT_TRUE(request);
    ASSERT_TRUE(request->codeVerifier() && request->state() && request->nonce());
    EXPECT_EQ(request->codeVerifier()->size(), 43);
    EXPECT_EQ(request->state()->size(), 43);
    EXPECT_EQ(request->nonce()->size(), 43);
    EXPECT_NE(*request->state(), *request->nonce());
    EXPECT_EQ(request->codeChallengeMethod(), "S256");
    EXPECT_EQ(request->codeChallenge(), OAuthTokenUtilities::encodeBase64urlNoPadding(
                                            OAuthTokenUtilities::sha256(*request->codeVerifier())));
    EXPECT_EQ(request->scope(), "email profile");
    EXPECT_EQ(request->redirectScheme(), "com.example.app");

    const auto withNonce = OAuthAuthorizationRequest::createWithNonce(configuration(), "c", {"openid"}, Redirect, "code",
                                                                      QString("n-1"), std::nullopt);
    EXPECT_EQ(withNonce->nonce(), "n-1");
    EXPECT_TRUE(withNonce->codeVerifier() && withNonce->state());
    const auto noNonce = OAuthAuthorizationRequest::createWithNonce(configuration(), "c", {"openid"}, Redirect, "code",
                                                                    std::nullopt, std::nullopt);
    EXPECT_FALSE(noNonce->nonce());
}

TEST(OAuthAuthorizationRequest, NoRequestWhenTheRandomSourceFails)
{
    // Fail the first, second or third draw: never a request missing one of the values.
    for (int failAt = 1; failAt <= 3; ++failAt) {
        int draws = 0;
        OAuthTokenUtilities::setRandomSourceForTesting([&](void* buffer, std::size_t size) {
            if (++draws == failAt)
                return false;
            memset(buffer, draws, size);
            return true;
        });
        DomainError error;
        EXPECT_FALSE(OAuthAuthorizationRequest::create(configuration(), "c", {"openid"}, Redirect, "code",
                                                       std::nullopt, &error))
            << failAt;
        EXPECT_EQ(error.domain, OAuthGeneralErrorDomain);
        EXPECT_EQ(error.code, OAuthErrorCodeSecureRandomFailed);
        if (failAt <= 2) {
            draws = 0;
            EXPECT_FALSE(OAuthAuthorizationRequest::createWithNonce(configuration(), "c", {"openid"}, Redirect, "code",
                                                                    QString("n"), std::nullopt));
        }
    }
    OAuthTokenUtilities::setRandomSourceForTesting({});
}

TEST(OAuthAuthorizationRequest, ResponseTypes)
{
    for (const char* ok : {"code", "code id_token", "id_token code"})
        EXPECT_TRUE(OAuthAuthorizationRequest::isSupportedResponseType(ok)) << ok;
    for (const char* bad : {"token", "id_token", "code  id_token", " code", "Code", "code token", ""}) {
        EXPECT_FALSE(OAuthAuthorizationRequest::isSupportedResponseType(bad)) << bad;
        try {
            OAuthAuthorizationRequest::create(configuration(), "c", {"openid"}, Redirect, bad, std::nullopt);
            ADD_FAILURE() << bad;
        } catch (const OAuthException& e) {
            EXPECT_EQ(e.reason(), QStringLiteral("The response_type \"%1\" isn't supported. This client only supports "
                                                 "the \"code\" or \"code id_token\" response_type.")
                                      .arg(QString::fromLatin1(bad)));
        }
    }
}

TEST(OAuthAuthorizationRequest, AuthorizationURL)
{
    const auto request = generated(QMap<QString, QString>{{"include_granted_scopes", "true"}, {"state", "extra"}});
    const QUrl url = request->authorizationRequestURL();
    EXPECT_EQ(url.scheme(), "https");
    EXPECT_EQ(url.host(), "auth.example");
    EXPECT_EQ(url.path(), "/o/oauth2/v2/auth");
    EXPECT_EQ(request->externalUserAgentRequestURL(), url);

    const QJsonObject q = queryOf(url);
    EXPECT_FALSE(q.contains("keep")) << "the endpoint's own query is replaced";
    EXPECT_EQ(q.value("response_type").toString(), "code");
    EXPECT_EQ(q.value("client_id").toString(), "client.apps");
    EXPECT_EQ(q.value("redirect_uri").toString(), "com.example.app:/oauth2callback");
    EXPECT_EQ(q.value("scope").toString(), "email profile");
    EXPECT_EQ(q.value("nonce").toString(), *request->nonce());
    EXPECT_EQ(q.value("code_challenge").toString(), *request->codeChallenge());
    EXPECT_EQ(q.value("code_challenge_method").toString(), "S256");
    EXPECT_EQ(q.value("include_granted_scopes").toString(), "true");
    // An extra parameter named like a standard one gives the name two values.
    EXPECT_EQ(q.value("state").toArray(), (QJsonArray{"extra", *request->state()}));
    EXPECT_FALSE(q.contains("code_verifier"));
    EXPECT_FALSE(q.contains("client_secret"));
    EXPECT_TRUE(request->description().contains(url.toString(QUrl::FullyEncoded)));
}

TEST(OAuthAuthorizationRequest, SecretAndVerifierNeverInTheURL)
{
    const auto request = OAuthAuthorizationRequest::create(configuration(), "c", QString("s3cret"), {"openid"}, Redirect,
                                                           "code", std::nullopt);
    const QString url = request->authorizationRequestURL().toString();
    EXPECT_FALSE(url.contains("s3cret"));
    EXPECT_FALSE(url.contains(*request->codeVerifier()));
}

TEST(OAuthAuthorizationResponse, FieldsFromRedirectParameters)
{
    const auto request = generated();
    const QJsonObject parameters =
        queryOf(QUrl("com.example.app:/oauth2callback?code=4/abc&state=s&expires_in=3600&scope=email+profile&x=1&x=2"));
    const OAuthAuthorizationResponse response(request, parameters);
    EXPECT_EQ(response.authorizationCode(), "4/abc");
    EXPECT_EQ(response.state(), "s");
    EXPECT_EQ(response.scope(), "email profile");
    // A redirect's values are texts: "expires_in" is not a number and stays aside.
    EXPECT_FALSE(response.accessTokenExpirationDate());
    EXPECT_EQ(response.additionalParameters().value("expires_in").toString(), "3600");
    EXPECT_EQ(response.additionalParameters().value("x").toArray(), (QJsonArray{"1", "2"}));
    EXPECT_EQ(response.request(), request);

    const OAuthAuthorizationResponse twice(request, queryOf(QUrl("a:/b?state=1&state=2&code=c")));
    EXPECT_FALSE(twice.state());
    EXPECT_EQ(twice.additionalParameters().value("state").toArray(), (QJsonArray{"1", "2"}));
}

TEST(OAuthAuthorizationResponse, DescriptionRedactsCodeAndTokens)
{
    const OAuthAuthorizationResponse response(
        generated(), QJsonObject{{"code", "4/0AbCdEfGhIjKlMnOp"}, {"access_token", "ya29.secretsecret"},
                                 {"id_token", "eyJhbGciOi.secret"}, {"state", "%1%2"}});
    const QString d = response.description();
    EXPECT_FALSE(d.contains("4/0AbCdEfGhIjKlMnOp"));
    EXPECT_TRUE(d.contains("authorizationCode: 4/0AbC...[redacted]"));
    EXPECT_FALSE(d.contains("ya29.secretsecret"));
    EXPECT_TRUE(d.contains("accessToken: \"ya29.s...[redacted]\""));
    EXPECT_FALSE(d.contains("eyJhbGciOi.secret"));
    EXPECT_TRUE(d.contains("state: \"%1%2\""));
    EXPECT_TRUE(d.contains("request: <OAuthAuthorizationRequest: "));
}

TEST(OAuthAuthorizationResponse, TokenExchangeRequest)
{
    const auto request = OAuthAuthorizationRequest::create(configuration(), "cid", QString("sec"), {"openid"}, Redirect,
                                                           "code", std::nullopt);
    const OAuthAuthorizationResponse response(request, QJsonObject{{"code", "the-code"}, {"scope", "openid"}});
    const auto exchange = response.tokenExchangeRequestWithAdditionalParameters(
        QMap<QString, QString>{{"gpsdk", "x"}}, QMap<QString, QString>{{"X-H", "v"}});
    EXPECT_EQ(exchange->grantType(), "authorization_code");
    EXPECT_EQ(exchange->authorizationCode(), "the-code");
    EXPECT_EQ(exchange->redirectURL(), Redirect);
    EXPECT_EQ(exchange->clientID(), "cid");
    EXPECT_EQ(exchange->clientSecret(), "sec");
    EXPECT_EQ(exchange->codeVerifier(), request->codeVerifier());
    EXPECT_FALSE(exchange->scope());
    EXPECT_FALSE(exchange->refreshToken());
    EXPECT_EQ(exchange->configuration(), request->configuration());
    EXPECT_EQ(exchange->additionalHeaders()->value("X-H"), "v");

    const OAuthAuthorizationResponse noCode(request, QJsonObject{{"error", "access_denied"}});
    try {
        noCode.tokenExchangeRequestWithAdditionalParameters(std::nullopt);
        ADD_FAILURE();
    } catch (const OAuthException& e) {
        EXPECT_EQ(e.name(), "Attempted to create a token exchange request from an authorization response with no "
                            "authorization code.");
    }
}

OAuthTokenRequest tokenRequest(std::optional<QString> secret, std::optional<QMap<QString, QString>> params = std::nullopt,
                               std::optional<QMap<QString, QString>> headers = std::nullopt)
{
    return OAuthTokenRequest(configuration(), "authorization_code", QString("c o+de"), Redirect, "client id&",
                             std::move(secret), std::nullopt, std::nullopt, QString("verifier"), std::move(params),
                             std::move(headers));
}

TEST(OAuthTokenRequest, BodyAndClientAuthentication)
{
    const OAuthHTTPRequest without = tokenRequest(std::nullopt).URLRequest();
    EXPECT_EQ(without.url, QUrl("https://token.example/token"));
    EXPECT_EQ(without.method, "POST");
    EXPECT_EQ(without.header("content-type"), "application/x-www-form-urlencoded; charset=UTF-8");
    EXPECT_FALSE(without.header("Authorization"));
    const QJsonObject body = queryOf(QUrl("https://x/?" + QString::fromUtf8(without.body)));
    EXPECT_EQ(body.value("client_id").toString(), "client id&");
    EXPECT_EQ(body.value("grant_type").toString(), "authorization_code");
    EXPECT_EQ(body.value("code").toString(), "c o+de");
    EXPECT_EQ(body.value("code_verifier").toString(), "verifier");
    EXPECT_EQ(body.value("redirect_uri").toString(), Redirect.toString());
    EXPECT_FALSE(without.body.contains('+')) << "a plus sign is sent as %2B, a space as %20";

    const OAuthHTTPRequest with = tokenRequest(QString("p a:ss")).URLRequest();
    EXPECT_EQ(with.header("Authorization"), "Basic " + QByteArray("client+id%26:p+a%3Ass").toBase64());
    EXPECT_FALSE(queryOf(QUrl("https://x/?" + QString::fromUtf8(with.body))).contains("client_id"));
}

TEST(OAuthTokenRequest, ExtraParametersAndHeaders)
{
    const OAuthHTTPRequest request =
        tokenRequest(std::nullopt, QMap<QString, QString>{{"code", "again"}, {"audience", "srv"}},
                     QMap<QString, QString>{{"Content-Type", "application/json"}, {"X-Extra", "1"}})
            .URLRequest();
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("X-Extra"), "1");
    EXPECT_EQ(request.headers.size(), 2);
    const QJsonObject body = queryOf(QUrl("https://x/?" + QString::fromUtf8(request.body)));
    EXPECT_EQ(body.value("code").toArray(), (QJsonArray{"c o+de", "again"}));
    EXPECT_EQ(body.value("audience").toString(), "srv");
}

TEST(OAuthTokenRequest, AuthorizationCodeGrantNeedsARedirectURL)
{
    const QString message = "A OAuthTokenRequest was created with a grant_type that requires a redirectURL, but a null "
                            "redirectURL was given";
    try {
        OAuthTokenRequest(configuration(), "authorization_code", QString("c"), std::nullopt, "id", std::nullopt,
                          std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
        ADD_FAILURE();
    } catch (const OAuthException& e) {
        EXPECT_EQ(e.name(), message);
        EXPECT_EQ(e.reason(), message);
    }
    EXPECT_NO_THROW(OAuthTokenRequest(configuration(), "refresh_token", std::nullopt, std::nullopt, "id", std::nullopt,
                                      std::nullopt, QString("r"), std::nullopt, std::nullopt, std::nullopt));
}

TEST(OAuthTokenResponse, FieldsFromJson)
{
    const auto request = std::make_shared<const OAuthTokenRequest>(tokenRequest(std::nullopt));
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const OAuthTokenResponse response(request, QJsonObject{{"access_token", "at"},
                                                          {"expires_in", 3600.7},
                                                          {"token_type", "Bearer"},
                                                          {"refresh_token", "rt"},
                                                          {"scope", "openid"},
                                                          {"id_token", 42},
                                                          {"server_code", "sc"},
                                                          {"nested", QJsonObject{{"a", 1}}}});
    EXPECT_EQ(response.accessToken(), "at");
    EXPECT_EQ(response.tokenType(), "Bearer");
    EXPECT_EQ(response.refreshToken(), "rt");
    EXPECT_EQ(response.scope(), "openid");
    ASSERT_TRUE(response.accessTokenExpirationDate());
    const qint64 ahead = before.secsTo(*response.accessTokenExpirationDate());
    EXPECT_GE(ahead, 3599);
    EXPECT_LE(ahead, 3601);
    EXPECT_FALSE(response.idToken());
    EXPECT_EQ(response.additionalParameters().value("id_token").toInt(), 42);
    EXPECT_EQ(response.additionalParameters().value("server_code").toString(), "sc");
    EXPECT_EQ(response.additionalParameters().value("nested").toObject().value("a").toInt(), 1);

    const OAuthTokenResponse textExpiry(request, QJsonObject{{"expires_in", "3600"}});
    EXPECT_FALSE(textExpiry.accessTokenExpirationDate());
    EXPECT_EQ(textExpiry.additionalParameters().value("expires_in").toString(), "3600");

    // A number beyond 64 bits is not taken as seconds and stays aside; seconds no date can hold
    // convert to nothing and are dropped.
    const OAuthTokenResponse huge(request, QJsonObject{{"expires_in", 1e300}});
    EXPECT_FALSE(huge.accessTokenExpirationDate());
    EXPECT_EQ(huge.additionalParameters().value("expires_in").toDouble(), 1e300);
    const OAuthTokenResponse farAway(request, QJsonObject{{"expires_in", 9.1e15}});
    EXPECT_FALSE(farAway.accessTokenExpirationDate());
    EXPECT_FALSE(farAway.additionalParameters().contains("expires_in"));

    const OAuthTokenResponse secret(request, QJsonObject{{"access_token", "ya29.verysecret"}, {"refresh_token", "1//rrrrrrrrr"}});
    EXPECT_FALSE(secret.description().contains("verysecret"));
    EXPECT_FALSE(secret.description().contains("rrrrrrrrr"));
}

TEST(OAuthIDToken, DecodesClaims)
{
    QJsonObject claims = IdTokens::validClaims("https://accounts.example", "cid", "n1");
    claims.insert("exp", 2000000000.9);
    claims.insert("iat", 1700000000);
    claims.insert("azp", "other");
    const auto token = OAuthIDToken::initWithIDTokenString(IdTokens::make(claims));
    ASSERT_TRUE(token);
    EXPECT_EQ(token->issuer(), QUrl("https://accounts.example"));
    EXPECT_EQ(token->subject(), "1234567890");
    EXPECT_EQ(token->audience(), QStringList{"cid"});
    EXPECT_EQ(token->expiresAt().toSecsSinceEpoch(), 2000000000) << "the fraction is dropped";
    EXPECT_EQ(token->expiresAt().toMSecsSinceEpoch() % 1000, 0);
    EXPECT_EQ(token->issuedAt().toSecsSinceEpoch(), 1700000000);
    EXPECT_EQ(token->nonce(), "n1");
    EXPECT_EQ(token->header().value("alg").toString(), "none");
    EXPECT_EQ(token->claims().value("azp").toString(), "other");

    claims.insert("aud", QJsonArray{"a", "b"});
    claims.remove("nonce");
    const auto list = OAuthIDToken::initWithIDTokenString(IdTokens::make(claims, QString()));
    ASSERT_TRUE(list) << "two sections, no signature, no nonce";
    EXPECT_EQ(list->audience(), (QStringList{"a", "b"}));
    EXPECT_FALSE(list->nonce());

    claims.insert("iss", "accounts.example");
    const auto schemeless = OAuthIDToken::initWithIDTokenString(IdTokens::make(claims));
    ASSERT_TRUE(schemeless);
    EXPECT_EQ(schemeless->issuer().toString(), "accounts.example");
}

TEST(OAuthIDToken, RejectsBrokenTokens)
{
    const QJsonObject good = IdTokens::validClaims("https://i", "cid");
    const QString header = IdTokens::section({{"alg", "none"}});
    auto without = [&](const char* claim) {
        QJsonObject c = good;
        c.remove(claim);
        return IdTokens::make(c);
    };
    auto with = [&](const char* claim, const QJsonValue& v) {
        QJsonObject c = good;
        c.insert(claim, v);
        return IdTokens::make(c);
    };
    const QString payload = IdTokens::section(good);
    const QString notJson = OAuthTokenUtilities::encodeBase64urlNoPadding("not json");
    const QString array = OAuthTokenUtilities::encodeBase64urlNoPadding("[1,2]");
    const std::pair<QString, const char*> cases[] = {
        {IdTokens::section(good), "one section"},
        {"", "empty"},
        {header + "." + payload + "A", "payload length one more than a multiple of four"},
        {header + "." + QString(payload).replace('-', '+').replace('_', '/') + "+/", "standard base64 alphabet"},
        {header + "." + payload + "=", "padding"},
        {header + "." + notJson, "payload not JSON"},
        {header + "." + array, "payload not an object"},
        {notJson + "." + payload, "header not JSON"},
        {without("iss"), "no iss"}, {without("sub"), "no sub"}, {without("aud"), "no aud"},
        {without("exp"), "no exp"}, {without("iat"), "no iat"},
        {with("aud", 5), "aud a number"},
        {with("aud", QJsonArray{"cid", 5}), "aud list with a number"},
        {with("exp", "2000000000"), "exp a text"},
        {with("iat", 1e300), "iat out of range"},
        {with("sub", 7), "sub a number"},
        {with("iss", ""), "iss empty"},
        {with("iss", "http://[bad"), "iss not a URL"},
    };
    for (const auto& [text, what] : cases)
        EXPECT_FALSE(OAuthIDToken::initWithIDTokenString(text)) << what;
}

} // namespace

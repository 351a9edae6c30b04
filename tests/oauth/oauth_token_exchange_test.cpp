// The code exchange against a loopback HTTPS provider: the answers of the failure table, PKCE as
// the provider checks it, and the ID-token checks in their order.
#include "oauth/OAuthAuthorizationService.h"
#include "platform/Dispatch.h"
#include "oauth/OAuthErrorUtilities.h"
#include "support/IdTokens.h"
#include "support/NetworkBounds.h"
#include "support/OAuthProviderStandIn.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString ClientID = QStringLiteral("123-abc.apps.example");
const QUrl Redirect("com.example.apps.123-abc:/oauth2callback");

struct Outcome {
    bool called = false;
    int calls = 0;
    OAuthTokenResponsePtr response;
    std::optional<DomainError> error;
};

class TokenExchange : public ::testing::Test {
protected:
    OAuthProviderStandIn provider;

    OAuthServiceConfigurationPtr configuration(std::optional<QUrl> issuer = std::nullopt)
    {
        return std::make_shared<const OAuthServiceConfiguration>(provider.authorizationEndpoint(),
                                                                 provider.tokenEndpoint(), issuer, std::nullopt,
                                                                 std::nullopt, std::nullopt);
    }

    // An authorization response whose code the provider knows, with the request's PKCE values.
    OAuthAuthorizationResponsePtr authorized(std::optional<QUrl> issuer = std::nullopt, bool knownChallenge = true)
    {
        const auto request = OAuthAuthorizationRequest::create(configuration(issuer), ClientID, {"email", "profile"},
                                                               Redirect, "code", std::nullopt);
        const QString code = QStringLiteral("4/test-code");
        provider.addGrant(code, {ClientID, *request->nonce(),
                                 knownChallenge ? *request->codeChallenge() : QStringLiteral("other-challenge"), "S256",
                                 Redirect.toString()});
        return std::make_shared<const OAuthAuthorizationResponse>(request, QJsonObject{{"code", code}, {"state", *request->state()}});
    }

    Outcome exchange(const OAuthTokenRequestPtr& request, const OAuthAuthorizationResponsePtr& original)
    {
        auto outcome = std::make_shared<Outcome>();
        OAuthAuthorizationService::performTokenRequest(request, original,
                                                       [outcome](const OAuthTokenResponsePtr& r, const std::optional<DomainError>& e) {
                                                           outcome->called = true;
                                                           ++outcome->calls;
                                                           outcome->response = r;
                                                           outcome->error = e;
                                                       });
        EXPECT_FALSE(outcome->called) << "the callback never runs inside the call";
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return outcome->called; }, 20000));
        // Nothing more of the exchange is under way (no second callback can come).
        EXPECT_TRUE(Dispatch::drainForTesting());
        return *outcome;
    }

    Outcome exchange(const OAuthAuthorizationResponsePtr& response)
    {
        return exchange(response->tokenExchangeRequestWithAdditionalParameters(std::nullopt), response);
    }
};

TEST_F(TokenExchange, SucceedsWithPkceVerifiedByTheProvider)
{
    const Outcome outcome = exchange(authorized());
    ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription.toStdString();
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.response->accessToken(), "ya29.access-4/test-code");
    EXPECT_EQ(outcome.response->refreshToken(), "1//refresh-4/test-code");
    EXPECT_TRUE(outcome.response->idToken());
    EXPECT_EQ(provider.pkceVerified(), 1);

    const auto request = provider.requests().last();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");
    EXPECT_TRUE(request.body.contains("client_id=123-abc.apps.example"));
    EXPECT_TRUE(request.body.contains("grant_type=authorization_code"));
}

TEST_F(TokenExchange, WrongVerifierIsRefusedByTheProvider)
{
    const Outcome outcome = exchange(authorized(std::nullopt, false));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, OAuthTokenErrorDomain);
    EXPECT_EQ(outcome.error->code, -10);
    EXPECT_EQ(outcome.error->localizedDescription, "invalid_grant: PKCE verification failed");
    EXPECT_EQ(provider.pkceRejected(), 1);
    EXPECT_FALSE(outcome.response);
}

TEST_F(TokenExchange, FailureAnswers)
{
    struct Case {
        OAuthProviderStandIn::Token answer;
        QString domain;
        int code;
        QString description;
        int underlyingCode; // 0: none expected
    };
    const QString url = provider.tokenEndpoint().toString();
    const Case cases[] = {
        {OAuthProviderStandIn::Token::oauthError400, OAuthTokenErrorDomain, -10, "invalid_grant: Bad Request", 400},
        {OAuthProviderStandIn::Token::notJson400, OAuthGeneralErrorDomain, -6,
         "Non-200 HTTP response (400) making token request to '" + url + "'.", 400},
        {OAuthProviderStandIn::Token::status500, OAuthGeneralErrorDomain, -6,
         "Non-200 HTTP response (500) making token request to '" + url + "'.", 500},
        {OAuthProviderStandIn::Token::invalidJson, OAuthGeneralErrorDomain, -7, "", -1},
        {OAuthProviderStandIn::Token::notAnObject, OAuthGeneralErrorDomain, -8, "Token response invalid.", 0},
    };
    for (const Case& c : cases) {
        provider.setToken(c.answer);
        const Outcome outcome = exchange(authorized());
        ASSERT_TRUE(outcome.error) << c.code;
        EXPECT_FALSE(outcome.response);
        EXPECT_EQ(outcome.error->domain, c.domain) << c.code;
        EXPECT_EQ(outcome.error->code, c.code);
        if (c.code == -7)
            EXPECT_TRUE(outcome.error->localizedDescription.startsWith("JSON error parsing token response: "));
        else
            EXPECT_EQ(outcome.error->localizedDescription, c.description);
        if (c.underlyingCode > 0) {
            ASSERT_TRUE(outcome.error->underlying);
            EXPECT_EQ(outcome.error->underlying->domain, OAuthHTTPErrorDomain);
            EXPECT_EQ(outcome.error->underlying->code, c.underlyingCode);
        } else if (c.underlyingCode == 0) {
            EXPECT_FALSE(outcome.error->underlying);
        } else {
            EXPECT_TRUE(outcome.error->underlying);
        }
    }
    // The 500 answer's body is the HTTP error's description.
    provider.setToken(OAuthProviderStandIn::Token::status500);
    const Outcome outcome = exchange(authorized());
    EXPECT_EQ(outcome.error->underlying->localizedDescription, "Internal Server Error");
}

TEST_F(TokenExchange, WithoutIdTokenNoChecks)
{
    provider.setToken(OAuthProviderStandIn::Token::tokensWithoutIdToken);
    provider.claims = [](const OAuthProviderStandIn::Grant&) { return QJsonObject(); };
    const Outcome outcome = exchange(authorized(QUrl("https://issuer.other")));
    EXPECT_FALSE(outcome.error);
    ASSERT_TRUE(outcome.response);
    EXPECT_FALSE(outcome.response->idToken());
}

TEST_F(TokenExchange, ConnectionFailuresAndPlainHttp)
{
    quint16 closedPort;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    for (const QString& endpoint : {QStringLiteral("https://127.0.0.1:%1/token").arg(closedPort),
                                    QStringLiteral("http://127.0.0.1:%1/token").arg(closedPort)}) {
        const auto config = std::make_shared<const OAuthServiceConfiguration>(provider.authorizationEndpoint(), QUrl(endpoint));
        const auto request = std::make_shared<const OAuthTokenRequest>(
            config, "authorization_code", QString("c"), Redirect, ClientID, std::nullopt, std::nullopt, std::nullopt,
            QString("v"), std::nullopt, std::nullopt);
        const Outcome outcome = exchange(request, nullptr);
        ASSERT_TRUE(outcome.error) << endpoint.toStdString();
        EXPECT_EQ(outcome.error->domain, OAuthGeneralErrorDomain);
        EXPECT_EQ(outcome.error->code, -5);
        EXPECT_TRUE(outcome.error->localizedDescription.startsWith("Connection error making token request to '" + endpoint + "': "))
            << outcome.error->localizedDescription.toStdString();
        EXPECT_TRUE(outcome.error->underlying);
    }
}

TEST_F(TokenExchange, IdTokenChecksInOrder)
{
    using Claims = std::function<void(QJsonObject&)>;
    struct Case {
        const char* what;
        Claims edit;
        bool withIssuer;
        int code; // 0: accepted
        QString description;
    };
    const Case cases[] = {
        {"valid", [](QJsonObject&) {}, true, 0, ""},
        {"not a token", [](QJsonObject& c) { c = QJsonObject{{"broken", true}}; }, false, -14, "ID Token parsing failed"},
        {"issuer", [](QJsonObject& c) { c["iss"] = "https://evil.example"; }, true, -15, "Issuer mismatch"},
        {"issuer unchecked without a configured issuer", [](QJsonObject& c) { c["iss"] = "https://evil.example"; }, false, 0, ""},
        {"audience", [](QJsonObject& c) { c["aud"] = "other"; }, false, -15, "Audience mismatch"},
        {"audience in a list", [](QJsonObject& c) { c["aud"] = QJsonArray{"x", ClientID}; }, false, 0, ""},
        {"authorized party", [](QJsonObject& c) { c["aud"] = QJsonArray{"other"}; c["azp"] = ClientID; }, false, 0, ""},
        {"expired", [](QJsonObject& c) { const qint64 now = IdTokens::now(); c["exp"] = now - 5; }, false, -15, "ID Token expired"},
        // Claims carry whole seconds and the check runs a moment after they are made: one second
        // of slack on each side of the 600 s limit.
        {"issued 602 s ahead", [](QJsonObject& c) { const qint64 now = IdTokens::now(); c["iat"] = now + 602; }, false, -15,
         "Issued at time is more than 600 seconds before or after the current time"},
        {"issued 601 s ago", [](QJsonObject& c) { const qint64 now = IdTokens::now(); c["iat"] = now - 601; }, false, -15,
         "Issued at time is more than 600 seconds before or after the current time"},
        {"issued 599 s ahead", [](QJsonObject& c) { const qint64 now = IdTokens::now(); c["iat"] = now + 599; }, false, 0, ""},
        {"issued 598 s ago", [](QJsonObject& c) { const qint64 now = IdTokens::now(); c["iat"] = now - 598; }, false, 0, ""},
        {"nonce differs", [](QJsonObject& c) { c["nonce"] = "other"; }, false, -15, "Nonce mismatch"},
        {"nonce missing", [](QJsonObject& c) { c.remove("nonce"); }, false, -15, "Nonce mismatch"},
        {"audience before expiry", [](QJsonObject& c) { const qint64 now = IdTokens::now(); c["aud"] = "other"; c["exp"] = now - 5; }, false, -15, "Audience mismatch"},
    };
    for (const Case& c : cases) {
        provider.claims = [&](const OAuthProviderStandIn::Grant& g) {
            QJsonObject claims = IdTokens::validClaims(provider.issuer(), g.clientID, g.nonce);
            c.edit(claims);
            return claims;
        };
        const Outcome outcome = exchange(authorized(c.withIssuer ? std::optional<QUrl>(QUrl(provider.issuer())) : std::nullopt));
        if (c.code == 0) {
            EXPECT_FALSE(outcome.error) << c.what << ": " << outcome.error->localizedDescription.toStdString();
            EXPECT_TRUE(outcome.response) << c.what;
        } else {
            ASSERT_TRUE(outcome.error) << c.what;
            EXPECT_FALSE(outcome.response);
            EXPECT_EQ(outcome.error->domain, OAuthGeneralErrorDomain) << c.what;
            EXPECT_EQ(outcome.error->code, c.code) << c.what;
            EXPECT_EQ(outcome.error->localizedDescription, c.description) << c.what;
            EXPECT_FALSE(outcome.error->underlying) << c.what;
        }
    }
}

TEST_F(TokenExchange, NonceIsCheckedOnlyForTheCodeGrant)
{
    // The stand-in's token endpoint answers code grants; a refresh grant is answered by a table reply.
    const auto response = authorized();
    provider.server().setHandler({});
    const QString idToken = IdTokens::make(IdTokens::validClaims("https://i", ClientID, "different-nonce"));
    provider.server().setReply("/token", LoopbackHttpServer::Reply::json(
                                             QJsonDocument(QJsonObject{{"access_token", "a"}, {"id_token", idToken}}).toJson()));
    const auto refresh = std::make_shared<const OAuthTokenRequest>(
        response->request()->configuration(), "refresh_token", std::nullopt, std::nullopt, ClientID, std::nullopt,
        std::nullopt, QString("1//r"), std::nullopt, std::nullopt, std::nullopt);
    const Outcome accepted = exchange(refresh, response);
    EXPECT_FALSE(accepted.error);
    const Outcome rejected = exchange(response);
    ASSERT_TRUE(rejected.error);
    EXPECT_EQ(rejected.error->localizedDescription, "Nonce mismatch");
    // Without the original response there is no nonce to compare.
    const Outcome noOriginal = exchange(response->tokenExchangeRequestWithAdditionalParameters(std::nullopt), nullptr);
    EXPECT_FALSE(noOriginal.error);
}

} // namespace

TEST_F(TokenExchange, AHugeAnswerAndASlowOneEndAsConnectionErrors)
{
    // The slow answer (a byte every 400 ms) gets a deadline it cannot meet; the huge one a deadline
    // it cannot reach however slowly a busy machine streams it, so only its size ends it.
    const struct {
        const char* name;
        OAuthProviderStandIn::Token answer;
        int deadlineMs;
        QString reason;
    } cases[] = {
        {"100 MB error body", OAuthProviderStandIn::Token::hugeError400, 60000,
         QStringLiteral("The server's answer is larger than 4 MiB; it was not read.")},
        {"one byte at a time", OAuthProviderStandIn::Token::trickled, 1500,
         QStringLiteral("The server did not finish its answer within 1.5 seconds.")},
    };
    for (const auto& c : cases) {
        ScopedNetworkLimits limits({Network::Limits().maxBodyBytes, c.deadlineMs});
        provider.setToken(c.answer);
        LoopTicker ticks;
        const Outcome outcome = exchange(authorized());
        ASSERT_TRUE(outcome.error) << c.name;
        EXPECT_FALSE(outcome.response) << c.name;
        EXPECT_EQ(outcome.calls, 1) << c.name;
        EXPECT_EQ(outcome.error->domain, OAuthGeneralErrorDomain) << c.name;
        EXPECT_EQ(outcome.error->code, -5) << c.name;
        EXPECT_EQ(outcome.error->localizedDescription,
                  QStringLiteral("Connection error making token request to '%1': %2.")
                      .arg(provider.tokenEndpoint().toString(QUrl::FullyEncoded), c.reason))
            << c.name << ": " << outcome.error->localizedDescription.toStdString();
        ASSERT_TRUE(outcome.error->underlying) << c.name;
        EXPECT_EQ(outcome.error->underlying->localizedDescription, c.reason) << c.name;
        EXPECT_GT(ticks.count(), 2) << c.name << ": the event loop kept turning";
    }
}

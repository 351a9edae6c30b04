// The auth state's update rules, derived values, refresh request and change notices.
#include "oauth/OAuthErrorUtilities.h"
#include "oauth/OAuthException.h"
#include "oauth/OAuthState.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

namespace {

OAuthAuthorizationRequestPtr request()
{
    return OAuthAuthorizationRequest::create(
        std::make_shared<const OAuthServiceConfiguration>(QUrl("https://a/auth"), QUrl("https://t/token")), "cid",
        QString("sec"), {"email", "profile"}, QUrl("x.y:/cb"), "code", std::nullopt);
}

OAuthAuthorizationResponsePtr authorization(const QJsonObject& parameters = {{"code", "c"}})
{
    return std::make_shared<const OAuthAuthorizationResponse>(request(), parameters);
}

OAuthTokenResponsePtr token(const QJsonObject& parameters)
{
    return std::make_shared<const OAuthTokenResponse>(
        authorization()->tokenExchangeRequestWithAdditionalParameters(std::nullopt), parameters);
}

struct Recorder : OAuthStateChangeDelegate {
    int changes = 0;
    void didChangeState(OAuthState*) override { ++changes; }
};

const DomainError tokenError(OAuthTokenErrorDomain, -10, QString("invalid_grant"));
const DomainError authorizationError(OAuthAuthorizationErrorDomain, -4, QString("access_denied"));
const DomainError otherError(OAuthGeneralErrorDomain, -5, QString("offline"));

TEST(OAuthState, FromAnAuthorizationResponseOnly)
{
    OAuthState plain(authorization());
    EXPECT_FALSE(plain.accessToken());
    EXPECT_FALSE(plain.isAuthorized());
    EXPECT_EQ(plain.scope(), "email profile") << "the request's scope when the response has none";

    OAuthState withToken(authorization({{"code", "c"}, {"access_token", "at"}, {"scope", "email"}}));
    EXPECT_EQ(withToken.accessToken(), "at");
    EXPECT_TRUE(withToken.isAuthorized());
    EXPECT_EQ(withToken.scope(), "email");

    OAuthState withIdToken(authorization({{"id_token", "i.d"}}));
    EXPECT_TRUE(withIdToken.isAuthorized());
}

TEST(OAuthState, TokenResponsesCarryRefreshTokenAndScopeForward)
{
    OAuthState state(authorization(), token({{"access_token", "a1"}, {"refresh_token", "r1"}, {"scope", "s1"},
                                             {"id_token", "i1"}, {"expires_in", 60}}));
    EXPECT_EQ(state.accessToken(), "a1");
    EXPECT_EQ(state.idToken(), "i1");
    EXPECT_TRUE(state.accessTokenExpirationDate());
    EXPECT_EQ(state.refreshToken(), "r1");

    state.updateWithTokenResponse(token({{"access_token", "a2"}}), std::nullopt);
    EXPECT_EQ(state.accessToken(), "a2");
    EXPECT_FALSE(state.idToken()) << "taken from the last token response";
    EXPECT_EQ(state.refreshToken(), "r1");
    EXPECT_EQ(state.scope(), "s1");

    // A second authorization response resets the token data.
    state.updateWithAuthorizationResponse(authorization({{"code", "c2"}}), std::nullopt);
    EXPECT_FALSE(state.lastTokenResponse());
    EXPECT_FALSE(state.refreshToken());
    EXPECT_FALSE(state.accessToken());
}

TEST(OAuthState, ErrorsMakeItUnauthorizedUntilTheNextResponse)
{
    auto recorder = std::make_shared<Recorder>();
    OAuthState state(authorization(), token({{"access_token", "a1"}, {"refresh_token", "r1"}, {"id_token", "i"}}));
    state.setStateChangeDelegate(recorder);

    state.updateWithTokenResponse(nullptr, tokenError);
    EXPECT_EQ(recorder->changes, 1);
    EXPECT_FALSE(state.isAuthorized()) << "even with a refresh token";
    EXPECT_FALSE(state.accessToken());
    EXPECT_FALSE(state.idToken());
    EXPECT_FALSE(state.accessTokenExpirationDate());
    EXPECT_EQ(state.authorizationError()->code, -10);

    // The next token response clears the error (with a warning) and applies.
    state.updateWithTokenResponse(token({{"access_token", "a2"}}), std::nullopt);
    EXPECT_EQ(recorder->changes, 2);
    EXPECT_FALSE(state.authorizationError());
    EXPECT_EQ(state.accessToken(), "a2");

    state.updateWithAuthorizationResponse(nullptr, authorizationError);
    EXPECT_EQ(recorder->changes, 3);
    EXPECT_FALSE(state.isAuthorized());
    state.updateWithAuthorizationResponse(authorization({{"code", "c"}, {"access_token", "z"}}), std::nullopt);
    EXPECT_EQ(recorder->changes, 4);
    EXPECT_TRUE(state.isAuthorized());
}

TEST(OAuthState, ErrorsOfOtherDomainsLeaveItAsItWas)
{
    auto recorder = std::make_shared<Recorder>();
    OAuthState state(authorization(), token({{"access_token", "a1"}}));
    state.setStateChangeDelegate(recorder);
    state.updateWithAuthorizationResponse(nullptr, otherError);
    state.updateWithTokenResponse(nullptr, otherError);
    state.updateWithAuthorizationResponse(nullptr, tokenError); // a token error given as an authorization error
    state.updateWithTokenResponse(nullptr, authorizationError);
    EXPECT_EQ(recorder->changes, 0);
    EXPECT_FALSE(state.authorizationError());
    EXPECT_EQ(state.accessToken(), "a1");
}

TEST(OAuthState, DelegateIsHeldWeakly)
{
    OAuthState state(authorization());
    {
        auto recorder = std::make_shared<Recorder>();
        state.setStateChangeDelegate(recorder);
        EXPECT_TRUE(state.stateChangeDelegate());
    }
    EXPECT_FALSE(state.stateChangeDelegate());
    state.updateWithAuthorizationError(otherError); // no delegate left: nothing to tell
    EXPECT_TRUE(state.authorizationError());
}

TEST(OAuthState, RefreshRequest)
{
    OAuthState state(authorization(), token({{"access_token", "a"}, {"refresh_token", "r"}}));
    const auto refresh = state.tokenRefreshRequestWithAdditionalParameters(QMap<QString, QString>{{"k", "v"}});
    EXPECT_EQ(refresh->grantType(), "refresh_token");
    EXPECT_EQ(refresh->refreshToken(), "r");
    EXPECT_EQ(refresh->clientID(), "cid");
    EXPECT_EQ(refresh->clientSecret(), "sec");
    EXPECT_FALSE(refresh->authorizationCode());
    EXPECT_FALSE(refresh->redirectURL());
    EXPECT_FALSE(refresh->scope());
    EXPECT_FALSE(refresh->codeVerifier());
    EXPECT_FALSE(refresh->additionalHeaders());
    EXPECT_EQ(refresh->additionalParameters()->value("k"), "v");
    EXPECT_EQ(refresh->configuration()->tokenEndpoint(), QUrl("https://t/token"));

    OAuthState none(authorization(), token({{"access_token", "a"}}));
    try {
        none.tokenRefreshRequestWithAdditionalParameters(std::nullopt);
        ADD_FAILURE();
    } catch (const OAuthException& e) {
        EXPECT_EQ(e.name(), "Attempted to create a token refresh request from a token response with no refresh token.");
    }
}

} // namespace

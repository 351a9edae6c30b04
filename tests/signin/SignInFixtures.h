#pragma once

// OAuth states as a finished code exchange leaves them, for the sign-in tests.
#include "oauth/OAuthAuthorizationRequest.h"
#include "oauth/OAuthAuthorizationResponse.h"
#include "oauth/OAuthServiceConfiguration.h"
#include "oauth/OAuthState.h"
#include "oauth/OAuthTokenResponse.h"
#include "support/IdTokens.h"

#include <QJsonObject>

namespace SignInFixtures {

inline OAuthAuthorizationRequestPtr request()
{
    return OAuthAuthorizationRequest::create(
        std::make_shared<const OAuthServiceConfiguration>(QUrl("https://accounts.test/o/oauth2/v2/auth"),
                                                          QUrl("https://oauth2.test/token")),
        "123-abc.apps.example.com", std::nullopt, {"email", "profile"}, QUrl("com.example.apps.123-abc:/oauth2callback"),
        "code", std::nullopt);
}

inline OAuthAuthorizationResponsePtr authorization(const QJsonObject& parameters = {{"code", "c0de"}})
{
    return std::make_shared<const OAuthAuthorizationResponse>(request(), parameters);
}

inline OAuthTokenResponsePtr token(const QJsonObject& parameters)
{
    return std::make_shared<const OAuthTokenResponse>(
        authorization()->tokenExchangeRequestWithAdditionalParameters(std::nullopt), parameters);
}

inline QJsonObject claims()
{
    return IdTokens::validClaims("https://accounts.test", "123-abc.apps.example.com");
}

inline std::shared_ptr<OAuthState> state(const QJsonObject& tokenParameters)
{
    return std::make_shared<OAuthState>(authorization(), token(tokenParameters));
}

} // namespace SignInFixtures

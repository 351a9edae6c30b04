#pragma once

#include "oauth/OAuthAuthorizationResponse.h"
#include "oauth/OAuthAuthorizationSession.h"
#include "oauth/OAuthExternalUserAgent.h"
#include "oauth/OAuthTokenResponse.h"
#include "platform/DomainError.h"

#include <functional>
#include <memory>
#include <optional>

class QWidget;

// Entry points of the authorization-code flow: the browser step and the token exchange.
namespace OAuthAuthorizationService {

using TokenCallback = std::function<void(const OAuthTokenResponsePtr& response, const std::optional<DomainError>& error)>;

// Presents the request over `presentingWindow` through a new desktop user agent. Keep the
// returned session until its callback has run.
std::shared_ptr<OAuthAuthorizationSession> presentAuthorizationRequest(const OAuthAuthorizationRequestPtr& request,
                                                                       QWidget* presentingWindow,
                                                                       OAuthAuthorizationSession::Callback callback);
std::shared_ptr<OAuthAuthorizationSession> presentAuthorizationRequest(const OAuthAuthorizationRequestPtr& request,
                                                                       std::shared_ptr<OAuthExternalUserAgent> externalUserAgent,
                                                                       OAuthAuthorizationSession::Callback callback);

// Sends the token request and checks the answer's ID token. The callback always runs later on the
// main thread, with a response or an error.
void performTokenRequest(const OAuthTokenRequestPtr& request,
                         const OAuthAuthorizationResponsePtr& originalAuthorizationResponse, TokenCallback callback);

// Largest distance, either way, of an ID token's issue time from now.
constexpr int IssuedAtTolerance = 600;

} // namespace OAuthAuthorizationService

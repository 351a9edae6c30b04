#pragma once

#include "oauth/OAuthAuthorizationRequest.h"

#include <functional>
#include <memory>

class OAuthAuthorizationSession;

// The role of a user agent that shows an authorization request and reports the redirect back
// to its session.
class OAuthExternalUserAgent {
public:
    virtual ~OAuthExternalUserAgent() = default;
    // Whether the request was shown; the session is held weakly.
    virtual bool presentExternalUserAgentRequest(const OAuthAuthorizationRequestPtr& request,
                                                 const std::shared_ptr<OAuthAuthorizationSession>& session) = 0;
    virtual void dismissExternalUserAgentAnimated(bool animated, std::function<void()> completion) = 0;
};

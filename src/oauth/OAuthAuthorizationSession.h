#pragma once

#include "oauth/OAuthAuthorizationResponse.h"
#include "oauth/OAuthExternalUserAgent.h"
#include "platform/DomainError.h"

#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

// One pending authorization flow: presented through a user agent, resumed with the redirect, and
// finished exactly once through its callback.
class OAuthAuthorizationSession : public std::enable_shared_from_this<OAuthAuthorizationSession> {
public:
    using Callback = std::function<void(const OAuthAuthorizationResponsePtr& response, const std::optional<DomainError>& error)>;

    explicit OAuthAuthorizationSession(OAuthAuthorizationRequestPtr request);

    void presentAuthorizationWithExternalUserAgent(std::shared_ptr<OAuthExternalUserAgent> externalUserAgent,
                                                   Callback callback);
    // Takes the redirect: false (and -16 or -17 in `error`) when it does not match the redirect
    // URL or no flow is pending.
    bool resumeExternalUserAgentFlowWithURL(const QUrl& url, DomainError* error = nullptr);
    void failExternalUserAgentFlowWithError(const DomainError& error);
    bool shouldHandleURL(const QUrl& url) const;
    bool isPending() const { return static_cast<bool>(m_pendingCallback); }

    const OAuthAuthorizationRequestPtr& request() const { return m_request; }

    // Scheme (ignoring case), user, password, host, port and path equal after resolving dot
    // segments; query and fragment are not compared.
    static bool URLMatchesRedirectionURL(const QUrl& url, const QUrl& redirectionURL);

private:
    void didFinishWithResponse(const OAuthAuthorizationResponsePtr& response, const std::optional<DomainError>& error);

    OAuthAuthorizationRequestPtr m_request;
    std::shared_ptr<OAuthExternalUserAgent> m_externalUserAgent;
    Callback m_pendingCallback;
};

#pragma once

#include "oauth/OAuthExternalUserAgent.h"

#include <QPointer>
#include <QWidget>
#include <memory>

#include "platform/WebAuthenticationSession.h"

// The user agent around the desktop's web-authentication session, anchored to a window; without
// a window it opens the request in the default browser.
class OAuthExternalUserAgentMac : public OAuthExternalUserAgent,
                                  public std::enable_shared_from_this<OAuthExternalUserAgentMac> {
public:
    explicit OAuthExternalUserAgentMac(QWidget* presentingWindow, bool prefersEphemeralSession = false);
    ~OAuthExternalUserAgentMac() override;

    bool presentExternalUserAgentRequest(const OAuthAuthorizationRequestPtr& request,
                                         const std::shared_ptr<OAuthAuthorizationSession>& session) override;
    void dismissExternalUserAgentAnimated(bool animated, std::function<void()> completion) override;
    void cleanUp();
    QWidget* presentationAnchorForWebAuthenticationSession() const { return m_presentingWindow.data(); }

    bool externalUserAgentFlowInProgress() const { return m_externalUserAgentFlowInProgress; }
    bool prefersEphemeralSession() const { return m_prefersEphemeralSession; }
    WebAuthenticationSession* webAuthenticationSession() const { return m_webAuthenticationSession.data(); }

private:
    void dropWebAuthenticationSession();

    bool m_externalUserAgentFlowInProgress = false;
    std::weak_ptr<OAuthAuthorizationSession> m_session;
    bool m_prefersEphemeralSession = false;
    QPointer<QWidget> m_presentingWindow;
    QPointer<WebAuthenticationSession> m_webAuthenticationSession;
};

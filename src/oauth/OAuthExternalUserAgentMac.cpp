#include "oauth/OAuthExternalUserAgentMac.h"

#include "oauth/OAuthAuthorizationSession.h"
#include "oauth/OAuthErrorUtilities.h"
#include "platform/WebAuthenticationSession.h"

OAuthExternalUserAgentMac::OAuthExternalUserAgentMac(QWidget* presentingWindow, bool prefersEphemeralSession)
    : m_prefersEphemeralSession(prefersEphemeralSession), m_presentingWindow(presentingWindow)
{
}

OAuthExternalUserAgentMac::~OAuthExternalUserAgentMac()
{
    if (WebAuthenticationSession* web = m_webAuthenticationSession.data()) {
        web->cancel();
        web->deleteLater();
    }
}

void OAuthExternalUserAgentMac::dropWebAuthenticationSession()
{
    // Deleted later: this may run inside the session's own completion.
    if (WebAuthenticationSession* web = m_webAuthenticationSession.data())
        web->deleteLater();
    m_webAuthenticationSession.clear();
}

bool OAuthExternalUserAgentMac::presentExternalUserAgentRequest(const OAuthAuthorizationRequestPtr& request,
                                                                const std::shared_ptr<OAuthAuthorizationSession>& session)
{
    if (m_externalUserAgentFlowInProgress) {
        session->failExternalUserAgentFlowWithError(OAuthErrorUtilities::errorWithCode(
            OAuthErrorCodeSafariOpenError, std::nullopt,
            QStringLiteral("Another sign-in is still waiting for the browser; finish or cancel it first.")));
        return false;
    }
    m_externalUserAgentFlowInProgress = true;
    m_session = session;
    const QUrl url = request->externalUserAgentRequestURL();

    std::weak_ptr<OAuthExternalUserAgentMac> weakSelf = weak_from_this();
    if (!m_presentingWindow) {
        // The browser may also fail once it runs (nothing set up to open web pages).
        const auto failed = [weakSelf, url](const QString& reason) {
            auto self = weakSelf.lock();
            auto session = self ? self->m_session.lock() : nullptr;
            if (!session || !self->m_externalUserAgentFlowInProgress)
                return;
            self->cleanUp();
            session->failExternalUserAgentFlowWithError(OAuthErrorUtilities::errorWithCode(
                OAuthErrorCodeBrowserOpenError, std::nullopt, WebAuthenticationSession::browserFailureText(url, reason)));
        };
        if (const std::optional<QString> reason = WebAuthenticationSession::openInBrowser(url, failed)) {
            failed(*reason);
            return false;
        }
        return true;
    }

    auto* web = new WebAuthenticationSession(
        url, request->redirectScheme(), [weakSelf](const std::optional<QUrl>& callbackURL, const std::optional<DomainError>& error) {
            auto self = weakSelf.lock();
            if (!self)
                return;
            self->dropWebAuthenticationSession();
            auto session = self->m_session.lock();
            if (!session)
                return;
            if (callbackURL) {
                DomainError mismatch;
                if (!session->resumeExternalUserAgentFlowWithURL(*callbackURL, &mismatch)
                    && mismatch.code == OAuthErrorCodeRedirectURIMismatch && session->isPending()) {
                    // The desktop session delivers nothing more: end the flow rather than wait.
                    self->dismissExternalUserAgentAnimated(true, [session, mismatch]() {
                        session->failExternalUserAgentFlowWithError(mismatch);
                    });
                }
            } else if (error && error->domain == WebAuthenticationSession::ErrorDomain
                       && error->code == WebAuthenticationSession::BrowserNotOpened) {
                // Not a cancel: the page never showed, and the text says why.
                session->failExternalUserAgentFlowWithError(
                    OAuthErrorUtilities::errorWithCode(OAuthErrorCodeBrowserOpenError, error, error->localizedDescription));
            } else {
                session->failExternalUserAgentFlowWithError(
                    OAuthErrorUtilities::errorWithCode(OAuthErrorCodeUserAgentEnded, error, std::nullopt));
            }
        });
    web->setPresentationAnchor(presentationAnchorForWebAuthenticationSession());
    web->setPrefersEphemeralWebBrowserSession(m_prefersEphemeralSession);
    m_webAuthenticationSession = web;
    if (!web->start()) {
        // The session's own "could not start" would name no reason: the flow ends here with it.
        const QString reason = web->startFailure();
        dropWebAuthenticationSession();
        cleanUp();
        session->failExternalUserAgentFlowWithError(
            OAuthErrorUtilities::errorWithCode(OAuthErrorCodeSafariOpenError, std::nullopt, reason));
        return false;
    }
    return true;
}

void OAuthExternalUserAgentMac::dismissExternalUserAgentAnimated(bool animated, std::function<void()> completion)
{
    Q_UNUSED(animated);
    if (m_externalUserAgentFlowInProgress) {
        QPointer<WebAuthenticationSession> web = m_webAuthenticationSession;
        cleanUp();
        if (web) {
            web->cancel();
            web->deleteLater();
        }
    }
    if (completion)
        completion();
}

void OAuthExternalUserAgentMac::cleanUp()
{
    m_session.reset();
    m_externalUserAgentFlowInProgress = false;
    m_webAuthenticationSession.clear();
}

#include "oauth/OAuthAuthorizationSession.h"

#include "oauth/OAuthErrorUtilities.h"
#include "oauth/OAuthURLQueryComponent.h"

#include <QJsonArray>

OAuthAuthorizationSession::OAuthAuthorizationSession(OAuthAuthorizationRequestPtr request) : m_request(std::move(request)) {}

void OAuthAuthorizationSession::presentAuthorizationWithExternalUserAgent(
    std::shared_ptr<OAuthExternalUserAgent> externalUserAgent, Callback callback)
{
    m_externalUserAgent = std::move(externalUserAgent);
    m_pendingCallback = std::move(callback);
    // Keep the agent for the call: a fallback that fails the flow drops it.
    const std::shared_ptr<OAuthExternalUserAgent> agent = m_externalUserAgent;
    if (!agent->presentExternalUserAgentRequest(m_request, shared_from_this()))
        didFinishWithResponse(nullptr, OAuthErrorUtilities::errorWithCode(OAuthErrorCodeSafariOpenError, std::nullopt,
                                                                          QStringLiteral("Unable to open Safari.")));
}

bool OAuthAuthorizationSession::shouldHandleURL(const QUrl& url) const
{
    return m_request->redirectURL() && URLMatchesRedirectionURL(url, *m_request->redirectURL());
}

bool OAuthAuthorizationSession::resumeExternalUserAgentFlowWithURL(const QUrl& url, DomainError* error)
{
    if (!shouldHandleURL(url)) {
        if (error)
            *error = OAuthErrorUtilities::errorWithCode(OAuthErrorCodeRedirectURIMismatch, std::nullopt,
                                                        QStringLiteral("URL does not match the expected redirect URI."));
        return false;
    }
    if (!m_pendingCallback) {
        if (error)
            *error = OAuthErrorUtilities::errorWithCode(OAuthErrorCodeNoPendingFlow, std::nullopt,
                                                        QStringLiteral("There is no pending authorization flow to resume."));
        return false;
    }

    const QJsonObject parameters = OAuthURLQueryComponent(url).dictionaryValue();
    OAuthAuthorizationResponsePtr response;
    std::optional<DomainError> failure;
    if (parameters.contains(QStringLiteral("error"))) {
        failure = OAuthErrorUtilities::OAuthErrorWithDomain(OAuthAuthorizationErrorDomain, parameters, std::nullopt);
    } else {
        auto candidate = std::make_shared<const OAuthAuthorizationResponse>(m_request, parameters);
        if (m_request->state() != candidate->state()) {
            QVariantMap userInfo = parameters.toVariantMap();
            const QString description = QStringLiteral("State mismatch, expecting %1 but got %2 in authorization response %3")
                                            .arg(m_request->state().value_or(QStringLiteral("(null)")),
                                                 candidate->state().value_or(QStringLiteral("(null)")),
                                                 candidate->description());
            failure = DomainError(OAuthAuthorizationErrorDomain, static_cast<int>(OAuthErrorCodeOAuthClientError),
                                  description, userInfo);
        } else {
            response = candidate;
        }
    }

    auto self = shared_from_this();
    const std::shared_ptr<OAuthExternalUserAgent> agent = m_externalUserAgent;
    if (agent)
        agent->dismissExternalUserAgentAnimated(true, [self, response, failure]() { self->didFinishWithResponse(response, failure); });
    else
        didFinishWithResponse(response, failure);
    return true;
}

void OAuthAuthorizationSession::failExternalUserAgentFlowWithError(const DomainError& error)
{
    didFinishWithResponse(nullptr, error);
}

void OAuthAuthorizationSession::didFinishWithResponse(const OAuthAuthorizationResponsePtr& response,
                                                      const std::optional<DomainError>& error)
{
    Callback callback = std::move(m_pendingCallback);
    m_pendingCallback = nullptr;
    m_externalUserAgent.reset();
    if (callback)
        callback(response, error);
}

bool OAuthAuthorizationSession::URLMatchesRedirectionURL(const QUrl& url, const QUrl& redirectionURL)
{
    const QUrl a = url.adjusted(QUrl::NormalizePathSegments);
    const QUrl b = redirectionURL.adjusted(QUrl::NormalizePathSegments);
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
           && a.userName(QUrl::FullyEncoded) == b.userName(QUrl::FullyEncoded)
           && a.password(QUrl::FullyEncoded) == b.password(QUrl::FullyEncoded)
           && a.host(QUrl::FullyEncoded) == b.host(QUrl::FullyEncoded) && a.port() == b.port()
           && a.path(QUrl::FullyEncoded) == b.path(QUrl::FullyEncoded);
}

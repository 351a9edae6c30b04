#include "oauth/OAuthState.h"

#include "oauth/OAuthErrorUtilities.h"

#include <QDebug>

OAuthState::OAuthState(OAuthAuthorizationResponsePtr authorizationResponse, OAuthTokenResponsePtr tokenResponse)
{
    if (authorizationResponse)
        updateWithAuthorizationResponse(authorizationResponse, std::nullopt);
    if (tokenResponse)
        updateWithTokenResponse(tokenResponse, std::nullopt);
}

void OAuthState::didChangeState()
{
    if (auto delegate = m_delegate.lock())
        delegate->didChangeState(this);
}

void OAuthState::updateWithAuthorizationResponse(const OAuthAuthorizationResponsePtr& response,
                                                 const std::optional<DomainError>& error)
{
    if (error && error->domain == OAuthAuthorizationErrorDomain) {
        updateWithAuthorizationError(*error);
        return;
    }
    if (!response)
        return;
    m_lastAuthorizationResponse = response;
    m_lastTokenResponse = nullptr;
    m_refreshToken.reset();
    m_authorizationError.reset();
    m_scope = response->scope() ? response->scope() : response->request()->scope();
    didChangeState();
}

void OAuthState::updateWithTokenResponse(const OAuthTokenResponsePtr& response, const std::optional<DomainError>& error)
{
    if (m_authorizationError) {
        qWarning().noquote() << QStringLiteral(
                                    "OAuthState:updateWithTokenResponse should not be called in an error state [%1] "
                                    "callupdateWithAuthorizationResponse with the result of the fresh authorization "
                                    "responsefirst")
                                    .arg(m_authorizationError->localizedDescription);
        m_authorizationError.reset();
    }
    if (error && error->domain == OAuthTokenErrorDomain) {
        updateWithAuthorizationError(*error);
        return;
    }
    if (!response)
        return;
    m_lastTokenResponse = response;
    if (response->scope())
        m_scope = response->scope();
    if (response->refreshToken())
        m_refreshToken = response->refreshToken();
    didChangeState();
}

void OAuthState::updateWithAuthorizationError(const DomainError& error)
{
    m_authorizationError = error;
    didChangeState();
}

OAuthTokenRequestPtr OAuthState::tokenRefreshRequestWithAdditionalParameters(
    const std::optional<OAuthTokenRequest::StringMap>& additionalParameters) const
{
    if (!m_refreshToken)
        OAuthErrorUtilities::raiseException(
            QStringLiteral("Attempted to create a token refresh request from a token response with no refresh token."));
    if (!m_lastAuthorizationResponse)
        OAuthErrorUtilities::raiseException(
            QStringLiteral("Attempted to create a token refresh request without an authorization response."));
    const OAuthAuthorizationRequestPtr& request = m_lastAuthorizationResponse->request();
    return std::make_shared<const OAuthTokenRequest>(request->configuration(), OAuthGrantTypeRefreshToken, std::nullopt,
                                                     std::nullopt, request->clientID(), request->clientSecret(),
                                                     std::nullopt, m_refreshToken, std::nullopt, additionalParameters,
                                                     std::nullopt);
}

std::optional<QString> OAuthState::accessToken() const
{
    if (m_authorizationError)
        return std::nullopt;
    return m_lastTokenResponse          ? m_lastTokenResponse->accessToken()
           : m_lastAuthorizationResponse ? m_lastAuthorizationResponse->accessToken()
                                         : std::nullopt;
}

std::optional<QDateTime> OAuthState::accessTokenExpirationDate() const
{
    if (m_authorizationError)
        return std::nullopt;
    if (m_lastTokenResponse)
        return m_lastTokenResponse->accessTokenExpirationDate();
    return m_lastAuthorizationResponse ? m_lastAuthorizationResponse->accessTokenExpirationDate() : std::nullopt;
}

std::optional<QString> OAuthState::idToken() const
{
    if (m_authorizationError)
        return std::nullopt;
    return m_lastTokenResponse          ? m_lastTokenResponse->idToken()
           : m_lastAuthorizationResponse ? m_lastAuthorizationResponse->idToken()
                                         : std::nullopt;
}

bool OAuthState::isAuthorized() const
{
    return !m_authorizationError && (accessToken() || idToken() || m_refreshToken);
}

void OAuthState::encodeWithCoder(KeyedArchiver& coder) const
{
    coder.encodeObject(QStringLiteral("lastAuthorizationResponse"), m_lastAuthorizationResponse);
    coder.encodeObject(QStringLiteral("lastTokenResponse"), m_lastTokenResponse);
    if (m_authorizationError)
        coder.encodeError(QStringLiteral("authorizationError"),
                          DomainError(m_authorizationError->domain, m_authorizationError->code));
    coder.encodeString(QStringLiteral("scope"), m_scope);
    coder.encodeString(QStringLiteral("refreshToken"), m_refreshToken);
    coder.encodeBool(QStringLiteral("needsTokenRefresh"), m_needsTokenRefresh);
}

std::shared_ptr<OAuthState> OAuthState::initWithCoder(KeyedUnarchiver& coder)
{
    auto authorization = coder.decodeObject<OAuthAuthorizationResponse>(QStringLiteral("lastAuthorizationResponse"));
    auto token = coder.decodeObject<OAuthTokenResponse>(QStringLiteral("lastTokenResponse"));
    auto error = coder.decodeError(QStringLiteral("authorizationError"));
    auto scope = coder.decodeString(QStringLiteral("scope"));
    auto refreshToken = coder.decodeString(QStringLiteral("refreshToken"));
    auto needsTokenRefresh = coder.decodeBool(QStringLiteral("needsTokenRefresh"));
    if (coder.failed() || !authorization)
        return nullptr;
    std::shared_ptr<OAuthState> state(new OAuthState);
    state->m_lastAuthorizationResponse = authorization;
    state->m_lastTokenResponse = token;
    state->m_authorizationError = error;
    state->m_scope = scope;
    state->m_refreshToken = refreshToken;
    state->m_needsTokenRefresh = needsTokenRefresh.value_or(false);
    return state;
}

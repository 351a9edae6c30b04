#include "signin/AuthSession.h"

#include "oauth/OAuthIDToken.h"

namespace {

std::optional<QString> textClaim(const QJsonObject& claims, const char* name, const std::optional<QString>& fallback)
{
    const QJsonValue value = claims.value(QLatin1String(name));
    return value.isString() ? std::optional<QString>(value.toString()) : fallback;
}

void encodeOptional(KeyedArchiver& coder, const QString& key, const std::optional<QString>& value)
{
    if (value)
        coder.encodeString(key, value);
    else
        coder.encodeNull(key);
}

} // namespace

AuthSession::AuthSession(std::shared_ptr<OAuthState> authState)
    : AuthSession(std::move(authState), std::nullopt, std::nullopt, std::nullopt, std::nullopt)
{
}

AuthSession::AuthSession(std::shared_ptr<OAuthState> authState, std::optional<QString> serviceProvider,
                         std::optional<QString> userID, std::optional<QString> userEmail,
                         std::optional<QString> userEmailIsVerified)
    : m_authState(std::move(authState)), m_serviceProvider(std::move(serviceProvider)), m_userID(std::move(userID)),
      m_userEmail(std::move(userEmail)), m_userEmailIsVerified(std::move(userEmailIsVerified))
{
    std::optional<QString> idToken;
    if (m_authState) {
        if (const auto& token = m_authState->lastTokenResponse(); token && token->idToken())
            idToken = token->idToken();
        else if (const auto& authorization = m_authState->lastAuthorizationResponse(); authorization)
            idToken = authorization->idToken();
    }
    if (!idToken)
        return;
    const OAuthIDTokenPtr parsed = OAuthIDToken::initWithIDTokenString(*idToken);
    if (!parsed)
        return;
    const QJsonObject& claims = parsed->claims();
    m_userID = textClaim(claims, "sub", m_userID);
    m_userEmail = textClaim(claims, "email", m_userEmail);
    m_userEmailIsVerified = textClaim(claims, "email_verified", m_userEmailIsVerified);
}

void AuthSession::encodeWithCoder(KeyedArchiver& coder) const
{
    coder.encodeObject(QStringLiteral("authState"), m_authState);
    encodeOptional(coder, QStringLiteral("serviceProvider"), m_serviceProvider);
    encodeOptional(coder, QStringLiteral("userID"), m_userID);
    encodeOptional(coder, QStringLiteral("userEmail"), m_userEmail);
    encodeOptional(coder, QStringLiteral("userEmailIsVerified"), m_userEmailIsVerified);
}

std::shared_ptr<AuthSession> AuthSession::initWithCoder(KeyedUnarchiver& coder)
{
    std::shared_ptr<OAuthState> state = coder.decodeObject<OAuthState>(QStringLiteral("authState"));
    if (!state)
        return nullptr;
    std::optional<QString> provider = coder.decodeString(QStringLiteral("serviceProvider"));
    std::optional<QString> userID = coder.decodeString(QStringLiteral("userID"));
    std::optional<QString> email = coder.decodeString(QStringLiteral("userEmail"));
    std::optional<QString> verified = coder.decodeString(QStringLiteral("userEmailIsVerified"));
    if (coder.failed())
        return nullptr;
    return std::make_shared<AuthSession>(std::move(state), std::move(provider), std::move(userID), std::move(email),
                                         std::move(verified));
}

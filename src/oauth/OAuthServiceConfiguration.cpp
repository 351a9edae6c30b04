#include "oauth/OAuthServiceConfiguration.h"

OAuthServiceConfiguration::OAuthServiceConfiguration(QUrl authorizationEndpoint, QUrl tokenEndpoint,
                                                     std::optional<QUrl> issuer, std::optional<QUrl> registrationEndpoint,
                                                     std::optional<QUrl> endSessionEndpoint,
                                                     std::optional<QJsonObject> discoveryDocument)
    : m_authorizationEndpoint(std::move(authorizationEndpoint)), m_tokenEndpoint(std::move(tokenEndpoint)),
      m_issuer(std::move(issuer)), m_registrationEndpoint(std::move(registrationEndpoint)),
      m_endSessionEndpoint(std::move(endSessionEndpoint)), m_discoveryDocument(std::move(discoveryDocument))
{
}

OAuthServiceConfiguration::OAuthServiceConfiguration(QUrl authorizationEndpoint, QUrl tokenEndpoint)
    : OAuthServiceConfiguration(std::move(authorizationEndpoint), std::move(tokenEndpoint), std::nullopt, std::nullopt,
                                std::nullopt, std::nullopt)
{
}

void OAuthServiceConfiguration::encodeWithCoder(KeyedArchiver& coder) const
{
    coder.encodeURL(QStringLiteral("authorizationEndpoint"), m_authorizationEndpoint);
    coder.encodeURL(QStringLiteral("tokenEndpoint"), m_tokenEndpoint);
    coder.encodeURL(QStringLiteral("issuer"), m_issuer);
    coder.encodeURL(QStringLiteral("registrationEndpoint"), m_registrationEndpoint);
    coder.encodeJSONObject(QStringLiteral("discoveryDocument"), m_discoveryDocument);
    coder.encodeURL(QStringLiteral("endSessionEndpoint"), m_endSessionEndpoint);
}

std::shared_ptr<OAuthServiceConfiguration> OAuthServiceConfiguration::initWithCoder(KeyedUnarchiver& coder)
{
    auto authorization = coder.decodeURL(QStringLiteral("authorizationEndpoint"));
    auto token = coder.decodeURL(QStringLiteral("tokenEndpoint"));
    auto issuer = coder.decodeURL(QStringLiteral("issuer"));
    auto registration = coder.decodeURL(QStringLiteral("registrationEndpoint"));
    auto discovery = coder.decodeJSONObject(QStringLiteral("discoveryDocument"));
    auto endSession = coder.decodeURL(QStringLiteral("endSessionEndpoint"));
    if (coder.failed() || !authorization || !token)
        return nullptr;
    return std::make_shared<OAuthServiceConfiguration>(*authorization, *token, issuer, registration, endSession, discovery);
}

#pragma once

#include "oauth/KeyedArchive.h"
#include "oauth/OAuthServiceConfiguration.h"
#include "platform/DomainError.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <optional>

// An OAuth 2.0 authorization request (with PKCE, state and nonce when generated). Immutable;
// shared as std::shared_ptr<const ...>.
class OAuthAuthorizationRequest : public ArchivableObject {
public:
    static inline const QString ArchiveClassName = QStringLiteral("OAuthAuthorizationRequest");

    using StringMap = QMap<QString, QString>;

    // Takes every field as passed (scope already joined). Throws OAuthException (internal
    // inconsistency) for an unsupported response type.
    OAuthAuthorizationRequest(OAuthServiceConfigurationPtr configuration, QString clientId,
                              std::optional<QString> clientSecret, std::optional<QString> scope,
                              std::optional<QUrl> redirectURL, QString responseType, std::optional<QString> state,
                              std::optional<QString> nonce, std::optional<QString> codeVerifier,
                              std::optional<QString> codeChallenge, std::optional<QString> codeChallengeMethod,
                              std::optional<StringMap> additionalParameters);

    // Generate a code verifier with its "S256" challenge, a state and a nonce, and join the scopes.
    // Unlike a request with missing values, these answer nothing (and set `error`, general code
    // -1) when the secure random source fails, so no request without PKCE, state or nonce is made.
    // Scopes are checked as OAuthScopeUtilities::scopesWithArray does (it throws).
    static std::shared_ptr<const OAuthAuthorizationRequest>
    create(OAuthServiceConfigurationPtr configuration, const QString& clientId, const std::optional<QString>& clientSecret,
           const QStringList& scopes, const QUrl& redirectURL, const QString& responseType,
           const std::optional<StringMap>& additionalParameters, DomainError* error = nullptr);
    static std::shared_ptr<const OAuthAuthorizationRequest>
    create(OAuthServiceConfigurationPtr configuration, const QString& clientId, const QStringList& scopes,
           const QUrl& redirectURL, const QString& responseType, const std::optional<StringMap>& additionalParameters,
           DomainError* error = nullptr);
    // No client secret; the caller's nonce is taken as passed (absent when none is given), the
    // verifier, challenge and state are generated.
    static std::shared_ptr<const OAuthAuthorizationRequest>
    createWithNonce(OAuthServiceConfigurationPtr configuration, const QString& clientId, const QStringList& scopes,
                    const QUrl& redirectURL, const QString& responseType, const std::optional<QString>& nonce,
                    const std::optional<StringMap>& additionalParameters, DomainError* error = nullptr);

    static bool isSupportedResponseType(const QString& responseType);
    static std::optional<QString> generateCodeVerifier();
    static std::optional<QString> generateState();
    static std::optional<QString> codeChallengeS256ForVerifier(const std::optional<QString>& codeVerifier);

    // The authorization endpoint with its query replaced by the request's parameters.
    QUrl authorizationRequestURL() const;
    QUrl externalUserAgentRequestURL() const { return authorizationRequestURL(); }
    QString redirectScheme() const;
    QString description() const;

    const OAuthServiceConfigurationPtr& configuration() const { return m_configuration; }
    const QString& responseType() const { return m_responseType; }
    const QString& clientID() const { return m_clientID; }
    const std::optional<QString>& clientSecret() const { return m_clientSecret; }
    const std::optional<QString>& scope() const { return m_scope; }
    const std::optional<QUrl>& redirectURL() const { return m_redirectURL; }
    const std::optional<QString>& state() const { return m_state; }
    const std::optional<QString>& nonce() const { return m_nonce; }
    const std::optional<QString>& codeVerifier() const { return m_codeVerifier; }
    const std::optional<QString>& codeChallenge() const { return m_codeChallenge; }
    const std::optional<QString>& codeChallengeMethod() const { return m_codeChallengeMethod; }
    const std::optional<StringMap>& additionalParameters() const { return m_additionalParameters; }

    QString archiveClassName() const override { return ArchiveClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<OAuthAuthorizationRequest> initWithCoder(KeyedUnarchiver& coder);

private:
    OAuthServiceConfigurationPtr m_configuration;
    QString m_responseType;
    QString m_clientID;
    std::optional<QString> m_clientSecret;
    std::optional<QString> m_scope;
    std::optional<QUrl> m_redirectURL;
    std::optional<QString> m_state;
    std::optional<QString> m_nonce;
    std::optional<QString> m_codeVerifier;
    std::optional<QString> m_codeChallenge;
    std::optional<QString> m_codeChallengeMethod;
    std::optional<StringMap> m_additionalParameters;
};

using OAuthAuthorizationRequestPtr = std::shared_ptr<const OAuthAuthorizationRequest>;

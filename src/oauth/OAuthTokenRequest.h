#pragma once

#include "oauth/KeyedArchive.h"
#include "oauth/OAuthServiceConfiguration.h"
#include "oauth/OAuthURLQueryComponent.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

// The HTTP request a token request is sent as.
struct OAuthHTTPRequest {
    QUrl url;
    QByteArray method;
    QList<QPair<QByteArray, QByteArray>> headers; // one entry per name (compared without case)
    QByteArray body;

    // The value of a header (case-insensitive name), or nothing.
    std::optional<QByteArray> header(const QByteArray& name) const;
    // Sets a header, replacing one of the same name.
    void setHeader(const QByteArray& name, const QByteArray& value);
};

inline const QString OAuthGrantTypeAuthorizationCode = QStringLiteral("authorization_code");
inline const QString OAuthGrantTypeRefreshToken = QStringLiteral("refresh_token");

// A token endpoint request. Immutable; shared as std::shared_ptr<const ...>.
class OAuthTokenRequest : public ArchivableObject {
public:
    static inline const QString ArchiveClassName = QStringLiteral("OAuthTokenRequest");
    using StringMap = QMap<QString, QString>;

    // Throws OAuthException when the grant type is "authorization_code" and there is no redirect URL.
    OAuthTokenRequest(OAuthServiceConfigurationPtr configuration, QString grantType,
                      std::optional<QString> authorizationCode, std::optional<QUrl> redirectURL, QString clientID,
                      std::optional<QString> clientSecret, std::optional<QString> scope,
                      std::optional<QString> refreshToken, std::optional<QString> codeVerifier,
                      std::optional<StringMap> additionalParameters, std::optional<StringMap> additionalHeaders);

    QUrl tokenRequestURL() const;
    OAuthURLQueryComponent tokenRequestBody() const;
    OAuthHTTPRequest URLRequest() const;
    QString description() const;

    const OAuthServiceConfigurationPtr& configuration() const { return m_configuration; }
    const QString& grantType() const { return m_grantType; }
    const std::optional<QString>& authorizationCode() const { return m_authorizationCode; }
    const std::optional<QUrl>& redirectURL() const { return m_redirectURL; }
    const QString& clientID() const { return m_clientID; }
    const std::optional<QString>& clientSecret() const { return m_clientSecret; }
    const std::optional<QString>& scope() const { return m_scope; }
    const std::optional<QString>& refreshToken() const { return m_refreshToken; }
    const std::optional<QString>& codeVerifier() const { return m_codeVerifier; }
    const std::optional<StringMap>& additionalParameters() const { return m_additionalParameters; }
    const std::optional<StringMap>& additionalHeaders() const { return m_additionalHeaders; }

    QString archiveClassName() const override { return ArchiveClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<OAuthTokenRequest> initWithCoder(KeyedUnarchiver& coder);

private:
    OAuthServiceConfigurationPtr m_configuration;
    QString m_grantType;
    std::optional<QString> m_authorizationCode;
    std::optional<QUrl> m_redirectURL;
    QString m_clientID;
    std::optional<QString> m_clientSecret;
    std::optional<QString> m_scope;
    std::optional<QString> m_refreshToken;
    std::optional<QString> m_codeVerifier;
    std::optional<StringMap> m_additionalParameters;
    std::optional<StringMap> m_additionalHeaders;
};

using OAuthTokenRequestPtr = std::shared_ptr<const OAuthTokenRequest>;

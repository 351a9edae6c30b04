#pragma once

#include "oauth/KeyedArchive.h"
#include "oauth/OAuthTokenRequest.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <memory>
#include <optional>

// The token endpoint's JSON answer. Immutable; shared as std::shared_ptr<const ...>.
class OAuthTokenResponse : public ArchivableObject {
public:
    static inline const QString ArchiveClassName = QStringLiteral("OAuthTokenResponse");

    struct Fields {
        std::optional<QString> accessToken;
        std::optional<QDateTime> accessTokenExpirationDate;
        std::optional<QString> tokenType;
        std::optional<QString> idToken;
        std::optional<QString> refreshToken;
        std::optional<QString> scope;
        QJsonObject additionalParameters;
    };

    // `parameters`: the decoded JSON object. Unknown or mistyped members go to additionalParameters.
    OAuthTokenResponse(OAuthTokenRequestPtr request, const QJsonObject& parameters);

    // Tokens are redacted.
    QString description() const;

    const OAuthTokenRequestPtr& request() const { return m_request; }
    const std::optional<QString>& accessToken() const { return m_fields.accessToken; }
    const std::optional<QDateTime>& accessTokenExpirationDate() const { return m_fields.accessTokenExpirationDate; }
    const std::optional<QString>& tokenType() const { return m_fields.tokenType; }
    const std::optional<QString>& idToken() const { return m_fields.idToken; }
    const std::optional<QString>& refreshToken() const { return m_fields.refreshToken; }
    const std::optional<QString>& scope() const { return m_fields.scope; }
    const QJsonObject& additionalParameters() const { return m_fields.additionalParameters; }

    QString archiveClassName() const override { return ArchiveClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<OAuthTokenResponse> initWithCoder(KeyedUnarchiver& coder);

private:
    OAuthTokenResponse(OAuthTokenRequestPtr request, Fields fields);

    OAuthTokenRequestPtr m_request;
    Fields m_fields;
};

using OAuthTokenResponsePtr = std::shared_ptr<const OAuthTokenResponse>;

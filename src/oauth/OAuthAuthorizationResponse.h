#pragma once

#include "oauth/KeyedArchive.h"
#include "oauth/OAuthAuthorizationRequest.h"
#include "oauth/OAuthTokenRequest.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <memory>
#include <optional>

// The parsed redirect of an authorization request. Immutable; shared as std::shared_ptr<const ...>.
class OAuthAuthorizationResponse : public ArchivableObject {
public:
    static inline const QString ArchiveClassName = QStringLiteral("OAuthAuthorizationResponse");

    struct Fields {
        std::optional<QString> authorizationCode;
        std::optional<QString> state;
        std::optional<QString> accessToken;
        std::optional<QDateTime> accessTokenExpirationDate;
        std::optional<QString> tokenType;
        std::optional<QString> idToken;
        std::optional<QString> scope;
        QJsonObject additionalParameters;
    };

    // `parameters`: name to text, or to a list of texts for a repeated name (the query parser's
    // dictionaryValue()). Unknown or mistyped parameters go to additionalParameters.
    OAuthAuthorizationResponse(OAuthAuthorizationRequestPtr request, const QJsonObject& parameters);

    // The code exchange request; throws OAuthException when the response has no code.
    OAuthTokenRequestPtr tokenExchangeRequestWithAdditionalParameters(
        const std::optional<OAuthTokenRequest::StringMap>& additionalParameters,
        const std::optional<OAuthTokenRequest::StringMap>& additionalHeaders = std::nullopt) const;

    // Tokens and the code are redacted.
    QString description() const;

    const OAuthAuthorizationRequestPtr& request() const { return m_request; }
    const std::optional<QString>& authorizationCode() const { return m_fields.authorizationCode; }
    const std::optional<QString>& state() const { return m_fields.state; }
    const std::optional<QString>& accessToken() const { return m_fields.accessToken; }
    const std::optional<QDateTime>& accessTokenExpirationDate() const { return m_fields.accessTokenExpirationDate; }
    const std::optional<QString>& tokenType() const { return m_fields.tokenType; }
    const std::optional<QString>& idToken() const { return m_fields.idToken; }
    const std::optional<QString>& scope() const { return m_fields.scope; }
    const QJsonObject& additionalParameters() const { return m_fields.additionalParameters; }

    QString archiveClassName() const override { return ArchiveClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<OAuthAuthorizationResponse> initWithCoder(KeyedUnarchiver& coder);

private:
    OAuthAuthorizationResponse(OAuthAuthorizationRequestPtr request, Fields fields);

    OAuthAuthorizationRequestPtr m_request;
    Fields m_fields;
};

using OAuthAuthorizationResponsePtr = std::shared_ptr<const OAuthAuthorizationResponse>;

#include "oauth/OAuthErrorUtilities.h"

#include "oauth/OAuthException.h"
#include "platform/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace OAuthErrorUtilities {

namespace {

DomainError make(const QString& domain, qint64 code, const std::optional<QString>& description,
                 const std::optional<DomainError>& underlying, const QVariantMap& userInfo = {})
{
    DomainError error(domain, static_cast<int>(code), description.value_or(QString()), userInfo);
    if (underlying)
        error.withUnderlying(*underlying);
    return error;
}

// The printed form of a JSON value that is not a text.
QString printed(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QJsonValue::Double:
        if (value.toDouble() == static_cast<double>(value.toInteger()))
            return QString::number(value.toInteger());
        return QString::number(value.toDouble(), 'g', 17);
    case QJsonValue::Null:
        return QStringLiteral("<null>");
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Undefined:
        break;
    }
    return QString();
}

} // namespace

DomainError errorWithCode(qint64 code, const std::optional<DomainError>& underlying,
                         const std::optional<QString>& description)
{
    return make(OAuthGeneralErrorDomain, code, description, underlying);
}

bool isOAuthErrorDomain(const QString& domain)
{
    return domain == OAuthAuthorizationErrorDomain || domain == OAuthTokenErrorDomain
           || domain == OAuthRegistrationErrorDomain;
}

DomainError OAuthErrorWithDomain(const QString& domain, const std::optional<QJsonObject>& response,
                                const std::optional<DomainError>& underlying)
{
    if (!response || !isOAuthErrorDomain(domain) || !response->value(QStringLiteral("error")).isString())
        return errorWithCode(OAuthErrorCodeNetworkError, underlying,
                             underlying ? std::optional<QString>(underlying->localizedDescription) : std::nullopt);

    const QString error = response->value(QStringLiteral("error")).toString();
    QString description = error;
    if (response->contains(QStringLiteral("error_description")))
        description += QStringLiteral(": ") + printed(response->value(QStringLiteral("error_description")));
    if (response->contains(QStringLiteral("error_uri"))) {
        if (!description.isEmpty())
            description += QStringLiteral(" - ");
        description += printed(response->value(QStringLiteral("error_uri")));
    }
    if (description.isEmpty())
        description = QStringLiteral("OAuth error: ") + error
                      + QStringLiteral(" - https://tools.ietf.org/html/rfc6749#section-5.2");

    QVariantMap userInfo;
    userInfo.insert(OAuthErrorResponseErrorKey, QVariant::fromValue(*response));
    return make(domain, OAuthErrorCodeFromString(error), description, underlying, userInfo);
}

DomainError HTTPErrorWithHTTPResponse(int statusCode, const QByteArray& data)
{
    std::optional<QString> description;
    if (!data.isEmpty())
        description = Text::decodeUtf8(data);
    return make(OAuthHTTPErrorDomain, statusCode, description, std::nullopt);
}

qint64 OAuthErrorCodeFromString(const QString& errorCode)
{
    static const QHash<QString, qint64> codes = {
        {QStringLiteral("invalid_request"), OAuthErrorCodeOAuthInvalidRequest},
        {QStringLiteral("unauthorized_client"), OAuthErrorCodeOAuthUnauthorizedClient},
        {QStringLiteral("access_denied"), OAuthErrorCodeOAuthAccessDenied},
        {QStringLiteral("unsupported_response_type"), OAuthErrorCodeOAuthUnsupportedResponseType},
        {QStringLiteral("invalid_scope"), OAuthErrorCodeOAuthInvalidScope},
        {QStringLiteral("server_error"), OAuthErrorCodeOAuthServerError},
        {QStringLiteral("temporarily_unavailable"), OAuthErrorCodeOAuthTemporarilyUnavailable},
        {QStringLiteral("invalid_client"), OAuthErrorCodeOAuthInvalidClient},
        {QStringLiteral("invalid_grant"), OAuthErrorCodeOAuthInvalidGrant},
        {QStringLiteral("unsupported_grant_type"), OAuthErrorCodeOAuthUnsupportedGrantType},
    };
    return codes.value(errorCode, OAuthErrorCodeOAuthOther);
}

void raiseException(const QString& message)
{
    throw OAuthException(message, message);
}

void raiseException(const QString& name, const QString& message)
{
    throw OAuthException(name, message);
}

} // namespace OAuthErrorUtilities

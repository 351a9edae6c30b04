#include "oauth/OAuthErrorUtilities.h"

#include "oauth/OAuthException.h"
#include "platform/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace OAuthErrorUtilities {

namespace {

std::shared_ptr<const ErrorValue> shared(const std::optional<ErrorValue>& error)
{
    return error ? std::make_shared<const ErrorValue>(*error) : nullptr;
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

ErrorValue errorWithCode(qint64 code, const std::optional<ErrorValue>& underlying,
                         const std::optional<QString>& description)
{
    return ErrorValue(OAuthGeneralErrorDomain, code, description, shared(underlying));
}

bool isOAuthErrorDomain(const QString& domain)
{
    return domain == OAuthAuthorizationErrorDomain || domain == OAuthTokenErrorDomain
           || domain == OAuthRegistrationErrorDomain;
}

ErrorValue OAuthErrorWithDomain(const QString& domain, const std::optional<QJsonObject>& response,
                                const std::optional<ErrorValue>& underlying)
{
    if (!response || !isOAuthErrorDomain(domain) || !response->value(QStringLiteral("error")).isString())
        return errorWithCode(OAuthErrorCodeNetworkError, underlying,
                             underlying ? std::optional<QString>(underlying->localizedDescription()) : std::nullopt);

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
    return ErrorValue(domain, OAuthErrorCodeFromString(error), description, shared(underlying), userInfo);
}

ErrorValue HTTPErrorWithHTTPResponse(int statusCode, const QByteArray& data)
{
    std::optional<QString> description;
    if (!data.isEmpty())
        description = Text::decodeUtf8(data);
    return ErrorValue(OAuthHTTPErrorDomain, statusCode, description);
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

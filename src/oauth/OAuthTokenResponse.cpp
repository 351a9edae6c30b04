#include "oauth/OAuthTokenResponse.h"

#include "oauth/OAuthFieldMapping.h"
#include "oauth/OAuthTokenUtilities.h"

#include <QJsonDocument>

namespace {

using Fields = OAuthTokenResponse::Fields;
using Mapping = OAuthFieldMapping<Fields>;

const std::vector<Mapping>& fieldMap()
{
    static const std::vector<Mapping> map = {
        Mapping::text(QStringLiteral("access_token"), QStringLiteral("accessToken"), &Fields::accessToken),
        Mapping::date(QStringLiteral("expires_in"), QStringLiteral("accessTokenExpirationDate"),
                      &Fields::accessTokenExpirationDate, OAuthFieldConversions::dateSinceNowConversion),
        Mapping::text(QStringLiteral("token_type"), QStringLiteral("tokenType"), &Fields::tokenType),
        Mapping::text(QStringLiteral("id_token"), QStringLiteral("idToken"), &Fields::idToken),
        Mapping::text(QStringLiteral("refresh_token"), QStringLiteral("refreshToken"), &Fields::refreshToken),
        Mapping::text(QStringLiteral("scope"), QStringLiteral("scope"), &Fields::scope),
    };
    return map;
}

QString orNull(const std::optional<QString>& text) { return text ? *text : QStringLiteral("(null)"); }

} // namespace

OAuthTokenResponse::OAuthTokenResponse(OAuthTokenRequestPtr request, const QJsonObject& parameters)
    : m_request(std::move(request))
{
    m_fields.additionalParameters = Mapping::remainingParametersWithMap(fieldMap(), parameters, m_fields);
}

OAuthTokenResponse::OAuthTokenResponse(OAuthTokenRequestPtr request, Fields fields)
    : m_request(std::move(request)), m_fields(std::move(fields))
{
}

QString OAuthTokenResponse::description() const
{
    const QString expiry = m_fields.accessTokenExpirationDate
                               ? m_fields.accessTokenExpirationDate->toUTC().toString(Qt::ISODate)
                               : QStringLiteral("(null)");
    return QStringLiteral("<%1: %2, accessToken: \"%3\", accessTokenExpirationDate: %4, tokenType: %5, "
                          "idToken: \"%6\", refreshToken: \"%7\", scope: \"%8\", request: %9>")
        .arg(ArchiveClassName, QString::asprintf("%p", static_cast<const void*>(this)),
             orNull(OAuthTokenUtilities::redact(m_fields.accessToken)), expiry, orNull(m_fields.tokenType),
             orNull(OAuthTokenUtilities::redact(m_fields.idToken)),
             orNull(OAuthTokenUtilities::redact(m_fields.refreshToken)), orNull(m_fields.scope),
             m_request->description());
}

void OAuthTokenResponse::encodeWithCoder(KeyedArchiver& coder) const
{
    Mapping::encodeWithCoder(coder, fieldMap(), m_fields);
    coder.encodeObject(QStringLiteral("request"), m_request);
    coder.encodeJSONObject(QStringLiteral("additionalParameters"), m_fields.additionalParameters);
}

std::shared_ptr<OAuthTokenResponse> OAuthTokenResponse::initWithCoder(KeyedUnarchiver& coder)
{
    Fields fields;
    Mapping::decodeWithCoder(coder, fieldMap(), fields);
    auto request = coder.decodeObject<OAuthTokenRequest>(QStringLiteral("request"));
    fields.additionalParameters = coder.decodeJSONObject(QStringLiteral("additionalParameters")).value_or(QJsonObject());
    if (coder.failed() || !request)
        return nullptr;
    return std::shared_ptr<OAuthTokenResponse>(new OAuthTokenResponse(request, std::move(fields)));
}

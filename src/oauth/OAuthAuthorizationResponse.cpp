#include "oauth/OAuthAuthorizationResponse.h"

#include "oauth/OAuthErrorUtilities.h"
#include "oauth/OAuthFieldMapping.h"
#include "oauth/OAuthTokenUtilities.h"

#include <QJsonDocument>

namespace {

using Fields = OAuthAuthorizationResponse::Fields;
using Mapping = OAuthFieldMapping<Fields>;

const std::vector<Mapping>& fieldMap()
{
    static const std::vector<Mapping> map = {
        Mapping::text(QStringLiteral("state"), QStringLiteral("state"), &Fields::state),
        Mapping::text(QStringLiteral("code"), QStringLiteral("authorizationCode"), &Fields::authorizationCode),
        Mapping::text(QStringLiteral("access_token"), QStringLiteral("accessToken"), &Fields::accessToken),
        Mapping::date(QStringLiteral("expires_in"), QStringLiteral("accessTokenExpirationDate"),
                      &Fields::accessTokenExpirationDate, OAuthFieldConversions::dateSinceNowConversion),
        Mapping::text(QStringLiteral("token_type"), QStringLiteral("tokenType"), &Fields::tokenType),
        Mapping::text(QStringLiteral("id_token"), QStringLiteral("idToken"), &Fields::idToken),
        Mapping::text(QStringLiteral("scope"), QStringLiteral("scope"), &Fields::scope),
    };
    return map;
}

QString orNull(const std::optional<QString>& text) { return text ? *text : QStringLiteral("(null)"); }

} // namespace

OAuthAuthorizationResponse::OAuthAuthorizationResponse(OAuthAuthorizationRequestPtr request,
                                                       const QJsonObject& parameters)
    : m_request(std::move(request))
{
    m_fields.additionalParameters = Mapping::remainingParametersWithMap(fieldMap(), parameters, m_fields);
}

OAuthAuthorizationResponse::OAuthAuthorizationResponse(OAuthAuthorizationRequestPtr request, Fields fields)
    : m_request(std::move(request)), m_fields(std::move(fields))
{
}

OAuthTokenRequestPtr OAuthAuthorizationResponse::tokenExchangeRequestWithAdditionalParameters(
    const std::optional<OAuthTokenRequest::StringMap>& additionalParameters,
    const std::optional<OAuthTokenRequest::StringMap>& additionalHeaders) const
{
    if (!m_fields.authorizationCode)
        OAuthErrorUtilities::raiseException(QStringLiteral(
            "Attempted to create a token exchange request from an authorization response with no authorization code."));
    return std::make_shared<const OAuthTokenRequest>(m_request->configuration(), OAuthGrantTypeAuthorizationCode,
                                                     m_fields.authorizationCode, m_request->redirectURL(),
                                                     m_request->clientID(), m_request->clientSecret(), std::nullopt,
                                                     std::nullopt, m_request->codeVerifier(), additionalParameters,
                                                     additionalHeaders);
}

QString OAuthAuthorizationResponse::description() const
{
    const QString expiry = m_fields.accessTokenExpirationDate
                               ? m_fields.accessTokenExpirationDate->toUTC().toString(Qt::ISODate)
                               : QStringLiteral("(null)");
    // Built by concatenation: the values may contain "%1"-like text.
    return QStringLiteral("<") + ArchiveClassName + QStringLiteral(": ")
           + QString::asprintf("%p", static_cast<const void*>(this)) + QStringLiteral(", authorizationCode: ")
           + orNull(OAuthTokenUtilities::redact(m_fields.authorizationCode)) + QStringLiteral(", state: \"")
           + orNull(m_fields.state) + QStringLiteral("\", accessToken: \"")
           + orNull(OAuthTokenUtilities::redact(m_fields.accessToken))
           + QStringLiteral("\", accessTokenExpirationDate: ") + expiry + QStringLiteral(", tokenType: ")
           + orNull(m_fields.tokenType) + QStringLiteral(", idToken: \"")
           + orNull(OAuthTokenUtilities::redact(m_fields.idToken)) + QStringLiteral("\", scope: \"")
           + orNull(m_fields.scope) + QStringLiteral("\", additionalParameters: ")
           + QString::fromUtf8(QJsonDocument(m_fields.additionalParameters).toJson(QJsonDocument::Compact))
           + QStringLiteral(", request: ") + m_request->description() + QStringLiteral(">");
}

void OAuthAuthorizationResponse::encodeWithCoder(KeyedArchiver& coder) const
{
    coder.encodeObject(QStringLiteral("request"), m_request);
    Mapping::encodeWithCoder(coder, fieldMap(), m_fields);
    coder.encodeJSONObject(QStringLiteral("additionalParameters"), m_fields.additionalParameters);
}

std::shared_ptr<OAuthAuthorizationResponse> OAuthAuthorizationResponse::initWithCoder(KeyedUnarchiver& coder)
{
    auto request = coder.decodeObject<OAuthAuthorizationRequest>(QStringLiteral("request"));
    Fields fields;
    Mapping::decodeWithCoder(coder, fieldMap(), fields);
    fields.additionalParameters = coder.decodeJSONObject(QStringLiteral("additionalParameters")).value_or(QJsonObject());
    if (coder.failed() || !request)
        return nullptr;
    return std::shared_ptr<OAuthAuthorizationResponse>(new OAuthAuthorizationResponse(request, std::move(fields)));
}

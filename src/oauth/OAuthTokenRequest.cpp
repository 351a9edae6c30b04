#include "oauth/OAuthTokenRequest.h"

#include "oauth/OAuthErrorUtilities.h"
#include "oauth/OAuthTokenUtilities.h"

std::optional<QByteArray> OAuthHTTPRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

void OAuthHTTPRequest::setHeader(const QByteArray& name, const QByteArray& value)
{
    for (auto& entry : headers)
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0) {
            entry = {name, value};
            return;
        }
    headers.append({name, value});
}

OAuthTokenRequest::OAuthTokenRequest(OAuthServiceConfigurationPtr configuration, QString grantType,
                                     std::optional<QString> authorizationCode, std::optional<QUrl> redirectURL,
                                     QString clientID, std::optional<QString> clientSecret, std::optional<QString> scope,
                                     std::optional<QString> refreshToken, std::optional<QString> codeVerifier,
                                     std::optional<StringMap> additionalParameters,
                                     std::optional<StringMap> additionalHeaders)
    : m_configuration(std::move(configuration)), m_grantType(std::move(grantType)),
      m_authorizationCode(std::move(authorizationCode)), m_redirectURL(std::move(redirectURL)),
      m_clientID(std::move(clientID)), m_clientSecret(std::move(clientSecret)), m_scope(std::move(scope)),
      m_refreshToken(std::move(refreshToken)), m_codeVerifier(std::move(codeVerifier)),
      m_additionalParameters(std::move(additionalParameters)), m_additionalHeaders(std::move(additionalHeaders))
{
    if (m_grantType == OAuthGrantTypeAuthorizationCode && !m_redirectURL)
        OAuthErrorUtilities::raiseException(
            QStringLiteral("A OAuthTokenRequest was created with a grant_type that requires a redirectURL, but a null "
                           "redirectURL was given"));
}

QUrl OAuthTokenRequest::tokenRequestURL() const { return m_configuration->tokenEndpoint(); }

OAuthURLQueryComponent OAuthTokenRequest::tokenRequestBody() const
{
    OAuthURLQueryComponent query;
    query.addParameter(QStringLiteral("grant_type"), m_grantType);
    if (m_scope)
        query.addParameter(QStringLiteral("scope"), *m_scope);
    if (m_redirectURL)
        query.addParameter(QStringLiteral("redirect_uri"), m_redirectURL->toString(QUrl::FullyEncoded));
    if (m_refreshToken)
        query.addParameter(QStringLiteral("refresh_token"), *m_refreshToken);
    if (m_authorizationCode)
        query.addParameter(QStringLiteral("code"), *m_authorizationCode);
    if (m_codeVerifier)
        query.addParameter(QStringLiteral("code_verifier"), *m_codeVerifier);
    if (m_additionalParameters)
        query.addParameters(*m_additionalParameters);
    return query;
}

OAuthHTTPRequest OAuthTokenRequest::URLRequest() const
{
    OAuthHTTPRequest request;
    request.url = tokenRequestURL();
    request.method = "POST";
    request.setHeader("Content-Type", "application/x-www-form-urlencoded; charset=UTF-8");

    OAuthURLQueryComponent body = tokenRequestBody();
    if (m_clientSecret) {
        const QString credentials = OAuthTokenUtilities::formUrlEncode(m_clientID) + QLatin1Char(':')
                                    + OAuthTokenUtilities::formUrlEncode(*m_clientSecret);
        request.setHeader("Authorization", "Basic " + credentials.toUtf8().toBase64());
    } else {
        body.addParameter(QStringLiteral("client_id"), m_clientID);
    }
    request.body = body.URLEncodedParameters().toUtf8();

    if (m_additionalHeaders)
        for (auto it = m_additionalHeaders->cbegin(); it != m_additionalHeaders->cend(); ++it)
            request.setHeader(it.key().toUtf8(), it.value().toUtf8());
    return request;
}

QString OAuthTokenRequest::description() const
{
    return QStringLiteral("<%1: %2, request: URL: %3, HTTPMethod: POST, HTTPBody: grant_type=%4 (other values "
                          "redacted)>")
        .arg(ArchiveClassName, QString::asprintf("%p", static_cast<const void*>(this)),
             tokenRequestURL().toString(QUrl::FullyEncoded), m_grantType);
}

void OAuthTokenRequest::encodeWithCoder(KeyedArchiver& coder) const
{
    coder.encodeObject(QStringLiteral("configuration"), m_configuration);
    coder.encodeString(QStringLiteral("grant_type"), m_grantType);
    coder.encodeString(QStringLiteral("code"), m_authorizationCode);
    coder.encodeString(QStringLiteral("client_id"), m_clientID);
    coder.encodeString(QStringLiteral("client_secret"), m_clientSecret);
    coder.encodeURL(QStringLiteral("redirect_uri"), m_redirectURL);
    coder.encodeString(QStringLiteral("scope"), m_scope);
    coder.encodeString(QStringLiteral("refresh_token"), m_refreshToken);
    coder.encodeString(QStringLiteral("code_verifier"), m_codeVerifier);
    coder.encodeStringMap(QStringLiteral("additionalParameters"), m_additionalParameters);
    coder.encodeStringMap(QStringLiteral("additionalHeaders"), m_additionalHeaders);
}

std::shared_ptr<OAuthTokenRequest> OAuthTokenRequest::initWithCoder(KeyedUnarchiver& coder)
{
    auto configuration = coder.decodeObject<OAuthServiceConfiguration>(QStringLiteral("configuration"));
    auto grantType = coder.decodeString(QStringLiteral("grant_type"));
    auto code = coder.decodeString(QStringLiteral("code"));
    auto clientID = coder.decodeString(QStringLiteral("client_id"));
    auto clientSecret = coder.decodeString(QStringLiteral("client_secret"));
    auto redirectURL = coder.decodeURL(QStringLiteral("redirect_uri"));
    auto scope = coder.decodeString(QStringLiteral("scope"));
    auto refreshToken = coder.decodeString(QStringLiteral("refresh_token"));
    auto codeVerifier = coder.decodeString(QStringLiteral("code_verifier"));
    auto additionalParameters = coder.decodeStringMap(QStringLiteral("additionalParameters"));
    auto additionalHeaders = coder.decodeStringMap(QStringLiteral("additionalHeaders"));
    if (coder.failed() || !configuration || !grantType || !clientID)
        return nullptr;
    if (*grantType == OAuthGrantTypeAuthorizationCode && !redirectURL)
        return nullptr;
    return std::make_shared<OAuthTokenRequest>(configuration, *grantType, code, redirectURL, *clientID, clientSecret,
                                               scope, refreshToken, codeVerifier, additionalParameters,
                                               additionalHeaders);
}

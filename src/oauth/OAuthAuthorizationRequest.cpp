#include "oauth/OAuthAuthorizationRequest.h"

#include "oauth/OAuthErrorUtilities.h"
#include "oauth/OAuthException.h"
#include "oauth/OAuthScopeUtilities.h"
#include "oauth/OAuthTokenUtilities.h"
#include "oauth/OAuthURLQueryComponent.h"

namespace {

constexpr std::size_t RandomValueBytes = 32;
const QString CodeChallengeMethodS256 = QStringLiteral("S256");

std::shared_ptr<const OAuthAuthorizationRequest> randomFailure(DomainError* error)
{
    if (error)
        *error = OAuthErrorUtilities::errorWithCode(OAuthErrorCodeSecureRandomFailed, std::nullopt,
                                                    QStringLiteral("The system's secure random generator failed."));
    return nullptr;
}

} // namespace

OAuthAuthorizationRequest::OAuthAuthorizationRequest(
    OAuthServiceConfigurationPtr configuration, QString clientId, std::optional<QString> clientSecret,
    std::optional<QString> scope, std::optional<QUrl> redirectURL, QString responseType, std::optional<QString> state,
    std::optional<QString> nonce, std::optional<QString> codeVerifier, std::optional<QString> codeChallenge,
    std::optional<QString> codeChallengeMethod, std::optional<StringMap> additionalParameters)
    : m_configuration(std::move(configuration)), m_responseType(std::move(responseType)), m_clientID(std::move(clientId)),
      m_clientSecret(std::move(clientSecret)), m_scope(std::move(scope)), m_redirectURL(std::move(redirectURL))
{
    if (!isSupportedResponseType(m_responseType))
        throw OAuthException(OAuthException::InternalInconsistency,
                             QStringLiteral("The response_type \"%1\" isn't supported. This client only supports the "
                                            "\"code\" or \"code id_token\" response_type.")
                                 .arg(m_responseType));
    m_state = std::move(state);
    m_nonce = std::move(nonce);
    m_codeVerifier = std::move(codeVerifier);
    m_codeChallenge = std::move(codeChallenge);
    m_codeChallengeMethod = std::move(codeChallengeMethod);
    m_additionalParameters = std::move(additionalParameters);
}

std::shared_ptr<const OAuthAuthorizationRequest>
OAuthAuthorizationRequest::create(OAuthServiceConfigurationPtr configuration, const QString& clientId,
                                  const std::optional<QString>& clientSecret, const QStringList& scopes,
                                  const QUrl& redirectURL, const QString& responseType,
                                  const std::optional<StringMap>& additionalParameters, DomainError* error)
{
    const QString scope = OAuthScopeUtilities::scopesWithArray(scopes);
    const auto verifier = generateCodeVerifier();
    const auto state = generateState();
    const auto nonce = OAuthTokenUtilities::randomURLSafeStringWithSize(RandomValueBytes);
    if (!verifier || !state || !nonce)
        return randomFailure(error);
    return std::make_shared<const OAuthAuthorizationRequest>(std::move(configuration), clientId, clientSecret, scope,
                                                             redirectURL, responseType, state, nonce, verifier,
                                                             codeChallengeS256ForVerifier(verifier),
                                                             CodeChallengeMethodS256, additionalParameters);
}

std::shared_ptr<const OAuthAuthorizationRequest>
OAuthAuthorizationRequest::create(OAuthServiceConfigurationPtr configuration, const QString& clientId,
                                  const QStringList& scopes, const QUrl& redirectURL, const QString& responseType,
                                  const std::optional<StringMap>& additionalParameters, DomainError* error)
{
    return create(std::move(configuration), clientId, std::nullopt, scopes, redirectURL, responseType,
                  additionalParameters, error);
}

std::shared_ptr<const OAuthAuthorizationRequest>
OAuthAuthorizationRequest::createWithNonce(OAuthServiceConfigurationPtr configuration, const QString& clientId,
                                           const QStringList& scopes, const QUrl& redirectURL,
                                           const QString& responseType, const std::optional<QString>& nonce,
                                           const std::optional<StringMap>& additionalParameters, DomainError* error)
{
    const QString scope = OAuthScopeUtilities::scopesWithArray(scopes);
    const auto verifier = generateCodeVerifier();
    const auto state = generateState();
    if (!verifier || !state)
        return randomFailure(error);
    return std::make_shared<const OAuthAuthorizationRequest>(std::move(configuration), clientId, std::nullopt, scope,
                                                             redirectURL, responseType, state, nonce, verifier,
                                                             codeChallengeS256ForVerifier(verifier),
                                                             CodeChallengeMethodS256, additionalParameters);
}

bool OAuthAuthorizationRequest::isSupportedResponseType(const QString& responseType)
{
    return responseType == QLatin1String("code") || responseType == QLatin1String("code id_token")
           || responseType == QLatin1String("id_token code");
}

std::optional<QString> OAuthAuthorizationRequest::generateCodeVerifier()
{
    return OAuthTokenUtilities::randomURLSafeStringWithSize(RandomValueBytes);
}

std::optional<QString> OAuthAuthorizationRequest::generateState()
{
    return OAuthTokenUtilities::randomURLSafeStringWithSize(RandomValueBytes);
}

std::optional<QString> OAuthAuthorizationRequest::codeChallengeS256ForVerifier(const std::optional<QString>& codeVerifier)
{
    if (!codeVerifier)
        return std::nullopt;
    return OAuthTokenUtilities::encodeBase64urlNoPadding(OAuthTokenUtilities::sha256(*codeVerifier));
}

QUrl OAuthAuthorizationRequest::authorizationRequestURL() const
{
    OAuthURLQueryComponent query;
    query.addParameter(QStringLiteral("response_type"), m_responseType);
    query.addParameter(QStringLiteral("client_id"), m_clientID);
    if (m_additionalParameters)
        query.addParameters(*m_additionalParameters);
    if (m_redirectURL)
        query.addParameter(QStringLiteral("redirect_uri"), m_redirectURL->toString(QUrl::FullyEncoded));
    if (m_scope)
        query.addParameter(QStringLiteral("scope"), *m_scope);
    if (m_state)
        query.addParameter(QStringLiteral("state"), *m_state);
    if (m_nonce)
        query.addParameter(QStringLiteral("nonce"), *m_nonce);
    if (m_codeChallenge)
        query.addParameter(QStringLiteral("code_challenge"), *m_codeChallenge);
    if (m_codeChallengeMethod)
        query.addParameter(QStringLiteral("code_challenge_method"), *m_codeChallengeMethod);
    return query.URLByReplacingQueryInURL(m_configuration->authorizationEndpoint());
}

QString OAuthAuthorizationRequest::redirectScheme() const
{
    return m_redirectURL ? m_redirectURL->scheme() : QString();
}

QString OAuthAuthorizationRequest::description() const
{
    return QStringLiteral("<%1: %2, request: %3>")
        .arg(ArchiveClassName, QString::asprintf("%p", static_cast<const void*>(this)),
             authorizationRequestURL().toString(QUrl::FullyEncoded));
}

void OAuthAuthorizationRequest::encodeWithCoder(KeyedArchiver& coder) const
{
    coder.encodeObject(QStringLiteral("configuration"), m_configuration);
    coder.encodeString(QStringLiteral("response_type"), m_responseType);
    coder.encodeString(QStringLiteral("client_id"), m_clientID);
    coder.encodeString(QStringLiteral("client_secret"), m_clientSecret);
    coder.encodeString(QStringLiteral("scope"), m_scope);
    coder.encodeURL(QStringLiteral("redirect_uri"), m_redirectURL);
    coder.encodeString(QStringLiteral("state"), m_state);
    coder.encodeString(QStringLiteral("nonce"), m_nonce);
    coder.encodeString(QStringLiteral("code_verifier"), m_codeVerifier);
    coder.encodeString(QStringLiteral("code_challenge"), m_codeChallenge);
    coder.encodeString(QStringLiteral("code_challenge_method"), m_codeChallengeMethod);
    coder.encodeStringMap(QStringLiteral("additionalParameters"), m_additionalParameters);
}

std::shared_ptr<OAuthAuthorizationRequest> OAuthAuthorizationRequest::initWithCoder(KeyedUnarchiver& coder)
{
    auto configuration = coder.decodeObject<OAuthServiceConfiguration>(QStringLiteral("configuration"));
    auto responseType = coder.decodeString(QStringLiteral("response_type"));
    auto clientID = coder.decodeString(QStringLiteral("client_id"));
    auto clientSecret = coder.decodeString(QStringLiteral("client_secret"));
    auto scope = coder.decodeString(QStringLiteral("scope"));
    auto redirectURL = coder.decodeURL(QStringLiteral("redirect_uri"));
    auto state = coder.decodeString(QStringLiteral("state"));
    auto nonce = coder.decodeString(QStringLiteral("nonce"));
    auto codeVerifier = coder.decodeString(QStringLiteral("code_verifier"));
    auto codeChallenge = coder.decodeString(QStringLiteral("code_challenge"));
    auto codeChallengeMethod = coder.decodeString(QStringLiteral("code_challenge_method"));
    auto additionalParameters = coder.decodeStringMap(QStringLiteral("additionalParameters"));
    if (coder.failed() || !configuration || !responseType || !clientID || !isSupportedResponseType(*responseType))
        return nullptr;
    return std::make_shared<OAuthAuthorizationRequest>(configuration, *clientID, clientSecret, scope, redirectURL,
                                                       *responseType, state, nonce, codeVerifier, codeChallenge,
                                                       codeChallengeMethod, additionalParameters);
}

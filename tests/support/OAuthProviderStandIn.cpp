#include "support/OAuthProviderStandIn.h"

#include "support/IdTokens.h"
#include "support/NetworkBounds.h"
#include "support/TestCertificates.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QUrlQuery>

namespace {

QString queryValue(const QUrlQuery& query, const QString& name)
{
    return query.queryItemValue(name, QUrl::FullyDecoded);
}

QUrlQuery formBody(const QByteArray& body)
{
    QByteArray text = body;
    text.replace('+', ' ');
    return QUrlQuery(QString::fromUtf8(text));
}

QByteArray encoded(const QString& text) { return QUrl::toPercentEncoding(text); }

} // namespace

OAuthProviderStandIn::OAuthProviderStandIn() : m_server(LoopbackHttpServer::Mode::https)
{
    TestCertificates::trustTestCA();
    m_server.setHandler([this](const LoopbackHttpServer::Request& request) { return answer(request); });
}

void OAuthProviderStandIn::setAuthorization(Authorization answer, const QString& error)
{
    QMutexLocker lock(&m_mutex);
    m_authorization = answer;
    m_authorizationError = error;
}

void OAuthProviderStandIn::setToken(Token answer)
{
    QMutexLocker lock(&m_mutex);
    m_token = answer;
}

void OAuthProviderStandIn::addGrant(const QString& code, const Grant& grant)
{
    QMutexLocker lock(&m_mutex);
    m_grants[code] = grant;
}

int OAuthProviderStandIn::pkceVerified() const
{
    QMutexLocker lock(&m_mutex);
    return m_pkceVerified;
}

int OAuthProviderStandIn::pkceRejected() const
{
    QMutexLocker lock(&m_mutex);
    return m_pkceRejected;
}

std::optional<LoopbackHttpServer::Reply> OAuthProviderStandIn::answer(const LoopbackHttpServer::Request& request)
{
    const QUrl url(QString::fromUtf8(request.path));
    if (request.method == "GET" && url.path() == QLatin1String("/o/oauth2/v2/auth"))
        return authorize(url);
    if (request.method == "POST" && url.path() == QLatin1String("/token"))
        return token(request.body);
    return std::nullopt;
}

LoopbackHttpServer::Reply OAuthProviderStandIn::authorize(const QUrl& url)
{
    const QUrlQuery query(url);
    QString redirect = queryValue(query, QStringLiteral("redirect_uri"));
    const QString state = queryValue(query, QStringLiteral("state"));

    QMutexLocker lock(&m_mutex);
    const QString code = QStringLiteral("4/code-") + QString::number(++m_codes);
    m_grants[code] = Grant{queryValue(query, QStringLiteral("client_id")), queryValue(query, QStringLiteral("nonce")),
                           queryValue(query, QStringLiteral("code_challenge")),
                           queryValue(query, QStringLiteral("code_challenge_method")), redirect};

    QByteArray parameters;
    switch (m_authorization) {
    case Authorization::code:
        parameters = "code=" + encoded(code) + "&state=" + encoded(state);
        break;
    case Authorization::error:
        parameters = "error=" + encoded(m_authorizationError) + "&state=" + encoded(state);
        break;
    case Authorization::wrongState:
        parameters = "code=" + encoded(code) + "&state=" + encoded(state + QStringLiteral("x"));
        break;
    case Authorization::noState:
        parameters = "code=" + encoded(code);
        break;
    case Authorization::wrongPath: {
        parameters = "code=" + encoded(code) + "&state=" + encoded(state);
        const qsizetype colon = redirect.indexOf(QLatin1Char(':'));
        redirect = redirect.left(colon + 1) + QStringLiteral("/elsewhere");
        break;
    }
    }
    return LoopbackHttpServer::Reply::redirect(redirect.toUtf8() + '?' + parameters);
}

LoopbackHttpServer::Reply OAuthProviderStandIn::token(const QByteArray& body)
{
    const QUrlQuery form = formBody(body);
    const QString code = queryValue(form, QStringLiteral("code"));
    const QString verifier = queryValue(form, QStringLiteral("code_verifier"));

    QMutexLocker lock(&m_mutex);
    switch (m_token) {
    case Token::oauthError400:
        return LoopbackHttpServer::Reply::json(R"({"error":"invalid_grant","error_description":"Bad Request"})", 400);
    case Token::notJson400:
        return LoopbackHttpServer::Reply::text("Bad Request", 400);
    case Token::status500:
        return LoopbackHttpServer::Reply::text("Internal Server Error", 500);
    case Token::invalidJson:
        return LoopbackHttpServer::Reply::json("{\"access_token\": ", 200);
    case Token::notAnObject:
        return LoopbackHttpServer::Reply::json("[\"access_token\"]", 200);
    case Token::hugeError400:
        return NetworkBounds::hugeBody(400, false);
    case Token::trickled:
        return NetworkBounds::trickled(R"({"access_token":"ya29.slow","token_type":"Bearer","expires_in":3599})");
    case Token::tokens:
    case Token::tokensWithoutIdToken:
        break;
    }

    const auto grant = m_grants.find(code);
    if (grant == m_grants.end() || queryValue(form, QStringLiteral("grant_type")) != QLatin1String("authorization_code"))
        return LoopbackHttpServer::Reply::json(R"({"error":"invalid_grant","error_description":"Unknown code"})", 400);
    const QString challenge = QString::fromLatin1(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
                                                      .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    if (verifier.isEmpty() || grant->second.codeChallengeMethod != QLatin1String("S256")
        || challenge != grant->second.codeChallenge) {
        ++m_pkceRejected;
        return LoopbackHttpServer::Reply::json(R"({"error":"invalid_grant","error_description":"PKCE verification failed"})", 400);
    }
    ++m_pkceVerified;
    const Grant g = grant->second;
    m_grants.erase(grant); // a code is good once

    QJsonObject answer{{"access_token", "ya29.access-" + code},
                       {"expires_in", 3599},
                       {"token_type", "Bearer"},
                       {"refresh_token", "1//refresh-" + code},
                       {"scope", "openid email profile"}};
    if (m_token == Token::tokens) {
        const QJsonObject idClaims = claims ? claims(g) : IdTokens::validClaims(issuer(), g.clientID, g.nonce);
        answer.insert("id_token", IdTokens::make(idClaims));
    }
    return LoopbackHttpServer::Reply::json(QJsonDocument(answer).toJson(QJsonDocument::Compact));
}

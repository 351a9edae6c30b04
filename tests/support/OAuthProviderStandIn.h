#pragma once

// A loopback HTTPS OAuth provider for tests.
//
//   OAuthProviderStandIn provider;                 // HTTPS with the test CA (trusted by the process)
//   provider.authorizationEndpoint();             // ".../o/oauth2/v2/auth": answers 302 to the
//                                                 // request's redirect_uri with code and state
//   provider.tokenEndpoint();                     // ".../token": checks the PKCE verifier against the
//                                                 // challenge of the code's authorization request
//   provider.setAuthorization(OAuthProviderStandIn::Authorization::wrongState);
//   provider.setToken(OAuthProviderStandIn::Token::status500);
//   provider.claims = [](const OAuthProviderStandIn::Grant& g) { ... };  // the ID token's claims
//
// The ID token is an unsigned JWT; by default its claims pass every check for the code's client
// and carry the authorization request's nonce.

#include "support/LoopbackHttpServer.h"

#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QUrl>

#include <functional>
#include <map>

class OAuthProviderStandIn {
public:
    enum class Authorization { code, error, wrongState, noState, wrongPath };
    // hugeError400: a 400 of 100 MB, streamed, its length untold; trickled: the tokens, one byte every 400 ms.
    enum class Token { tokens, tokensWithoutIdToken, oauthError400, notJson400, status500, invalidJson, notAnObject,
                       hugeError400, trickled };

    // What the token endpoint knows of a code.
    struct Grant {
        QString clientID;
        QString nonce;
        QString codeChallenge;
        QString codeChallengeMethod;
        QString redirectURI;
    };

    OAuthProviderStandIn();

    QString issuer() const { return m_server.baseURL(); }
    QUrl authorizationEndpoint() const { return QUrl(m_server.url(QStringLiteral("/o/oauth2/v2/auth"))); }
    QUrl tokenEndpoint() const { return QUrl(m_server.url(QStringLiteral("/token"))); }

    void setAuthorization(Authorization answer, const QString& error = QStringLiteral("access_denied"));
    void setToken(Token answer);
    // Registers a code as if an authorization request had produced it.
    void addGrant(const QString& code, const Grant& grant);

    // The ID token's claims for a grant; by default IdTokens::validClaims(issuer, clientID, nonce).
    std::function<QJsonObject(const Grant&)> claims;

    int authorizationRequests() const { return m_server.requestCount("/o/oauth2/v2/auth"); }
    int tokenRequests() const { return m_server.requestCount("/token"); }
    QList<LoopbackHttpServer::Request> requests() const { return m_server.requests(); }
    // How many token requests carried a verifier that matched their code's challenge / did not.
    int pkceVerified() const;
    int pkceRejected() const;
    LoopbackHttpServer& server() { return m_server; }

private:
    std::optional<LoopbackHttpServer::Reply> answer(const LoopbackHttpServer::Request& request);
    LoopbackHttpServer::Reply authorize(const QUrl& url);
    LoopbackHttpServer::Reply token(const QByteArray& body);

    LoopbackHttpServer m_server;
    mutable QMutex m_mutex;
    Authorization m_authorization = Authorization::code;
    QString m_authorizationError;
    Token m_token = Token::tokens;
    std::map<QString, Grant> m_grants;
    int m_codes = 0;
    int m_pkceVerified = 0;
    int m_pkceRejected = 0;
};

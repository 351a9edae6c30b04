#pragma once

#include <QString>
#include <QUrl>

// Hosts of the provider's endpoints ("host" or "host:port"). The environment variables
// KOVANI_GOOGLE_AUTHORIZATION_SERVER, KOVANI_GOOGLE_TOKEN_SERVER and
// KOVANI_GOOGLE_USERINFO_SERVER override the defaults.
struct SignInPreferences {
    QString googleAuthorizationServer = QStringLiteral("accounts.google.com");
    QString googleTokenServer = QStringLiteral("oauth2.googleapis.com");
    QString googleUserInfoServer = QStringLiteral("www.googleapis.com");

    static SignInPreferences fromEnvironment();

    QUrl authorizationEndpoint() const { return endpoint(googleAuthorizationServer, QStringLiteral("/o/oauth2/v2/auth")); }
    QUrl tokenEndpoint() const { return endpoint(googleTokenServer, QStringLiteral("/token")); }
    QUrl userInfoEndpoint() const { return endpoint(googleUserInfoServer, QStringLiteral("/oauth2/v3/userinfo")); }

    // "https://" + host + path.
    static QUrl endpoint(const QString& host, const QString& path);
    // A host with an optional port and nothing else.
    static bool isHost(const QString& value);
};

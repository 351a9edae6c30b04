#include "signin/SignInPreferences.h"

namespace {

void override(QString& host, const char* variable)
{
    const QString value = qEnvironmentVariable(variable).trimmed();
    if (value.isEmpty())
        return;
    if (!SignInPreferences::isHost(value)) {
        qWarning("%s is not a host[:port]; using %s", variable, qUtf8Printable(host));
        return;
    }
    host = value;
}

} // namespace

SignInPreferences SignInPreferences::fromEnvironment()
{
    SignInPreferences preferences;
    override(preferences.googleAuthorizationServer, "KOVANI_GOOGLE_AUTHORIZATION_SERVER");
    override(preferences.googleTokenServer, "KOVANI_GOOGLE_TOKEN_SERVER");
    override(preferences.googleUserInfoServer, "KOVANI_GOOGLE_USERINFO_SERVER");
    return preferences;
}

bool SignInPreferences::isHost(const QString& value)
{
    const QUrl url(QStringLiteral("https://") + value, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() && url.path().isEmpty() && url.userInfo().isEmpty()
        && !url.hasQuery() && !url.hasFragment();
}

QUrl SignInPreferences::endpoint(const QString& host, const QString& path)
{
    return QUrl(QStringLiteral("https://") + host + path);
}

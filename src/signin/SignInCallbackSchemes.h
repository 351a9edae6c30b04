#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

// The redirect scheme of a client and whether the bundle registers it.
class SignInCallbackSchemes {
public:
    explicit SignInCallbackSchemes(QString clientIdentifier) : m_clientIdentifier(std::move(clientIdentifier)) {}

    // The client ID's dot-separated parts reversed, lower-cased: "a.b.c" gives "c.b.a".
    QString clientIdentifierScheme() const;
    QStringList allSchemes() const { return {clientIdentifierScheme()}; }
    // Schemes of allSchemes() that `infoDictionary` does not register.
    QStringList unsupportedSchemes(const QVariantMap& infoDictionary) const;

    // Every "CFBundleURLSchemes" text under "CFBundleURLTypes", lower-cased, in order.
    static QStringList relevantURLSchemes(const QVariantMap& infoDictionary);

private:
    QString m_clientIdentifier;
};

namespace SignInScopes {
inline const QString kEmailScope = QStringLiteral("email");
inline const QString kProfileScope = QStringLiteral("profile");
// The scopes with "email" and then "profile" appended unless present (short or long form).
QStringList scopesWithBasicProfile(const QStringList& scopes);
} // namespace SignInScopes

inline QString SignInVersion() { return QStringLiteral("kovani-signin-1.0.0"); }
inline QString SignInEnvironment() { return QStringLiteral("macos"); }

#include "signin/SignInCallbackSchemes.h"

#include <QUrl>
#include <QVariantList>

#include <algorithm>

QString SignInCallbackSchemes::clientIdentifierScheme() const
{
    QStringList parts = m_clientIdentifier.split(QLatin1Char('.'));
    std::reverse(parts.begin(), parts.end());
    return parts.join(QLatin1Char('.')).toLower();
}

QStringList SignInCallbackSchemes::relevantURLSchemes(const QVariantMap& infoDictionary)
{
    QStringList schemes;
    const QVariant types = infoDictionary.value(QStringLiteral("CFBundleURLTypes"));
    if (types.typeId() != QMetaType::QVariantList)
        return schemes;
    for (const QVariant& type : types.toList()) {
        if (type.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariant list = type.toMap().value(QStringLiteral("CFBundleURLSchemes"));
        if (list.typeId() != QMetaType::QVariantList)
            continue;
        for (const QVariant& scheme : list.toList())
            if (scheme.typeId() == QMetaType::QString)
                schemes.append(scheme.toString().toLower());
    }
    return schemes;
}

QStringList SignInCallbackSchemes::unsupportedSchemes(const QVariantMap& infoDictionary) const
{
    const QStringList registered = relevantURLSchemes(infoDictionary);
    QStringList missing;
    for (const QString& scheme : allSchemes())
        if (!registered.contains(scheme.toLower()))
            missing.append(scheme);
    return missing;
}

namespace SignInScopes {

namespace {

bool hasScope(const QStringList& scopes, const QString& shortForm, const QString& longPath)
{
    for (const QString& scope : scopes) {
        if (scope == shortForm)
            return true;
        const QUrl url(scope);
        if (url.isValid() && !url.scheme().isEmpty() && url.path() == longPath)
            return true;
    }
    return false;
}

} // namespace

QStringList scopesWithBasicProfile(const QStringList& scopes)
{
    QStringList result = scopes;
    if (!hasScope(result, kEmailScope, QStringLiteral("/auth/userinfo.email")))
        result.append(kEmailScope);
    if (!hasScope(result, kProfileScope, QStringLiteral("/auth/userinfo.profile")))
        result.append(kProfileScope);
    return result;
}

} // namespace SignInScopes

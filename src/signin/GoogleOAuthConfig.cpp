#include "signin/GoogleOAuthConfig.h"

#include "signin/PropertyList.h"

#include <QVariantMap>

std::optional<GoogleOAuthConfig> GoogleOAuthConfig::fromResources(const QString& resourcesDir)
{
    if (resourcesDir.isEmpty())
        return std::nullopt;
    return fromFile(resourcesDir + QStringLiteral("/GoogleService-Info.plist"));
}

std::optional<GoogleOAuthConfig> GoogleOAuthConfig::fromFile(const QString& path)
{
    const std::optional<QVariant> plist = PropertyList::readFile(path);
    if (!plist || plist->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = plist->toMap();
    const QVariant clientId = map.value(QStringLiteral("CLIENT_ID"));
    const QVariant reversed = map.value(QStringLiteral("REVERSED_CLIENT_ID"));
    if (clientId.typeId() != QMetaType::QString || reversed.typeId() != QMetaType::QString)
        return std::nullopt;
    GoogleOAuthConfig config;
    config.clientId = clientId.toString();
    config.reversedClientId = reversed.toString();
    const QVariant server = map.value(QStringLiteral("SERVER_CLIENT_ID"));
    if (server.typeId() == QMetaType::QString)
        config.serverClientId = server.toString();
    return config;
}

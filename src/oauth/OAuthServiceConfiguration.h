#pragma once

#include "oauth/KeyedArchive.h"

#include <QJsonObject>
#include <QUrl>
#include <memory>
#include <optional>

// The endpoints of one identity provider. Immutable; shared as std::shared_ptr<const ...>.
class OAuthServiceConfiguration : public ArchivableObject {
public:
    static inline const QString ArchiveClassName = QStringLiteral("OAuthServiceConfiguration");

    OAuthServiceConfiguration(QUrl authorizationEndpoint, QUrl tokenEndpoint, std::optional<QUrl> issuer,
                              std::optional<QUrl> registrationEndpoint, std::optional<QUrl> endSessionEndpoint,
                              std::optional<QJsonObject> discoveryDocument);
    OAuthServiceConfiguration(QUrl authorizationEndpoint, QUrl tokenEndpoint);

    const QUrl& authorizationEndpoint() const { return m_authorizationEndpoint; }
    const QUrl& tokenEndpoint() const { return m_tokenEndpoint; }
    const std::optional<QUrl>& issuer() const { return m_issuer; }
    const std::optional<QUrl>& registrationEndpoint() const { return m_registrationEndpoint; }
    const std::optional<QUrl>& endSessionEndpoint() const { return m_endSessionEndpoint; }
    const std::optional<QJsonObject>& discoveryDocument() const { return m_discoveryDocument; }

    QString archiveClassName() const override { return ArchiveClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<OAuthServiceConfiguration> initWithCoder(KeyedUnarchiver& coder);

private:
    QUrl m_authorizationEndpoint;
    QUrl m_tokenEndpoint;
    std::optional<QUrl> m_issuer;
    std::optional<QUrl> m_registrationEndpoint;
    std::optional<QUrl> m_endSessionEndpoint;
    std::optional<QJsonObject> m_discoveryDocument;
};

using OAuthServiceConfigurationPtr = std::shared_ptr<const OAuthServiceConfiguration>;

#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <optional>

// A decoded, unverified OpenID Connect ID token (no signature is checked).
class OAuthIDToken {
public:
    // Nothing unless the text has a header and a claims section that decode (strict base64url) to
    // JSON objects and the claims carry "iss", "sub", "aud", "exp" and "iat" of the right types.
    static std::shared_ptr<const OAuthIDToken> initWithIDTokenString(const QString& idToken);

    const QJsonObject& header() const { return m_header; }
    const QJsonObject& claims() const { return m_claims; }
    const QUrl& issuer() const { return *m_fields.issuer; }
    const QString& subject() const { return *m_fields.subject; }
    const QStringList& audience() const { return *m_fields.audience; }
    const QDateTime& expiresAt() const { return *m_fields.expiresAt; }
    const QDateTime& issuedAt() const { return *m_fields.issuedAt; }
    const std::optional<QString>& nonce() const { return m_fields.nonce; }

    struct Fields {
        std::optional<QUrl> issuer;
        std::optional<QString> subject;
        std::optional<QStringList> audience;
        std::optional<QDateTime> expiresAt;
        std::optional<QDateTime> issuedAt;
        std::optional<QString> nonce;
    };

private:
    OAuthIDToken() = default;

    QJsonObject m_header;
    QJsonObject m_claims;
    Fields m_fields;
};

using OAuthIDTokenPtr = std::shared_ptr<const OAuthIDToken>;

#pragma once

// Unsigned ID tokens (JWTs) built by tests with the claims they choose.

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace IdTokens {

inline QString section(const QJsonObject& object)
{
    return QString::fromLatin1(QJsonDocument(object).toJson(QJsonDocument::Compact).toBase64(
        QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// header "." claims "." signature (the signature is not looked at by the client).
inline QString make(const QJsonObject& claims, const QString& signature = QStringLiteral("c2lnbmF0dXJl"))
{
    QString token = section(QJsonObject{{QStringLiteral("alg"), QStringLiteral("none")}}) + QLatin1Char('.') + section(claims);
    if (!signature.isNull())
        token += QLatin1Char('.') + signature;
    return token;
}

inline qint64 now() { return QDateTime::currentSecsSinceEpoch(); }

// Claims that pass every check for `clientID` (issued now, expiring in an hour).
inline QJsonObject validClaims(const QString& issuer, const QString& clientID, const QString& nonce = QString())
{
    QJsonObject claims{{QStringLiteral("iss"), issuer},
                       {QStringLiteral("sub"), QStringLiteral("1234567890")},
                       {QStringLiteral("aud"), clientID},
                       {QStringLiteral("exp"), now() + 3600},
                       {QStringLiteral("iat"), now()},
                       {QStringLiteral("email"), QStringLiteral("ada@example.com")}};
    if (!nonce.isNull())
        claims.insert(QStringLiteral("nonce"), nonce);
    return claims;
}

} // namespace IdTokens

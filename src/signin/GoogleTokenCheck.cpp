#include "signin/GoogleTokenCheck.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace GoogleTokenCheck {

std::optional<QString> failure(const QString& idToken, const QString& expectedAudience, const QDateTime& now)
{
    const QStringList pieces = idToken.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (pieces.size() < 2)
        return kUnreadable;
    QString payload = pieces[1];
    payload.replace(QLatin1Char('-'), QLatin1Char('+')).replace(QLatin1Char('_'), QLatin1Char('/'));
    // A length of 1 more than a multiple of 4 is never Base64.
    if (payload.size() % 4 == 1)
        return kUnreadable;
    while (payload.size() % 4 != 0)
        payload.append(QLatin1Char('='));
    for (const QChar c : payload)
        if (c.unicode() > 0x7F)
            return kUnreadable;
    const auto decoded = QByteArray::fromBase64Encoding(payload.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return kUnreadable;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*decoded, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return kUnreadable;
    const QJsonObject claims = document.object();
    const QJsonValue audience = claims.value(QStringLiteral("aud"));
    if (!audience.isString() || audience.toString() != expectedAudience)
        return kAudienceMismatch;
    const QJsonValue expiry = claims.value(QStringLiteral("exp"));
    if (expiry.isDouble()) {
        const double nowSeconds = double(now.toMSecsSinceEpoch()) / 1000.0;
        if (!(expiry.toDouble() > nowSeconds))
            return kExpired;
    }
    return std::nullopt;
}

} // namespace GoogleTokenCheck

#include "oauth/OAuthFieldMapping.h"

#include <QJsonArray>
#include <QTimeZone>

#include <cmath>

namespace OAuthFieldConversions {

std::optional<qint64> wholeSeconds(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = std::trunc(value.toDouble());
    // Within +/- 2^63, exclusive at the top.
    if (!std::isfinite(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
        return std::nullopt;
    return static_cast<qint64>(d);
}

namespace {

QVariant dateOrNothing(const QDateTime& date)
{
    return date.isValid() ? QVariant(date) : QVariant();
}

// Seconds to milliseconds without overflow; nothing beyond what a date can hold.
std::optional<qint64> milliseconds(qint64 seconds)
{
    constexpr qint64 limit = 9'000'000'000'000'000LL / 1000;
    if (seconds > limit || seconds < -limit)
        return std::nullopt;
    return seconds * 1000;
}

} // namespace

QVariant URLConversion(const QJsonValue& value)
{
    if (!value.isString())
        return QVariant::fromValue(value);
    const QString text = value.toString();
    QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid())
        return QVariant();
    return url;
}

QVariant dateSinceNowConversion(const QJsonValue& value)
{
    const auto seconds = wholeSeconds(value);
    if (!seconds)
        return QVariant::fromValue(value);
    const auto ms = milliseconds(*seconds);
    if (!ms)
        return QVariant();
    return dateOrNothing(QDateTime::currentDateTimeUtc().addMSecs(*ms));
}

QVariant dateSince1970Conversion(const QJsonValue& value)
{
    const auto seconds = wholeSeconds(value);
    if (!seconds)
        return QVariant::fromValue(value);
    const auto ms = milliseconds(*seconds);
    if (!ms)
        return QVariant();
    return dateOrNothing(QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC));
}

QVariant audienceConversion(const QJsonValue& value)
{
    if (value.isString())
        return QStringList{value.toString()};
    if (value.isArray()) {
        QStringList list;
        for (const QJsonValue& item : value.toArray()) {
            if (!item.isString())
                return QVariant();
            list.append(item.toString());
        }
        return list;
    }
    return QVariant();
}

bool hasType(const QVariant& value, OAuthFieldType type)
{
    switch (type) {
    case OAuthFieldType::Text:
        return value.metaType() == QMetaType::fromType<QJsonValue>() && value.value<QJsonValue>().isString();
    case OAuthFieldType::URL:
        return value.metaType() == QMetaType::fromType<QUrl>();
    case OAuthFieldType::Date:
        return value.metaType() == QMetaType::fromType<QDateTime>();
    case OAuthFieldType::List:
        return value.metaType() == QMetaType::fromType<QStringList>();
    }
    return false;
}

} // namespace OAuthFieldConversions

#pragma once

#include "oauth/KeyedArchive.h"

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <vector>

// The type a mapped value must have after its conversion.
enum class OAuthFieldType { Text, URL, Date, List };

// From a raw JSON value to a converted one (a QUrl, QDateTime or QStringList, or the raw value
// itself wrapped as a QJsonValue); an invalid QVariant means the value converted to nothing.
using OAuthFieldConversion = std::function<QVariant(const QJsonValue&)>;

namespace OAuthFieldConversions {
// A text to a URL (nothing when it does not parse); other values unchanged.
QVariant URLConversion(const QJsonValue& value);
// A number of seconds to the date that many seconds from now; other values unchanged.
QVariant dateSinceNowConversion(const QJsonValue& value);
// A number of seconds since 1970-01-01 to that date; other values unchanged.
QVariant dateSince1970Conversion(const QJsonValue& value);
// A text becomes a one-element list, a list of texts stays; anything else converts to nothing.
QVariant audienceConversion(const QJsonValue& value);

// A JSON number as a whole number of seconds (fraction dropped); nothing when it is not a number
// or does not fit a signed 64-bit integer.
std::optional<qint64> wholeSeconds(const QJsonValue& value);
// Whether a converted value has the type.
bool hasType(const QVariant& value, OAuthFieldType type);
} // namespace OAuthFieldConversions

// One row of a record's wire-name table: the field to set, the type the value must have, and an
// optional conversion applied first.
template <typename Record>
struct OAuthFieldMapping {
    QString wireName;
    QString name;
    OAuthFieldType expectedType;
    OAuthFieldConversion conversion;
    std::function<void(Record&, const QVariant&)> set;
    std::function<void(const Record&, KeyedArchiver&, const QString& key)> encode;
    std::function<void(Record&, KeyedUnarchiver&, const QString& key)> decode;

    // Sets the mapped fields of `instance` from `parameters`; returns the parameters not taken
    // (no row, or a value of the wrong type after conversion). A value converted to nothing is
    // dropped.
    static QJsonObject remainingParametersWithMap(const std::vector<OAuthFieldMapping>& map,
                                                  const QJsonObject& parameters, Record& instance)
    {
        QJsonObject remaining;
        for (auto it = parameters.begin(); it != parameters.end(); ++it) {
            const OAuthFieldMapping* row = nullptr;
            for (const OAuthFieldMapping& candidate : map)
                if (candidate.wireName == it.key())
                    row = &candidate;
            const QJsonValue raw = it.value();
            QVariant value = QVariant::fromValue(raw);
            if (row) {
                if (row->conversion)
                    value = row->conversion(raw);
                if (!value.isValid())
                    continue;
                if (OAuthFieldConversions::hasType(value, row->expectedType)) {
                    row->set(instance, value);
                    continue;
                }
            }
            remaining.insert(it.key(), value.metaType() == QMetaType::fromType<QJsonValue>() ? value.value<QJsonValue>()
                                                                                           : raw);
        }
        return remaining;
    }

    // Writes every mapped field under its wire name, in table order.
    static void encodeWithCoder(KeyedArchiver& coder, const std::vector<OAuthFieldMapping>& map, const Record& instance)
    {
        for (const OAuthFieldMapping& row : map)
            row.encode(instance, coder, row.wireName);
    }

    static void decodeWithCoder(KeyedUnarchiver& coder, const std::vector<OAuthFieldMapping>& map, Record& instance)
    {
        for (const OAuthFieldMapping& row : map)
            row.decode(instance, coder, row.wireName);
    }

    // Rows for optional fields of the common kinds.
    static OAuthFieldMapping text(const QString& wireName, const QString& name, std::optional<QString> Record::*field)
    {
        return {wireName, name, OAuthFieldType::Text, {},
                [field](Record& r, const QVariant& v) { r.*field = v.value<QJsonValue>().toString(); },
                [field](const Record& r, KeyedArchiver& c, const QString& k) { c.encodeString(k, r.*field); },
                [field](Record& r, KeyedUnarchiver& c, const QString& k) { r.*field = c.decodeString(k); }};
    }
    static OAuthFieldMapping date(const QString& wireName, const QString& name, std::optional<QDateTime> Record::*field,
                                  OAuthFieldConversion conversion)
    {
        return {wireName, name, OAuthFieldType::Date, std::move(conversion),
                [field](Record& r, const QVariant& v) { r.*field = v.toDateTime(); },
                [field](const Record& r, KeyedArchiver& c, const QString& k) { c.encodeDate(k, r.*field); },
                [field](Record& r, KeyedUnarchiver& c, const QString& k) { r.*field = c.decodeDate(k); }};
    }
};

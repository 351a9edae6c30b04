#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

// Reader of XML property lists: dict (QVariantMap), string (QString), array (QVariantList),
// true/false (bool) and integer (qint64). Any other element, text outside a string or key, a
// dict key without a value, a repeated key or a malformed document fails the read.
namespace PropertyList {

std::optional<QVariant> parse(const QByteArray& xml);
// The file's whole content parsed; nothing when it cannot be read or parsed.
std::optional<QVariant> readFile(const QString& path);

} // namespace PropertyList

#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

// Reader of property lists in the XML and the binary ("bplist00") format: dict (QVariantMap),
// array (QVariantList; a binary set too), string (QString), integer (qint64; quint64 above its
// range), real (double), true/false (bool), date (QDateTime, UTC) and data (QByteArray). An
// unknown element, text outside a value, a dict key without a value or that is not a string, a
// repeated key, a binary offset or length outside the data, a container that holds itself, or
// a malformed document fails the read.
namespace PropertyList {

std::optional<QVariant> parse(const QByteArray& data);
// The file's whole content parsed; nothing when it cannot be read or parsed.
std::optional<QVariant> readFile(const QString& path);

} // namespace PropertyList

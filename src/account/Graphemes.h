#pragma once

#include <QString>
#include <QStringList>

// User-perceived characters (extended grapheme clusters, from ICU).
namespace Graphemes {
QStringList split(const QString& text);
qsizetype count(const QString& text);
} // namespace Graphemes

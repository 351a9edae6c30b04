#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// User-perceived characters (extended grapheme clusters, from ICU). Positions are offsets in
// UTF-16 code units of the text. Should ICU's break rules be unavailable, every code point counts
// as one character, so a surrogate pair is never split.
namespace Graphemes {

// The characters of `text`, in order.
QStringList split(const QString& text);
// How many characters `text` has.
qsizetype count(const QString& text);
// Every boundary of `text`, from 0 to its length (only 0 for an empty text).
QList<qsizetype> boundaries(const QString& text);
// The first `n` characters (the whole text when it has no more).
QString left(const QString& text, qsizetype n);
// The last `n` characters (the whole text when it has no more).
QString right(const QString& text, qsizetype n);
// `position` when a character starts there, else the start of the character it falls in;
// clamped to the text.
qsizetype boundaryAtOrBefore(const QString& text, qsizetype position);
// `position` when a character starts there, else the end of the character it falls in; clamped
// to the text.
qsizetype boundaryAtOrAfter(const QString& text, qsizetype position);

} // namespace Graphemes

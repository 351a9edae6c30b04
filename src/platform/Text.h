#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace Text {

// Strict UTF-8: invalid bytes give nothing; a leading byte-order mark is kept as U+FEFF.
std::optional<QString> decodeUtf8(const QByteArray& bytes);

// The one parser for numbers typed by the user: an optional "+" or "-", then one or more ASCII
// digits, fitting a signed 64-bit integer. Anything else (blanks included) is no number.
std::optional<qint64> parseInt64(const QString& text);

// Same rule, for a 32-bit value (process ids).
std::optional<qint32> parseInt32(const QString& text);

// Trims white space and line breaks (Unicode White_Space) at both ends.
QString trimmed(const QString& text);

// A text as a view shows it: control characters (Unicode Cc) removed except tab and line feed;
// a carriage return (alone or before a line feed) becomes one line feed.
QString displayable(const QString& text);

// Characters of a status line at most, the ellipsis included.
constexpr qsizetype kStatusLineLimit = 300;

// A text for a one-line status: line breaks at either end dropped with the blanks around them
// and, when longer than kStatusLineLimit, cut at a character boundary and ended with "…", so
// that no label lays out a server's or a tool's whole output.
QString statusLine(const QString& text);

// The same for a text whose last `excerptLength` code units are an excerpt of the end of a log:
// when too long, characters go from the excerpt's start, where the "…" stands, so that the log's
// last line stays: whole, the lines before it gone, when it fits; else its end. What comes before
// the excerpt is kept (cut as above to half the limit when it is longer).
QString statusLine(const QString& text, qsizetype excerptLength);

// A status text before the cap: only the line breaks at either end dropped with their blanks.
QString statusLineUncut(const QString& text);

} // namespace Text

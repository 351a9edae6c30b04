#include "platform/Text.h"

#include "platform/Graphemes.h"

#include <QStringDecoder>
#include <algorithm>
#include <limits>
#include <utility>

namespace Text {

std::optional<QString> decodeUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    // ConvertInitialBom keeps the BOM as a character instead of stripping it.
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<qint64> parseInt64(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    qsizetype i = 0;
    bool negative = false;
    if (text[0] == u'+' || text[0] == u'-') {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i >= text.size())
        return std::nullopt;
    // Accumulate as a negative number so that INT64_MIN fits.
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (std::numeric_limits<qint64>::min() + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<qint64>::min())
            return std::nullopt;
        value = -value;
    }
    return value;
}

std::optional<qint32> parseInt32(const QString& text)
{
    const auto value = parseInt64(text);
    if (!value || *value < std::numeric_limits<qint32>::min() || *value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(*value);
}

QString trimmed(const QString& text)
{
    // QString::trimmed covers Unicode white space (including line and paragraph separators).
    return text.trimmed();
}

QString displayable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                continue;
            out += u'\n';
        } else if (c == u'\t' || c == u'\n' || c.category() != QChar::Other_Control) {
            out += c;
        }
    }
    return out;
}

namespace {

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == QChar(0x85) || c == QChar(0x2028)
        || c == QChar(0x2029);
}

} // namespace

namespace {

// The ends of a status text: [begin, end) without blanks at an end that hold a line break.
std::pair<qsizetype, qsizetype> statusLineBounds(const QString& text)
{
    // The blanks at an end go when a line break is among them; a text's own blank after a
    // prefix ("API error: " with an empty description) stays.
    qsizetype begin = 0;
    bool lineBreak = false;
    while (begin < text.size() && text.at(begin).isSpace())
        lineBreak = isLineBreak(text.at(begin++)) || lineBreak;
    if (!lineBreak)
        begin = 0;
    qsizetype end = text.size();
    lineBreak = false;
    while (end > begin && text.at(end - 1).isSpace())
        lineBreak = isLineBreak(text.at(--end)) || lineBreak;
    if (!lineBreak)
        end = text.size();
    return {begin, end};
}

} // namespace

QString statusLine(const QString& text, qsizetype excerptLength)
{
    const auto [begin, end] = statusLineBounds(text);
    const QString line = text.mid(begin, end - begin);
    if (line.size() <= kStatusLineLimit || excerptLength <= 0)
        return statusLine(text);
    const qsizetype excerptStart = std::clamp<qsizetype>(text.size() - excerptLength - begin, 0, line.size());
    QString lead = line.left(excerptStart);
    if (lead.size() > kStatusLineLimit / 2)
        lead = trimmed(lead.left(Graphemes::boundaryAtOrBefore(lead, kStatusLineLimit / 2 - 1))) + QChar(0x2026);
    const QString excerpt = line.mid(excerptStart);
    // Room for the excerpt's end after the lead and the ellipsis.
    const qsizetype room = kStatusLineLimit - lead.size() - 1;
    if (excerpt.size() <= room)
        return lead + excerpt;
    qsizetype cut = Graphemes::boundaryAtOrAfter(excerpt, excerpt.size() - room);
    // The lines before the excerpt's last one go whole, so that a two-line label shows the last.
    for (qsizetype i = excerpt.size() - 1; i >= cut; --i) {
        if (isLineBreak(excerpt.at(i))) {
            cut = i + 1;
            break;
        }
    }
    QString kept = excerpt.mid(cut);
    qsizetype blanks = 0;
    while (blanks < kept.size() && kept.at(blanks).isSpace())
        ++blanks;
    kept.remove(0, blanks);
    return lead + QChar(0x2026) + kept;
}

QString statusLineUncut(const QString& text)
{
    const auto [begin, end] = statusLineBounds(text);
    return text.mid(begin, end - begin);
}

QString statusLine(const QString& text)
{
    const auto [begin, end] = statusLineBounds(text);
    const QString line = text.mid(begin, end - begin);
    if (line.size() <= kStatusLineLimit)
        return line;
    // Never split a character (a surrogate pair or a cluster with its marks).
    qsizetype cut = Graphemes::boundaryAtOrBefore(line, kStatusLineLimit - 1);
    if (cut <= 0)
        cut = kStatusLineLimit - 1;
    return trimmed(line.left(cut)) + QChar(0x2026);
}

} // namespace Text

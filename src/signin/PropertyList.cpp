#include "signin/PropertyList.h"

#include "platform/Text.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int kMaxDepth = 256;

// "1.5", "-2", "6.02e23", and the special values "nan", "inf", "+infinity", "-inf".
std::optional<double> parseReal(const QString& text)
{
    const QString lower = text.toLower();
    if (lower == QLatin1String("nan"))
        return std::numeric_limits<double>::quiet_NaN();
    if (lower == QLatin1String("inf") || lower == QLatin1String("+inf") || lower == QLatin1String("infinity")
        || lower == QLatin1String("+infinity"))
        return std::numeric_limits<double>::infinity();
    if (lower == QLatin1String("-inf") || lower == QLatin1String("-infinity"))
        return -std::numeric_limits<double>::infinity();
    static const QRegularExpression pattern(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

// "2026-01-01T00:00:00Z" (a UTC time, as the format writes it).
std::optional<QDateTime> parseDate(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}(\\.\\d+)?Z$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        return std::nullopt;
    return date.toUTC();
}

// Base64, white space and line breaks allowed anywhere.
std::optional<QByteArray> parseData(const QString& text)
{
    QByteArray compact;
    compact.reserve(text.size());
    for (const QChar c : text) {
        if (c.isSpace())
            continue;
        if (c.unicode() > 0x7f)
            return std::nullopt;
        compact.append(char(c.unicode()));
    }
    const auto decoded = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

// ---- The binary format ("bplist00") --------------------------------------------------------
//
// Header "bplist00"; objects; a table of object offsets; a 32-byte trailer: 6 unused bytes, the
// size of an offset, the size of an object reference, the object count, the top object and the
// table's offset (the last three big-endian 64-bit). Every offset, count and reference is checked
// against the data before use: the file is input.
class BinaryReader {
public:
    explicit BinaryReader(const QByteArray& data) : m_data(data) {}

    std::optional<QVariant> document()
    {
        constexpr qint64 kTrailer = 32;
        const qint64 size = m_data.size();
        if (size < 8 + kTrailer || !m_data.startsWith("bplist00"))
            return std::nullopt;
        const qint64 trailer = size - kTrailer;
        m_offsetSize = quint8(m_data[trailer + 6]);
        m_refSize = quint8(m_data[trailer + 7]);
        const quint64 count = unsignedAt(trailer + 8, 8);
        const quint64 top = unsignedAt(trailer + 16, 8);
        const quint64 table = unsignedAt(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8)
            return std::nullopt;
        // Objects lie between the header and the table; the table ends before the trailer.
        if (count == 0 || top >= count || table < 8 || table > quint64(trailer)
            || count > (quint64(trailer) - table) / m_offsetSize)
            return std::nullopt;
        m_count = count;
        m_table = qint64(table);
        return object(top, 0);
    }

private:
    quint64 unsignedAt(qint64 at, int bytes) const
    {
        quint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | quint8(m_data[at + i]);
        return value;
    }

    // The offset of object `ref`, or -1 when it does not point into the objects.
    qint64 offsetOf(quint64 ref) const
    {
        if (ref >= m_count)
            return -1;
        const quint64 offset = unsignedAt(m_table + qint64(ref) * m_offsetSize, m_offsetSize);
        return offset >= 8 && offset < quint64(m_table) ? qint64(offset) : -1;
    }

    // Whether `bytes` bytes from `at` lie within the objects.
    bool fits(qint64 at, quint64 bytes) const { return at >= 8 && at <= m_table && bytes <= quint64(m_table - at); }

    // The length of a container, string or data object whose marker is at `at`; `start` is where
    // its content begins.
    std::optional<quint64> lengthOf(qint64 at, quint8 marker, qint64& start) const
    {
        start = at + 1;
        if ((marker & 0x0f) != 0x0f)
            return marker & 0x0f;
        // 0x1n: a following integer of 2^n bytes.
        if (!fits(start, 1))
            return std::nullopt;
        const quint8 intMarker = quint8(m_data[start]);
        if ((intMarker & 0xf0) != 0x10 || (intMarker & 0x0f) > 3)
            return std::nullopt;
        const int bytes = 1 << (intMarker & 0x0f);
        if (!fits(start + 1, quint64(bytes)))
            return std::nullopt;
        const quint64 length = unsignedAt(start + 1, bytes);
        start += 1 + bytes;
        return length;
    }

    std::optional<QVariant> object(quint64 ref, int depth)
    {
        // Shared objects are read again each time: bound the total (objects and the bytes of
        // strings and data) as well as the depth, and a container that holds itself is no
        // property list.
        if (depth > kMaxDepth || ++m_objectsRead > kMaxObjectsRead || m_open.contains(ref))
            return std::nullopt;
        const qint64 at = offsetOf(ref);
        if (at < 0)
            return std::nullopt;
        const quint8 marker = quint8(m_data[at]);
        const quint8 low = marker & 0x0f;
        switch (marker >> 4) {
        case 0x0:
            if (marker == 0x08 || marker == 0x09)
                return QVariant(marker == 0x09);
            return std::nullopt; // null and fill are not values of a property list
        case 0x1: { // integer of 2^n bytes; 8 bytes are signed, 16 bytes hold an unsigned 64-bit value
            if (low > 4)
                return std::nullopt;
            const int bytes = 1 << low;
            if (!fits(at + 1, quint64(bytes)))
                return std::nullopt;
            if (bytes == 16) {
                if (unsignedAt(at + 1, 8) != 0)
                    return std::nullopt;
                return QVariant::fromValue<quint64>(unsignedAt(at + 9, 8));
            }
            return QVariant::fromValue<qint64>(qint64(unsignedAt(at + 1, bytes)));
        }
        case 0x2: { // real of 4 or 8 bytes
            if (low != 2 && low != 3)
                return std::nullopt;
            const int bytes = 1 << low;
            if (!fits(at + 1, quint64(bytes)))
                return std::nullopt;
            const quint64 bits = unsignedAt(at + 1, bytes);
            if (bytes == 4) {
                float f;
                const quint32 b = quint32(bits);
                std::memcpy(&f, &b, sizeof f);
                return QVariant(double(f));
            }
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return QVariant(d);
        }
        case 0x3: { // date: seconds since 2001-01-01 00:00:00 UTC as an 8-byte real
            if (marker != 0x33 || !fits(at + 1, 8))
                return std::nullopt;
            const quint64 bits = unsignedAt(at + 1, 8);
            double seconds;
            std::memcpy(&seconds, &bits, sizeof seconds);
            if (!std::isfinite(seconds) || std::fabs(seconds) > 1e14)
                return std::nullopt;
            static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
            return QVariant(reference.addMSecs(qint64(std::llround(seconds * 1000.0))));
        }
        case 0x4: { // data
            qint64 start = 0;
            const std::optional<quint64> length = lengthOf(at, marker, start);
            if (!length || !fits(start, *length) || !produce(*length))
                return std::nullopt;
            return QVariant(m_data.mid(start, qint64(*length)));
        }
        case 0x5: { // ASCII string
            qint64 start = 0;
            const std::optional<quint64> length = lengthOf(at, marker, start);
            if (!length || !fits(start, *length) || !produce(*length))
                return std::nullopt;
            const QByteArray bytes = m_data.mid(start, qint64(*length));
            for (const char c : bytes)
                if (quint8(c) > 0x7f)
                    return std::nullopt;
            return QVariant(QString::fromLatin1(bytes));
        }
        case 0x6: { // UTF-16 big-endian string, the length in code units
            qint64 start = 0;
            const std::optional<quint64> length = lengthOf(at, marker, start);
            if (!length || *length > quint64(m_table) || !fits(start, *length * 2) || !produce(*length * 2))
                return std::nullopt;
            QString text(qsizetype(*length), Qt::Uninitialized);
            for (quint64 i = 0; i < *length; ++i)
                text[qsizetype(i)] = QChar(char16_t(unsignedAt(start + qint64(i) * 2, 2)));
            return QVariant(text);
        }
        case 0x8: { // UID (keyed archives): as such archives show it
            const int bytes = low + 1;
            if (bytes > 8 || !fits(at + 1, quint64(bytes)))
                return std::nullopt;
            return QVariant(QVariantMap{{QStringLiteral("CF$UID"), QVariant::fromValue<qint64>(qint64(unsignedAt(at + 1, bytes)))}});
        }
        case 0xA:   // array
        case 0xC: { // set, read as an array
            qint64 start = 0;
            const std::optional<quint64> length = lengthOf(at, marker, start);
            if (!length || *length > quint64(m_table) || !fits(start, *length * m_refSize))
                return std::nullopt;
            m_open.insert(ref);
            QVariantList list;
            for (quint64 i = 0; i < *length; ++i) {
                std::optional<QVariant> item = object(unsignedAt(start + qint64(i) * m_refSize, m_refSize), depth + 1);
                if (!item)
                    return std::nullopt;
                list.append(*item);
            }
            m_open.remove(ref);
            return QVariant(list);
        }
        case 0xD: { // dictionary: the key references, then the value references
            qint64 start = 0;
            const std::optional<quint64> length = lengthOf(at, marker, start);
            if (!length || *length > quint64(m_table) || !fits(start, *length * 2 * m_refSize))
                return std::nullopt;
            m_open.insert(ref);
            QVariantMap map;
            for (quint64 i = 0; i < *length; ++i) {
                std::optional<QVariant> key = object(unsignedAt(start + qint64(i) * m_refSize, m_refSize), depth + 1);
                if (!key || key->typeId() != QMetaType::QString || map.contains(key->toString()))
                    return std::nullopt;
                std::optional<QVariant> value =
                    object(unsignedAt(start + qint64(*length + i) * m_refSize, m_refSize), depth + 1);
                if (!value)
                    return std::nullopt;
                map.insert(key->toString(), *value);
            }
            m_open.remove(ref);
            return QVariant(map);
        }
        default:
            return std::nullopt;
        }
    }

    // Counts the bytes of a string or data object read; false once all of them pass the limit.
    bool produce(quint64 bytes)
    {
        m_bytesRead += std::min<quint64>(bytes, kMaxBytesRead + 1);
        return m_bytesRead <= kMaxBytesRead;
    }

    static constexpr int kMaxObjectsRead = 1 << 20;
    // A long string or data object that is shared would otherwise be copied at every reference.
    static constexpr quint64 kMaxBytesRead = 64 * 1024 * 1024;

    const QByteArray& m_data;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_count = 0;
    qint64 m_table = 0;
    int m_objectsRead = 0;
    quint64 m_bytesRead = 0;
    QSet<quint64> m_open;
};

class Reader {
public:
    explicit Reader(const QByteArray& xml) : m_xml(xml) {}

    std::optional<QVariant> document()
    {
        if (!nextElement() || m_xml.name() != QLatin1String("plist"))
            return std::nullopt;
        if (!nextElement())
            return std::nullopt;
        std::optional<QVariant> value = readValue(0);
        if (!value)
            return std::nullopt;
        // Only the closing plist tag and the document's end may follow.
        if (!nextToken() || m_xml.tokenType() != QXmlStreamReader::EndElement)
            return std::nullopt;
        while (!m_xml.atEnd()) {
            m_xml.readNext();
            if (m_xml.hasError())
                return std::nullopt;
            if (m_xml.isStartElement() || (m_xml.isCharacters() && !m_xml.isWhitespace()))
                return std::nullopt;
        }
        return value;
    }

private:
    // The next token that is not white space, a comment, a processing instruction or the DTD.
    bool nextToken()
    {
        while (!m_xml.atEnd()) {
            m_xml.readNext();
            if (m_xml.hasError())
                return false;
            switch (m_xml.tokenType()) {
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
            case QXmlStreamReader::DTD:
            case QXmlStreamReader::StartDocument:
                continue;
            case QXmlStreamReader::Characters:
                if (m_xml.isWhitespace())
                    continue;
                return true;
            default:
                return true;
            }
        }
        return false;
    }

    bool nextElement() { return nextToken() && m_xml.isStartElement(); }

    // Text content of the current element (no child elements allowed).
    std::optional<QString> readText()
    {
        QString text;
        while (!m_xml.atEnd()) {
            m_xml.readNext();
            if (m_xml.hasError())
                return std::nullopt;
            if (m_xml.isCharacters())
                text += m_xml.text();
            else if (m_xml.isEntityReference()) // not one of XML's own: unknown
                return std::nullopt;
            else if (m_xml.isEndElement())
                return text;
            else if (m_xml.isStartElement())
                return std::nullopt;
        }
        return std::nullopt;
    }

    bool readEmpty()
    {
        std::optional<QString> text = readText();
        return text && text->trimmed().isEmpty();
    }

    // Reads the value whose start element is current.
    std::optional<QVariant> readValue(int depth)
    {
        if (depth > kMaxDepth)
            return std::nullopt;
        const QString name = m_xml.name().toString();
        if (name == QLatin1String("string")) {
            std::optional<QString> text = readText();
            return text ? std::optional<QVariant>(*text) : std::nullopt;
        }
        if (name == QLatin1String("integer")) {
            std::optional<QString> text = readText();
            if (!text)
                return std::nullopt;
            const QString digits = text->trimmed();
            if (std::optional<qint64> number = Text::parseInt64(digits))
                return QVariant::fromValue<qint64>(*number);
            // Above the signed range: an unsigned 64-bit value.
            static const QRegularExpression unsignedPattern(QStringLiteral("^\\+?\\d{1,20}$"));
            bool ok = false;
            const quint64 value = unsignedPattern.match(digits).hasMatch() ? digits.toULongLong(&ok) : 0;
            return ok ? std::optional<QVariant>(QVariant::fromValue<quint64>(value)) : std::nullopt;
        }
        if (name == QLatin1String("real")) {
            std::optional<QString> text = readText();
            std::optional<double> number = text ? parseReal(text->trimmed()) : std::nullopt;
            return number ? std::optional<QVariant>(*number) : std::nullopt;
        }
        if (name == QLatin1String("date")) {
            std::optional<QString> text = readText();
            std::optional<QDateTime> date = text ? parseDate(text->trimmed()) : std::nullopt;
            return date ? std::optional<QVariant>(*date) : std::nullopt;
        }
        if (name == QLatin1String("data")) {
            std::optional<QString> text = readText();
            std::optional<QByteArray> bytes = text ? parseData(*text) : std::nullopt;
            return bytes ? std::optional<QVariant>(*bytes) : std::nullopt;
        }
        if (name == QLatin1String("true") || name == QLatin1String("false")) {
            if (!readEmpty())
                return std::nullopt;
            return QVariant(name == QLatin1String("true"));
        }
        if (name == QLatin1String("array")) {
            QVariantList list;
            while (true) {
                if (!nextToken())
                    return std::nullopt;
                if (m_xml.isEndElement())
                    return QVariant(list);
                if (!m_xml.isStartElement())
                    return std::nullopt;
                std::optional<QVariant> item = readValue(depth + 1);
                if (!item)
                    return std::nullopt;
                list.append(*item);
            }
        }
        if (name == QLatin1String("dict")) {
            QVariantMap map;
            while (true) {
                if (!nextToken())
                    return std::nullopt;
                if (m_xml.isEndElement())
                    return QVariant(map);
                if (!m_xml.isStartElement() || m_xml.name() != QLatin1String("key"))
                    return std::nullopt;
                std::optional<QString> key = readText();
                if (!key || map.contains(*key))
                    return std::nullopt;
                if (!nextElement())
                    return std::nullopt;
                std::optional<QVariant> value = readValue(depth + 1);
                if (!value)
                    return std::nullopt;
                map.insert(*key, *value);
            }
        }
        return std::nullopt;
    }

    QXmlStreamReader m_xml;
};

} // namespace

namespace PropertyList {

std::optional<QVariant> parse(const QByteArray& data)
{
    if (data.startsWith("bplist")) {
        BinaryReader reader(data);
        return reader.document();
    }
    Reader reader(data);
    return reader.document();
}

std::optional<QVariant> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return parse(bytes);
}

} // namespace PropertyList

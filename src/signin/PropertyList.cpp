#include "signin/PropertyList.h"

#include "platform/Text.h"

#include <QFile>
#include <QXmlStreamReader>

namespace {

constexpr int kMaxDepth = 256;

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
            std::optional<qint64> number = Text::parseInt64(text->trimmed());
            return number ? std::optional<QVariant>(QVariant::fromValue<qint64>(*number)) : std::nullopt;
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

std::optional<QVariant> parse(const QByteArray& xml)
{
    Reader reader(xml);
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

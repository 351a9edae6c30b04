#include "workspace/CodeEditingAssistant.h"

#include "workspace/CodeCompletionProvider.h"
#include "workspace/CodeSyntaxHighlighter.h"

namespace CodeEditingAssistant {

const QSet<QString>& voidTags()
{
    static const QSet<QString> tags {
        QStringLiteral("area"), QStringLiteral("base"), QStringLiteral("br"), QStringLiteral("col"),
        QStringLiteral("embed"), QStringLiteral("hr"), QStringLiteral("img"), QStringLiteral("input"),
        QStringLiteral("link"), QStringLiteral("meta"), QStringLiteral("param"), QStringLiteral("source"),
        QStringLiteral("track"), QStringLiteral("wbr"),
    };
    return tags;
}

namespace {
int clampTo(int value, qsizetype length) { return int(std::clamp<qsizetype>(value, 0, length)); }

// Whether `text`, lower-cased, starts with `lowerNeedle`. Lower-casing works character by
// character, so only a stretch as long as the needle is lower-cased (longer where that made it
// shorter, and never splitting a surrogate pair).
bool startsWithLowered(QStringView text, const QString& lowerNeedle)
{
    for (qsizetype take = lowerNeedle.size() + 1;; take *= 2) {
        qsizetype stretch = std::min(take, text.size());
        if (stretch < text.size() && stretch > 0 && text.at(stretch - 1).isHighSurrogate())
            ++stretch;
        const QString lowered = text.left(stretch).toString().toLower();
        if (lowered.size() >= lowerNeedle.size() || stretch >= text.size())
            return lowered.startsWith(lowerNeedle);
    }
}

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\n' || u == u'\r' || u == 0x85 || u == 0x2028 || u == 0x2029;
}
} // namespace

std::optional<QString> openingTagBeforeCursor(const QString& source, int cursor)
{
    return openingTagBefore(QStringView(source).left(clampTo(cursor, source.size())));
}

std::optional<QString> openingTagBefore(QStringView before)
{
    const qsizetype open = before.lastIndexOf(u'<');
    const qsizetype close = before.lastIndexOf(u'>');
    if (open < 0 || close < 0 || open > close)
        return std::nullopt;
    const QStringView candidate = before.mid(open);
    if (candidate.startsWith(u"</") || candidate.startsWith(u"<!") || candidate.startsWith(u"<?")
        || candidate.endsWith(u"/>"))
        return std::nullopt;
    // The tag must end right at the cursor: "$" alone would also accept a line break after ">".
    if (!candidate.endsWith(u'>'))
        return std::nullopt;
    static const QRegularExpression pattern =
        CodeSyntaxHighlighter::compile(QStringLiteral(R"re(^<([A-Za-z][A-Za-z0-9:-]*)(?:\s[^<>]*)?>$)re"), 0);
    if (!pattern.isValid())
        return std::nullopt;
    const QRegularExpressionMatch match = pattern.match(candidate.toString());
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1);
}

std::optional<QString> autoClosingTag(const QString& fileName, const QString& source, int cursor)
{
    const int c = clampTo(cursor, source.size());
    return autoClosingTag(fileName, QStringView(source).left(c), QStringView(source).mid(c));
}

std::optional<QString> autoClosingTag(const QString& fileName, QStringView before, QStringView after)
{
    if (!CodeCompletionProvider::supportsHTML(fileName))
        return std::nullopt;
    const std::optional<QString> tag = openingTagBefore(before);
    if (!tag)
        return std::nullopt;
    const QString lower = tag->toLower();
    if (voidTags().contains(lower))
        return std::nullopt;
    if (startsWithLowered(after, QStringLiteral("</") + lower + u'>'))
        return std::nullopt;
    return QStringLiteral("</") + *tag + u'>';
}

std::optional<Edit> smartNewline(const QString& fileName, const QString& source, int selectionLocation)
{
    const int c = clampTo(selectionLocation, source.size());
    return smartNewline(fileName, QStringView(source).left(c), QStringView(source).mid(c));
}

std::optional<Edit> smartNewline(const QString& fileName, QStringView before, QStringView after)
{
    if (!CodeCompletionProvider::supportsHTML(fileName))
        return std::nullopt;
    const qsizetype c = before.size();
    qsizetype lineStart = c;
    while (lineStart > 0 && !isLineBreak(before.at(lineStart - 1)))
        --lineStart;
    QString indent;
    for (qsizetype i = lineStart; i < c && (before.at(i) == u' ' || before.at(i) == u'\t'); ++i)
        indent += before.at(i);
    const int indentLength = int(indent.size());

    const std::optional<QString> tag = openingTagBefore(before);
    if (tag) {
        if (startsWithLowered(after, QStringLiteral("</") + tag->toLower() + u'>'))
            return Edit {u'\n' + indent + QStringLiteral("    ") + u'\n' + indent, indentLength + 5};
        return Edit {u'\n' + indent + QStringLiteral("    "), indentLength + 5};
    }
    return Edit {u'\n' + indent, indentLength + 1};
}

} // namespace CodeEditingAssistant

#include "workspace/CodeEditorText.h"

namespace CodeEditorText {

QString terminator(LineEnd end)
{
    switch (end) {
    case LineEnd::lf: return QStringLiteral("\n");
    case LineEnd::crlf: return QStringLiteral("\r\n");
    case LineEnd::cr: return QStringLiteral("\r");
    case LineEnd::paragraphSeparator: return QString(QChar(0x2029));
    case LineEnd::frameStart: return QString(QChar(0xFDD0));
    case LineEnd::frameEnd: return QString(QChar(0xFDD1));
    }
    return QStringLiteral("\n");
}

QTextCharFormat separatorFormat(LineEnd end)
{
    QTextCharFormat format;
    if (end != LineEnd::lf)
        format.setProperty(lineEndProperty, int(end));
    return format;
}

LineEnd lineEndOf(const QTextCharFormat& format)
{
    const QVariant value = format.property(lineEndProperty);
    if (!value.isValid())
        return LineEnd::lf;
    const int kind = value.toInt();
    if (kind < int(LineEnd::lf) || kind > int(LineEnd::frameEnd))
        return LineEnd::lf;
    return LineEnd(kind);
}

int terminatorAt(const QString& text, qsizetype i, LineEnd* end)
{
    switch (text.at(i).unicode()) {
    case u'\n': *end = LineEnd::lf; return 1;
    case u'\r':
        if (i + 1 < text.size() && text.at(i + 1) == u'\n') {
            *end = LineEnd::crlf;
            return 2;
        }
        *end = LineEnd::cr;
        return 1;
    case 0x2029: *end = LineEnd::paragraphSeparator; return 1;
    case 0xFDD0: *end = LineEnd::frameStart; return 1;
    case 0xFDD1: *end = LineEnd::frameEnd; return 1;
    default: return 0;
    }
}

QString toDocumentText(const QString& text, std::vector<LineEnd>* ends)
{
    QString out;
    out.reserve(text.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size();) {
        LineEnd end;
        const int length = terminatorAt(text, i, &end);
        if (length == 0) {
            ++i;
            continue;
        }
        out.append(QStringView(text).mid(runStart, i - runStart));
        out.append(QChar(0x2029));
        ends->push_back(end);
        i += length;
        runStart = i;
    }
    out.append(QStringView(text).mid(runStart));
    return out;
}

} // namespace CodeEditorText

#pragma once

// The editor's document keeps every line end as one block separator, as Qt's text system does
// (CR LF, LF, CR, U+2029 and the two frame marks U+FDD0/U+FDD1 all become one). Each separator
// carries its original terminator in its character format, so the file's text is rebuilt byte
// for byte, also after undo and redo, which restore the formats with the text.

#include <QString>
#include <QTextCharFormat>
#include <vector>

namespace CodeEditorText {

enum class LineEnd : unsigned char { lf = 0, crlf, cr, paragraphSeparator, frameStart, frameEnd };

// The terminator's characters.
QString terminator(LineEnd end);

// The property of a separator's character format that holds its LineEnd; absent means LF.
inline constexpr int lineEndProperty = QTextFormat::UserProperty + 0x4c45;
QTextCharFormat separatorFormat(LineEnd end);
LineEnd lineEndOf(const QTextCharFormat& format);

// The length of the terminator that starts at `i`, and its kind; 0 when none starts there.
int terminatorAt(const QString& text, qsizetype i, LineEnd* end);

// The document text for `text` (every terminator one U+2029) and the terminators in order.
QString toDocumentText(const QString& text, std::vector<LineEnd>* ends);

} // namespace CodeEditorText

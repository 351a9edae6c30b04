#pragma once

// Smart newline and automatic closing tags of the code editor, for HTML-capable files. Positions
// are UTF-16 offsets into the text.

#include <QSet>
#include <QString>
#include <optional>

namespace CodeEditingAssistant {

const QSet<QString>& voidTags();

struct Edit {
    QString text;    // inserted in place of the selection
    int caretOffset; // from the start of the replaced range
    bool operator==(const Edit&) const = default;
};

// The name of the opening tag that ends right at the cursor, as typed.
std::optional<QString> openingTagBeforeCursor(const QString& source, int cursor);
// The same for the text `before` the cursor.
std::optional<QString> openingTagBefore(QStringView before);

// Only `selectionLocation` of the selected range is used.
std::optional<Edit> smartNewline(const QString& fileName, const QString& source, int selectionLocation);
// The same for the text `before` and `after` the selection's start.
std::optional<Edit> smartNewline(const QString& fileName, QStringView before, QStringView after);

// The closing tag to insert at the caret after a typed ">".
std::optional<QString> autoClosingTag(const QString& fileName, const QString& source, int cursor);
// The same for the text `before` and `after` the caret.
std::optional<QString> autoClosingTag(const QString& fileName, QStringView before, QStringView after);

} // namespace CodeEditingAssistant

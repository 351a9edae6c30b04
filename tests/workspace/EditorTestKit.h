#pragma once

// Helpers for the code editor's widget tests: a shown editor, readable escapes of control
// characters, waiting for the debounced highlight.

#include "workspace/CodeEditorTextView.h"
#include "workspace/CodeTextEditor.h"

#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace EditorTestKit {

// The text with line ends, tabs and non-ASCII characters spelled out, for failure messages.
inline std::string escaped(const QString& text)
{
    std::string out;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            out += "\\n";
        else if (u == u'\r')
            out += "\\r";
        else if (u == u'\t')
            out += "\\t";
        else if (u < 0x20 || u >= 0x7F) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", unsigned(u));
            out += buffer;
        } else
            out += char(u);
    }
    return out;
}

inline std::unique_ptr<CodeTextEditor> shownEditor(int width = 700, int height = 500)
{
    auto editor = std::make_unique<CodeTextEditor>();
    editor->resize(width, height);
    editor->show();
    if (!QTest::qWaitForWindowExposed(editor.get()))
        ADD_FAILURE() << "editor window not exposed";
    editor->textView()->setFocus();
    return editor;
}

// Lets the next-turn work run and waits for any debounced highlight to land.
inline void settle(CodeTextEditor& editor)
{
    QTest::qWait(1);
    if (!QTest::qWaitFor([&] { return !editor.isHighlightPending(); }, 10000))
        ADD_FAILURE() << "highlight did not finish";
    QCoreApplication::processEvents();
}

inline void setCaret(CodeTextEditor& editor, int offset) { editor.textView()->setSelectedRange({offset, 0}); }

inline int caret(const CodeTextEditor& editor) { return editor.textView()->selectedRange().location; }

} // namespace EditorTestKit

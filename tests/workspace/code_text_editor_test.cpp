// The editor host: the file's text byte for byte through open, edit, undo, copy and paste; the
// document update rules; the routing of Return, ">", "<", "@" and Control+Space; the debounced
// highlight; the find bar.
#include "EditorTestKit.h"
#include "workspace/CodeDocumentWords.h"
#include "workspace/CodeEditorFindBar.h"
#include "workspace/CodeEditorTheme.h"
#include "workspace/CodeLineNumberRulerView.h"
#include "workspace/CodeSyntaxHighlighter.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QCompleter>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalSpy>
#include <QWheelEvent>
#include <functional>
#include <random>

using namespace EditorTestKit;

namespace {

struct ByteCase {
    const char* name;
    QString text;
};

QString u(char16_t c) { return QString(QChar(c)); }

std::vector<ByteCase> byteCases()
{
    return {
        {"empty", QString()},
        {"crlf, no final newline", QStringLiteral("<?php\r\necho 1;\r\n$x = 2;")},
        {"lone cr", QStringLiteral("a\rb\rc\r")},
        {"byte-order mark", u(0xFEFF) + QStringLiteral("<?php\necho 1;\n")},
        {"tabs and trailing spaces", QStringLiteral("\tindented\t \n  trailing   \n\t")},
        {"nbsp and line/paragraph separators",
         QStringLiteral("a") + u(0x00A0) + QStringLiteral("b") + u(0x2028) + QStringLiteral("c") + u(0x2029)
             + QStringLiteral("d\n")},
        {"mixed line ends", QStringLiteral("one\r\ntwo\nthree\rfour") + u(0x2029) + QStringLiteral("five\r\n")},
        {"frame marks", u(0xFDD0) + QStringLiteral("x") + u(0xFDD1) + QStringLiteral("y")},
        {"only line ends", QStringLiteral("\n\n\r\n\r\r\n")},
        {"nel, vt, ff, nul", QStringLiteral("a") + u(0x0085) + QStringLiteral("b\x0B") + QStringLiteral("c\x0C")
                                  + QChar(0) + QStringLiteral("d")},
        {"astral and combining", QStringLiteral("e\u0301 ") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("\r\n")},
    };
}

} // namespace

TEST(CodeTextEditorRoundTrip, OpenEditUndoKeepsEveryOtherByte)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();
    int n = 0;
    for (const ByteCase& c : byteCases()) {
        SCOPED_TRACE(c.name);
        const QString id = QStringLiteral("/site/file%1.php").arg(n++);
        editor->setContent(c.text, QStringLiteral("file.php"), id);
        EXPECT_EQ(escaped(editor->text()), escaped(c.text)) << "open";
        EXPECT_EQ(editor->text().toUtf8(), c.text.toUtf8());

        QSignalSpy edited(editor.get(), &CodeTextEditor::textEdited);
        // What a receiver reads when it is told of the edit.
        QString seen;
        const QMetaObject::Connection reader =
            QObject::connect(editor.get(), &CodeTextEditor::textEdited, [&] { seen = editor->text(); });
        // An edit at the start and one at the end.
        setCaret(*editor, 0);
        QTest::keyClicks(view, QStringLiteral("Z"));
        setCaret(*editor, int(editor->text().size()));
        QTest::keyClicks(view, QStringLiteral("Q"));
        const QString expected = u'Z' + c.text + u'Q';
        EXPECT_EQ(escaped(editor->text()), escaped(expected)) << "edit";
        ASSERT_EQ(edited.count(), 2);
        EXPECT_EQ(escaped(seen), escaped(expected));
        QObject::disconnect(reader);

        // Undo brings the file back exactly; redo the edits.
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(escaped(editor->text()), escaped(c.text)) << "undo";
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(escaped(editor->text()), escaped(expected)) << "redo";
    }
}

TEST(CodeTextEditorRoundTrip, DeletingAcrossLineEndsAndUndoingRestoresThem)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();
    const QString original = QStringLiteral("aa\r\nbb\rcc") + u(0x2029) + QStringLiteral("dd\nee\r\n");
    struct Deletion {
        const char* name;
        int location;
        int length;
    };
    // Offsets into the text: "aa" 0-2, CR LF 2-4, "bb" 4-6, CR 6, "cc" 7-9, PS 9, "dd" 10-12, LF 12...
    const Deletion deletions[] = {
        {"backspace over a CR LF", 4, 0},
        {"from a line start across two line ends", 4, 6},
        {"from the text start into the third line", 0, 8},
        {"across every line end", 1, 14},
        {"everything", 0, int(original.size())},
    };
    for (const Deletion& d : deletions) {
        SCOPED_TRACE(d.name);
        editor->setContent(original, QStringLiteral("notes.txt"), QStringLiteral("/site/notes.txt"));
        view->setSelectedRange({d.location, d.length});
        QTest::keyClick(view, d.length == 0 ? Qt::Key_Backspace : Qt::Key_Delete);
        EXPECT_NE(escaped(editor->text()), escaped(original));
        // Typing after the deletion, then undoing both.
        QTest::keyClicks(view, QStringLiteral("x"));
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(escaped(editor->text()), escaped(original));
    }
}

TEST(CodeTextEditorRoundTrip, CopyAndPasteCarryTheTextExactly)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();
    const QString line = QStringLiteral("a") + u(0x00A0) + QStringLiteral("b\r\n");
    editor->setContent(line + QStringLiteral("end"), QStringLiteral("a.html"), QStringLiteral("/a.html"));
    view->setSelectedRange({0, int(line.size())});
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(escaped(QApplication::clipboard()->text()), escaped(line));
    setCaret(*editor, int(editor->text().size()));
    QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(escaped(editor->text()), escaped(line + QStringLiteral("end") + line));

    // Text pasted from elsewhere keeps its own line ends.
    QApplication::clipboard()->setText(QStringLiteral("x\ry\r\nz"));
    QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(escaped(editor->text()), escaped(line + QStringLiteral("end") + line + QStringLiteral("x\ry\r\nz")));
}

TEST(CodeTextEditorUpdates, DocumentRules)
{
    auto editor = shownEditor(600, 300);
    CodeEditorTextView* view = editor->textView();
    QSignalSpy edited(editor.get(), &CodeTextEditor::textEdited);
    QString longText;
    for (int i = 0; i < 200; ++i)
        longText += QStringLiteral("line %1 of the file\n").arg(i);
    editor->setContent(longText, QStringLiteral("a.php"), QStringLiteral("/a.php"));
    settle(*editor);
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    view->setSelectedRange({2000, 5});
    const int scrolled = view->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);

    // Same document, same text: nothing changes.
    editor->setContent(longText, QStringLiteral("a.php"), QStringLiteral("/a.php"));
    EXPECT_EQ(view->selectedRange(), (CodeEditorTextView::Range {2000, 5}));
    EXPECT_EQ(view->verticalScrollBar()->value(), scrolled);

    // Same document, new text: the selection and the scroll position are kept.
    editor->setContent(longText + QStringLiteral("more\n"), QStringLiteral("a.php"), QStringLiteral("/a.php"));
    EXPECT_EQ(view->selectedRange(), (CodeEditorTextView::Range {2000, 5}));
    EXPECT_EQ(view->verticalScrollBar()->value(), scrolled);

    // A shorter text clamps the selection to its end.
    editor->setContent(QStringLiteral("short"), QStringLiteral("a.php"), QStringLiteral("/a.php"));
    EXPECT_EQ(view->selectedRange(), (CodeEditorTextView::Range {5, 0}));

    // Another document: from the top, caret at 0.
    editor->setContent(longText, QStringLiteral("a.php"), QStringLiteral("/a.php"));
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    view->setSelectedRange({3000, 0});
    editor->setContent(longText, QStringLiteral("b.php"), QStringLiteral("/b.php"));
    settle(*editor);
    EXPECT_EQ(view->selectedRange(), (CodeEditorTextView::Range {0, 0}));
    EXPECT_EQ(view->verticalScrollBar()->value(), 0);
    EXPECT_EQ(edited.count(), 0) << "updates from the caller are not edits";
}

TEST(CodeTextEditorUpdates, SafeSelections)
{
    using R = CodeTextEditor::Range;
    struct Case {
        QList<R> ranges;
        int length;
        R expected;
    };
    const Case cases[] = {
        {{}, 5, {5, 0}},
        {{{CodeTextEditor::notFound, 0}}, 5, {5, 0}},
        {{{2, 2}}, 5, {2, 2}},
        {{{4, 9}}, 5, {4, 1}},
        {{{9, 3}}, 5, {5, 0}},
        {{{CodeTextEditor::notFound, 0}, {3, 1}, {0, 1}}, 5, {3, 1}},
        {{{1, 1}}, -3, {0, 0}},
    };
    for (const Case& c : cases) {
        const QList<R> result = CodeTextEditor::safeSelections(c.ranges, c.length);
        ASSERT_EQ(result.size(), 1);
        EXPECT_EQ(result.first(), c.expected) << result.first().location << "," << result.first().length;
    }
}

TEST(CodeTextEditorKeys, ReturnAsksForTheSmartNewline)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();
    struct Case {
        const char* name;
        QString fileName;
        QString text;
        int caret;
        Qt::KeyboardModifiers modifiers;
        QString expected;
        int expectedCaret;
    };
    const Case cases[] = {
        {"between ul tags", QStringLiteral("list.html"), QStringLiteral("  <ul></ul>"), 6, Qt::NoModifier,
         QStringLiteral("  <ul>\n      \n  </ul>"), 13},
        {"after br", QStringLiteral("a.html"), QStringLiteral("<br>"), 4, Qt::NoModifier, QStringLiteral("<br>\n    "), 9},
        {"indented plain line", QStringLiteral("a.php"), QStringLiteral("\t  text here"), 7, Qt::NoModifier,
         QStringLiteral("\t  text\n\t   here"), 11},
        {"shift return is a line feed too", QStringLiteral("a.vue"), QStringLiteral("  x"), 3, Qt::ShiftModifier,
         QStringLiteral("  x\n  "), 6},
        {"not html: plain newline", QStringLiteral("app.js"), QStringLiteral("  <div>"), 7, Qt::NoModifier,
         QStringLiteral("  <div>\n"), 8},
        {"not html, shift: still a line feed", QStringLiteral("app.js"), QStringLiteral("ab"), 1, Qt::ShiftModifier,
         QStringLiteral("a\nb"), 2},
        {"crlf file keeps its other line ends", QStringLiteral("a.html"), QStringLiteral("<p>\r\n  <b></b>\r\n"), 10,
         Qt::NoModifier, QStringLiteral("<p>\r\n  <b>\n      \n  </b>\r\n"), 17},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        editor->setContent(c.text, c.fileName, QStringLiteral("/doc%1").arg(n++));
        setCaret(*editor, c.caret);
        QTest::keyClick(view, Qt::Key_Return, c.modifiers);
        EXPECT_EQ(escaped(editor->text()), escaped(c.expected));
        EXPECT_EQ(caret(*editor), c.expectedCaret);
    }
}

TEST(CodeTextEditorKeys, TypedGreaterThanClosesTheTag)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();
    struct Case {
        const char* name;
        QString fileName;
        QString typed;
        QString after;
        QString expected;
        int expectedCaret;
    };
    const Case cases[] = {
        {"div with attributes", QStringLiteral("a.html"), QStringLiteral("<div class=\"x\">"), {},
         QStringLiteral("<div class=\"x\"></div>"), 15},
        {"typed case kept", QStringLiteral("a.blade.php"), QStringLiteral("<Div>"), {}, QStringLiteral("<Div></Div>"), 5},
        {"void tag", QStringLiteral("a.html"), QStringLiteral("<br>"), {}, QStringLiteral("<br>"), 4},
        {"img", QStringLiteral("a.htm"), QStringLiteral("<img src=\"a.png\">"), {}, QStringLiteral("<img src=\"a.png\">"),
         17},
        {"closing tag already follows", QStringLiteral("a.html"), QStringLiteral("<p>"), QStringLiteral("</P>"),
         QStringLiteral("<p></P>"), 3},
        {"not html", QStringLiteral("a.js"), QStringLiteral("<div>"), {}, QStringLiteral("<div>"), 5},
        {"self-closing", QStringLiteral("a.vue"), QStringLiteral("<x-a />"), {}, QStringLiteral("<x-a />"), 7},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        editor->setContent(c.after, c.fileName, QStringLiteral("/tag%1").arg(n++));
        setCaret(*editor, 0);
        QTest::keyClicks(view, c.typed);
        if (view->isCompletionListVisible())
            QTest::keyClick(view, Qt::Key_Escape);
        // The completion list opened by "<" must not swallow the rest of the typing.
        EXPECT_EQ(escaped(editor->text()), escaped(c.expected));
        EXPECT_EQ(caret(*editor), c.expectedCaret);
    }
}

TEST(CodeTextEditorKeys, CompletionListOpensAndAccepts)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();

    // "@" in a Blade template opens the directives on the next turn.
    editor->setContent(QString(), QStringLiteral("page.blade.php"), QStringLiteral("/page.blade.php"));
    QTest::keyClicks(view, QStringLiteral("@"));
    EXPECT_FALSE(view->isCompletionListVisible()) << "opens on the next turn";
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isCompletionListVisible(); }, 2000));
    EXPECT_EQ(view->completionList().size(), 44);
    QTest::keyClicks(view, QStringLiteral("fore"));
    EXPECT_EQ(view->completionList(),
              (QStringList {QStringLiteral("foreach"), QStringLiteral("forelse"), QStringLiteral("endforeach"),
                            QStringLiteral("endforelse")}));
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_FALSE(view->isCompletionListVisible());
    EXPECT_EQ(editor->text(), QStringLiteral("@forelse"));

    // "<" opens the tag names; Tab accepts the first.
    editor->setContent(QString(), QStringLiteral("index.html"), QStringLiteral("/index.html"));
    QTest::keyClicks(view, QStringLiteral("<"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isCompletionListVisible(); }, 2000));
    QTest::keyClicks(view, QStringLiteral("di"));
    EXPECT_EQ(view->completionList(),
              (QStringList {QStringLiteral("dialog"), QStringLiteral("div"), QStringLiteral("audio")}));
    QTest::keyClick(view, Qt::Key_Tab);
    EXPECT_EQ(editor->text(), QStringLiteral("<dialog"));

    // Attributes inside an open tag, by Control+Space.
    editor->setContent(QStringLiteral("<input ty"), QStringLiteral("form.php"), QStringLiteral("/form.php"));
    setCaret(*editor, 9);
    QTest::keyClick(view, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(view->completionList(), (QStringList {QStringLiteral("type"), QStringLiteral("style")}));
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_FALSE(view->isCompletionListVisible());
    EXPECT_EQ(editor->text(), QStringLiteral("<input ty")) << "Control+Space and Escape type nothing";

    // A script file: the words of the document.
    editor->setContent(QStringLiteral("const total = 1;\nconsole.log(total);\nconstructor; Console;\ncons"),
                       QStringLiteral("app.js"), QStringLiteral("/app.js"));
    setCaret(*editor, int(editor->text().size()));
    QTest::keyClick(view, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(view->completionList(),
              (QStringList {QStringLiteral("console"), QStringLiteral("Console"), QStringLiteral("const"),
                            QStringLiteral("constructor")}));
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_TRUE(editor->text().endsWith(QStringLiteral("\nconsole")));

    // Another document closes an open list.
    editor->setContent(QStringLiteral("<"), QStringLiteral("a.html"), QStringLiteral("/list"));
    setCaret(*editor, 1);
    QTest::keyClick(view, Qt::Key_Space, Qt::ControlModifier);
    ASSERT_TRUE(view->isCompletionListVisible());
    editor->setContent(QStringLiteral("x"), QStringLiteral("b.html"), QStringLiteral("/other"));
    EXPECT_FALSE(view->isCompletionListVisible());
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(escaped(editor->text()), "\\nx");

    // Outside any tag in an HTML file the provider gives nothing: document words again.
    editor->setContent(QStringLiteral("<p>paragraph</p> par"), QStringLiteral("a.html"), QStringLiteral("/a2.html"));
    setCaret(*editor, int(editor->text().size()));
    QTest::keyClick(view, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(view->completionList(), (QStringList {QStringLiteral("paragraph")}));
    QTest::keyClick(view, Qt::Key_Escape);
}

TEST(CodeTextEditorKeys, EscapeInTheCompletionListOrFindBarStaysThere)
{
    QWidget window;
    auto* editor = new CodeTextEditor(&window);
    editor->resize(600, 400);
    int windowEscapes = 0;
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    QObject::connect(escape, &QShortcut::activated, [&] { ++windowEscapes; });
    window.resize(600, 400);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    editor->setContent(QStringLiteral("<a hr"), QStringLiteral("a.html"), QStringLiteral("/a.html"));
    CodeEditorTextView* view = editor->textView();
    view->setFocus();
    setCaret(*editor, 5);
    QTest::keyClick(view, Qt::Key_Space, Qt::ControlModifier);
    ASSERT_TRUE(view->isCompletionListVisible());
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_FALSE(view->isCompletionListVisible());
    EXPECT_EQ(windowEscapes, 0);

    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(editor->findBar()->isVisible());
    QLineEdit* field = editor->findBar()->field();
    EXPECT_TRUE(field->hasFocus());
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(editor->findBar()->isVisible());
    EXPECT_EQ(windowEscapes, 0);

    // With neither open, Escape is the window's.
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_EQ(windowEscapes, 1);
}

TEST(CodeTextEditorFind, FindsForwardBackwardAndWraps)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();
    editor->setContent(QStringLiteral("alpha beta\r\nalpha gamma\nALPHA"), QStringLiteral("a.txt"), QStringLiteral("/a"));
    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    QLineEdit* field = editor->findBar()->field();
    QTest::keyClicks(field, QStringLiteral("alpha"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(view->selectedRange(), (CodeEditorTextView::Range {0, 5}));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(view->selectedRange(), (CodeEditorTextView::Range {12, 5}));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(view->selectedRange(), (CodeEditorTextView::Range {24, 5}));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(view->selectedRange(), (CodeEditorTextView::Range {0, 5})) << "wraps to the start";
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(view->selectedRange(), (CodeEditorTextView::Range {24, 5})) << "previous wraps to the end";
    EXPECT_EQ(editor->text(), QStringLiteral("alpha beta\r\nalpha gamma\nALPHA")) << "finding edits nothing";
}

TEST(CodeTextEditorRoundTrip, TextFollowsEveryKindOfEdit)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();
    editor->setContent(QStringLiteral("<?php\r\nfunction a() {\r\n    return 1;\r\n}\rlast") + u(0x2028) + QStringLiteral("x"),
                       QStringLiteral("a.php"), QStringLiteral("/a.php"));
    QString expected = editor->text();
    auto check = [&](const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(escaped(editor->text()), escaped(view->textFromDocument()));
    };
    struct Step {
        const char* name;
        std::function<void()> run;
    };
    const Step steps[] = {
        {"type in the middle", [&] { setCaret(*editor, 10); QTest::keyClicks(view, QStringLiteral("xyz")); }},
        {"return", [&] { QTest::keyClick(view, Qt::Key_Return); }},
        {"backspace over a CR LF", [&] { setCaret(*editor, 7); QTest::keyClick(view, Qt::Key_Backspace); }},
        {"delete a selection over three lines", [&] { view->setSelectedRange({3, 20}); QTest::keyClick(view, Qt::Key_Delete); }},
        {"paste mixed line ends", [&] {
             QApplication::clipboard()->setText(QStringLiteral("p\r\nq\rr\ns") + u(0x2029));
             setCaret(*editor, 2);
             QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
         }},
        {"undo", [&] { QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier); }},
        {"undo again", [&] { QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier); }},
        {"redo", [&] { QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier); }},
        {"select all and type", [&] { QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier); QTest::keyClicks(view, QStringLiteral("new")); }},
        {"undo the replacement", [&] { QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier); QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier); }},
        {"delete at the end", [&] { setCaret(*editor, int(editor->text().size())); QTest::keyClick(view, Qt::Key_Backspace); }},
        {"delete everything", [&] { QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier); QTest::keyClick(view, Qt::Key_Delete); }},
        {"undo everything", [&] { QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier); }},
    };
    for (const Step& step : steps) {
        step.run();
        check(step.name);
    }
    // Every undo taken back leaves the file as it was opened.
    for (int i = 0; i < 30; ++i)
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(escaped(editor->text()), escaped(expected));
    check("all undone");
}

TEST(CodeTextEditorUpdates, NoHorizontalScrollingLongLinesWrap)
{
    auto editor = shownEditor(400, 300);
    CodeEditorTextView* view = editor->textView();
    editor->setContent(QString(3000, u'w') + QStringLiteral(" ") + QString(50, u'x'), QStringLiteral("a.txt"),
                       QStringLiteral("/wide"));
    settle(*editor);
    QScrollBar* horizontal = view->horizontalScrollBar();
    horizontal->setValue(200);
    EXPECT_EQ(horizontal->value(), 0);
    QWheelEvent wheel(QPointF(50, 50), view->viewport()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(-240, 0),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_EQ(horizontal->value(), 0);
    // The unbroken run wraps inside the view: the caret at its end is still visible.
    setCaret(*editor, 2999);
    view->ensureCursorVisible();
    EXPECT_LT(view->cursorRect().right(), view->viewport()->width());
    EXPECT_GT(view->cursorRect().top(), 100) << "the long word took several lines";
}

TEST(CodeTextEditorRoundTrip, ManyMixedEditsKeepTextAndDocumentInStep)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();
    editor->setContent(QStringLiteral("<?php\r\n// start\r\necho \"a\";\rmore\nend") + u(0x2029) + QStringLiteral("tail"),
                       QStringLiteral("mixed.blade.php"), QStringLiteral("/mixed"));
    const QString pastes[] = {QStringLiteral("x\r\ny"), QStringLiteral("\r"), QStringLiteral("p\nq\r\nr\rs"),
                              QStringLiteral("\"str\""), QStringLiteral("/* c */"), u(0x2028) + QStringLiteral("ls")};
    const QString typed[] = {QStringLiteral("a"), QStringLiteral("<p"), QStringLiteral(">"), QStringLiteral("'"),
                             QStringLiteral("@if"), QStringLiteral("\t"), QStringLiteral("  ")};
    quint32 seed = 12345;
    auto next = [&](quint32 bound) {
        seed = seed * 1664525u + 1013904223u;
        return bound ? (seed >> 8) % bound : 0u;
    };
    for (int step = 0; step < 400; ++step) {
        const int length = int(editor->text().size());
        const int location = int(next(quint32(length + 1)));
        const int selection = next(4) == 0 ? int(next(quint32(length - location + 1))) : 0;
        view->setSelectedRange({location, selection});
        switch (next(8)) {
        case 0: QTest::keyClicks(view, typed[next(7)]); break;
        case 1: QTest::keyClick(view, Qt::Key_Return); break;
        case 2: QTest::keyClick(view, Qt::Key_Backspace); break;
        case 3: QTest::keyClick(view, Qt::Key_Delete); break;
        case 4:
            QApplication::clipboard()->setText(pastes[next(6)]);
            QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
            break;
        case 5: QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier); break;
        case 6: QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier); break;
        default: QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier); break;
        }
        if (view->isCompletionListVisible())
            QTest::keyClick(view, Qt::Key_Escape);
        ASSERT_EQ(escaped(editor->text()), escaped(view->textFromDocument())) << "step " << step;
        // The ruler's table, which follows each edit, is the one a rebuild from the text gives.
        CodeLineNumberRulerView* ruler = editor->ruler();
        ruler->ensureLineCache();
        const std::vector<int> followed = ruler->lineStarts();
        ASSERT_EQ(qsizetype(followed.size()), editor->text().count(u'\n') + 1) << "step " << step;
        ruler->rebuildLineStarts();
        ASSERT_EQ(followed, ruler->lineStarts()) << "step " << step;
        ASSERT_EQ(ruler->ruleThickness(), CodeLineNumberRulerView::thicknessFor(qsizetype(followed.size())))
            << "step " << step;
        if (step % 100 == 99) {
            settle(*editor);
            const QByteArray colors = CodeSyntaxHighlighter::apply(editor->text(), editor->fileName());
            for (qsizetype i = 0; i < editor->text().size(); ++i) {
                const QChar c = editor->text().at(i);
                if (c == u'\n' || c == u'\r' || c == QChar(0x2029))
                    continue;
                ASSERT_EQ(view->foregroundAt(int(i)), CodeEditorTheme::color(CodeEditorTheme::Role(colors.at(i))))
                    << "step " << step << " offset " << i;
            }
        }
    }
}

// Edits in a row, with nothing reading the whole text between them: the text, the block and line
// tables and the colours follow each one where it is, and every few steps they are the ones the
// document gives.
TEST(CodeTextEditorRoundTrip, EditsNotReadBetweenThemKeepTextAndDocumentInStep)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();
    QString start;
    const QString ends[] = {QStringLiteral("\n"), QStringLiteral("\r\n"), QStringLiteral("\r")};
    for (int i = 0; i < 600; ++i)
        start += QStringLiteral("<p class=\"c%1\">line %1 /* x */</p>").arg(i) + ends[i % 3];
    editor->setContent(start, QStringLiteral("page.blade.php"), QStringLiteral("/page"));
    settle(*editor);
    QString expected = start;
    std::mt19937 random(17);
    for (int step = 0; step < 300; ++step) {
        const int length = int(editor->textLength());
        ASSERT_EQ(length, expected.size()) << "step " << step;
        // Far apart or close by, as typing and undo move about.
        int location = int(random() % 3 == 0 ? random() % (length + 1)
                                             : std::clamp<int>(caret(*editor) + int(random() % 41) - 20, 0, length));
        // Not between the two characters of a CR LF pair.
        if (location > 0 && location < length && expected.at(location - 1) == u'\r' && expected.at(location) == u'\n')
            ++location;
        setCaret(*editor, location);
        ASSERT_EQ(caret(*editor), location) << "step " << step;
        switch (random() % 4) {
        case 0:
            QTest::keyClick(view, Qt::Key_Q);
            expected.insert(location, u'q');
            break;
        case 1:
            view->insertText(QStringLiteral("a\r\nb"));
            expected.insert(location, QStringLiteral("a\r\nb"));
            break;
        case 2:
            if (location < length) {
                const int removed = expected.mid(location, 2) == QLatin1String("\r\n") ? 2 : 1;
                QTest::keyClick(view, Qt::Key_Delete);
                expected.remove(location, removed);
            }
            break;
        default:
            if (location > 0) {
                const int removed = location >= 2 && expected.mid(location - 2, 2) == QLatin1String("\r\n") ? 2 : 1;
                QTest::keyClick(view, Qt::Key_Backspace);
                expected.remove(location - removed, removed);
            }
            break;
        }
        if (step % 25 == 24) {
            ASSERT_EQ(escaped(editor->text()), escaped(expected)) << "step " << step;
            ASSERT_EQ(escaped(view->textFromDocument()), escaped(expected)) << "step " << step;
            CodeLineNumberRulerView* ruler = editor->ruler();
            const std::vector<int> followed = ruler->lineStarts();
            ruler->rebuildLineStarts();
            ASSERT_EQ(followed, ruler->lineStarts()) << "step " << step;
        }
    }
    // Undone to the start, each step checked against the document.
    for (int i = 0; i < 1000 && editor->text() != start; ++i)
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(escaped(editor->text()), escaped(start));
    settle(*editor);
    const QByteArray colors = CodeSyntaxHighlighter::apply(start, editor->fileName());
    for (qsizetype i = 0; i < start.size(); i += 7) {
        const QChar c = start.at(i);
        if (c == u'\n' || c == u'\r')
            continue;
        ASSERT_EQ(view->foregroundAt(int(i)), CodeEditorTheme::color(CodeEditorTheme::Role(colors.at(i))))
            << "offset " << i;
    }
}

// Typing, undo and redo all over a text, with the editor's own keeping of the text (the ruler,
// the selection, the word counts) running at each key, never gather the whole text into one piece:
// only reading it does.
TEST(CodeTextEditorRoundTrip, EditsAllOverTheTextNeverGatherItWhole)
{
    CodeEditorTextView view;
    view.resize(600, 400);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QString text;
    for (int i = 0; i < 3000; ++i)
        text += QStringLiteral("word%1 and more words on line %1\r\n").arg(i);
    view.replaceEditorText(text);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.areWordsCounted(); }, 10000));
    const quint64 before = view.textGatherings();
    for (int i = 0; i < 40; ++i) {
        view.setSelectedRange({int(text.size()) * i / 41, 0});
        QTest::keyClicks(&view, QStringLiteral("ab"));
        QTest::keyClick(&view, Qt::Key_Return);
    }
    for (int i = 0; i < 120; ++i)
        QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    for (int i = 0; i < 60; ++i)
        QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view.textGatherings(), before);
    const QString now = view.text();
    EXPECT_EQ(view.textGatherings(), before + 1);
    EXPECT_EQ(escaped(now), escaped(view.textFromDocument()));
}

TEST(CodeTextEditorLook, LightColoursFontTabsAndAccentCaret)
{
    auto editor = shownEditor();
    CodeEditorTextView* view = editor->textView();
    editor->setContent(QStringLiteral("\tx"), QStringLiteral("a.txt"), QStringLiteral("/look"));
    EXPECT_EQ(view->palette().color(QPalette::Base), CodeEditorTheme::background());
    EXPECT_EQ(view->palette().color(QPalette::Text), CodeEditorTheme::base());
    EXPECT_EQ(view->document()->defaultFont().pixelSize(), 13);
    // Monospaced by its glyphs: QFontInfo::fixedPitch() is false for some monospaced fonts
    // (Noto Sans Mono among them).
    const QFontMetricsF metrics(view->document()->defaultFont());
    const qreal advance = metrics.horizontalAdvance(u'm');
    EXPECT_GT(advance, 0);
    for (const QChar c : QStringLiteral("iIlW.0_ {}$"))
        EXPECT_EQ(metrics.horizontalAdvance(c), advance) << "advance of '" << QString(c).toStdString() << "'";
    EXPECT_EQ(view->tabStopDistance(), 28);
    EXPECT_EQ(view->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    // The tab reaches the first tab stop: 28 pixels right of the text's left edge.
    setCaret(*editor, 1);
    const int afterTab = view->cursorRect().left();
    setCaret(*editor, 0);
    EXPECT_EQ(afterTab - view->cursorRect().left(), 28);
    EXPECT_EQ(view->cursorRect().left(), CodeEditorTextView::verticalInset) << "the text starts at its inset";
    EXPECT_EQ(view->viewport()->geometry().left(),
              editor->ruler()->ruleThickness() + CodeEditorTextView::horizontalInset - CodeEditorTextView::verticalInset);

    QTest::keyClicks(view, QStringLiteral("a"));
    const QRect caret = view->cursorRect();
    const QImage image = view->viewport()->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(caret.left(), caret.center().y())), view->caretColor());
}

TEST(CodeTextEditorCompletion, CountedWordsGiveTheListAReadOfTheWholeTextGives)
{
    auto editor = EditorTestKit::shownEditor();
    CodeEditorTextView* view = editor->textView();
    const QString text = QStringLiteral(
        "Foo foo FOO fooBar Foobar _foo foo1 foo_bar Fo fo\u00E9 fo\u0301x Straße STRASSE strasse\r\n"
        "bar Bar BAR barn\u2028bark\tfoo fooBar foo\n");
    // Edits made while the words are still being counted are counted too.
    editor->setContent(text, QStringLiteral("notes.txt"), QStringLiteral("/notes"));
    EditorTestKit::setCaret(*editor, int(text.size()));
    QTest::keyClicks(view, QStringLiteral(" Fooz foOd"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->areWordsCounted(); }, 10000));

    std::mt19937 random(31);
    const QStringList typed {QStringLiteral(" f"), QStringLiteral("o"), QStringLiteral("O"), QStringLiteral("B"),
                             QStringLiteral("a"), QStringLiteral(" "), QStringLiteral("\n"), QStringLiteral("s"),
                             QStringLiteral("tr"), QStringLiteral("\u00E9")};
    for (int step = 0; step < 120; ++step) {
        const QString& current = editor->text();
        // Every partial word of the text, as it stands.
        for (qsizetype end = 1; end <= current.size(); end += 3) {
            qsizetype start = end;
            while (start > 0 && CodeDocumentWords::isWordCharacter(current.at(start - 1)))
                --start;
            const QString partial = current.mid(start, end - start).toLower();
            int index = -1;
            ASSERT_EQ(view->completions(int(start), int(end), &index), view->scanDocumentWords(partial, int(start), int(end)))
                << "step " << step << " partial " << partial.toStdString();
        }
        // An edit somewhere: typed, deleted, or undone.
        EditorTestKit::setCaret(*editor, int(random() % quint32(current.size() + 1)));
        const quint32 kind = random() % 5;
        if (kind == 0)
            QTest::keyClick(view, Qt::Key_Backspace);
        else if (kind == 1)
            QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        else
            view->insertText(typed.at(qsizetype(random() % quint32(typed.size()))));
    }
}

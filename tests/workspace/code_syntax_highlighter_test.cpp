// Colouring by file suffix, checked on the colours the editor actually shows: every rule set, the
// order in which later rules win, ICU's meaning of \b, \s, . and $ on non-ASCII text and line
// ends, long literals, and re-colouring only the blocks that changed.
#include "EditorTestKit.h"
#include "workspace/CodeEditorTheme.h"
#include "workspace/CodeSyntaxHighlighter.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>

using namespace EditorTestKit;
using CodeEditorTheme::Role;

namespace {

struct Expect {
    QString piece;
    Role role;
    int occurrence = 0; // which occurrence of the piece
};

struct ColorCase {
    const char* name;
    QString fileName;
    QString text;
    std::vector<Expect> expects;
};

QString u(char16_t c) { return QString(QChar(c)); }

const char* roleName(Role role)
{
    switch (role) {
    case Role::base: return "base";
    case Role::keyword: return "keyword";
    case Role::string: return "string";
    case Role::comment: return "comment";
    case Role::tag: return "tag";
    case Role::variable: return "variable";
    case Role::number: return "number";
    }
    return "?";
}

const char* roleOf(const QColor& color)
{
    for (int i = 0; i < CodeEditorTheme::roleCount; ++i) {
        if (CodeEditorTheme::color(Role(i)) == color)
            return roleName(Role(i));
    }
    return "unknown";
}

bool isLineEnd(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar(0x2029) || c == QChar(0xFDD0) || c == QChar(0xFDD1);
}

void expectColors(const CodeTextEditor& editor, const ColorCase& c)
{
    const QString& text = editor.text();
    for (const Expect& e : c.expects) {
        qsizetype at = -1;
        for (int n = 0; n <= e.occurrence; ++n)
            at = text.indexOf(e.piece, at + 1);
        ASSERT_GE(at, 0) << "piece not found: " << escaped(e.piece);
        for (qsizetype i = at; i < at + e.piece.size(); ++i) {
            if (isLineEnd(text.at(i)))
                continue;
            EXPECT_STREQ(roleOf(editor.textView()->foregroundAt(int(i))), roleName(e.role))
                << "in " << escaped(e.piece) << " at " << (i - at) << " ('" << escaped(text.mid(i, 1)) << "')";
        }
    }
}

// `count` lines of `line`, its %1 the line's number from 0.
QString rows(int count, const QString& line)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += line.arg(i);
    return text;
}

// Every character shows exactly the colour the whole-text pass gives.
void expectScreenMatchesPass(const CodeTextEditor& editor)
{
    const QString& text = editor.text();
    const QByteArray colors = CodeSyntaxHighlighter::apply(text, editor.fileName());
    int mismatches = 0;
    for (qsizetype i = 0; i < text.size() && mismatches < 5; ++i) {
        if (isLineEnd(text.at(i)))
            continue;
        const QColor shown = editor.textView()->foregroundAt(int(i));
        const QColor expected = CodeEditorTheme::color(Role(colors.at(i)));
        if (shown != expected) {
            ++mismatches;
            ADD_FAILURE() << "offset " << i << " shows " << roleOf(shown) << ", the pass gives "
                          << roleName(Role(colors.at(i))) << " near " << escaped(text.mid(std::max<qsizetype>(i - 10, 0), 20));
        }
    }
}

std::vector<ColorCase> colorCases()
{
    return {
        {"other suffix: numbers, literals, strings, comments only", QStringLiteral("README"),
         QStringLiteral("Version 2.5 is true function\n# Heading with 10 items\nsay \"hi\" and 'yo'\n// note\n/* multi\nline */ done"),
         {{QStringLiteral("Version "), Role::base}, {QStringLiteral("2.5"), Role::number}, {QStringLiteral("true"), Role::keyword},
          {QStringLiteral("function"), Role::base}, {QStringLiteral("# Heading with 10 items"), Role::comment},
          {QStringLiteral("\"hi\""), Role::string}, {QStringLiteral("'yo'"), Role::string}, {QStringLiteral(" and "), Role::base},
          {QStringLiteral("// note"), Role::comment}, {QStringLiteral("/* multi\nline */"), Role::comment},
          {QStringLiteral(" done"), Role::base}}},
        {"hex colours are not comments, anything else after # is", QStringLiteral("notes.txt"),
         QStringLiteral("color #fff here\n#fffg rest\n#abc123 ok\n#12345678x no\n#1234"),
         {{QStringLiteral("#fff here"), Role::base}, {QStringLiteral("#fffg rest"), Role::comment},
          {QStringLiteral("#abc123 ok"), Role::base}, {QStringLiteral("#12345678x no"), Role::comment},
          {QStringLiteral("1234"), Role::number, 1}}},
        {"css", QStringLiteral("site.css"),
         QStringLiteral("a { color: #fff; --main-bg: red; -webkit-x : 1 }\n@media screen {}\nb { color: #fffg; }"),
         {{QStringLiteral("#fff"), Role::number}, {QStringLiteral("--main-bg"), Role::variable},
          {QStringLiteral("-webkit-x"), Role::variable}, {QStringLiteral("color"), Role::base},
          {QStringLiteral("@media"), Role::keyword}, {QStringLiteral("#fffg; }"), Role::comment}}},
        {"literals are case-insensitive everywhere", QStringLiteral("a.txt"), QStringLiteral("TRUE Null NIL nil false nils"),
         {{QStringLiteral("TRUE"), Role::keyword}, {QStringLiteral("Null"), Role::keyword}, {QStringLiteral("NIL"), Role::keyword},
          {QStringLiteral("false"), Role::keyword}, {QStringLiteral("nils"), Role::base}}},
        {"php keywords are case-insensitive", QStringLiteral("a.PHP"), QStringLiteral("FUNCTION Return ECHO Foreach functions"),
         {{QStringLiteral("FUNCTION"), Role::keyword}, {QStringLiteral("Return"), Role::keyword}, {QStringLiteral("ECHO"), Role::keyword},
          {QStringLiteral("Foreach"), Role::keyword}, {QStringLiteral("functions"), Role::base}}},
        {"javascript keywords are not", QStringLiteral("app.js"), QStringLiteral("Return return This this"),
         {{QStringLiteral("Return"), Role::base}, {QStringLiteral("return"), Role::keyword}, {QStringLiteral("This"), Role::base},
          {QStringLiteral("this"), Role::keyword}}},
        {"// inside a string comments out the rest of the line", QStringLiteral("app.ts"),
         QStringLiteral("let u = \"http://x.test/a\"; more\nnext"),
         {{QStringLiteral("\"http:"), Role::string}, {QStringLiteral("//x.test/a\"; more"), Role::comment},
          {QStringLiteral("next"), Role::base}, {QStringLiteral("let"), Role::keyword}}},
        {"a quote in a comment stays comment", QStringLiteral("app.js"), QStringLiteral("// it's here\nx = 1"),
         {{QStringLiteral("// it's here"), Role::comment}, {QStringLiteral("x = "), Role::base}, {QStringLiteral("1"), Role::number}}},
        {"escaped quotes stay in the string", QStringLiteral("a.txt"), QStringLiteral("\"a \\\" b\" c 'd \\' e' f"),
         {{QStringLiteral("\"a \\\" b\""), Role::string}, {QStringLiteral(" c "), Role::base}, {QStringLiteral("'d \\' e'"), Role::string},
          {QStringLiteral(" f"), Role::base}}},
        {"vue: html and javascript", QStringLiteral("App.vue"),
         QStringLiteral("<template><div id=\"a\" class=\"b\"></div></template>\n<script>export default {}</script>"),
         {{QStringLiteral("<div "), Role::tag}, {QStringLiteral("id"), Role::variable}, {QStringLiteral("class"), Role::keyword}, {QStringLiteral("\"a\""), Role::string},
          {QStringLiteral("></div></template>"), Role::tag}, {QStringLiteral("export"), Role::keyword},
          {QStringLiteral("default"), Role::keyword}}},
        {"jsx and tsx: javascript only", QStringLiteral("a.jsx"), QStringLiteral("<div id=\"x\">return</div>"),
         {{QStringLiteral("<div "), Role::base}, {QStringLiteral("id"), Role::base}, {QStringLiteral("return"), Role::keyword}}},
        {"tsx", QStringLiteral("a.tsx"), QStringLiteral("<b>const</b>"),
         {{QStringLiteral("<b>"), Role::base}, {QStringLiteral("const"), Role::keyword}}},
        {"blade: php and html", QStringLiteral("page.blade.php"),
         QStringLiteral("@if($x)<p id=\"a\">{{ $x }}</p>@endif class"),
         {{QStringLiteral("@if"), Role::keyword}, {QStringLiteral("$x"), Role::variable}, {QStringLiteral("<p "), Role::tag},
          {QStringLiteral("id"), Role::variable}, {QStringLiteral("\"a\""), Role::string}, {QStringLiteral(">"), Role::tag, 0},
          {QStringLiteral("$x"), Role::variable, 1}, {QStringLiteral("</p>"), Role::tag}, {QStringLiteral("@endif"), Role::keyword},
          {QStringLiteral("class"), Role::keyword}}},
        {"plain php: no html rules", QStringLiteral("index.php"), QStringLiteral("<p id=\"a\">x</p>"),
         {{QStringLiteral("<p "), Role::base}, {QStringLiteral("id"), Role::base}}},
        {"a tag over several lines is one tag", QStringLiteral("a.html"),
         QStringLiteral("<div\n  class=\"x\"\n  hidden>\ntext <br/>"),
         {{QStringLiteral("<div\n  "), Role::tag}, {QStringLiteral("class"), Role::variable}, {QStringLiteral("\"x\""), Role::string},
          {QStringLiteral("\n  hidden>"), Role::tag}, {QStringLiteral("text "), Role::base}, {QStringLiteral("<br/>"), Role::tag}}},
        {"html comments", QStringLiteral("a.htm"), QStringLiteral("<!-- a\n<b>c</b> -->\n<i>"),
         {{QStringLiteral("<!-- a\n<b>c</b> -->"), Role::comment}, {QStringLiteral("<i>"), Role::tag}}},
        {"php markers, variables, directives", QStringLiteral("a.php"),
         QStringLiteral("<?php echo $a_1; ?>\n<? $b ?>\n<?= $c ?>\n<?PHP\n@csrf $9"),
         {{QStringLiteral("<?php"), Role::string}, {QStringLiteral("echo"), Role::keyword}, {QStringLiteral("$a_1"), Role::variable},
          {QStringLiteral("?>"), Role::string}, {QStringLiteral("<?"), Role::string, 1}, {QStringLiteral("$b"), Role::variable},
          {QStringLiteral("<?="), Role::string}, {QStringLiteral("<?PHP"), Role::string}, {QStringLiteral("@csrf"), Role::keyword},
          {QStringLiteral("$"), Role::base, 3}}},
        {"json keys lose to the string rule that follows", QStringLiteral("a.json"),
         QStringLiteral("{\"key\": 1.5, \"list\" : [true, null]}"),
         {{QStringLiteral("\"key\""), Role::string}, {QStringLiteral("1.5"), Role::number}, {QStringLiteral("true"), Role::keyword},
          {QStringLiteral("null"), Role::keyword}}},
        {"word boundaries as ICU sees them", QStringLiteral("a.txt"),
         QStringLiteral("x1 ") + u(0x00E9) + QStringLiteral("1 e") + u(0x0301) + QStringLiteral("1 ") + u(0x0663)
             + QStringLiteral(" 1e _2 (3) ") + u(0x2163) + QStringLiteral("4"),
         {{QStringLiteral("x1"), Role::base}, {u(0x00E9) + QStringLiteral("1"), Role::base},
          {QStringLiteral("e") + u(0x0301) + QStringLiteral("1"), Role::base}, {u(0x0663), Role::number},
          {QStringLiteral("1e"), Role::base}, {QStringLiteral("_2"), Role::base}, {QStringLiteral("3"), Role::number},
          {u(0x2163) + QStringLiteral("4"), Role::base}}},
        {"ICU whitespace before =", QStringLiteral("a.html"),
         QStringLiteral("<a id") + u(0x0085) + QStringLiteral("=1 title") + u(0x00A0) + QStringLiteral("=2 lang") + u(0x3000)
             + QStringLiteral("=3 rel") + u(0x200B) + QStringLiteral("=4>"),
         {{QStringLiteral("id"), Role::variable}, {QStringLiteral("title"), Role::variable}, {QStringLiteral("lang"), Role::variable},
          {QStringLiteral("rel"), Role::tag}}},
        {"comments end at every ICU line terminator", QStringLiteral("a.txt"),
         QStringLiteral("// a\rb // c\x0B") + QStringLiteral("d // e") + u(0x2028) + QStringLiteral("f // g") + u(0x0085)
             + QStringLiteral("h // i\r\nj // k\x0C") + QStringLiteral("l // m") + u(0x2029) + QStringLiteral("n"),
         {{QStringLiteral("// a"), Role::comment}, {QStringLiteral("b "), Role::base}, {QStringLiteral("// c"), Role::comment},
          {QStringLiteral("d "), Role::base}, {QStringLiteral("// e"), Role::comment}, {QStringLiteral("f "), Role::base},
          {QStringLiteral("// g"), Role::comment}, {QStringLiteral("h "), Role::base}, {QStringLiteral("// i"), Role::comment},
          {QStringLiteral("j "), Role::base}, {QStringLiteral("// k"), Role::comment}, {QStringLiteral("l "), Role::base},
          {QStringLiteral("// m"), Role::comment}, {QStringLiteral("n"), Role::base}}},
    };
}

} // namespace

TEST(CodeSyntaxHighlighterColors, EveryRuleSetOnScreen)
{
    auto editor = shownEditor(900, 600);
    int n = 0;
    for (const ColorCase& c : colorCases()) {
        SCOPED_TRACE(c.name);
        editor->setContent(c.text, c.fileName, QStringLiteral("/case%1").arg(n++));
        settle(*editor);
        expectColors(*editor, c);
        expectScreenMatchesPass(*editor);

        // The same text pasted into the editor, in two halves, after the debounced highlight.
        editor->setContent(QString(), c.fileName, QStringLiteral("/pasted%1").arg(n));
        const qsizetype half = c.text.size() / 2;
        for (const QString& part : {c.text.left(half), c.text.mid(half)}) {
            QApplication::clipboard()->setText(part);
            QTest::keyClick(editor->textView(), Qt::Key_V, Qt::ControlModifier);
        }
        ASSERT_EQ(escaped(editor->text()), escaped(c.text));
        settle(*editor);
        expectColors(*editor, c);
    }
}

TEST(CodeSyntaxHighlighterColors, ReapplyingChangesNothing)
{
    const QString text = QStringLiteral("<?php\nfunction a($x) { return \"s\" . 'q'; } // c\n?>\n<div id=\"1\">2</div>");
    EXPECT_EQ(CodeSyntaxHighlighter::apply(text, QStringLiteral("a.blade.php")),
              CodeSyntaxHighlighter::apply(text, QStringLiteral("a.blade.php")));
    EXPECT_TRUE(CodeSyntaxHighlighter::apply(QString(), QStringLiteral("a.php")).isEmpty());

    auto editor = shownEditor();
    editor->setContent(text, QStringLiteral("a.blade.php"), QStringLiteral("/a"));
    settle(*editor);
    editor->applyHighlighting();
    EXPECT_EQ(editor->textView()->lastRecoloredBlockCount(), 0);
    expectScreenMatchesPass(*editor);
}

TEST(CodeSyntaxHighlighterColors, LongLiteralsDoNotStopTheColouring)
{
    struct Case {
        const char* name;
        QString text;
    };
    const QString big(2'000'000, u'a');
    const Case cases[] = {
        {"double-quoted", u'"' + big + QStringLiteral("\"\n// tail 1")},
        {"single-quoted with escapes", u'\'' + QString(500'000, u'\\') + QString(500'000, u'b') + QStringLiteral("'\n// tail 1")},
        {"unclosed string", u'"' + big + QStringLiteral("\n// tail 1")},
        {"block comment", QStringLiteral("/*") + big + QStringLiteral("*/\n// tail 1")},
        {"html comment", QStringLiteral("<!--") + big + QStringLiteral("-->\n// tail 1")},
        {"long tag", QStringLiteral("<a ") + big + QStringLiteral(">\n// tail 1")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray colors = CodeSyntaxHighlighter::apply(c.text, QStringLiteral("big.html"));
        const qsizetype tail = c.text.indexOf(QStringLiteral("// tail 1"));
        for (qsizetype i = tail; i < c.text.size(); ++i)
            ASSERT_EQ(Role(colors.at(i)), Role::comment) << "at " << i - tail;
    }
    const QString json = QStringLiteral("{\"") + big + QStringLiteral("\": 1}");
    const QByteArray jsonColors = CodeSyntaxHighlighter::apply(json, QStringLiteral("big.json"));
    EXPECT_EQ(Role(jsonColors.at(json.size() - 2)), Role::number);
    EXPECT_EQ(Role(jsonColors.at(5)), Role::string);
}

TEST(CodeSyntaxHighlighterColors, ScreenFollowsEditsAndOnlyChangedBlocksAreRecoloured)
{
    auto editor = shownEditor(900, 600);
    CodeEditorTextView* view = editor->textView();
    const QString text = rows(3000, QStringLiteral("<p class=\"row\">Row %1 of $items, true</p> // note\r\n"));
    editor->setContent(text, QStringLiteral("rows.blade.php"), QStringLiteral("/rows"));
    // Not yet: the first highlight runs on the next turn.
    EXPECT_STREQ(roleOf(view->foregroundAt(0)), "base");
    settle(*editor);
    EXPECT_STREQ(roleOf(view->foregroundAt(0)), "tag");

    // A keystroke in plain text changes one block at most.
    const int middle = int(text.indexOf(QStringLiteral("Row 1500")));
    setCaret(*editor, middle);
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    const int scroll = view->verticalScrollBar()->value();
    QTest::keyClicks(view, QStringLiteral("Big "));
    EXPECT_TRUE(editor->isHighlightPending());
    settle(*editor);
    EXPECT_LE(view->lastRecoloredBlockCount(), 1);
    EXPECT_EQ(caret(*editor), middle + 4) << "the highlight leaves the caret";
    EXPECT_EQ(view->verticalScrollBar()->value(), scroll) << "and the scroll position";
    expectScreenMatchesPass(*editor);

    // A quote at the top pairs every later quote differently: everything below changes.
    setCaret(*editor, 0);
    QTest::keyClicks(view, QStringLiteral("\""));
    settle(*editor);
    EXPECT_GT(view->lastRecoloredBlockCount(), 2900);
    expectScreenMatchesPass(*editor);

    // Taking it back, and an edit across lines.
    QTest::keyClick(view, Qt::Key_Backspace);
    view->setSelectedRange({100, 300});
    QTest::keyClick(view, Qt::Key_Delete);
    QTest::keyClicks(view, QStringLiteral("'open"));
    settle(*editor);
    expectScreenMatchesPass(*editor);
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    settle(*editor);
    expectScreenMatchesPass(*editor);
}

TEST(CodeSyntaxHighlighterColors, ManyChangedBlocksAreColouredInViewAtOnceAndTheRestAtIdleTime)
{
    auto editor = shownEditor(900, 600);
    CodeEditorTextView* view = editor->textView();
    const QString text = rows(3000, QStringLiteral("<p class=\"row\">Row %1</p>\n"));
    editor->setContent(text, QStringLiteral("rows.html"), QStringLiteral("/rows"));
    settle(*editor);
    const int lastTag = int(text.lastIndexOf(QStringLiteral("<p")));
    ASSERT_STREQ(roleOf(view->foregroundAt(lastTag)), "tag");

    // Every block changes colour: the blocks in view at once, within this call, the rest later.
    view->applyColors(QByteArray(view->text().size(), char(Role::base)));
    EXPECT_TRUE(view->isRecolorPending());
    EXPECT_TRUE(editor->isHighlightPending());
    EXPECT_STREQ(roleOf(view->foregroundAt(0)), "base");
    EXPECT_STREQ(roleOf(view->foregroundAt(lastTag)), "tag") << "not reached yet";

    // A block scrolled into view is painted with its new colours, however far the pass has got.
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    view->viewport()->repaint();
    EXPECT_STREQ(roleOf(view->foregroundAt(lastTag)), "base");

    // Typing meanwhile keeps every colour right, and the pass finishes.
    setCaret(*editor, 0);
    QTest::keyClicks(view, QStringLiteral("x"));
    settle(*editor);
    EXPECT_FALSE(view->isRecolorPending());
    expectScreenMatchesPass(*editor);
}

TEST(CodeSyntaxHighlighterColors, RenameRecoloursAtOnce)
{
    auto editor = shownEditor();
    const QString text = QStringLiteral("return $x;");
    editor->setContent(text, QStringLiteral("a.txt"), QStringLiteral("/a"));
    settle(*editor);
    EXPECT_STREQ(roleOf(editor->textView()->foregroundAt(0)), "base");
    editor->setContent(text, QStringLiteral("a.php"), QStringLiteral("/a"));
    EXPECT_STREQ(roleOf(editor->textView()->foregroundAt(0)), "keyword");
    EXPECT_STREQ(roleOf(editor->textView()->foregroundAt(7)), "variable");
}

TEST(CodeSyntaxHighlighterColors, EditsRecolourFromTheKeptMatches)
{
    auto editor = shownEditor(900, 600);
    CodeEditorTextView* view = editor->textView();
    const QString text = rows(3000, QStringLiteral("<p class=\"row\">Row %1 of $items, true</p> // note\n"));
    editor->setContent(text, QStringLiteral("rows.blade.php"), QStringLiteral("/rows"));
    // Typed before the first matches are made: they catch up when they land.
    setCaret(*editor, int(text.indexOf(QStringLiteral("Row 2000"))));
    QTest::keyClicks(view, QStringLiteral("'"));
    setCaret(*editor, 5);
    QTest::keyClicks(view, QStringLiteral("/* "));
    settle(*editor);
    ASSERT_NE(editor->highlightState(), nullptr);
    expectScreenMatchesPass(*editor);

    // A keystroke in plain text re-matches its neighbourhood only.
    setCaret(*editor, int(editor->text().indexOf(QStringLiteral("Row 1500"))));
    QTest::keyClicks(view, QStringLiteral("x"));
    settle(*editor);
    EXPECT_LT(editor->highlightState()->lastRematched(), 40000);
    expectScreenMatchesPass(*editor);

    // Closing the block comment far below, and the quote at the top of the comment's reach.
    setCaret(*editor, int(editor->text().indexOf(QStringLiteral("Row 1000"))));
    QTest::keyClicks(view, QStringLiteral("*/"));
    settle(*editor);
    expectScreenMatchesPass(*editor);
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    settle(*editor);
    expectScreenMatchesPass(*editor);
    setCaret(*editor, int(editor->text().indexOf(QStringLiteral("Row 2500"))));
    QTest::keyClicks(view, QStringLiteral("\""));
    settle(*editor);
    expectScreenMatchesPass(*editor);

    // A new file name recolours with its own rules and keeps matches for them.
    editor->setContent(editor->text(), QStringLiteral("rows.txt"), QStringLiteral("/rows"));
    settle(*editor);
    ASSERT_NE(editor->highlightState(), nullptr);
    EXPECT_EQ(editor->highlightState()->fileName(), QStringLiteral("rows.txt"));
    QTest::keyClicks(view, QStringLiteral(" 12"));
    settle(*editor);
    expectScreenMatchesPass(*editor);
}

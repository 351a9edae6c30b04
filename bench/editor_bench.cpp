// The code editor on generated PHP/HTML files of 100 KB, 1 MB, 5 MB and 20 MB, offscreen:
// - opening (text set and first highlight painted), keystrokes in the middle (key event to repaint,
//   typed in bursts a little faster than the highlight's delay, with the debounced highlight landing
//   between bursts), and a whole-text highlight (the matching pass and applying its colours), beside
//   a bare QPlainTextEdit;
// - processor time per keystroke (every thread) with keys spaced past the highlight's delay, so the
//   highlight each key causes is counted, beside a QPlainTextEdit with a per-block
//   QSyntaxHighlighter of the same kinds of rules;
// - the completion and closing-tag keys (a typed "<", keys while the list is open, ">",
//   Control+Space, plain keys), beside a plain key of the bare widget;
// - undo of 100 separate edits, beside a bare QPlainTextEdit's undo of the same edits.
#include "BenchEditorText.h"
#include "workspace/CodeEditorTheme.h"
#include "workspace/CodeHighlightState.h"
#include "workspace/CodeSyntaxHighlighter.h"
#include "workspace/CodeTextEditor.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QPlainTextEdit>
#include <QSyntaxHighlighter>

#include <cstdio>
#include <memory>

using namespace BenchEditorText;

namespace {

struct Figures {
    double open = 0;
    double keystroke = 0;
    double worstKeystroke = 0;
    double highlight = 0;
    double matching = 0;
};

Figures measureEditor(const QString& text, const QString& fileName, int rounds)
{
    std::vector<double> opens, keys, highlights, matches;
    for (int round = 0; round < rounds; ++round) {
        CodeTextEditor editor;
        editor.resize(1000, 800);
        editor.show();
        wait(50);
        CodeEditorTextView* view = editor.textView();
        view->setFocus();
        // Open: the text set, its first highlight applied (the first character coloured) and
        // painted.
        opens.push_back(millisecondsOf([&] {
            editor.setContent(text, fileName, QStringLiteral("/bench/") + fileName);
            waitFor([&] { return view->foregroundAt(0) != CodeEditorTheme::base(); }, 60000);
            view->viewport()->repaint();
        }));
        wait(20);

        view->setSelectedRange({int(text.size() / 2), 0});
        view->ensureCursorVisible();
        view->viewport()->repaint();
        typeBursts(view, view->viewport(), &keys);
        waitFor([&] { return !editor.isHighlightPending(); }, 60000);
        // The debounced highlight as the editor runs it, after one more key: the matching pass (off
        // the main thread), then applying its colours to the blocks that changed and repainting (on it).
        typeKey(view);
        const QString edited = editor.text();
        QByteArray colors;
        matches.push_back(millisecondsOf([&] { colors = CodeSyntaxHighlighter::apply(edited, fileName); }));
        highlights.push_back(millisecondsOf([&] {
            view->applyColors(colors);
            view->viewport()->repaint();
        }));
        waitFor([&] { return !editor.isHighlightPending(); }, 60000);
    }
    const double matching = median(matches);
    const double mainThread = median(highlights);
    return {median(opens), median(keys), worst(keys), matching + mainThread, matching};
}

Figures measureBare(const QString& text, int rounds, bool configured)
{
    std::vector<double> opens, keys;
    for (int round = 0; round < rounds; ++round) {
        std::unique_ptr<QPlainTextEdit> owned;
        if (configured)
            owned = std::make_unique<ConfiguredPlainTextEdit>(text.count(u'\n') + 1);
        else
            owned = std::make_unique<QPlainTextEdit>();
        QPlainTextEdit& edit = *owned;
        edit.resize(1000, 800);
        edit.show();
        wait(50);
        edit.setFocus();
        opens.push_back(millisecondsOf([&] {
            edit.setPlainText(text);
            QCoreApplication::processEvents();
            edit.viewport()->repaint();
        }));
        wait(20);
        QTextCursor cursor = edit.textCursor();
        cursor.setPosition(int(text.size() / 2));
        edit.setTextCursor(cursor);
        edit.ensureCursorVisible();
        edit.viewport()->repaint();
        typeBursts(&edit, edit.viewport(), &keys);
    }
    return {median(opens), median(keys), worst(keys), 0, 0};
}

// The floor of the highlighted keystroke: the same rules matched block by block as Qt's syntax
// highlighter example does, block comments carried from block to block.
class PerBlockHighlighter : public QSyntaxHighlighter {
public:
    PerBlockHighlighter(QTextDocument* document, const QString& fileName)
        : QSyntaxHighlighter(document)
        , m_commentStart(QStringLiteral("/*"))
        , m_commentEnd(QStringLiteral("*/"))
    {
        for (const CodeSyntaxHighlighter::Rule& rule : CodeSyntaxHighlighter::rulesFor(fileName)) {
            QTextCharFormat format;
            format.setForeground(CodeEditorTheme::color(rule.color));
            m_rules.push_back({CodeSyntaxHighlighter::compile(rule.pattern, rule.options), format});
        }
        m_comment.setForeground(CodeEditorTheme::comment());
    }

protected:
    void highlightBlock(const QString& text) override
    {
        for (const auto& [re, format] : m_rules) {
            for (auto it = re.globalMatch(text); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                setFormat(int(m.capturedStart()), int(m.capturedLength()), format);
            }
        }
        setCurrentBlockState(0);
        qsizetype start = previousBlockState() == 1 ? 0 : text.indexOf(m_commentStart);
        while (start >= 0) {
            const qsizetype end = text.indexOf(m_commentEnd, start);
            qsizetype length;
            if (end < 0) {
                setCurrentBlockState(1);
                length = text.size() - start;
            } else {
                length = end - start + m_commentEnd.size();
            }
            setFormat(int(start), int(length), m_comment);
            start = text.indexOf(m_commentStart, start + length);
        }
    }

private:
    std::vector<std::pair<QRegularExpression, QTextCharFormat>> m_rules;
    QString m_commentStart;
    QString m_commentEnd;
    QTextCharFormat m_comment;
};

// Keys spaced past the highlight's delay.
constexpr int kSpacedKeys = 9;
constexpr int kSpacingMs = 120;

Cost medianCost(const std::vector<Cost>& costs)
{
    std::vector<double> cpu, wall;
    for (const Cost& c : costs) {
        cpu.push_back(c.cpu);
        wall.push_back(c.wall);
    }
    return {median(cpu), median(wall)};
}

std::unique_ptr<CodeTextEditor> openedEditor(const QString& text, const QString& fileName)
{
    auto editor = std::make_unique<CodeTextEditor>();
    editor->resize(1000, 800);
    editor->show();
    idleFor(50);
    editor->textView()->setFocus();
    editor->setContent(text, fileName, QStringLiteral("/bench/") + fileName);
    // Settled: colours, kept matches and word counts made.
    idleUntil([&] { return !editor->isHighlightPending() && editor->textView()->areWordsCounted(); }, 600000);
    editor->textView()->viewport()->repaint();
    return editor;
}

// Processor time of a key typed in the middle, with the highlight it causes (after the editor's
// delay) landing and painted.
Cost measureHighlightedKeys(CodeTextEditor& editor, const QString& text)
{
    CodeEditorTextView* view = editor.textView();
    view->setSelectedRange({int(text.indexOf(QStringLiteral("Hello"), text.size() / 2)), 0});
    view->ensureCursorVisible();
    view->viewport()->repaint();
    idleFor(kSpacingMs);
    std::vector<Cost> costs;
    for (int k = 0; k < kSpacedKeys; ++k) {
        costs.push_back(costOf([&] {
            typeKey(view);
            view->viewport()->repaint();
            idleUntil([&] { return !editor.isHighlightPending(); }, 600000);
            view->viewport()->repaint();
        }));
        idleFor(kSpacingMs);
    }
    return medianCost(costs);
}

Cost measureFloorKeys(const QString& text, const QString& fileName)
{
    ConfiguredPlainTextEdit edit(text.count(u'\n') + 1);
    edit.resize(1000, 800);
    edit.show();
    idleFor(50);
    edit.setFocus();
    edit.setPlainText(text);
    PerBlockHighlighter highlighter(edit.document(), fileName);
    QCoreApplication::processEvents();
    edit.viewport()->repaint();
    QTextCursor cursor = edit.textCursor();
    cursor.setPosition(int(text.indexOf(QStringLiteral("Hello"), text.size() / 2)));
    edit.setTextCursor(cursor);
    edit.ensureCursorVisible();
    edit.viewport()->repaint();
    idleFor(kSpacingMs);
    std::vector<Cost> costs;
    for (int k = 0; k < kSpacedKeys; ++k) {
        costs.push_back(costOf([&] {
            typeKey(&edit);
            edit.viewport()->repaint();
            QCoreApplication::processEvents();
            edit.viewport()->repaint();
        }));
        idleFor(kSpacingMs);
    }
    return medianCost(costs);
}

struct CompletionFigures {
    Cost openTag;    // "<", the list of tag names opening
    Cost listKey;    // a key while that list is open
    Cost closeTag;   // ">" ending an opening tag: the closing tag inserted
    Cost controlSpace; // Control+Space after part of a word: the document's words
    Cost wordListKey;  // a key while the list of the document's words is open
    Cost plainKey;
    bool listsShown = false;
};

// One key and what it posts (the list opening on the next turn), painted; the highlight it causes
// lands before the next key and is not counted.
Cost completionKey(CodeTextEditor& editor, int key, Qt::KeyboardModifiers modifiers, const QString& typed)
{
    CodeEditorTextView* view = editor.textView();
    const Cost cost = costOf([&] {
        sendKey(view, key, modifiers, typed);
        QCoreApplication::processEvents();
        view->viewport()->repaint();
    });
    idleUntil([&] { return !editor.isHighlightPending(); }, 600000);
    idleFor(kSpacingMs);
    return cost;
}

CompletionFigures measureCompletion(CodeTextEditor& editor, const QString& text)
{
    CodeEditorTextView* view = editor.textView();
    CompletionFigures f;
    std::vector<Cost> openTag, listKey, closeTag, controlSpace, wordListKey, plain;
    bool shown = true;
    for (int round = 0; round < 5; ++round) {
        // At the start of a line between two tags, in the middle of the text.
        const qsizetype line = text.indexOf(QStringLiteral("\n<div"), text.size() / 2 + round * 4000) + 1;
        view->setSelectedRange({int(line), 0});
        view->ensureCursorVisible();
        idleFor(kSpacingMs);
        openTag.push_back(completionKey(editor, Qt::Key_Less, Qt::NoModifier, QStringLiteral("<")));
        shown = shown && view->isCompletionListVisible();
        listKey.push_back(completionKey(editor, Qt::Key_S, Qt::NoModifier, QStringLiteral("s")));
        listKey.push_back(completionKey(editor, Qt::Key_E, Qt::NoModifier, QStringLiteral("e")));
        shown = shown && view->isCompletionListVisible();
        completionKey(editor, Qt::Key_Escape, Qt::NoModifier, QString());
        closeTag.push_back(completionKey(editor, Qt::Key_Greater, Qt::NoModifier, QStringLiteral(">")));
        plain.push_back(completionKey(editor, Qt::Key_U, Qt::ShiftModifier, QStringLiteral("U")));
        plain.push_back(completionKey(editor, Qt::Key_S, Qt::NoModifier, QStringLiteral("s")));
        controlSpace.push_back(completionKey(editor, Qt::Key_Space, Qt::ControlModifier, QString()));
        shown = shown && view->isCompletionListVisible();
        wordListKey.push_back(completionKey(editor, Qt::Key_E, Qt::NoModifier, QStringLiteral("e")));
        shown = shown && view->isCompletionListVisible();
        completionKey(editor, Qt::Key_Escape, Qt::NoModifier, QString());
    }
    f.openTag = medianCost(openTag);
    f.listKey = medianCost(listKey);
    f.closeTag = medianCost(closeTag);
    f.controlSpace = medianCost(controlSpace);
    f.wordListKey = medianCost(wordListKey);
    f.plainKey = medianCost(plain);
    f.listsShown = shown;
    return f;
}

Cost measureBarePlainKey(const QString& text)
{
    ConfiguredPlainTextEdit edit(text.count(u'\n') + 1);
    edit.resize(1000, 800);
    edit.show();
    idleFor(50);
    edit.setFocus();
    edit.setPlainText(text);
    QCoreApplication::processEvents();
    QTextCursor cursor = edit.textCursor();
    cursor.setPosition(int(text.indexOf(QStringLiteral("\n<div"), text.size() / 2) + 1));
    edit.setTextCursor(cursor);
    edit.ensureCursorVisible();
    edit.viewport()->repaint();
    std::vector<Cost> costs;
    for (int k = 0; k < 10; ++k) {
        costs.push_back(costOf([&] {
            sendKey(&edit, Qt::Key_S, Qt::NoModifier, QStringLiteral("s"));
            QCoreApplication::processEvents();
            edit.viewport()->repaint();
        }));
        idleFor(20);
    }
    return medianCost(costs);
}

constexpr int kUndoEdits = 100;
// Rounds of undo, the editor's and the floor's taking turns, so that a change in the machine's
// load meets both; the medians are printed.
constexpr int kUndoRounds = 3;

// The widget's window active and the widget focused, as when the user types into it.
void focusForTyping(QWidget* widget)
{
    widget->window()->activateWindow();
    widget->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
}

// 100 separate edits spread over the text.
void makeSeparateEdits(QPlainTextEdit* edit, qsizetype size, const std::function<void(int)>& placeCaret)
{
    for (int i = 0; i < kUndoEdits; ++i) {
        placeCaret(int(size * (i + 1) / (kUndoEdits + 1)));
        sendKey(edit, Qt::Key_Q, Qt::NoModifier, QStringLiteral("q"));
        QCoreApplication::processEvents();
    }
}

// Undoes the edits one by one (each key to repaint); `after` gets what comes after the last one
// (the editor's debounced highlight), then they are redone for the next round.
Cost undoEdits(QPlainTextEdit* edit, const std::function<void()>& settle, Cost* after)
{
    settle();
    edit->viewport()->repaint();
    const Cost cost = costOf([&] {
        for (int i = 0; i < kUndoEdits; ++i) {
            sendKey(edit, Qt::Key_Z, Qt::ControlModifier, QString());
            QCoreApplication::processEvents();
            edit->viewport()->repaint();
        }
    });
    *after = costOf(settle);
    return cost;
}

void redoEdits(QPlainTextEdit* edit, const std::function<void()>& settle)
{
    for (int i = 0; i < kUndoEdits; ++i) {
        sendKey(edit, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, QString());
        QCoreApplication::processEvents();
    }
    settle();
}

struct UndoFigures {
    Cost editor;
    Cost editorAfter;
    Cost bare;
    bool restored = true;
};

UndoFigures measureUndo(const QString& text, const QString& fileName)
{
    UndoFigures f;
    std::unique_ptr<CodeTextEditor> editor = openedEditor(text, fileName);
    CodeEditorTextView* view = editor->textView();
    const auto settleEditor = [&] { idleUntil([&] { return !editor->isHighlightPending(); }, 600000); };
    makeSeparateEdits(view, text.size(), [&](int offset) { view->setSelectedRange({offset, 0}); });

    ConfiguredPlainTextEdit edit(text.count(u'\n') + 1);
    edit.resize(1000, 800);
    edit.show();
    idleFor(50);
    edit.setPlainText(text);
    QCoreApplication::processEvents();
    const auto settleBare = [] { QCoreApplication::processEvents(); };
    makeSeparateEdits(&edit, text.size(), [&](int offset) {
        QTextCursor cursor = edit.textCursor();
        cursor.setPosition(offset);
        edit.setTextCursor(cursor);
    });

    std::vector<Cost> editorCosts;
    std::vector<Cost> afterCosts;
    std::vector<Cost> bareCosts;
    for (int round = 0; round < kUndoRounds; ++round) {
        if (round > 0) {
            redoEdits(view, settleEditor);
            redoEdits(&edit, settleBare);
        }
        f.restored = f.restored && editor->textLength() == text.size() + kUndoEdits
            && edit.document()->characterCount() == editor->textLength() + 1;
        focusForTyping(view);
        Cost after;
        editorCosts.push_back(undoEdits(view, settleEditor, &after));
        afterCosts.push_back(after);
        f.restored = f.restored && editor->text() == text;
        focusForTyping(&edit);
        Cost ignored;
        bareCosts.push_back(undoEdits(&edit, settleBare, &ignored));
    }
    f.editor = medianCost(editorCosts);
    f.editorAfter = medianCost(afterCosts);
    f.bare = medianCost(bareCosts);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString fileName = QStringLiteral("profile.blade.php");
    std::printf("Code editor, generated PHP/HTML (%s: PHP, HTML, string and comment rules), medians in ms\n",
                qPrintable(fileName));
    std::printf("open: text set, its first highlight applied and painted; keystroke: key event to repaint (median\n"
                "and worst of %d keys typed in %d bursts, %d ms apart, the debounced highlight landing between\n"
                "bursts); highlight: the debounced highlight, whole: matching (off the main thread in the editor)\n"
                "plus the main thread's share (applying the colours of the changed blocks, repaint). Floor: a bare\n"
                "QPlainTextEdit in the same run (open = setPlainText and paint); \"set up alike\": one with the\n"
                "editor's font, wrapping and margins, its ratios the editor's against it.\n",
                kBursts * kKeysPerBurst, kBursts, kKeyGapMs);
    std::printf("%-8s %-16s %10s %7s %10s %7s %10s %7s %12s %12s %12s\n", "size", "widget", "open", "x", "keystroke",
                "x", "worst key", "x", "highlight", "matching", "main thread");
    struct Size {
        const char* label;
        qsizetype bytes;
        int rounds;
    };
    const Size sizes[] = {{"100 KB", 100 * 1024, 5},
                          {"1 MB", 1024 * 1024, 5},
                          {"5 MB", 5 * 1024 * 1024, 3},
                          {"20 MB", 20 * 1024 * 1024, 1}};
    // "--rules" prints the time of each rule on the 1 MB file.
    if (argc > 1 && QByteArray(argv[1]) == "--rules") {
        const QString text = generated(1024 * 1024);
        for (const CodeSyntaxHighlighter::Rule& rule : CodeSyntaxHighlighter::rulesFor(fileName)) {
            int matches = 0;
            double ms = 1e9;
            for (int round = 0; round < 5; ++round) {
                matches = 0;
                ms = std::min(ms, millisecondsOf([&] {
                    const QRegularExpression re = CodeSyntaxHighlighter::compile(rule.pattern, rule.options);
                    for (auto it = re.globalMatch(text); it.hasNext(); it.next())
                        ++matches;
                }));
            }
            std::printf("%8.1f ms %7d  %s\n", ms, matches, qPrintable(rule.pattern.left(60)));
        }
        return 0;
    }
    // "--state" prints the time of a whole-text pass and of making the kept matches, rule by rule,
    // on the 1 MB file.
    if (argc > 1 && QByteArray(argv[1]) == "--state") {
        const QString text = generated(1024 * 1024);
        for (const CodeSyntaxHighlighter::Rule& rule : CodeSyntaxHighlighter::rulesFor(fileName)) {
            const QString name = rule.pattern.endsWith(u'$') ? QStringLiteral("x.txt") : QStringLiteral("x.txt");
            (void)name;
            const double pass = millisecondsOf([&] {
                const QRegularExpression& re = CodeSyntaxHighlighter::compiled(rule);
                for (auto it = re.globalMatch(text); it.hasNext(); it.next()) {
                }
            });
            std::printf("%8.1f ms pass  %s\n", pass, qPrintable(rule.pattern.left(60)));
        }
        const double whole = millisecondsOf([&] { CodeHighlightState state(text, fileName); });
        std::printf("kept matches, all rules side by side: %.1f ms\n", whole);
        return 0;
    }
    // "--compile" prints the time to compile and first use every rule of the file name.
    if (argc > 1 && QByteArray(argv[1]) == "--compile") {
        double best = 1e9;
        for (int round = 0; round < 5; ++round) {
            best = std::min(best, millisecondsOf([&] {
                for (const CodeSyntaxHighlighter::Rule& rule : CodeSyntaxHighlighter::rulesFor(fileName))
                    CodeSyntaxHighlighter::compile(rule.pattern, rule.options).match(QStringLiteral("x"));
            }));
        }
        std::printf("compile and first match of every rule: %.2f ms\n", best);
        return 0;
    }
    // "--size=1 MB" measures one size only; "--section=table|keys|completion|undo" one table only.
    QString only;
    QString section;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]).startsWith("--size="))
            only = QString::fromLocal8Bit(argv[i] + 7);
        if (QByteArray(argv[i]).startsWith("--section="))
            section = QString::fromLocal8Bit(argv[i] + 10);
    }
    auto wanted = [&](const char* name) { return section.isEmpty() || section == QLatin1String(name); };
    for (const Size& size : sizes) {
        if (!wanted("table"))
            break;
        if (!only.isEmpty() && only != QLatin1String(size.label))
            continue;
        const QString text = generated(size.bytes);
        const Figures editor = measureEditor(text, fileName, size.rounds);
        const Figures bare = measureBare(text, size.rounds, false);
        const Figures configured = measureBare(text, size.rounds, true);
        std::printf("%-8s %-16s %10.1f %6.2fx %10.2f %6.2fx %10.2f %6.2fx %12.1f %12.1f %12.1f\n", size.label,
                    "CodeTextEditor", editor.open, editor.open / bare.open, editor.keystroke,
                    editor.keystroke / bare.keystroke, editor.worstKeystroke, editor.worstKeystroke / bare.worstKeystroke,
                    editor.highlight, editor.matching, editor.highlight - editor.matching);
        std::printf("%-8s %-16s %10.1f %7s %10.2f %7s %10.2f %7s %12s %12s %12s\n", size.label, "QPlainTextEdit (floor)",
                    bare.open, "", bare.keystroke, "", bare.worstKeystroke, "", "-", "-", "-");
        std::printf("%-8s %-16s %10.1f %6.2fx %10.2f %6.2fx %10.2f %6.2fx %12s %12s %12s\n", size.label,
                    "  set up alike", configured.open, editor.open / configured.open, configured.keystroke,
                    editor.keystroke / configured.keystroke, configured.worstKeystroke,
                    editor.worstKeystroke / configured.worstKeystroke, "-", "-", "-");
        std::fflush(stdout);
    }

    if (wanted("keys")) {
        std::printf("\nProcessor time per keystroke (ms, every thread, median of %d keys %d ms apart), the highlight it\n"
                    "causes landing and painted; floor: QPlainTextEdit set up alike with a per-block QSyntaxHighlighter\n"
                    "of the same rules. Target at 5 MB: within 4x the floor.\n",
                    kSpacedKeys, kSpacingMs);
        std::printf("%-8s %12s %12s %8s %12s %12s\n", "size", "editor cpu", "floor cpu", "x", "editor wall",
                    "floor wall");
    }
    for (const Size& size : sizes) {
        if (!wanted("keys"))
            break;
        if (!only.isEmpty() && only != QLatin1String(size.label))
            continue;
        const QString text = generated(size.bytes);
        Cost editorCost;
        {
            std::unique_ptr<CodeTextEditor> editor = openedEditor(text, fileName);
            editorCost = measureHighlightedKeys(*editor, text);
        }
        const Cost floorCost = measureFloorKeys(text, fileName);
        std::printf("%-8s %12.2f %12.2f %7.2fx %12.2f %12.2f\n", size.label, editorCost.cpu, floorCost.cpu,
                    editorCost.cpu / floorCost.cpu, editorCost.wall, floorCost.wall);
        std::fflush(stdout);
    }

    if (wanted("completion")) {
        std::printf("\nCompletion and closing-tag keys (ms, processor time / wall time, median; key event and what it\n"
                    "posts, painted). Floor: a plain key of a bare QPlainTextEdit set up alike. Target at 5 MB: every\n"
                    "key under 8 ms.\n");
        std::printf("%-8s %13s %13s %13s %13s %13s %13s %13s\n", "size", "typed <", "list key", "typed >", "Ctrl+Space",
                    "words key", "plain key", "floor key");
    }
    for (const Size& size : sizes) {
        if (!wanted("completion"))
            break;
        if (!only.isEmpty() && only != QLatin1String(size.label))
            continue;
        const QString text = generated(size.bytes);
        CompletionFigures f;
        {
            std::unique_ptr<CodeTextEditor> editor = openedEditor(text, fileName);
            f = measureCompletion(*editor, text);
        }
        const Cost bare = measureBarePlainKey(text);
        auto cell = [](const Cost& c) { return QString::asprintf("%5.2f/%5.2f", c.cpu, c.wall); };
        std::printf("%-8s %13s %13s %13s %13s %13s %13s %13s%s\n", size.label, qPrintable(cell(f.openTag)),
                    qPrintable(cell(f.listKey)), qPrintable(cell(f.closeTag)), qPrintable(cell(f.controlSpace)),
                    qPrintable(cell(f.wordListKey)), qPrintable(cell(f.plainKey)), qPrintable(cell(bare)),
                    f.listsShown ? "" : "  (a list did not open)");
        std::fflush(stdout);
    }

    if (wanted("undo")) {
        std::printf("\nUndo of %d separate edits (ms, processor time / wall time, all of them, each key to repaint;\n"
                    "median of %d rounds, the editor's and the floor's taking turns); floor: a bare QPlainTextEdit set\n"
                    "up alike undoing the same edits. Target: within 1.5x. \"then\": the editor's debounced highlight\n"
                    "after the last undo.\n",
                    kUndoEdits, kUndoRounds);
        std::printf("%-8s %15s %15s %8s %15s\n", "size", "editor", "floor", "x cpu", "then");
    }
    for (const Size& size : sizes) {
        if (!wanted("undo"))
            break;
        if (!only.isEmpty() && only != QLatin1String(size.label))
            continue;
        const QString text = generated(size.bytes);
        const UndoFigures f = measureUndo(text, fileName);
        std::printf("%-8s %7.1f/%7.1f %7.1f/%7.1f %7.2fx %7.1f/%7.1f%s\n", size.label, f.editor.cpu, f.editor.wall,
                    f.bare.cpu, f.bare.wall, f.editor.cpu / f.bare.cpu, f.editorAfter.cpu, f.editorAfter.wall,
                    f.restored ? "" : "  (text not restored)");
        std::fflush(stdout);
    }
    return 0;
}

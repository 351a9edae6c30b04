// The code editor on generated PHP/HTML files of 100 KB, 1 MB and 5 MB, offscreen: opening (text
// set and first highlight painted), keystrokes in the middle (key event to repaint, typed in
// bursts a little faster than the highlight's delay, with the debounced highlight landing
// between bursts), and the debounced highlight (the matching pass and applying its colours).
// A bare QPlainTextEdit measured in the same run is the floor, printed beside each figure.
#include "BenchEditorText.h"
#include "workspace/CodeEditorTheme.h"
#include "workspace/CodeSyntaxHighlighter.h"
#include "workspace/CodeTextEditor.h"

#include <QApplication>
#include <QPlainTextEdit>

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
    const Size sizes[] = {{"100 KB", 100 * 1024, 5}, {"1 MB", 1024 * 1024, 5}, {"5 MB", 5 * 1024 * 1024, 3}};
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
    // "--size=1 MB" measures one size only.
    QString only;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]).startsWith("--size="))
            only = QString::fromLocal8Bit(argv[i] + 7);
    }
    for (const Size& size : sizes) {
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
    return 0;
}

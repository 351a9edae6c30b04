// The code editor on generated PHP/HTML files of 100 KB, 1 MB and 5 MB, offscreen: opening (text
// set and first highlight painted), one keystroke in the middle (key event to repaint, without
// the highlight), and the debounced highlight after it (the matching pass and applying its
// colours); the same figures for a bare QPlainTextEdit as the floor. Prints one table.
#include "workspace/CodeSyntaxHighlighter.h"
#include "workspace/CodeTextEditor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QKeyEvent>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const char* kChunk = R"(<?php
namespace App\Http\Controllers;

use Illuminate\Http\Request;

/* Shows and updates the profile of one user. */
class UserController extends Controller
{
    // The profile page.
    public function show(Request $request, int $id)
    {
        $user = User::findOrFail($id);
        if ($user->isBanned() && !$request->has('preview')) {
            return redirect('/'); # banned users go home
        }
        return view('users.profile', ['user' => $user, 'count' => 42, 'ratio' => 3.14, 'active' => true]);
    }
}
?>
<div class="card" id="user-42" data-role="profile">
    <h1 title="Profile">Hello, <?= $user->name ?></h1>
    <!-- the user's summary -->
    <p style="color: #fff">Posts: 128, "quoted" and 'single' text</p>
    @if ($user->admin)
        <a href="https://example.test/admin">Admin</a>
    @endif
</div>
)";

QString generated(qsizetype bytes)
{
    const QString chunk = QString::fromUtf8(kChunk);
    QString text;
    text.reserve(bytes + chunk.size());
    while (text.size() < bytes)
        text += chunk;
    return text;
}

void wait(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

void typeKey(QWidget* widget)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QCoreApplication::sendEvent(widget, &release);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double millisecondsOf(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

struct Figures {
    double open = 0;
    double keystroke = 0;
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
        opens.push_back(millisecondsOf([&] {
            editor.setContent(text, fileName, QStringLiteral("/bench/") + fileName);
            // The first highlight runs on the next turn.
            QCoreApplication::processEvents();
            view->viewport()->repaint();
        }));
        wait(20);

        view->setSelectedRange({int(text.size() / 2), 0});
        view->ensureCursorVisible();
        view->viewport()->repaint();
        for (int k = 0; k < 5; ++k) {
            keys.push_back(millisecondsOf([&] {
                typeKey(view);
                view->viewport()->repaint();
            }));
        }
        // The debounced highlight as the editor runs it: the matching pass (off the main thread),
        // then applying its colours to the blocks that changed and repainting (on it).
        const QString edited = editor.text();
        QByteArray colors;
        matches.push_back(millisecondsOf([&] { colors = CodeSyntaxHighlighter::apply(edited, fileName); }));
        highlights.push_back(millisecondsOf([&] {
            view->applyColors(colors);
            view->viewport()->repaint();
        }));
    }
    const double matching = median(matches);
    const double mainThread = median(highlights);
    return {median(opens), median(keys), matching + mainThread, matching};
}

Figures measureBare(const QString& text, int rounds)
{
    std::vector<double> opens, keys;
    for (int round = 0; round < rounds; ++round) {
        QPlainTextEdit edit;
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
        for (int k = 0; k < 5; ++k) {
            keys.push_back(millisecondsOf([&] {
                typeKey(&edit);
                edit.viewport()->repaint();
            }));
        }
    }
    return {median(opens), median(keys), 0, 0};
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString fileName = QStringLiteral("profile.blade.php");
    std::printf("Code editor, generated PHP/HTML (%s: PHP, HTML, string and comment rules), medians in ms\n",
                qPrintable(fileName));
    std::printf("open: text set and first highlight painted; keystroke: key event to repaint, without the highlight;\n"
                "highlight: the debounced highlight after it, whole: matching (off the main thread in the editor)\n"
                "plus the main thread's share (applying the colours of the changed blocks, repaint)\n");
    std::printf("%-8s %-16s %10s %10s %12s %12s %12s\n", "size", "widget", "open", "keystroke", "highlight", "matching",
                "main thread");
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
        const Figures bare = measureBare(text, size.rounds);
        std::printf("%-8s %-16s %10.1f %10.2f %12.1f %12.1f %12.1f\n", size.label, "CodeTextEditor", editor.open,
                    editor.keystroke, editor.highlight, editor.matching, editor.highlight - editor.matching);
        std::printf("%-8s %-16s %10.1f %10.2f %12s %12s %12s\n", size.label, "QPlainTextEdit", bare.open, bare.keystroke,
                    "-", "-", "-");
        std::fflush(stdout);
    }
    return 0;
}

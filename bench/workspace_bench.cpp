// The code workspace on large folders: opening it on a project of 20,000 files (to the first
// paint of the tree) and expanding a folder of 5,000 entries (to the tree's next paint), each
// against a bare QDir listing of the same folder, with and without sorting. Then a 4.9 MB file:
// opening it from the tree (tap to the text shown with its first highlight, and the longest time
// the main thread was blocked meanwhile) and keystrokes in it, against a bare QPlainTextEdit's
// setPlainText and keystrokes measured in the same run. "--editor" runs only the file figures.
#include "BenchEditorText.h"
#include "app/SablewickhavenApp.h"
#include "workspace/CodeEditorTheme.h"
#include "workspace/CodeFileTree.h"
#include "workspace/CodeIDEModel.h"
#include "workspace/CodeIDEView.h"
#include "workspace/CodeTextEditor.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <fcntl.h>
#include <unistd.h>

#if __has_include(<benchmark/benchmark.h>)
#include <benchmark/benchmark.h>
#define KOVANI_HAVE_BENCHMARK 1
#endif

namespace {

// Ends the event loop once the watched widget has finished a paint.
class NextPaint : public QObject {
public:
    explicit NextPaint(QWidget* widget)
        : m_widget(widget)
    {
        widget->installEventFilter(this);
    }
    ~NextPaint() override
    {
        if (m_widget)
            m_widget->removeEventFilter(this);
    }
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_widget && event->type() == QEvent::Paint && !painted) {
            m_widget->removeEventFilter(this);
            QCoreApplication::sendEvent(m_widget, event);
            painted = true;
            QTimer::singleShot(0, qApp, []() { QCoreApplication::exit(0); });
            return true;
        }
        return false;
    }

private:
    QPointer<QWidget> m_widget;
};

void touch(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        static const char text[] = "<?php\n";
        (void)!::write(fd, text, sizeof text - 1);
        ::close(fd);
    }
}

// <tmp>/big: 20,000 entries (a few folders, the rest files with mixed-case names);
// <tmp>/site: a small project whose folder "wide" holds 5,000 entries.
struct Fixture {
    QTemporaryDir dir;
    QString big;
    QString site;
    QString wide;

    Fixture()
    {
        big = dir.path() + QStringLiteral("/big");
        site = dir.path() + QStringLiteral("/site");
        wide = site + QStringLiteral("/wide");
        QDir().mkpath(big);
        QDir().mkpath(wide);
        for (int i = 0; i < 20000; ++i) {
            const QString name = (i % 3 == 0 ? QStringLiteral("Item") : QStringLiteral("item")) + QString::number(i * 7919 % 20000);
            if (i % 100 == 0)
                QDir().mkdir(big + u'/' + name + QStringLiteral("_dir"));
            else
                touch(big + u'/' + name + QStringLiteral(".php"));
        }
        for (int i = 0; i < 5000; ++i) {
            const QString name = (i % 2 ? QStringLiteral("Row") : QStringLiteral("row")) + QString::number(i * 4999 % 5000);
            if (i % 50 == 0)
                QDir().mkdir(wide + u'/' + name);
            else
                touch(wide + u'/' + name + QStringLiteral(".blade.php"));
        }
        touch(site + QStringLiteral("/index.php"));
    }
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

Project projectAt(const QString& root)
{
    Project p;
    p.id = QStringLiteral("bench");
    p.name = QStringLiteral("Bench");
    p.root = root;
    return p;
}

qsizetype bareListing(const QString& path, bool sorted)
{
    const QDir::Filters filters = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    if (!sorted)
        return QDir(path).entryList(filters, QDir::Unsorted).size();
    return QDir(path).entryInfoList(filters, QDir::DirsFirst | QDir::Name | QDir::IgnoreCase).size();
}

// ---- A large file in the workspace -------------------------------------------------------------

using namespace BenchEditorText;

// <tmp>/files: big.blade.php (4.9 MB of PHP/HTML) and small.php.
struct FileFixture {
    QTemporaryDir dir;
    QString root;
    QString big;
    QString small;
    QString text;

    FileFixture()
    {
        root = dir.path() + QStringLiteral("/files");
        big = root + QStringLiteral("/big.blade.php");
        small = root + QStringLiteral("/small.php");
        QDir().mkpath(root);
        text = generated(qsizetype(4.9 * 1024 * 1024));
        write(big, text.toUtf8());
        write(small, "<?php echo 1;\n");
    }

    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(bytes);
    }
};

// The longest gap between turns of the main thread's event loop while it lives.
class Heartbeat : public QObject {
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            longest = std::max(longest, double(m_clock.nsecsElapsed()) / 1e6);
            m_clock.restart();
        });
        m_clock.start();
        m_timer.start();
    }
    double longest = 0;
    // A span measured by the caller (a synchronous call on the main thread).
    void blocked(double ms) { longest = std::max(longest, ms); m_clock.restart(); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
};

struct FileFigures {
    double open = 0;
    double blocked = 0;
    double keystroke = 0;
    double worstKeystroke = 0;
};

FileFigures measureWorkspaceFile(FileFixture& files, int rounds)
{
    std::vector<double> opens, blocks, keys;
    for (int round = 0; round < rounds; ++round) {
        CodeIDEView view(projectAt(files.root), []() {});
        view.resize(1320, 820);
        view.show();
        wait(100);
        CodeFileTreeRows& rows = view.fileTree()->rows();
        rows.tap(rows.rowOf(files.small));
        waitFor([&] { return view.editor() && view.editor()->documentID() == files.small; }, 60000);
        wait(100);
        const qsizetype expected = files.text.size();
        QElapsedTimer clock;
        clock.start();
        Heartbeat heartbeat;
        heartbeat.blocked(millisecondsOf([&] { rows.tap(rows.rowOf(files.big)); }));
        const bool shown = waitFor(
            [&] {
                CodeTextEditor* editor = view.editor();
                return editor && editor->documentID() == files.big && editor->text().size() >= expected
                    && editor->textView()->foregroundAt(0) != CodeEditorTheme::base();
            },
            60000);
        view.editor()->textView()->viewport()->repaint();
        opens.push_back(double(clock.nsecsElapsed()) / 1e6);
        blocks.push_back(heartbeat.longest);
        if (!shown) {
            std::printf("the large file did not open\n");
            return {};
        }
        wait(200);
        CodeEditorTextView* textView = view.editor()->textView();
        textView->setFocus();
        textView->setSelectedRange({int(expected / 2), 0});
        textView->ensureCursorVisible();
        textView->viewport()->repaint();
        typeBursts(textView, textView->viewport(), &keys);
        view.model().saveNow();
        // Back to the original text for the next round.
        FileFixture::write(files.big, files.text.toUtf8());
    }
    return {median(opens), median(blocks), median(keys), worst(keys)};
}

FileFigures measureBareFile(const FileFixture& files, int rounds, bool configured)
{
    std::vector<double> opens, keys;
    for (int round = 0; round < rounds; ++round) {
        std::unique_ptr<QPlainTextEdit> owned;
        if (configured)
            owned = std::make_unique<ConfiguredPlainTextEdit>(files.text.count(u'\n') + 1);
        else
            owned = std::make_unique<QPlainTextEdit>();
        QPlainTextEdit& edit = *owned;
        // The editor's place in the workspace window.
        edit.resize(1000, 760);
        edit.show();
        wait(50);
        edit.setFocus();
        opens.push_back(millisecondsOf([&] {
            edit.setPlainText(files.text);
            QCoreApplication::processEvents();
            edit.viewport()->repaint();
        }));
        wait(20);
        QTextCursor cursor = edit.textCursor();
        cursor.setPosition(int(files.text.size() / 2));
        edit.setTextCursor(cursor);
        edit.ensureCursorVisible();
        edit.viewport()->repaint();
        typeBursts(&edit, edit.viewport(), &keys);
    }
    return {median(opens), median(opens), median(keys), worst(keys)};
}

void printFileFigures()
{
    FileFixture files;
    const int rounds = 3;
    const FileFigures workspace = measureWorkspaceFile(files, rounds);
    const FileFigures bare = measureBareFile(files, rounds, false);
    const FileFigures alike = measureBareFile(files, rounds, true);
    std::printf("A 4.9 MB PHP/HTML file, medians of %d rounds in ms (keystrokes: %d per round, in bursts)\n", rounds,
                kBursts * kKeysPerBurst);
    std::printf("%-44s %10s %10s %7s %10s %7s\n", "", "workspace", "floor", "x", "set up alike", "x");
    auto row = [](const char* what, double value, double floor, double alikeFloor) {
        std::printf("%-44s %10.1f %10.1f %6.2fx %10.1f %6.2fx\n", what, value, floor, floor > 0 ? value / floor : 0.0,
                    alikeFloor, alikeFloor > 0 ? value / alikeFloor : 0.0);
    };
    row("open: tap to text shown, first highlight", workspace.open, bare.open, alike.open);
    row("open: main thread blocked at most", workspace.blocked, bare.open, alike.open);
    row("keystroke, key event to repaint (median)", workspace.keystroke, bare.keystroke, alike.keystroke);
    row("keystroke, worst", workspace.worstKeystroke, bare.worstKeystroke, alike.worstKeystroke);
    std::printf("floor: a bare QPlainTextEdit in the same run: setPlainText and paint; keystrokes alike. \"set up\n"
                "alike\": one with the editor's font, wrapping and margins\n");
    std::fflush(stdout);
}

} // namespace

#ifdef KOVANI_HAVE_BENCHMARK
static void BM_BareQDirList20000Unsorted(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(bareListing(fixture().big, false));
}
BENCHMARK(BM_BareQDirList20000Unsorted)->Unit(benchmark::kMillisecond)->MinTime(1.0);

static void BM_BareQDirList20000SortedFoldersFirst(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(bareListing(fixture().big, true));
}
BENCHMARK(BM_BareQDirList20000SortedFoldersFirst)->Unit(benchmark::kMillisecond)->MinTime(1.0);

static void BM_ModelListing20000(benchmark::State& state)
{
    CodeIDEModel model(projectAt(fixture().big));
    for (auto _ : state)
        benchmark::DoNotOptimize(model.items(model.rootURL()).size());
}
BENCHMARK(BM_ModelListing20000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

static void BM_OpenWorkspace20000ToFirstTreePaint(benchmark::State& state)
{
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        auto view = std::make_unique<CodeIDEView>(projectAt(fixture().big), []() {});
        view->resize(1320, 820);
        NextPaint painted(view->fileTree()->viewport());
        view->show();
        QApplication::exec();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (!painted.painted || view->fileTree()->rows().rowCount() != 20000) {
            state.SkipWithError("the tree did not paint its 20,000 rows");
            return;
        }
        state.PauseTiming();
        view.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenWorkspace20000ToFirstTreePaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

static void BM_BareQDirList5000Unsorted(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(bareListing(fixture().wide, false));
}
BENCHMARK(BM_BareQDirList5000Unsorted)->Unit(benchmark::kMillisecond)->MinTime(1.0);

static void BM_BareQDirList5000SortedFoldersFirst(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(bareListing(fixture().wide, true));
}
BENCHMARK(BM_BareQDirList5000SortedFoldersFirst)->Unit(benchmark::kMillisecond)->MinTime(1.0);

static void BM_ExpandFolder5000ToTreePaint(benchmark::State& state)
{
    CodeIDEView view(projectAt(fixture().site), []() {});
    view.resize(1320, 820);
    view.show();
    QApplication::processEvents();
    CodeFileTreeRows& rows = view.fileTree()->rows();
    const int row = rows.rowOf(fixture().wide);
    if (row < 0) {
        state.SkipWithError("no folder to expand");
        return;
    }
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        NextPaint painted(view.fileTree()->viewport());
        rows.tap(row);
        QApplication::exec();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (rows.rowCount() < 5000) {
            state.SkipWithError("the folder did not expand");
            return;
        }
        state.PauseTiming();
        rows.tap(row); // collapse again
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExpandFolder5000ToTreePaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
#endif

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SablewickhavenApp::prepare(app);
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--editor") {
            printFileFigures();
            return 0;
        }
    }
    fixture(); // the folders are written before anything is timed
#ifdef KOVANI_HAVE_BENCHMARK
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printFileFigures();
    return 0;
#else
    QElapsedTimer clock;
    clock.start();
    const qsizetype listed = bareListing(fixture().big, true);
    const double bare = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    CodeIDEView view(projectAt(fixture().big), []() {});
    NextPaint painted(view.fileTree()->viewport());
    view.show();
    QApplication::exec();
    std::printf("bare listing of %lld entries: %.1f ms; workspace to first tree paint: %.1f ms\n",
                static_cast<long long>(listed), bare, double(clock.nsecsElapsed()) / 1e6);
    printFileFigures();
    return 0;
#endif
}

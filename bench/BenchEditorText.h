#pragma once

// Text and input for the editor benchmarks: a generated PHP/HTML file of a given size, one typed
// key, waiting with the event loop running, medians, and a bare QPlainTextEdit set up like the
// code editor (font, wrapping, margins), the second floor.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QString>
#include <QThread>
#include <QWidget>

#include <QTimer>

#include <algorithm>
#include <ctime>
#include <functional>
#include <vector>

namespace BenchEditorText {

inline const char* kChunk = R"(<?php
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

inline QString generated(qsizetype bytes)
{
    const QString chunk = QString::fromUtf8(kChunk);
    QString text;
    text.reserve(bytes + chunk.size());
    while (text.size() < bytes)
        text += chunk;
    return text;
}

inline void wait(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

inline void typeKey(QWidget* widget)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QCoreApplication::sendEvent(widget, &release);
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double worst(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

inline double millisecondsOf(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// Processor time of the whole process (every thread), in milliseconds.
inline double cpuMilliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Processor time and wall time of `work`, in milliseconds.
struct Cost {
    double cpu = 0;
    double wall = 0;
};

inline Cost costOf(const std::function<void()>& work)
{
    const double cpu = cpuMilliseconds();
    QElapsedTimer timer;
    timer.start();
    work();
    return {cpuMilliseconds() - cpu, double(timer.nsecsElapsed()) / 1e6};
}

// Runs the event loop until `done`, at most `ms`, sleeping while there is nothing to do (so that
// the wait itself costs no processor time).
inline bool idleUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    QTimer wake;
    wake.start(20);
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Lets `ms` pass with the event loop running, sleeping while there is nothing to do.
inline void idleFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    idleUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

inline void sendKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(widget, &release);
}

inline constexpr int kBursts = 3;
inline constexpr int kKeysPerBurst = 12;
// Below the editor's 80 ms highlight delay: a burst is one run of typing.
inline constexpr int kKeyGapMs = 30;
// Long enough for the debounced highlight of 5 MB to land between bursts.
inline constexpr int kPauseMs = 600;

// Keystrokes in the middle of the text, key event to repaint (with the posted events it causes,
// such as the gutter's repaint); the event loop runs between keys and between bursts.
inline void typeBursts(QWidget* target, QWidget* viewport, std::vector<double>* keys)
{
    for (int burst = 0; burst < kBursts; ++burst) {
        for (int k = 0; k < kKeysPerBurst; ++k) {
            keys->push_back(millisecondsOf([&] {
                typeKey(target);
                viewport->repaint();
                QCoreApplication::processEvents();
            }));
            wait(kKeyGapMs);
        }
        wait(kPauseMs);
    }
}

// Waits (event loop running) until `done`, at most `ms`.
inline bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// A bare QPlainTextEdit with the code editor's font, wrapping, tab stops and margins (the gutter's
// width for `lines` lines and the side insets), so that its lines wrap where the editor's do. Qt's
// own costs that depend on wrapping (its layout rescans every block when the widest wrapped line
// gets narrower) show in this floor as in the editor.
class ConfiguredPlainTextEdit : public QPlainTextEdit {
public:
    explicit ConfiguredPlainTextEdit(qsizetype lines)
    {
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setStyleHint(QFont::Monospace);
        font.setPixelSize(13);
        setFont(font);
        document()->setDefaultFont(font);
        document()->setDocumentMargin(10);
        setTabStopDistance(28);
        setFrameShape(QFrame::NoFrame);
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        int digits = 1;
        for (qsizetype n = std::max<qsizetype>(lines, 1); n >= 10; n /= 10)
            ++digits;
        const int gutter = std::max(8 * digits + 20, 44);
        setViewportMargins(gutter + 56, 0, 56, 0);
    }
};

} // namespace BenchEditorText

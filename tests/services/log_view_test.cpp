// The log shown for a website: read off the main thread, at most its last MiB cut at a line
// start under one notice line, and a log box that never copies its text back out to compare.
#include "app/LogBox.h"
#include "services/LogTail.h"
#include "services/ServerTestKit.h"
#include "platform/Dispatch.h"

#include <QPlainTextEdit>

using namespace ServerTestKit;
using TestEnvironment::waitUntil;

namespace {

constexpr qint64 kMiB = 1024 * 1024;

// `count` numbered lines of about 320 bytes, like a busy server's access log.
QByteArray accessLog(int first, int count)
{
    QByteArray text;
    text.reserve(qsizetype(count) * 330);
    for (int i = first; i < first + count; ++i) {
        text += "[Thu Dec 10 10:00:00 2026] 127.0.0.1:51234 Accepted line " + QByteArray::number(i) + ' '
            + QByteArray(260, 'x') + '\n';
    }
    return text;
}

class LogView : public ServerTest {};

} // namespace

TEST(LogTail, ShortensOnlyWhatIsLongerThanTheLimit)
{
    QTemporaryDir dir;
    const QString file = dir.path() + "/site.log";
    struct Case {
        const char* what;
        QByteArray bytes;
        qint64 limit;
        QString expected;
    };
    const QString notice = LogTail::omittedNotice() + u'\n';
    const Case cases[] = {
        {"empty", "", 16, ""},
        {"shorter than the limit", "one\ntwo\n", 16, "one\ntwo\n"},
        {"exactly the limit", "0123456789abcde\n", 16, "0123456789abcde\n"},
        {"cut inside a line: starts at the next line", "first line\nsecond\nthird\n", 16, notice + "second\nthird\n"},
        {"cut right after a line break", "aaaa\nbbbbbbbbbbbbbbb\n", 16, notice + "bbbbbbbbbbbbbbb\n"},
        {"one line longer than the limit: whole characters", QByteArray("x") + QByteArray("\xc3\xa9").repeated(10), 7,
         notice + QString(u'\u00e9').repeated(3)},
        {"bytes that are not UTF-8 are replaced, not hidden", "ok \xff here\n", 64, QStringLiteral("ok \uFFFD here\n")},
    };
    for (const Case& c : cases) {
        writeFile(file, c.bytes);
        EXPECT_EQ(LogTail::read(file, c.limit), std::optional<QString>(c.expected)) << c.what;
    }
    EXPECT_EQ(LogTail::read(dir.path() + "/missing.log"), std::nullopt);
}

TEST_F(LogView, ALargeLogShowsItsLastMiBWithoutBlockingTheMainThread)
{
    // 24 MiB of log: far above the limit, so both the cut and the wait are visible.
    const QByteArray bytes = accessLog(0, int(24 * kMiB / 320));
    writeFile(model->logsURL() + "/busy.log", bytes);
    const QByteArray lastLine = bytes.left(bytes.size() - 1).mid(bytes.left(bytes.size() - 1).lastIndexOf('\n') + 1);

    model->showLog("busy");
    // The text arrives through the event loop: a read on the calling thread would have set it.
    EXPECT_TRUE(model->selectedLog().isEmpty()) << "showLog returned only after reading";
    ASSERT_TRUE(waitUntil([&] { return !model->selectedLog().isEmpty(); }));

    const QString& shown = model->selectedLog();
    EXPECT_TRUE(shown.startsWith(LogTail::omittedNotice() + u'\n'));
    EXPECT_TRUE(shown.endsWith(QString::fromUtf8(lastLine) + u'\n'));
    // The line after the notice is a whole line of the log.
    const QString firstShown = shown.section(u'\n', 1, 1);
    EXPECT_TRUE(firstShown.startsWith("[Thu Dec 10 10:00:00 2026]")) << firstShown.left(60).toStdString();
    EXPECT_TRUE(bytes.contains('\n' + firstShown.toUtf8() + '\n'));
    EXPECT_LE(shown.toUtf8().size(), kMiB + LogTail::omittedNotice().size() + 1);
    EXPECT_GT(shown.toUtf8().size(), kMiB - 400);
}

TEST_F(LogView, OnlyTheLatestRequestIsShown)
{
    writeFile(model->logsURL() + "/big.log", accessLog(0, int(8 * kMiB / 320)));
    writeFile(model->logsURL() + "/small.log", "small log\n");
    model->showLog("big");
    model->showLog("small");
    ASSERT_TRUE(waitUntil([&] { return model->selectedLog() == "small log\n"; }));
    // Both reads have come back to the main thread.
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(model->selectedLog(), QStringLiteral("small log\n")) << "a slower, older read overwrote it";
}

TEST_F(LogView, ModelGoneBeforeTheReadReturnsIsHarmless)
{
    writeFile(model->logsURL() + "/big.log", accessLog(0, int(8 * kMiB / 320)));
    const QString logs = model->logsURL();
    model->showLog("big");
    model.reset();
    // The read comes back to the main thread after the model is gone and is dropped there.
    ASSERT_TRUE(Dispatch::drainForTesting()) << "the read never came back";

    // A model made afterwards shows only what it asked for.
    model = std::make_unique<AppModel>(platform.platform);
    EXPECT_EQ(model->logsURL(), logs);
    EXPECT_TRUE(model->selectedLog().isEmpty());
    writeFile(logs + "/small.log", "small log\n");
    model->showLog("small");
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(model->selectedLog(), QStringLiteral("small log\n"));
}

TEST(LogBoxText, SettingTheShownTextAgainLeavesTheDocumentAlone)
{
    LogBox box(QString::fromLatin1(accessLog(0, 100)));
    QTextDocument* document = box.textView()->document();
    const int revision = document->revision();
    const QString again = box.text();
    box.setText(again);
    box.setText(QString::fromLatin1(accessLog(0, 100)));
    EXPECT_EQ(document->revision(), revision);
    box.setText("other");
    EXPECT_EQ(box.text(), QStringLiteral("other"));
    EXPECT_NE(document->revision(), revision);
}

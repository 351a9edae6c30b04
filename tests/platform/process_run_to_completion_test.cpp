// Running a child to completion with its output where the caller sends it, and the stop signal
// that ends such runs and captures.
#include "platform/Process.h"
#include "platform/Text.h"
#include "support/ShellCommand.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// The process ids a script wrote to `path` (written aside and renamed, so read whole or not at
// all).
QList<pid_t> readPids(const QString& path)
{
    QList<pid_t> pids;
    for (const QString& word : TestFiles::readText(path).split(u' ', Qt::SkipEmptyParts)) {
        if (const std::optional<qint32> pid = Text::parseInt32(word.trimmed()))
            pids.append(*pid);
    }
    return pids;
}

// Writes "<shell pid> <background sleep pid>" to `path` once both run, then becomes a sleeper
// itself.
QString sleepersScript(const QString& path)
{
    return QStringLiteral("sleep 600 & echo \"$$ $!\" > '%1.part' && mv '%1.part' '%1'; exec sleep 601").arg(path);
}

// Whether `pid` is still one of the script's sleepers (and not an id reused since).
bool isSleeper(pid_t pid)
{
    const QList<QByteArray> argv = TestFiles::readBytes(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0');
    const bool sleeper = argv.size() >= 2 && argv[0] == "sleep" && (argv[1] == "600" || argv[1] == "601");
    const bool script = argv.size() >= 3 && argv[0] == "/bin/sh" && argv[2].startsWith("sleep 600 &");
    return Process::exists(pid) && (sleeper || script);
}

void expectGone(const QList<pid_t>& pids)
{
    for (const pid_t pid : pids) {
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !isSleeper(pid); }, 20000)) << pid;
        if (isSleeper(pid))
            ::kill(pid, SIGKILL);
    }
}

} // namespace

TEST(ProcessRunToCompletion, OutputGoesWhereTheSpecSendsItAndTheStatusIsTaken)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString logPath = dir.filePath(QStringLiteral("out.log"));
    const int fd = ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    Process::Spec spec = ShellCommand::spec(QStringLiteral("echo out; echo err >&2; pwd; exit 7"));
    spec.outputFd = fd;
    spec.errorFd = fd;
    spec.workingDirectory = dir.path();
    const Process::Capture ran = Process::runToCompletion(spec);
    ::close(fd);
    EXPECT_TRUE(ran.launched);
    EXPECT_EQ(ran.status, 7);
    EXPECT_FALSE(ran.timedOut);
    EXPECT_FALSE(ran.stopped);
    EXPECT_TRUE(ran.output.isEmpty());
    EXPECT_EQ(TestFiles::readText(logPath), QStringLiteral("out\nerr\n") + QFileInfo(dir.path()).canonicalFilePath() + u'\n');

    Process::Spec missing;
    missing.program = QStringLiteral("/nonexistent/tool");
    const Process::Capture failed = Process::runToCompletion(missing);
    EXPECT_FALSE(failed.launched);
    EXPECT_EQ(failed.status, -1);
    EXPECT_EQ(failed.text(), QStringLiteral("The file \u201C/nonexistent/tool\u201D doesn\u2019t exist."));
}

TEST(ProcessRunToCompletion, TimeLimitKillsTheWholeProcessGroup)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pids"));
    const Process::Capture ran = Process::runToCompletion(ShellCommand::spec(sleepersScript(pidFile)), 500);
    EXPECT_TRUE(ran.launched);
    EXPECT_TRUE(ran.timedOut);
    EXPECT_EQ(ran.status, SIGKILL);
    const QList<pid_t> pids = readPids(pidFile);
    ASSERT_EQ(pids.size(), 2) << TestFiles::readText(pidFile).toStdString();
    // The shell was reaped by the run; its background sleeper went with the group.
    expectGone({pids[1]});
}

TEST(ProcessRunToCompletion, StopSignalEndsTheRunWithItsGroupAndStartsNoMore)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pids"));
    Process::StopSignal stop;
    Process::Capture ran;
    std::thread running([&]() { ran = Process::runToCompletion(ShellCommand::spec(sleepersScript(pidFile)), -1, &stop); });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return readPids(pidFile).size() == 2; }, 20000));
    stop.raise();
    running.join();
    EXPECT_TRUE(ran.launched);
    EXPECT_TRUE(ran.stopped);
    EXPECT_EQ(ran.status, SIGKILL);
    expectGone({readPids(pidFile)[1]});

    const QString marker = dir.filePath(QStringLiteral("started"));
    const Process::Capture later =
        Process::runToCompletion(ShellCommand::spec(QStringLiteral("touch '%1'").arg(marker)), -1, &stop);
    EXPECT_FALSE(later.launched);
    EXPECT_TRUE(later.stopped);
    EXPECT_FALSE(QFileInfo::exists(marker));
}

// raise() kills the children itself: a process that ends right after raising it leaves none of
// them running, whether or not the threads that watch them got to run.
TEST(ProcessStopSignal, RaiseKillsTheRunningChildrenBeforeItReturns)
{
    QTemporaryDir dir;
    const QString captured = dir.filePath(QStringLiteral("captured"));
    const QString completed = dir.filePath(QStringLiteral("completed"));
    EXPECT_EXIT(
        {
            Process::StopSignal stop;
            std::thread([&]() { Process::capture(ShellCommand::spec(sleepersScript(captured)), -1, &stop); }).detach();
            std::thread([&]() { Process::runToCompletion(ShellCommand::spec(sleepersScript(completed)), -1, &stop); }).detach();
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!(QFileInfo::exists(captured) && QFileInfo::exists(completed))
                   && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            stop.raise();
            ::_exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    const QList<pid_t> pids = readPids(captured) + readPids(completed);
    ASSERT_EQ(pids.size(), 4) << TestFiles::readText(captured).toStdString() << TestFiles::readText(completed).toStdString();
    expectGone(pids);
}

#include "platform/Process.h"
#include "platform/Text.h"
#include "support/ShellCommand.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <unistd.h>

namespace {

std::optional<pid_t> readPid(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return Text::parseInt32(QString::fromLatin1(file.readAll()).trimmed());
}

} // namespace

TEST(ProcessCapture, CollectsOutputAndStatus)
{
    const Process::Capture c = Process::capture(ShellCommand::spec(QStringLiteral("echo one; echo two >&2; exit 5")), 5000);
    EXPECT_TRUE(c.launched);
    EXPECT_FALSE(c.timedOut);
    EXPECT_EQ(c.status, 5);
    EXPECT_EQ(c.output, QByteArray("one\ntwo\n"));

    const Process::Capture killed = Process::capture(ShellCommand::spec(QStringLiteral("kill -KILL $$")));
    EXPECT_EQ(killed.status, SIGKILL);
    EXPECT_FALSE(killed.timedOut);
}

TEST(ProcessCapture, LaunchFailureIsReported)
{
    QTemporaryDir dir;
    const QString orphanScript = dir.path() + QStringLiteral("/orphan-script");
    QFile script(orphanScript);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/no/such/interpreter\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString danglingLink = dir.path() + QStringLiteral("/dangling");
    ASSERT_TRUE(QFile::link(dir.path() + QStringLiteral("/nothing"), danglingLink));

    struct Case {
        QString program;
        QString workingDirectory;
        QString error;
    };
    const Case cases[] = {
        {QStringLiteral("/nonexistent/tool"), QString(), QStringLiteral("The file \u201C/nonexistent/tool\u201D doesn\u2019t exist.")},
        {danglingLink, QString(), QStringLiteral("The file \u201C%1\u201D doesn\u2019t exist.").arg(danglingLink)},
        {QStringLiteral("/bin/sh"), dir.path() + QStringLiteral("/gone"),
         QStringLiteral("The folder \u201C%1/gone\u201D doesn\u2019t exist.").arg(dir.path())},
        {orphanScript, QString(), QStringLiteral("Could not launch \u201C%1\u201D: its interpreter doesn\u2019t exist.").arg(orphanScript)},
    };
    for (const Case& c : cases) {
        Process::Spec spec;
        spec.program = c.program;
        spec.workingDirectory = c.workingDirectory;
        for (int limit : {-1, 1000}) {
            const Process::Capture captured = Process::capture(spec, limit);
            EXPECT_FALSE(captured.launched);
            EXPECT_EQ(captured.error, c.error);
            EXPECT_EQ(captured.status, -1);
        }
    }
}

TEST(ProcessCapture, TimeLimitKillsTheWholeProcessGroup)
{
    QTemporaryDir dir;
    const QString pidFile = dir.path() + QStringLiteral("/grandchild");
    struct Case {
        const char* name;
        QString script;
    };
    const Case cases[] = {
        {"talking", QStringLiteral("sleep 600 & echo $! > '%1'; while :; do echo tick; sleep 0.05; done").arg(pidFile)},
        {"silent", QStringLiteral("sleep 600 & echo $! > '%1'; sleep 600").arg(pidFile)},
        {"closed its output", QStringLiteral("exec >/dev/null 2>&1; sleep 600 & echo $! > '%1'; sleep 600").arg(pidFile)},
    };
    for (const Case& c : cases) {
        QFile::remove(pidFile);
        QElapsedTimer clock;
        clock.start();
        const Process::Capture result = Process::capture(ShellCommand::spec(c.script), 600);
        EXPECT_TRUE(result.launched) << c.name;
        EXPECT_TRUE(result.timedOut) << c.name;
        // The limit is kept; the upper bound is a hang guard (nothing here ends by itself).
        EXPECT_GE(clock.elapsed(), 550) << c.name;
        EXPECT_LT(clock.elapsed(), 30000) << c.name;
        const auto grandchild = readPid(pidFile);
        ASSERT_TRUE(grandchild.has_value()) << c.name;
        // Killed with the group: it would otherwise sleep for ten minutes.
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !Process::exists(*grandchild); }, 20000)) << c.name;
        if (Process::exists(*grandchild))
            ::kill(*grandchild, SIGKILL);
    }
}

TEST(ProcessCapture, OnlyATimeLimitedChildGetsItsOwnProcessGroup)
{
    const QString script = QStringLiteral("echo $$ $(cut -d' ' -f5 /proc/$$/stat)");
    const QStringList unlimited = QString::fromLatin1(Process::capture(ShellCommand::spec(script)).output).split(u' ');
    ASSERT_EQ(unlimited.size(), 2);
    EXPECT_EQ(unlimited[1].trimmed().toInt(), static_cast<int>(::getpgrp()));

    const QStringList limited = QString::fromLatin1(Process::capture(ShellCommand::spec(script), 5000).output).split(u' ');
    ASSERT_EQ(limited.size(), 2);
    EXPECT_EQ(limited[0].trimmed(), limited[1].trimmed());
}

TEST(ProcessCapture, ExitedChildIsNotHeldUpByASilentGrandchild)
{
    // Waiting for the grandchild's end of the pipe would run into the time limit (and kill it).
    const Process::Capture c = Process::capture(ShellCommand::spec(QStringLiteral("sleep 600 & echo $!")), 10000);
    EXPECT_FALSE(c.timedOut);
    EXPECT_EQ(c.status, 0);
    const auto pid = Text::parseInt32(QString::fromLatin1(c.output).trimmed());
    ASSERT_TRUE(pid.has_value()) << c.output.toStdString();
    EXPECT_TRUE(Process::exists(*pid)) << "the grandchild still holds the pipe, and the capture has returned";
    ::kill(*pid, SIGKILL);
}

TEST(ProcessCapture, StopSignalEndsTheChildWithItsGroupAndStartsNoMore)
{
    QTemporaryDir dir;
    const QString pidFile = dir.path() + QStringLiteral("/grandchild");
    Process::StopSignal stop;
    Process::Capture result;
    std::thread capturing([&]() {
        result = Process::capture(ShellCommand::spec(QStringLiteral("sleep 600 & echo $! > '%1'; sleep 600").arg(pidFile)),
                                  -1, &stop);
    });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return readPid(pidFile).has_value(); }, 20000));
    stop.raise();
    capturing.join();
    EXPECT_TRUE(result.launched);
    EXPECT_TRUE(result.stopped);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, SIGKILL);
    const pid_t grandchild = *readPid(pidFile);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !Process::exists(grandchild); }, 20000));
    if (Process::exists(grandchild))
        ::kill(grandchild, SIGKILL);

    // Raised stays raised: nothing further is started.
    const QString marker = dir.path() + QStringLiteral("/started");
    const Process::Capture later = Process::capture(ShellCommand::spec(QStringLiteral("touch '%1'").arg(marker)), 5000, &stop);
    EXPECT_FALSE(later.launched);
    EXPECT_TRUE(later.stopped);
    EXPECT_FALSE(QFileInfo::exists(marker));
}

TEST(ProcessCapture, StandardInputComesFromTheGivenDescriptor)
{
    QTemporaryDir dir;
    QFile input(dir.path() + QStringLiteral("/input"));
    ASSERT_TRUE(input.open(QIODevice::ReadWrite));
    input.write("first line\nsecond\n");
    input.seek(0);
    Process::Spec spec = ShellCommand::spec(QStringLiteral("cat"));
    spec.inputFd = input.handle();
    EXPECT_EQ(Process::capture(spec, 5000).output, QByteArray("first line\nsecond\n"));
    // Without one it is /dev/null.
    EXPECT_EQ(Process::capture(ShellCommand::spec(QStringLiteral("cat")), 5000).output, QByteArray());
}

#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "platform/Text.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <mutex>

namespace {

const QString kSh = QStringLiteral("/bin/sh");
const QString kPhp = QStringLiteral("/usr/bin/php");

class CommandRunners : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        platform = TestEnvironment::makePlatform(dir.path());
        model = std::make_unique<AppModel>(platform.platform);
    }
    void TearDown() override
    {
        for (pid_t pid : strays)
            ::kill(pid, SIGKILL);
    }

    QString sh(const QString& script, const std::optional<Process::Environment>& environment = std::nullopt)
    {
        return model->run(kSh, {QStringLiteral("-c"), script}, environment);
    }

    QStringList commandLogs() const
    {
        return QDir(model->logsURL()).entryList({QStringLiteral("command-*")}, QDir::Files | QDir::Hidden);
    }

    QTemporaryDir dir;
    TestEnvironment::TestPlatform platform;
    std::unique_ptr<AppModel> model;
    QList<pid_t> strays;
};

} // namespace

TEST_F(CommandRunners, WhichPhpPrintsThePathAndALineBreak)
{
    const QString expected = QStandardPaths::findExecutable(QStringLiteral("php"));
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(model->run(QStringLiteral("/usr/bin/which"), {QStringLiteral("php")}), expected + u'\n');
}

TEST_F(CommandRunners, LaunchFailureGivesTheErrorDescription)
{
    const QString missing = dir.path() + QStringLiteral("/no-such-tool");
    const QString text = model->run(missing, {});
    EXPECT_TRUE(text.contains(missing)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("doesn\u2019t exist"))) << text.toStdString();

    // A folder is not a program either.
    const QString folderText = model->run(dir.path(), {});
    EXPECT_TRUE(folderText.contains(dir.path())) << folderText.toStdString();
    EXPECT_FALSE(folderText.isEmpty());
}

TEST_F(CommandRunners, HundredsOfKilobytesOnStandardErrorComeBackWhole)
{
    QElapsedTimer clock;
    clock.start();
    const QString text = sh(QStringLiteral("head -c 512000 /dev/zero | tr '\\000' x >&2; echo end"));
    EXPECT_EQ(text.size(), 512000 + 4);
    EXPECT_EQ(text.count(u'x'), 512000);
    EXPECT_TRUE(text.endsWith(QStringLiteral("end\n")));
    EXPECT_LT(clock.elapsed(), 10000);

    // Several megabytes, too, without the child ever blocking on the pipe.
    const QString big = sh(QStringLiteral("head -c 6000000 /dev/zero | tr '\\000' y"));
    EXPECT_EQ(big.size(), 6000000);
}

TEST_F(CommandRunners, StandardOutputAndErrorArriveInTheOrderWritten)
{
    EXPECT_EQ(sh(QStringLiteral("echo out1; echo err1 >&2; echo out2; echo err2 >&2; printf out3")),
              QStringLiteral("out1\nerr1\nout2\nerr2\nout3"));
    EXPECT_EQ(model->run(kPhp, {QStringLiteral("-n"), QStringLiteral("-r"),
                                QStringLiteral("echo 'a'; fwrite(STDERR, 'b'); echo 'c'; fwrite(STDERR, \"d\\n\");")}),
              QStringLiteral("abcd\n"));
}

TEST_F(CommandRunners, PhpWritingToStandardErrorCompletes)
{
    const QString text = model->run(kPhp, {QStringLiteral("-n"), QStringLiteral("-r"),
                                           QStringLiteral("fwrite(STDERR, str_repeat('e', 600000)); echo 'done';")});
    EXPECT_EQ(text.size(), 600004);
    EXPECT_TRUE(text.endsWith(QStringLiteral("done")));
}

TEST_F(CommandRunners, OutputIsDecodedAsStrictUtf8)
{
    struct Case {
        const char* printf;
        QString expected;
    };
    const Case cases[] = {
        {"'\\342\\202\\254 ok'", QStringLiteral("\u20AC ok")},
        {"'\\357\\273\\277bom'", QStringLiteral("\uFEFFbom")}, // a byte-order mark is kept
        {"'abc\\377def'", QString()},                           // invalid byte
        {"'ab\\342\\202'", QString()},                          // cut off in the middle of a character
        {"'\\300\\257'", QString()},                            // overlong form
        {"'\\355\\240\\200'", QString()},                       // encoded surrogate
        {"'  padded  \\n'", QStringLiteral("  padded  \n")},   // not trimmed
    };
    for (const Case& c : cases) {
        const QString script = QStringLiteral("printf ") + QString::fromLatin1(c.printf);
        EXPECT_EQ(sh(script), c.expected) << c.printf;
        const CommandResult result = model->runCommand(kSh, {QStringLiteral("-c"), script + QStringLiteral("; exit 4")});
        EXPECT_EQ(result.status, 4) << c.printf;
        EXPECT_EQ(result.output, c.expected) << c.printf;
    }
}

TEST_F(CommandRunners, GivenEnvironmentIsExactlyTheChildsEnvironment)
{
    const Process::Environment environment{{QStringLiteral("ALPHA"), QStringLiteral("1")},
                                           {QStringLiteral("SPACED"), QStringLiteral("a b  c")},
                                           {QStringLiteral("EMPTY"), QString()},
                                           {QStringLiteral("UNICODE"), QStringLiteral("\u00E9t\u00E9")}};
    const QStringList expected{QStringLiteral("ALPHA=1"), QStringLiteral("EMPTY="), QStringLiteral("SPACED=a b  c"),
                               QStringLiteral("UNICODE=\u00E9t\u00E9")};
    auto lines = [](const QString& text) {
        QStringList list = text.split(u'\n', Qt::SkipEmptyParts);
        list.sort();
        return list;
    };
    EXPECT_EQ(lines(model->run(QStringLiteral("/usr/bin/env"), {}, environment)), expected);
    const CommandResult result = model->runCommand(QStringLiteral("/usr/bin/env"), {}, environment);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(lines(result.output), expected);

    // An empty map is an empty environment, not the inherited one.
    EXPECT_EQ(model->run(QStringLiteral("/usr/bin/env"), {}, Process::Environment{}), QString());

    // None: the child inherits ours.
    qputenv("KOVANI_RUNNER_MARK", "inherited value");
    EXPECT_TRUE(model->run(QStringLiteral("/usr/bin/env"), {}).contains(QStringLiteral("\nKOVANI_RUNNER_MARK=inherited value\n")));
    EXPECT_TRUE(model->runCommand(QStringLiteral("/usr/bin/env"), {}).output.contains(QStringLiteral("KOVANI_RUNNER_MARK=inherited value\n")));
    qunsetenv("KOVANI_RUNNER_MARK");
}

TEST_F(CommandRunners, RunCommandUsesTheWorkingFolder)
{
    const QString work = dir.path() + QStringLiteral("/work folder");
    ASSERT_TRUE(QDir().mkpath(work));
    const CommandResult inFolder = model->runCommand(QStringLiteral("/bin/pwd"), {}, std::nullopt, work);
    EXPECT_EQ(inFolder.status, 0);
    EXPECT_EQ(inFolder.output, QFileInfo(work).canonicalFilePath() + u'\n');

    const CommandResult ours = model->runCommand(QStringLiteral("/bin/pwd"), {});
    EXPECT_EQ(ours.output, QFileInfo(QDir::currentPath()).canonicalFilePath() + u'\n');

    const QString missing = dir.path() + QStringLiteral("/missing folder");
    const CommandResult failed = model->runCommand(QStringLiteral("/bin/pwd"), {}, std::nullopt, missing);
    EXPECT_EQ(failed.status, -1);
    EXPECT_TRUE(failed.output.contains(missing)) << failed.output.toStdString();
    EXPECT_TRUE(commandLogs().isEmpty());
}

TEST_F(CommandRunners, RunCommandReportsTheTerminationStatus)
{
    struct Case {
        const char* script;
        int status;
        QString output;
    };
    const Case cases[] = {
        {"echo fine", 0, QStringLiteral("fine\n")},
        {"echo out; echo err >&2; exit 3", 3, QStringLiteral("out\nerr\n")},
        {"exit 255", 255, QString()},
        {"printf partial; kill -TERM $$", SIGTERM, QStringLiteral("partial")},
    };
    for (const Case& c : cases) {
        const CommandResult result = model->runCommand(kSh, {QStringLiteral("-c"), QString::fromLatin1(c.script)});
        EXPECT_EQ(result.status, c.status) << c.script;
        EXPECT_EQ(result.output, c.output) << c.script;
    }
    const CommandResult php = model->runCommand(kPhp, {QStringLiteral("-n"), QStringLiteral("-r"),
                                                       QStringLiteral("fwrite(STDERR, str_repeat('z', 500000)); exit(7);")});
    EXPECT_EQ(php.status, 7);
    EXPECT_EQ(php.output.size(), 500000);
    EXPECT_TRUE(commandLogs().isEmpty());
}

TEST_F(CommandRunners, RunCommandLeavesNoCommandLogBehind)
{
    ASSERT_TRUE(commandLogs().isEmpty());
    EXPECT_EQ(model->runCommand(kSh, {QStringLiteral("-c"), QStringLiteral("ls \"$0\"/command-*.log"), model->logsURL()}).status, 0)
        << "the log exists while the command runs";
    EXPECT_TRUE(commandLogs().isEmpty());

    const QString missing = dir.path() + QStringLiteral("/not-there");
    const CommandResult failed = model->runCommand(missing, {QStringLiteral("x")});
    EXPECT_EQ(failed.status, -1);
    EXPECT_EQ(failed.output, model->run(missing, {QStringLiteral("x")}));
    EXPECT_TRUE(failed.output.contains(missing));
    EXPECT_TRUE(commandLogs().isEmpty());
}

TEST_F(CommandRunners, RunCommandWithoutALogFolderRunsNothing)
{
    ASSERT_TRUE(QDir(model->logsURL()).removeRecursively());
    const QString marker = dir.path() + QStringLiteral("/ran");
    const CommandResult result = model->runCommand(QStringLiteral("/usr/bin/touch"), {marker});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.output, QStringLiteral("Could not create command log."));
    EXPECT_FALSE(QFileInfo::exists(marker));
}

TEST_F(CommandRunners, RunCommandWithoutAStorageFolderRunsNothing)
{
    TestEnvironment::TestPlatform bare = TestEnvironment::makePlatform(dir.path() + QStringLiteral("/bare"));
    bare.platform.applicationSupport.clear();
    bare.platform.storageRoot.clear();
    AppModel storageless(bare.platform);
    ASSERT_TRUE(storageless.logsURL().isEmpty());
    const QString marker = dir.path() + QStringLiteral("/ran");
    // The log would otherwise land at the top of the file system, which this (root) test could write.
    const CommandResult result = storageless.runCommand(kSh, {QStringLiteral("-c"), QStringLiteral("touch \"$0\"; ls /command-*.log"), marker});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.output, QStringLiteral("Could not create command log."));
    EXPECT_FALSE(QFileInfo::exists(marker));
}

TEST_F(CommandRunners, GrandchildHoldingThePipeNeverHangsTheCaller)
{
    // Each call returns while the grandchild still holds the pipe: it did not wait for the end
    // of the output. The time bounds are hang guards only.
    QElapsedTimer clock;
    clock.start();
    // A silent grandchild: the pipe stays open but nothing more comes.
    const QString quiet = sh(QStringLiteral("sleep 600 & echo $!"));
    EXPECT_LT(clock.elapsed(), 30000);
    const auto quietPid = Text::parseInt32(quiet.trimmed());
    ASSERT_TRUE(quietPid.has_value()) << quiet.toStdString();
    strays << *quietPid;
    EXPECT_TRUE(Process::exists(*quietPid));

    // A grandchild that keeps talking is read from only for a bounded while.
    clock.restart();
    const QString talky = sh(QStringLiteral("(while :; do echo tick; sleep 0.02; done) & echo $!; echo parent done"));
    EXPECT_LT(clock.elapsed(), 30000);
    const QStringList lines = talky.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines.contains(QStringLiteral("parent done")));
    std::optional<qint32> talkyPid;
    for (const QString& line : lines) {
        if (const auto pid = Text::parseInt32(line)) {
            strays << *pid;
            talkyPid = pid;
        }
    }
    ASSERT_TRUE(talkyPid.has_value()) << talky.toStdString();
    EXPECT_TRUE(Process::exists(*talkyPid)) << "it still talks, and the call has returned";

    // runCommand waits for the child only: its output goes to a file.
    clock.restart();
    const CommandResult result = model->runCommand(kSh, {QStringLiteral("-c"), QStringLiteral("sleep 600 & echo $!; exit 2")});
    EXPECT_LT(clock.elapsed(), 30000);
    EXPECT_EQ(result.status, 2);
    const auto commandPid = Text::parseInt32(result.output.trimmed());
    ASSERT_TRUE(commandPid.has_value()) << result.output.toStdString();
    strays << *commandPid;
    EXPECT_TRUE(Process::exists(*commandPid));
    EXPECT_TRUE(commandLogs().isEmpty());
}

TEST_F(CommandRunners, ConcurrentCallsOnBackgroundQueuesAreIndependent)
{
    constexpr int kCalls = 12;
    std::mutex lock;
    QMap<int, QString> piped;
    QMap<int, CommandResult> logged;
    std::atomic<int> done{0};
    AppModel* m = model.get();
    for (int i = 0; i < kCalls; ++i) {
        Dispatch::userInitiated([&, i, m]() {
            const QString script = QStringLiteral("i=%1; n=0; while [ $n -lt 200 ]; do echo $i; n=$((n+1)); done; exit %1").arg(i);
            const QString a = m->run(kSh, {QStringLiteral("-c"), script});
            const CommandResult b = m->runCommand(kSh, {QStringLiteral("-c"), script});
            std::lock_guard<std::mutex> hold(lock);
            piped.insert(i, a);
            logged.insert(i, b);
            ++done;
        });
    }
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return done.load() == kCalls; }, 60000));
    for (int i = 0; i < kCalls; ++i) {
        const QString expected = QString(QString::number(i) + u'\n').repeated(200);
        EXPECT_EQ(piped.value(i), expected) << i;
        EXPECT_EQ(logged.value(i).status, i);
        EXPECT_EQ(logged.value(i).output, expected) << i;
    }
    EXPECT_TRUE(commandLogs().isEmpty());
}

TEST(ShortOutput, TrimsAndKeepsTheLastCharacters)
{
    const QString long5000 = QStringLiteral("ab").repeated(2500);
    const QString decomposed = QStringLiteral("e\u0301");        // one character, two code units
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"); // one character
    const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA");  // one character, two scalars

    struct Case {
        const char* name;
        QString input;
        QString expected;
    };
    const Case cases[] = {
        {"empty", QString(), QStringLiteral("Unknown command error.")},
        {"blanks and line breaks", QStringLiteral(" \n\t \r\n \u2028 "), QStringLiteral("Unknown command error.")},
        {"trimmed", QStringLiteral("\n  error: failed \n\n"), QStringLiteral("error: failed")},
        {"exactly the limit", QStringLiteral("x").repeated(1200), QStringLiteral("x").repeated(1200)},
        {"5000 characters", QStringLiteral("  \n") + long5000 + QStringLiteral("\n"), long5000.right(1200)},
        {"combining marks", decomposed.repeated(1300), decomposed.repeated(1200)},
        {"fewer characters than code units", decomposed.repeated(1000), decomposed.repeated(1000)},
        {"emoji sequences", QStringLiteral("x").repeated(50) + family.repeated(1300), family.repeated(1200)},
        {"cut next to a sequence", family + QStringLiteral("y").repeated(1199), family + QStringLiteral("y").repeated(1199)},
        {"flags", flag.repeated(1201), flag.repeated(1200)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AppModel::shortOutput(c.input), c.expected) << c.name;
}

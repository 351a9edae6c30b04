// The small layers under the model: the strict number parser, files, spawning and watching
// children, dispatch, and the user defaults.
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "platform/UserDefaults.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes, QFileDevice::Permissions mode)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
    file.close();
    ASSERT_TRUE(file.setPermissions(mode));
}

// Descriptors of this process that a child would inherit: those opened without close-on-exec by
// whoever started the test, never by us.
QSet<QString> inheritableDescriptors()
{
    QSet<QString> fds;
    for (const QString& name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries)) {
        const int fd = name.toInt();
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            fds.insert(name);
    }
    return fds;
}

} // namespace

TEST(Text, ParseInt64AcceptsOnlySignAndAsciiDigitsThatFit)
{
    const qint64 max = std::numeric_limits<qint64>::max();
    const qint64 min = std::numeric_limits<qint64>::min();
    const struct {
        QString text;
        std::optional<qint64> value;
    } cases[] = {
        {QStringLiteral("8090"), 8090},
        {QStringLiteral("+8090"), 8090},
        {QStringLiteral("-1"), -1},
        {QStringLiteral("0"), 0},
        {QStringLiteral("-0"), 0},
        {QStringLiteral("007"), 7},
        {QStringLiteral("9223372036854775807"), max},
        {QStringLiteral("-9223372036854775808"), min},
        {QStringLiteral("9223372036854775808"), std::nullopt},
        {QStringLiteral("-9223372036854775809"), std::nullopt},
        {QStringLiteral("99999999999999999999"), std::nullopt},
        {QString(), std::nullopt},
        {QStringLiteral("+"), std::nullopt},
        {QStringLiteral("-"), std::nullopt},
        {QStringLiteral(" 80"), std::nullopt},
        {QStringLiteral("80 "), std::nullopt},
        {QStringLiteral("8 0"), std::nullopt},
        {QStringLiteral("+-1"), std::nullopt},
        {QStringLiteral("0x50"), std::nullopt},
        {QStringLiteral("1e3"), std::nullopt},
        {QStringLiteral("80.0"), std::nullopt},
        {QStringLiteral("\u0668\u0660"), std::nullopt}, // Arabic-Indic digits are not ASCII
        {QStringLiteral("\uFF18\uFF10"), std::nullopt}, // nor are full-width ones
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text::parseInt64(c.text), c.value) << c.text.toStdString();

    EXPECT_EQ(Text::parseInt32(QStringLiteral("2147483647")), std::numeric_limits<qint32>::max());
    EXPECT_EQ(Text::parseInt32(QStringLiteral("-2147483648")), std::numeric_limits<qint32>::min());
    EXPECT_EQ(Text::parseInt32(QStringLiteral("2147483648")), std::nullopt);
    EXPECT_EQ(Text::parseInt32(QStringLiteral("-2147483649")), std::nullopt);
    EXPECT_EQ(Text::parseInt32(QStringLiteral("12x")), std::nullopt);
}

TEST(Text, DisplayableDropsControlCharactersButTabsAndLineBreaks)
{
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {QStringLiteral("\amysqladmin: connect failed"), QStringLiteral("mysqladmin: connect failed")},
        {QStringLiteral("a\tb\nc"), QStringLiteral("a\tb\nc")},
        {QStringLiteral("one\r\ntwo\rthree"), QStringLiteral("one\ntwo\nthree")},
        {QStringLiteral("\x1b[31mred\x1b[0m"), QStringLiteral("[31mred[0m")},
        {QString(QChar(0)) + QStringLiteral("x\x7f\u0085y\u009b"), QStringLiteral("xy")},
        {QStringLiteral("caf\u00e9 \u2028 \u200b \u00a0"), QStringLiteral("caf\u00e9 \u2028 \u200b \u00a0")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text::displayable(c.in), c.out) << c.in.toStdString();
}

TEST(Text, StatusLineIsTrimmedAndCutToAReadableLength)
{
    const QString ellipsis(QChar(0x2026));
    const QString exact(Text::kStatusLineLimit, u'a');
    const QString emoji = QStringLiteral("\U0001F600"); // two code units
    const struct {
        const char* name;
        QString in;
        QString out;
    } cases[] = {
        {"line break at the end", QStringLiteral("phpMyAdmin download failed: curl: (7) refused\n"),
         QStringLiteral("phpMyAdmin download failed: curl: (7) refused")},
        {"blanks and breaks around", QStringLiteral(" \n\t Ready \r\n"), QStringLiteral("Ready")},
        {"a prefix's own blank stays", QStringLiteral("Password reset API error: "),
         QStringLiteral("Password reset API error: ")},
        {"a separator at the end", QStringLiteral("Done.\u2028"), QStringLiteral("Done.")},
        {"inner line breaks stay", QStringLiteral("one\ntwo"), QStringLiteral("one\ntwo")},
        {"exactly the limit", exact, exact},
        {"one over", exact + u'b', QString(Text::kStatusLineLimit - 1, u'a') + ellipsis},
        {"a pair at the cut", QString(Text::kStatusLineLimit - 2, u'a') + emoji + emoji,
         QString(Text::kStatusLineLimit - 2, u'a') + ellipsis},
        {"blanks before the cut", QString(290, u'a') + QString(20, u' ') + u'z', QString(290, u'a') + ellipsis},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text::statusLine(c.in), c.out) << c.name;

    // A whole server answer becomes one short line.
    const QString huge = QString(8 * 1024 * 1024, u'x');
    const QString line = Text::statusLine(huge);
    EXPECT_EQ(line.size(), Text::kStatusLineLimit);
    EXPECT_TRUE(line.endsWith(ellipsis));
}

TEST(Text, StatusLineOfALogExcerptKeepsTheExcerptsEnd)
{
    const QString ellipsis(QChar(0x2026));
    const QString lead = QStringLiteral("Failed to start Blog: ");
    const QString reason = QStringLiteral("Failed to listen on 127.0.0.1:9100 (reason: Address already in use)");
    const QString warnings = QStringLiteral("PHP Warning:  PHP Startup: Unable to load dynamic library 'x'\n").repeated(30);
    const QString emoji = QStringLiteral("\U0001F600"); // two code units
    const QString accent = QStringLiteral("e\u0301");   // a letter and its combining mark
    const qsizetype room = Text::kStatusLineLimit - lead.size() - 1;
    const struct {
        const char* name;
        QString lead;
        QString excerpt;
        QString out;
    } cases[] = {
        {"short: whole", lead, reason, lead + reason},
        {"exactly the limit", lead, QString(Text::kStatusLineLimit - lead.size(), u'a'),
         lead + QString(Text::kStatusLineLimit - lead.size(), u'a')},
        {"one over: the excerpt's start goes", lead, u'b' + QString(Text::kStatusLineLimit - lead.size(), u'a'),
         lead + ellipsis + QString(room, u'a')},
        {"thirty warnings: the last line stays, the lines before go", lead, warnings + reason,
         lead + ellipsis + reason},
        {"a last line longer than the room: its end", lead, warnings + QString(room + 10, u'r'),
         lead + ellipsis + QString(room, u'r')},
        {"a pair at the cut is not split", lead, QString(40, u'a') + emoji + QString(room - 1, u'z'),
         lead + ellipsis + QString(room - 1, u'z')},
        {"a mark stays with its letter", lead, QString(40, u'a') + accent + QString(room - 1, u'z'),
         lead + ellipsis + QString(room - 1, u'z')},
        {"blanks after the cut go", lead, QString(40, u'a') + QString(room, u' ') + QStringLiteral("end"),
         lead + ellipsis + QStringLiteral("end")},
        {"line breaks at the end go", lead, warnings + reason + QStringLiteral("\n\n"),
         lead + ellipsis + reason},
        {"a short excerpt keeps its lines", lead, QStringLiteral("one\ntwo\n") + reason,
         lead + QStringLiteral("one\ntwo\n") + reason},
    };
    for (const auto& c : cases) {
        const QString line = Text::statusLine(c.lead + c.excerpt, c.excerpt.size());
        EXPECT_EQ(line, c.out) << c.name;
        EXPECT_LE(line.size(), Text::kStatusLineLimit) << c.name;
    }

    // A lead longer than half the limit is cut at its end; the excerpt's end still stays.
    const QString longLead = QStringLiteral("Failed to start ") + QString(400, u'n') + QStringLiteral(": ");
    const QString line = Text::statusLine(longLead + warnings + reason, (warnings + reason).size());
    EXPECT_TRUE(line.startsWith(QStringLiteral("Failed to start nnn"))) << line.toStdString();
    EXPECT_TRUE(line.endsWith(reason)) << line.toStdString();
    EXPECT_EQ(line.count(ellipsis), 2) << "one where the lead is cut, one where the excerpt is";
    EXPECT_LE(line.size(), Text::kStatusLineLimit);
    // No excerpt: the start is kept, as for any text.
    EXPECT_EQ(Text::statusLine(lead + warnings + reason, 0), Text::statusLine(lead + warnings + reason));
    // Before the cap only the line breaks at the ends go.
    EXPECT_EQ(Text::statusLineUncut(QStringLiteral("\n ") + lead + warnings + reason + QStringLiteral(" \n")),
              lead + warnings + reason);
}

TEST(Files, IsExecutableFileMeansARegularFileAfterLinksThatMayRun)
{
    QTemporaryDir dir;
    const QString exec = dir.path() + QStringLiteral("/tool");
    const QString plain = dir.path() + QStringLiteral("/notes");
    writeFile(exec, "#!/bin/sh\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    writeFile(plain, "text", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString folder = dir.path() + QStringLiteral("/bin");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::link(exec, dir.path() + QStringLiteral("/link-to-tool")));
    ASSERT_TRUE(QFile::link(folder, dir.path() + QStringLiteral("/link-to-folder")));
    ASSERT_TRUE(QFile::link(dir.path() + QStringLiteral("/gone"), dir.path() + QStringLiteral("/dangling")));

    const struct {
        const char* name;
        bool executable;
    } cases[] = {
        {"tool", true}, {"link-to-tool", true}, {"notes", false}, {"bin", false},
        {"link-to-folder", false}, {"dangling", false}, {"missing", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Files::isExecutableFile(dir.path() + u'/' + QString::fromLatin1(c.name)), c.executable) << c.name;
}

TEST(Files, WriteAtomicallyReplacesTheWholeFileAndKeepsItPrivate)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/settings.json");
    writeFile(path, QByteArray(4096, 'o'), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                                | QFileDevice::ReadOther);
    ASSERT_TRUE(Files::writeWholeFile(path, "{}", /*privateFile=*/true));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("{}"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("settings.json")});

    // A folder in the way: nothing is written, and false says so.
    const QString blocked = dir.path() + QStringLiteral("/blocked");
    ASSERT_TRUE(QDir().mkpath(blocked));
    EXPECT_FALSE(Files::writeWholeFile(blocked, "{}"));
    EXPECT_TRUE(QFileInfo(blocked).isDir());
}

TEST(Spawn, ChildGetsDevNullInputAndNoneOfOurDescriptors)
{
    // Descriptors of our own, opened the way the program opens them, at the moment of the spawn.
    int ourPipe[2];
    ASSERT_EQ(::pipe2(ourPipe, O_CLOEXEC), 0);
    QTemporaryDir dir;
    QFile ourFile(dir.path() + QStringLiteral("/held-open"));
    ASSERT_TRUE(ourFile.open(QIODevice::WriteOnly));
    const QSet<QString> inherited = inheritableDescriptors();

    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    Process::Spec spec;
    spec.program = QStringLiteral("/bin/sleep");
    spec.arguments = {QStringLiteral("30")};
    spec.outputFd = output[1];
    spec.errorFd = output[1];
    const Process::Launch launched = Process::spawn(spec);
    ::close(output[1]);
    ASSERT_GT(launched.pid, 0) << launched.error.toStdString();

    const QString fdFolder = QStringLiteral("/proc/%1/fd").arg(launched.pid);
    // The child has replaced itself by the program once its descriptors are final.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] {
        return QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(launched.pid)).endsWith(QStringLiteral("sleep"));
    }));
    QSet<QString> childFds;
    for (const QString& name : QDir(fdFolder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries))
        childFds.insert(name);
    const QString stdinTarget = QFile::symLinkTarget(fdFolder + QStringLiteral("/0"));
    const QString stdoutTarget = QFile::symLinkTarget(fdFolder + QStringLiteral("/1"));
    const QString stderrTarget = QFile::symLinkTarget(fdFolder + QStringLiteral("/2"));
    ::kill(launched.pid, SIGKILL);
    EXPECT_EQ(Process::waitForExit(launched.pid), SIGKILL);
    ::close(output[0]);
    ::close(ourPipe[0]);
    ::close(ourPipe[1]);

    EXPECT_EQ(stdinTarget, QStringLiteral("/dev/null"));
    EXPECT_TRUE(stdoutTarget.contains(QStringLiteral("pipe:"))) << stdoutTarget.toStdString();
    EXPECT_EQ(stdoutTarget, stderrTarget);
    QSet<QString> expected = inherited;
    expected.unite(QSet<QString>{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")});
    EXPECT_TRUE(expected.contains(childFds)) << QStringList(childFds.values()).join(u',').toStdString();
}

TEST(Spawn, ChildInheritsNoDescriptorBeyondTheStandardThree)
{
    // A descriptor opened without close-on-exec (as a library might) still stays ours.
    const int leaky = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    Process::Spec spec;
    spec.program = QStringLiteral("/bin/sh");
    // The shell's own descriptor table, tested with a builtin so nothing else is opened.
    spec.arguments = {QStringLiteral("-c"),
                      QStringLiteral("if [ -e /proc/$$/fd/%1 ]; then echo open; else echo closed; fi").arg(leaky)};
    spec.outputFd = output[1];
    const Process::Launch launched = Process::spawn(spec);
    ::close(output[1]);
    ::close(leaky);
    ASSERT_GT(launched.pid, 0) << launched.error.toStdString();
    QByteArray answer;
    char buffer[256];
    for (ssize_t n; (n = ::read(output[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, n);
    ::close(output[0]);
    EXPECT_EQ(Process::waitForExit(launched.pid), 0);
    EXPECT_EQ(answer, QByteArray("closed\n"));
}

TEST(ChildProcess, ExitIsSeenOnceOffTheMainThreadAndNeverAsAZombie)
{
    const struct {
        const char* script;
        int status;
    } cases[] = {{"exit 0", 0}, {"exit 7", 7}, {"kill -TERM $$", SIGTERM}};
    quint64 lastSerial = 0;
    for (const auto& c : cases) {
        std::atomic<int> calls{0};
        std::atomic<int> seenStatus{-100};
        std::atomic<bool> onMain{false};
        QThread* mainThread = QCoreApplication::instance()->thread();
        Process::Spec spec;
        spec.program = QStringLiteral("/bin/sh");
        spec.arguments = {QStringLiteral("-c"), QString::fromLatin1(c.script)};
        QString error;
        // The handler holds `handlerAlive`: once the watcher has let the handler go, it can call
        // it no more.
        auto handlerAlive = std::make_shared<int>(0);
        const std::weak_ptr<int> handlerHeld = handlerAlive;
        auto child = ChildProcess::launch(spec, [&, handlerAlive](int status) {
            seenStatus = status;
            onMain = QThread::currentThread() == mainThread;
            ++calls;
        }, &error);
        handlerAlive.reset();
        ASSERT_NE(child, nullptr) << error.toStdString();
        EXPECT_GT(child->serial(), lastSerial) << c.script;
        lastSerial = child->serial();
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return calls.load() == 1; })) << c.script;
        EXPECT_FALSE(child->isRunning()) << c.script;
        EXPECT_EQ(child->terminationStatus(), c.status) << c.script;
        EXPECT_EQ(seenStatus.load(), c.status) << c.script;
        EXPECT_FALSE(onMain.load()) << c.script;
        // Reaped: no zombie is left for the pid.
        EXPECT_FALSE(Process::exists(child->pid())) << c.script;
        EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(child->pid()))) << c.script;
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return handlerHeld.expired(); })) << c.script;
        EXPECT_EQ(calls.load(), 1) << c.script;
    }

    QString error;
    EXPECT_EQ(ChildProcess::launch(Process::Spec{QStringLiteral("/no/such/program")}, {}, &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("/no/such/program"))) << error.toStdString();
}

TEST(ProcessExists, AZombieIsNotAlive)
{
    Process::Spec spec;
    spec.program = QStringLiteral("/bin/true");
    const Process::Launch launched = Process::spawn(spec);
    ASSERT_GT(launched.pid, 0);
    // Wait for the exit without reaping: the child stays a zombie.
    siginfo_t info {};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(launched.pid), &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(::kill(launched.pid, 0), 0) << "a zombie still answers kill(pid, 0)";
    EXPECT_FALSE(Process::exists(launched.pid));
    EXPECT_EQ(Process::waitForExit(launched.pid), 0);
    EXPECT_FALSE(Process::exists(launched.pid));

    EXPECT_TRUE(Process::exists(::getpid()));
    EXPECT_FALSE(Process::exists(0));
    EXPECT_FALSE(Process::exists(-1));
}

TEST(Dispatch, MainQueueAndDelayedWork)
{
    // Work queued from a background queue runs on the main thread.
    QThread* mainThread = QCoreApplication::instance()->thread();
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> done{false};
    Dispatch::utility([&]() {
        Dispatch::main([&]() {
            ranOnMain = QThread::currentThread() == mainThread;
            done = true;
        });
    });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return done.load(); }));
    EXPECT_TRUE(ranOnMain.load());

    // A guarded closure is dropped when its object is gone by the time it would run.
    auto* gone = new QObject;
    auto* kept = new QObject;
    int ranFor = 0;
    Dispatch::main<QObject>(QPointer<QObject>(gone), [&](QObject*) { ranFor += 1; });
    Dispatch::main<QObject>(QPointer<QObject>(kept), [&](QObject*) { ranFor += 10; });
    delete gone;
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(ranFor, 10);

    // Delayed work runs no earlier than asked, and not at all once its context is gone.
    QElapsedTimer clock;
    clock.start();
    qint64 ranAfter = -1;
    bool contextless = false;
    Dispatch::after(200, kept, [&]() { ranAfter = clock.elapsed(); });
    auto* shortLived = new QObject;
    Dispatch::after(100, shortLived, [&]() { contextless = true; });
    delete shortLived;
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return ranAfter >= 0; }));
    EXPECT_GE(ranAfter, 200);
    EXPECT_FALSE(contextless);
    delete kept;
}

TEST(Dispatch, DrainingForTestsWaitsForEveryStepOfTheWork)
{
    // A pool job that hands its result to the main thread, which starts another job that waits
    // for a delayed step: drained only once the last step has run.
    QObject context;
    QStringList steps;
    Dispatch::userInitiated([&]() {
        Dispatch::main([&]() {
            steps << "main";
            Dispatch::utility([&]() {
                Dispatch::main([&]() {
                    steps << "second main";
                    Dispatch::after(30, &context, [&]() { steps << "after"; });
                });
            });
        });
    });
    EXPECT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(steps, (QStringList{"main", "second main", "after"}));

    // Delayed work whose context is gone is waited out, and does not run.
    auto* shortLived = new QObject;
    Dispatch::after(50, shortLived, [&]() { steps << "never"; });
    delete shortLived;
    EXPECT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(steps.size(), 3);

    // Work that does not end in time: not drained.
    std::promise<void> gate;
    Dispatch::userInitiated([opened = gate.get_future().share()]() { opened.wait(); });
    EXPECT_FALSE(Dispatch::drainForTesting(50));
    gate.set_value();
    EXPECT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(steps.size(), 3);
}

TEST(UserDefaults, ValuesSurviveANewInstanceAndKeepTheirType)
{
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/defaults.ini");
    {
        UserDefaults defaults(file);
        EXPECT_FALSE(defaults.contains(QStringLiteral("KovaniDeviceId")));
        EXPECT_EQ(defaults.string(QStringLiteral("KovaniDeviceId")), QString());
        defaults.set(QStringLiteral("KovaniDeviceId"), QStringLiteral("device-1"));
        defaults.set(QStringLiteral("SignIn_AppHasRunBefore"), true);
        defaults.set(QStringLiteral("KovaniPhpMyAdminBlowfishSecret"), QStringLiteral("a=b;c\\d \"e\""));
    }
    UserDefaults again(file);
    EXPECT_EQ(again.string(QStringLiteral("KovaniDeviceId")), QStringLiteral("device-1"));
    EXPECT_TRUE(again.boolean(QStringLiteral("SignIn_AppHasRunBefore")));
    EXPECT_EQ(again.string(QStringLiteral("KovaniPhpMyAdminBlowfishSecret")), QStringLiteral("a=b;c\\d \"e\""));
}

TEST(UserDefaults, FileIsOwnerOnlyInAnOwnerOnlyFolder)
{
    QTemporaryDir dir;
    auto mode = [](const QString& path) {
        struct stat st {};
        EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
        return st.st_mode & 07777;
    };
    // A new file in a folder that does not exist yet.
    const QString folder = dir.path() + QStringLiteral("/config/Kovani");
    const QString file = folder + QStringLiteral("/defaults.ini");
    UserDefaults(file).set(QStringLiteral("KovaniPhpMyAdminBlowfishSecret"), QStringLiteral("secret"));
    EXPECT_EQ(mode(file), 0600u);
    EXPECT_EQ(mode(folder), 0700u);

    // A world-readable file of an earlier version, in an open folder, is closed at the next write.
    const QString old = dir.path() + QStringLiteral("/old/defaults.ini");
    ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/old")));
    writeFile(old, "[General]\nKovaniDeviceId=d\n",
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    ::chmod(QFile::encodeName(dir.path() + QStringLiteral("/old")).constData(), 0755);
    UserDefaults defaults(old);
    defaults.set(QStringLiteral("KovaniPhpMyAdminBlowfishSecret"), QStringLiteral("secret"));
    EXPECT_EQ(mode(old), 0600u);
    EXPECT_EQ(mode(dir.path() + QStringLiteral("/old")), 0700u);
    EXPECT_EQ(UserDefaults(old).string(QStringLiteral("KovaniDeviceId")), QStringLiteral("d"));
}

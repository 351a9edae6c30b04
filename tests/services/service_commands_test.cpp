// Commands of the shared services run from background jobs: the cancellable runner that ends a
// job's running command with its whole process group.
#include "services/ServiceCommands.h"
#include "support/LiveProcesses.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace ServiceCommands;

TEST(CancellableCommands, CancelKillsTheRunningGroupAndRefusesTheRest)
{
    QTemporaryDir logs;
    ASSERT_TRUE(logs.isValid());
    auto commands = std::make_shared<CancellableCommands>(logs.path());
    const ToolPaths tools;
    const CommandResult quick = commands->run(tools.sh, {QStringLiteral("-c"), QStringLiteral("echo out; echo err >&2; exit 3")});
    EXPECT_EQ(quick.status, 3);
    EXPECT_EQ(quick.output, QStringLiteral("out\nerr\n"));

    // A child and a grandchild of its own, both sleeping far longer than the test.
    const QString marker = QStringLiteral("kovani-cancel-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::atomic<bool> done{false};
    CommandResult killed;
    std::thread runner([&]() {
        killed = commands->run(tools.sh, {QStringLiteral("-c"), QStringLiteral("sleep 600 & sleep 601; : %1").arg(marker)});
        done = true;
    });
    // The two sleeps, children of the shell that mentions the marker.
    const auto sleepers = [&]() { return LiveProcesses::childrenMentioning(LiveProcesses::mentioning(marker), "sleep 60"); };
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return sleepers().size() == 2; }, 10000));
    const QList<qint32> pids = sleepers();
    commands->cancel();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return done.load(); }, 10000));
    runner.join();
    EXPECT_EQ(killed.status, -1);
    EXPECT_EQ(killed.output, CancellableCommands::cancelledMessage());
    for (const qint32 pid : pids)
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !Process::exists(pid); }, 20000)) << pid;
    EXPECT_TRUE(commands->isCancelled());

    // Nothing starts after a cancel, and no command log is left.
    const CommandResult refused = commands->run(tools.sh, {QStringLiteral("-c"), QStringLiteral("exit 0")});
    EXPECT_EQ(refused.status, -1);
    EXPECT_EQ(refused.output, CancellableCommands::cancelledMessage());
    EXPECT_TRUE(QDir(logs.path()).entryList(QDir::Files).isEmpty());
}

TEST(CancellableCommands, WithoutALogsFolderNothingRuns)
{
    CancellableCommands commands{QString()};
    const CommandResult result = commands.run(ToolPaths().sh, {QStringLiteral("-c"), QStringLiteral("exit 0")});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.output, QStringLiteral("Could not create command log."));
}

TEST(CancellableCommands, CancelOnExitCancelsTheHeldCommands)
{
    QTemporaryDir logs;
    auto commands = std::make_shared<CancellableCommands>(logs.path());
    {
        CancelOnExit holder;
        holder.hold(commands);
        EXPECT_FALSE(commands->isCancelled());
    }
    EXPECT_TRUE(commands->isCancelled());
}

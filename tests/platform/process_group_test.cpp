// Watching a process group end: its members found from the leader's children lists (grandchildren
// too, and only those in the group), each watched until it has exited.
#include "platform/Process.h"
#include "platform/ProcessGroup.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A shell that leads its own group.
pid_t launchGroup(const QString& script)
{
    Process::Spec spec;
    spec.program = QStringLiteral("/bin/sh");
    spec.arguments = {QStringLiteral("-c"), script};
    spec.newProcessGroup = true;
    return Process::spawn(spec).pid;
}

QList<pid_t> readIds(const QString& file, int count)
{
    for (int i = 0; i < 3000; ++i) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly)) {
            QList<pid_t> ids;
            for (const QByteArray& line : f.readAll().split('\n')) {
                if (!line.trimmed().isEmpty())
                    ids.append(line.trimmed().toInt());
            }
            if (ids.size() >= count)
                return ids;
        }
        std::this_thread::sleep_for(10ms);
    }
    return {};
}

TEST(ProcessGroup, MembersAreTheLeadersDescendantsInItsGroupAndTheWatchSeesThemGo)
{
    QTemporaryDir dir;
    const QString child = dir.filePath("child");
    const QString grandchild = dir.filePath("grandchild");
    const QString other = dir.filePath("other");
    // A child, a grandchild, and a child that moved to a group of its own (not a member).
    const pid_t leader = launchGroup(QStringLiteral("sleep 300 & echo $! > '%1'; "
                                                    "sh -c 'sleep 300 & echo $! > \"%2\"; wait' & "
                                                    "perl -e 'setpgrp(0,0); open(my $f, q(>), $ARGV[0]); print $f qq($$\\n); close $f; sleep 300' '%3' & wait")
                                         .arg(child, grandchild, other));
    ASSERT_GT(leader, 0);
    QList<pid_t> started;
    for (const QString& file : {child, grandchild, other})
        started += readIds(file, 1);
    ASSERT_EQ(started.size(), 3);
    // The other process writes its id once it has left the leader's group.

    const QList<pid_t> members = ProcessGroup::membersBesidesLeader(leader);
    EXPECT_TRUE(members.contains(started[0]));
    EXPECT_TRUE(members.contains(started[1])) << "a grandchild";
    EXPECT_FALSE(members.contains(started[2])) << "another group";
    EXPECT_FALSE(members.contains(leader));
    EXPECT_GE(members.size(), 3) << "the child, the inner shell and the grandchild";

    ProcessGroup::Watch watch(members);
    EXPECT_FALSE(watch.waitUntilGone(std::chrono::steady_clock::now() + 50ms)) << "all still alive";
    EXPECT_TRUE(ProcessGroup::hasLiveMembers(leader));
    ::kill(-leader, SIGTERM);
    EXPECT_TRUE(watch.waitUntilGone(std::chrono::steady_clock::now() + 20s));
    Process::waitForExit(leader);
    for (const pid_t pid : members)
        EXPECT_FALSE(Process::exists(pid)) << pid;
    EXPECT_FALSE(ProcessGroup::hasLiveMembers(leader));
    EXPECT_TRUE(Process::exists(started[2])) << "the other group is left alone";
    ::kill(started[2], SIGKILL);
}

TEST(ProcessGroup, AnEmptyListIsGoneAtOnceAndAProcessThatExitedCounts)
{
    ProcessGroup::Watch none({});
    EXPECT_TRUE(none.waitUntilGone(std::chrono::steady_clock::now()));

    const pid_t leader = launchGroup(QStringLiteral("exit 0"));
    ASSERT_GT(leader, 0);
    ProcessGroup::Watch one({leader});
    EXPECT_TRUE(one.waitUntilGone(std::chrono::steady_clock::now() + 20s)) << "a zombie has exited";
    Process::waitForExit(leader);
}

} // namespace

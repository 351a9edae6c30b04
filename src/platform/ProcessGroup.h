#pragma once

#include <QList>

#include <chrono>
#include <sys/types.h>

// Watching the processes of a process group end, without a walk of all of /proc at every look.
namespace ProcessGroup {

using Deadline = std::chrono::steady_clock::time_point;

// Every live (not zombie) process of the group, from one walk of /proc.
QList<pid_t> liveMembers(pid_t group);

// The live (not zombie) processes of the group led by `leader`, the leader excepted: the leader's
// descendants that are in its group, found through /proc/<pid>/task/<tid>/children. Where the
// kernel does not offer those files, one walk of /proc.
QList<pid_t> membersBesidesLeader(pid_t leader);

// The processes of a group, watched from before a signal until they have exited: each through a
// pidfd where the kernel has them, else by its /proc entry.
class Watch {
public:
    explicit Watch(const QList<pid_t>& pids);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // Waits until every watched process has exited or the deadline has passed; true when all
    // have exited. Checks at once, then sleeps on the pidfds' exit notices.
    bool waitUntilGone(Deadline deadline);

private:
    struct Member {
        pid_t pid = -1;
        int pidfd = -1;
        bool gone = false;
    };
    QList<Member> m_members;
};

// Whether the group still has a live (not zombie) process. Cheap when the group is empty; else
// one walk of /proc.
bool hasLiveMembers(pid_t group);

} // namespace ProcessGroup

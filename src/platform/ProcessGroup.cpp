#include "platform/ProcessGroup.h"

#include "platform/Process.h"
#include "platform/ProcessTable.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace ProcessGroup {
namespace {

// Without pidfds the looks start quick and slow down to this.
constexpr auto kLongestLook = std::chrono::milliseconds(50);

bool liveInGroup(pid_t pid, pid_t group)
{
    const std::optional<ProcessTable::Status> stat = ProcessTable::status(pid);
    return stat && stat->group == group && stat->state != 'Z' && stat->state != 'X';
}

// The children of every thread of a process; nothing when the kernel cannot tell.
bool childrenOf(pid_t pid, QList<pid_t>* children)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList threads = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    bool known = false;
    for (const QString& thread : threads) {
        QFile file(tasks.filePath(thread) + QStringLiteral("/children"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        known = true;
        for (const QByteArray& piece : file.readAll().simplified().split(' ')) {
            bool ok = false;
            const pid_t child = static_cast<pid_t>(piece.toInt(&ok));
            if (ok && child > 0)
                children->append(child);
        }
    }
    return known;
}

int millisecondsLeft(Deadline deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

} // namespace

QList<pid_t> liveMembers(pid_t group)
{
    QList<pid_t> members;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = static_cast<pid_t>(entry.toInt(&ok));
        if (ok && liveInGroup(pid, group))
            members.append(pid);
    }
    return members;
}

QList<pid_t> membersBesidesLeader(pid_t leader)
{
    QList<pid_t> found;
    QList<pid_t> queue{leader};
    QSet<pid_t> seen{leader};
    while (!queue.isEmpty()) {
        const pid_t pid = queue.takeFirst();
        QList<pid_t> children;
        if (!childrenOf(pid, &children) && pid == leader) {
            // No children files here: one walk of /proc.
            QList<pid_t> all = liveMembers(leader);
            all.removeAll(leader);
            return all;
        }
        for (const pid_t child : std::as_const(children)) {
            if (seen.contains(child))
                continue;
            seen.insert(child);
            queue.append(child);
            if (liveInGroup(child, leader))
                found.append(child);
        }
    }
    return found;
}

Watch::Watch(const QList<pid_t>& pids)
{
    for (const pid_t pid : pids) {
        Member member;
        member.pid = pid;
        member.pidfd = Process::openPidfd(pid);
        m_members.append(member);
    }
}

Watch::~Watch()
{
    for (const Member& member : std::as_const(m_members)) {
        if (member.pidfd >= 0)
            ::close(member.pidfd);
    }
}

bool Watch::waitUntilGone(Deadline deadline)
{
    auto look = std::chrono::milliseconds(1);
    for (;;) {
        std::vector<pollfd> fds;
        bool withoutPidfd = false;
        for (Member& member : m_members) {
            if (member.gone)
                continue;
            if (member.pidfd >= 0) {
                fds.push_back(pollfd{member.pidfd, POLLIN, 0});
            } else if (!Process::exists(member.pid)) {
                member.gone = true;
            } else {
                withoutPidfd = true;
            }
        }
        if (fds.empty() && !withoutPidfd)
            return true;
        // A pidfd is readable once its process has exited (zombie or reaped).
        const int left = millisecondsLeft(deadline);
        const int wait = withoutPidfd ? std::min<int>(left, int(look.count())) : left;
        const int ready = fds.empty() ? 0 : ::poll(fds.data(), fds.size(), wait);
        if (fds.empty() && wait > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        if (ready < 0 && errno != EINTR)
            return false;
        for (const pollfd& p : fds) {
            if (p.revents == 0)
                continue;
            for (Member& member : m_members) {
                if (member.pidfd == p.fd)
                    member.gone = true;
            }
        }
        if (left == 0) {
            // Last look for the ones without a pidfd.
            bool all = true;
            for (Member& member : m_members) {
                if (!member.gone && member.pidfd < 0)
                    member.gone = !Process::exists(member.pid);
                all = all && member.gone;
            }
            return all;
        }
        look = std::min<std::chrono::milliseconds>(look * 2, kLongestLook);
    }
}

bool hasLiveMembers(pid_t group)
{
    if (group <= 0 || (::kill(-group, 0) != 0 && errno == ESRCH))
        return false;
    return !liveMembers(group).isEmpty();
}

} // namespace ProcessGroup

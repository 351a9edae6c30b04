#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>

#include <functional>
#include <optional>
#include <sys/types.h>

// The processes of the machine and the TCP sockets they listen on, read from /proc.
namespace ProcessTable {

struct Entry {
    pid_t pid = 0;
    pid_t parent = 0;
    pid_t group = 0;
    QList<QByteArray> arguments; // argv[0] first
};

// Every live (not zombie) process whose arguments `wanted` accepts, from one walk of /proc: one
// read of each command line, and of the status of the processes accepted.
QList<Entry> find(const std::function<bool(const QList<QByteArray>& arguments)>& wanted);

// State letter, parent and process group of a process, from /proc/<pid>/stat.
struct Status {
    char state = 0;
    pid_t parent = 0;
    pid_t group = 0;
};
std::optional<Status> status(pid_t pid);

// The parent of a process; 0 when unknown.
pid_t parentOf(pid_t pid);

// The inodes of the TCP sockets (IPv4 and IPv6) listening on `port`; nothing when /proc cannot
// tell.
std::optional<QSet<QByteArray>> listeningSockets(qint64 port);

// Whether the process holds one of the sockets.
bool holdsSocket(pid_t pid, const QSet<QByteArray>& inodes);

} // namespace ProcessTable

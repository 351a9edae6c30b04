#include "platform/ProcessTable.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <unistd.h>

namespace ProcessTable {
namespace {

void addListening(const QString& table, qint64 port, QSet<QByteArray>* inodes, bool* readable)
{
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return;
    *readable = true;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
        if (fields.size() < 10 || fields[3] != "0A")
            continue;
        const qsizetype colon = fields[1].lastIndexOf(':');
        bool ok = false;
        const int localPort = fields[1].mid(colon + 1).toInt(&ok, 16);
        if (ok && localPort == port)
            inodes->insert(fields[9]);
    }
}

} // namespace

QList<Entry> find(const std::function<bool(const QList<QByteArray>& arguments)>& wanted)
{
    QList<Entry> found;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = static_cast<pid_t>(name.toInt(&ok));
        if (!ok || pid <= 0)
            continue;
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QByteArray raw = file.readAll();
        // A zombie, or a kernel thread, has no command line.
        if (raw.isEmpty())
            continue;
        if (raw.endsWith('\0'))
            raw.chop(1);
        Entry entry;
        entry.pid = pid;
        entry.arguments = raw.split('\0');
        if (!wanted(entry.arguments))
            continue;
        const std::optional<Status> stat = status(pid);
        if (!stat || stat->state == 'Z' || stat->state == 'X')
            continue;
        entry.parent = stat->parent;
        entry.group = stat->group;
        found.append(entry);
    }
    return found;
}

std::optional<Status> status(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = file.read(4096);
    // After the command, which may hold spaces and brackets: state, ppid, pgrp, ...
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 3 || fields[0].isEmpty())
        return std::nullopt;
    return Status{fields[0].at(0), static_cast<pid_t>(fields[1].toInt()), static_cast<pid_t>(fields[2].toInt())};
}

pid_t parentOf(pid_t pid)
{
    const std::optional<Status> stat = status(pid);
    return stat ? stat->parent : 0;
}

std::optional<QSet<QByteArray>> listeningSockets(qint64 port)
{
    QSet<QByteArray> inodes;
    bool readable = false;
    addListening(QStringLiteral("/proc/self/net/tcp"), port, &inodes, &readable);
    addListening(QStringLiteral("/proc/self/net/tcp6"), port, &inodes, &readable);
    if (!readable)
        return std::nullopt;
    return inodes;
}

bool holdsSocket(pid_t pid, const QSet<QByteArray>& inodes)
{
    if (inodes.isEmpty())
        return false;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& entry : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        // A socket descriptor links to "socket:[inode]".
        char link[128];
        const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(entry)).constData(), link, sizeof link - 1);
        if (n <= 9)
            continue;
        const QByteArray target(link, n);
        if (target.startsWith("socket:[") && target.endsWith(']') && inodes.contains(target.mid(8, target.size() - 9)))
            return true;
    }
    return false;
}

} // namespace ProcessTable

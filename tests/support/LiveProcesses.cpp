#include "support/LiveProcesses.h"

#include "platform/Process.h"

#include <QDir>
#include <QFile>

namespace LiveProcesses {
namespace {

QByteArray readProc(qint32 pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<qint32> livePids()
{
    QList<qint32> pids;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint32 pid = entry.toInt(&ok);
        if (ok && Process::exists(pid))
            pids.append(pid);
    }
    return pids;
}

} // namespace

QStringList commandLine(qint32 pid)
{
    QStringList arguments;
    for (const QByteArray& argument : readProc(pid, "cmdline").split('\0'))
        arguments.append(QString::fromLocal8Bit(argument));
    if (!arguments.isEmpty() && arguments.last().isEmpty())
        arguments.removeLast();
    return arguments;
}

qint32 parentOf(qint32 pid)
{
    // The parent is the field after the state, which follows the last ')'.
    const QByteArray stat = readProc(pid, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    bool ok = false;
    const qint32 parent = fields.value(1).toInt(&ok);
    return ok ? parent : 0;
}

QList<qint32> mentioning(const QString& text)
{
    QList<qint32> pids;
    for (const qint32 pid : livePids()) {
        if (commandLine(pid).join(u' ').contains(text))
            pids.append(pid);
    }
    return pids;
}

QList<qint32> launchedMentioning(const QString& text)
{
    const QList<qint32> all = mentioning(text);
    QList<qint32> launched;
    for (const qint32 pid : all) {
        if (!all.contains(parentOf(pid)))
            launched.append(pid);
    }
    return launched;
}

QList<qint32> childrenMentioning(const QList<qint32>& parents, const QString& text)
{
    QList<qint32> children;
    for (const qint32 pid : mentioning(text)) {
        if (parents.contains(parentOf(pid)))
            children.append(pid);
    }
    return children;
}

} // namespace LiveProcesses

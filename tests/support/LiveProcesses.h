#pragma once

// The processes of this machine as the tests see them, read from /proc: which are alive, what
// they were started with, and who started them.

#include <QList>
#include <QString>
#include <QStringList>

namespace LiveProcesses {

// The arguments of a process, argv[0] first; empty when it is gone.
QStringList commandLine(qint32 pid);

// The parent of a process; 0 when it is gone.
qint32 parentOf(qint32 pid);

// Pids of live (not zombie) processes whose command line, arguments joined by spaces, mentions
// `text`.
QList<qint32> mentioning(const QString& text);

// The processes mentioning `text` whose parent does not: the ones launched, without the
// short-lived copies a shell script forks of itself (for `sleep`, say) before they run another
// program.
QList<qint32> launchedMentioning(const QString& text);

// The live children of `parents` whose command line mentions `text`.
QList<qint32> childrenMentioning(const QList<qint32>& parents, const QString& text);

} // namespace LiveProcesses

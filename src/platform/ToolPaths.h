#pragma once

#include <QString>
#include <QStringList>

// The one table of outside programs the application runs. Tests replace entries to point at
// recording scripts.
struct ToolPaths {
    QString which = QStringLiteral("/usr/bin/which");
    QString lsof = QStringLiteral("/usr/bin/lsof");
    QString ps = QStringLiteral("/bin/ps");
    QString curl = QStringLiteral("/usr/bin/curl");
    QString unzip = QStringLiteral("/usr/bin/unzip");
    QString cp = QStringLiteral("/bin/cp");      // stands in for ditto when copying trees
    QString zsh = QStringLiteral("/bin/zsh");
    QString sh = QStringLiteral("/bin/sh");
    // Homebrew, then the MySQL clients, are looked for in these places before `which`.
    QStringList brew = {QStringLiteral("/opt/homebrew/bin/brew"), QStringLiteral("/usr/local/bin/brew"),
                        QStringLiteral("/home/linuxbrew/.linuxbrew/bin/brew")};
    QStringList mysql = {QStringLiteral("/opt/homebrew/bin/mysql"), QStringLiteral("/usr/local/bin/mysql"),
                         QStringLiteral("/usr/local/mysql/bin/mysql"), QStringLiteral("/home/linuxbrew/.linuxbrew/bin/mysql"),
                         QStringLiteral("/usr/bin/mysql")};
    QStringList mysqladmin = {QStringLiteral("/opt/homebrew/bin/mysqladmin"), QStringLiteral("/usr/local/bin/mysqladmin"),
                              QStringLiteral("/usr/local/mysql/bin/mysqladmin"),
                              QStringLiteral("/home/linuxbrew/.linuxbrew/bin/mysqladmin"), QStringLiteral("/usr/bin/mysqladmin")};
};

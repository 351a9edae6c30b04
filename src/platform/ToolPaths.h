#pragma once

#include <QString>
#include <QStringList>

// The one table of outside programs the application runs. Tests replace entries to point at
// recording scripts.
struct ToolPaths {
    QString which = QStringLiteral("/usr/bin/which");
    QString curl = QStringLiteral("/usr/bin/curl");
    QString unzip = QStringLiteral("/usr/bin/unzip");
    QString cp = QStringLiteral("/bin/cp");      // stands in for ditto when copying trees
    QString zsh = QStringLiteral("/bin/zsh");
    QString sh = QStringLiteral("/bin/sh");
    QString dbusSend = QStringLiteral("/usr/bin/dbus-send"); // reveals files in the file manager
    QString xdgOpen = QStringLiteral("/usr/bin/xdg-open");   // opens addresses with the desktop's default handler
    // Homebrew and the MySQL clients: the first executable candidate wins, then `which <name>`.
    // The Linux Homebrew prefix comes after the macOS places.
    QStringList brew = {QStringLiteral("/opt/homebrew/bin/brew"), QStringLiteral("/usr/local/bin/brew"),
                        QStringLiteral("/home/linuxbrew/.linuxbrew/bin/brew")};
    QStringList mysql = {QStringLiteral("/opt/homebrew/bin/mysql"), QStringLiteral("/usr/local/bin/mysql"),
                         QStringLiteral("/opt/homebrew/opt/mysql/bin/mysql"), QStringLiteral("/usr/local/opt/mysql/bin/mysql"),
                         QStringLiteral("/Applications/MAMP/Library/bin/mysql80/bin/mysql"),
                         QStringLiteral("/Applications/MAMP/Library/bin/mysql/bin/mysql"),
                         QStringLiteral("/Applications/ServBay/bin/mysql"),
                         QStringLiteral("/home/linuxbrew/.linuxbrew/bin/mysql")};
    QStringList mysqladmin = {QStringLiteral("/opt/homebrew/bin/mysqladmin"), QStringLiteral("/usr/local/bin/mysqladmin"),
                              QStringLiteral("/opt/homebrew/opt/mysql/bin/mysqladmin"),
                              QStringLiteral("/usr/local/opt/mysql/bin/mysqladmin"),
                              QStringLiteral("/opt/homebrew/opt/mysql-client/bin/mysqladmin"),
                              QStringLiteral("/usr/local/opt/mysql-client/bin/mysqladmin"),
                              QStringLiteral("/Applications/MAMP/Library/bin/mysql80/bin/mysqladmin"),
                              QStringLiteral("/Applications/MAMP/Library/bin/mysql/bin/mysqladmin"),
                              QStringLiteral("/Applications/ServBay/bin/mysqladmin"),
                              QStringLiteral("/home/linuxbrew/.linuxbrew/bin/mysqladmin")};
    // A MySQL server of the user's own where Homebrew is missing: the server program and the
    // initialiser of its data folder, each the first executable candidate, then `which` of each
    // name in turn.
    QStringList mysqlServer = {QStringLiteral("/usr/sbin/mariadbd"), QStringLiteral("/usr/sbin/mysqld")};
    QStringList mysqlServerNames = {QStringLiteral("mariadbd"), QStringLiteral("mysqld")};
    QStringList mysqlInstallDb = {QStringLiteral("/usr/bin/mariadb-install-db")};
    QStringList mysqlInstallDbNames = {QStringLiteral("mariadb-install-db")};
};

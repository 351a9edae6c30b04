#pragma once

// Shared pieces of the MySQL and phpMyAdmin tests: private-member access, small scripts.

#include "app/AppModel.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <ostream>

// Readable QString values in gtest messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

class AppModelTestAccess {
public:
    static std::optional<QString> mysqlBinary(const AppModel& m) { return m.mysqlBinary(); }
    static std::optional<QString> mysqlAdminBinary(const AppModel& m) { return m.mysqlAdminBinary(); }
    static std::optional<QString> brewBinary(const AppModel& m) { return m.brewBinary(); }
    static QString databasePingMessage(const AppModel& m) { return m.databasePingMessage(m.config()); }
    static void applyDatabaseStatus(AppModel& m, const QString& text) { m.applyDatabaseStatus(text); }
    static QString setPHPConfig(const QString& text, const QString& key, const QString& value)
    {
        return AppModel::setPHPConfig(text, key, value);
    }
    static void configurePhpMyAdmin(AppModel& m) { m.configurePhpMyAdmin(); }
    static void ensurePhpMyAdminInstalledAndStart(AppModel& m, bool open) { m.ensurePhpMyAdminInstalledAndStart(open); }
};

namespace MySQLTestKit {

// Writes an executable shell script.
inline QString writeScript(const QString& path, const QString& body)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write((QStringLiteral("#!/bin/sh\n") + body).toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

// A script that appends its arguments (one line, separated by "|") to `log`, then runs `then`.
inline QString writeRecorder(const QString& path, const QString& log, const QString& then = QString())
{
    return writeScript(path, QStringLiteral("first=1\nline=\nfor a in \"$@\"; do\n"
                                            "  if [ $first = 1 ]; then line=\"$a\"; first=0; else line=\"$line|$a\"; fi\n"
                                            "done\nprintf '%s\\n' \"$line\" >> '%1'\n%2\n")
                                 .arg(log, then));
}

inline QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace MySQLTestKit

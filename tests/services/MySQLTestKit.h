#pragma once

// Shared pieces of the MySQL and phpMyAdmin tests: private-member access, small scripts, a
// sampler of command lines.

#include "app/AppModel.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <ostream>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

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
    // The child of a registered server; none when the id has none.
    static std::shared_ptr<ChildProcess> serverProcess(const AppModel& m, const QString& id)
    {
        return m.m_processes.value(id).process;
    }
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

using TestFiles::readBytes;
using TestFiles::writeFile;

// phpMyAdmin's sample configuration, shortened.
inline const char* phpMyAdminSample()
{
    return "<?php\n"
           "declare(strict_types=1);\n"
           "$cfg['blowfish_secret'] = ''; /* YOU MUST FILL IN THIS FOR COOKIE AUTH! */\n"
           "$i = 0;\n"
           "$i++;\n"
           "$cfg['Servers'][$i]['auth_type'] = 'cookie';\n"
           "$cfg['Servers'][$i]['host'] = 'localhost';\n"
           "$cfg['Servers'][$i]['compress'] = false;\n"
           "$cfg['Servers'][$i]['AllowNoPassword'] = false;\n";
}

// A phpMyAdmin release archive made with `zip` in `folder`: the release folder with index.php
// (printing "phpMyAdmin fixture page on <port>") and the sample configuration, and decoys that
// must not be taken for it.
inline QByteArray buildPhpMyAdminArchive(const QString& folder)
{
    const QString source = folder + QStringLiteral("/archive-source");
    writeFile(source + QStringLiteral("/phpMyAdmin/index.php"), "<?php echo 'decoy without hyphen';");
    writeFile(source + QStringLiteral("/phpMyAdmin-notes.txt"), "a file, not the release folder");
    writeFile(source + QStringLiteral("/README"), "readme");
    writeFile(source + QStringLiteral("/phpMyAdmin-5.2.2-all-languages/index.php"),
              "<?php echo 'phpMyAdmin fixture page on ', $_SERVER['SERVER_PORT'];");
    writeFile(source + QStringLiteral("/phpMyAdmin-5.2.2-all-languages/config.sample.inc.php"), phpMyAdminSample());
    const QString zipPath = folder + QStringLiteral("/release.zip");
    QFile::remove(zipPath);
    QProcess zip;
    zip.setWorkingDirectory(source);
    zip.start(QStringLiteral("/usr/bin/zip"), {QStringLiteral("-q"), QStringLiteral("-r"), zipPath, QStringLiteral(".")});
    zip.waitForFinished(30000);
    if (zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0)
        return {};
    return readBytes(zipPath);
}

// GET / on a loopback port with curl.
inline QString httpGet(quint16 port)
{
    QProcess curl;
    curl.start(QStringLiteral("/usr/bin/curl"),
               {QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("10"),
                QStringLiteral("http://127.0.0.1:") + QString::number(port) + QStringLiteral("/")});
    curl.waitForFinished(20000);
    return QString::fromUtf8(curl.readAllStandardOutput());
}

// The first argument of a MySQL client call, which names its option file.
inline const QString kOptionFileArgument = QStringLiteral("--defaults-file=");

// Reads the command line of every process on the machine, again and again on a thread of its
// own, from construction until stop(). For the children of this process it also notes the option
// file each names, with the file's mode and its folder's while they were there.
class CommandLineSampler {
public:
    struct Seen {
        QStringList everyLine;         // each distinct command line, arguments joined by " "
        QStringList childLines;        // the same, of this process's children only
        QMap<QString, mode_t> optionFiles;   // path -> mode (0 when gone before it was read)
        QMap<QString, mode_t> optionFolders; // folder -> mode
    };

    CommandLineSampler()
        : m_thread([this]() {
            while (!m_stop.load())
                sampleOnce();
        })
    {
    }
    ~CommandLineSampler() { stop(); }

    Seen stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_seen;
    }

private:
    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static mode_t modeOf(const QString& path)
    {
        struct stat info {};
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
    }

    void sampleOnce()
    {
        const QString self = QString::number(::getpid());
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (entry.isEmpty() || !entry.at(0).isDigit())
                continue;
            QStringList arguments;
            for (const QByteArray& piece : read(QStringLiteral("/proc/%1/cmdline").arg(entry)).split('\0'))
                arguments << QString::fromLocal8Bit(piece);
            if (!arguments.isEmpty() && arguments.last().isEmpty())
                arguments.removeLast();
            if (arguments.isEmpty())
                continue;
            const QString line = arguments.join(u' ');
            if (!m_seen.everyLine.contains(line))
                m_seen.everyLine << line;
            const QByteArray stat = read(QStringLiteral("/proc/%1/stat").arg(entry));
            const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
            if (QString::fromLatin1(fields.value(1)) != self)
                continue;
            if (!m_seen.childLines.contains(line))
                m_seen.childLines << line;
            for (const QString& argument : arguments) {
                if (!argument.startsWith(kOptionFileArgument))
                    continue;
                const QString file = argument.mid(kOptionFileArgument.size());
                if (!m_seen.optionFiles.value(file))
                    m_seen.optionFiles.insert(file, modeOf(file));
                const QString folder = QFileInfo(file).absolutePath();
                if (!m_seen.optionFolders.value(folder))
                    m_seen.optionFolders.insert(folder, modeOf(folder));
            }
        }
    }

    std::atomic<bool> m_stop{false};
    Seen m_seen;
    std::thread m_thread;
};

} // namespace MySQLTestKit

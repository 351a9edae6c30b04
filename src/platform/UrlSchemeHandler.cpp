#include "platform/UrlSchemeHandler.h"

#include "platform/Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QStandardPaths>

#include <optional>

namespace UrlSchemeHandler {

namespace {

constexpr int kXdgMimeLimitMs = 10000;

QMutex xdgMimeMutex;
std::optional<QString> xdgMimeOverride;

QString xdgMime()
{
    QMutexLocker lock(&xdgMimeMutex);
    if (xdgMimeOverride)
        return *xdgMimeOverride;
    return QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
}

QString dataHome()
{
    const QString env = qEnvironmentVariable("XDG_DATA_HOME");
    if (!env.isEmpty() && QDir::isAbsolutePath(env))
        return env;
    return QDir::homePath() + QStringLiteral("/.local/share");
}

QString configHome()
{
    const QString env = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!env.isEmpty() && QDir::isAbsolutePath(env))
        return env;
    return QDir::homePath() + QStringLiteral("/.config");
}

bool writeWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("Could not write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray mimeType(const QString& scheme) { return "x-scheme-handler/" + scheme.toLower().toUtf8(); }

// The list with the scheme's default set to `entry` under [Default Applications]; every other
// line is kept as it was.
QByteArray withDefault(const QByteArray& list, const QString& scheme, const QString& entry)
{
    const QByteArray key = mimeType(scheme);
    const QByteArray line = key + '=' + entry.toUtf8() + ';';
    QList<QByteArray> lines = list.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    qsizetype section = -1;
    qsizetype sectionEnd = lines.size();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray trimmed = lines[i].trimmed();
        if (trimmed.startsWith('[')) {
            if (section >= 0) {
                sectionEnd = i;
                break;
            }
            if (trimmed == "[Default Applications]")
                section = i;
        }
    }
    if (section < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QByteArray());
        lines.append("[Default Applications]");
        lines.append(line);
    } else {
        bool replaced = false;
        for (qsizetype i = section + 1; i < sectionEnd; ++i) {
            const qsizetype equals = lines[i].indexOf('=');
            if (equals > 0 && lines[i].left(equals).trimmed() == key) {
                if (!replaced)
                    lines[i] = line;
                else
                    lines[i].clear();
                replaced = true;
            }
        }
        if (!replaced) {
            // After the section's last non-empty line.
            qsizetype at = sectionEnd;
            while (at > section + 1 && lines[at - 1].trimmed().isEmpty())
                --at;
            lines.insert(at, line);
        }
    }
    return lines.join('\n') + '\n';
}

bool writeMimeappsList(const QString& scheme, const QString& entry, QString* error)
{
    const QString path = configHome() + QStringLiteral("/mimeapps.list");
    QByteArray existing;
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("Could not read %1: %2").arg(path, file.errorString());
            return false;
        }
        existing = file.readAll();
        file.close();
    }
    return writeWhole(path, withDefault(existing, scheme, entry), error);
}

// Whether `xdg-mime default` made the entry the scheme's default: it ran, exited with 0 and
// within the time limit (after which it is killed with everything it started).
bool runXdgMime(const QString& program, const QString& entry, const QString& scheme)
{
    Process::Spec spec;
    spec.program = program;
    spec.arguments = {QStringLiteral("default"), entry, QString::fromUtf8(mimeType(scheme))};
    const Process::Capture ran = Process::capture(spec, kXdgMimeLimitMs);
    return ran.launched && !ran.timedOut && ran.status == 0;
}

} // namespace

bool isValidScheme(const QString& scheme)
{
    if (scheme.isEmpty())
        return false;
    for (qsizetype i = 0; i < scheme.size(); ++i) {
        const char16_t c = scheme.at(i).unicode();
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!(letter || (i > 0 && other)))
            return false;
    }
    return true;
}

QString desktopFileName(const QString& scheme)
{
    return QStringLiteral("kovani-url-") + scheme.toLower() + QStringLiteral(".desktop");
}

QString execLine(const QString& executable)
{
    QString quoted;
    for (QChar c : executable) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QString();
        // Inside double quotes these four are escaped with a backslash.
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    QString value = QLatin1Char('"') + quoted + QStringLiteral("\" --oauth-redirect %u");
    // A desktop entry's string value escapes backslashes once more; "%" outside the field code
    // is written "%%".
    QString escaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('%') && i != value.size() - 2)
            escaped += QStringLiteral("%%");
        else
            escaped += c;
    }
    return escaped;
}

bool registerScheme(const QString& scheme, const QString& executable, QString* error)
{
    if (!isValidScheme(scheme)) {
        if (error)
            *error = QStringLiteral("\"%1\" is not a URL scheme.").arg(scheme);
        return false;
    }
    const QString exec = execLine(executable);
    if (exec.isEmpty() || !QDir::isAbsolutePath(executable)) {
        if (error)
            *error = QStringLiteral("The program's path cannot be used in a desktop entry.");
        return false;
    }
    const QString entry = desktopFileName(scheme);
    const QByteArray desktop = QByteArrayLiteral("[Desktop Entry]\n"
                                                 "Type=Application\n"
                                                 "Name=Kovani\n"
                                                 "Comment=Completes a sign-in started in Kovani\n")
                               + "Exec=" + exec.toUtf8() + "\n"
                               + "MimeType=" + mimeType(scheme) + ";\n"
                               + QByteArrayLiteral("NoDisplay=true\n"
                                                   "Terminal=false\n");
    if (!writeWhole(dataHome() + QStringLiteral("/applications/") + entry, desktop, error))
        return false;

    const QString program = xdgMime();
    if (!program.isEmpty() && runXdgMime(program, entry, scheme))
        return true;
    return writeMimeappsList(scheme, entry, error);
}

QString defaultHandlerIn(const QByteArray& mimeappsList, const QString& scheme)
{
    const QByteArray key = mimeType(scheme);
    bool inSection = false;
    for (const QByteArray& raw : mimeappsList.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inSection = line == "[Default Applications]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (inSection && equals > 0 && line.left(equals).trimmed() == key) {
            const QByteArray value = line.mid(equals + 1).trimmed();
            return QString::fromUtf8(value.split(';').first());
        }
    }
    return QString();
}

void setXdgMimeForTesting(const QString& path)
{
    QMutexLocker lock(&xdgMimeMutex);
    xdgMimeOverride = path;
}

void resetXdgMimeForTesting()
{
    QMutexLocker lock(&xdgMimeMutex);
    xdgMimeOverride.reset();
}

} // namespace UrlSchemeHandler

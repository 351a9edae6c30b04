#include "app/AppModel.h"

#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/UserDefaults.h"
#include "services/ServiceCommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>

#include <sys/random.h>

// The shared phpMyAdmin: download and unpack the release, keep its config.inc.php in line with
// the MySQL settings, and serve it like a website under the id "phpmyadmin".

namespace {

const QString kPhpMyAdminId = QStringLiteral("phpmyadmin");
const QString kSecretKey = QStringLiteral("KovaniPhpMyAdminBlowfishSecret");
const QString kArchivePath = QStringLiteral("/downloads/phpMyAdmin-latest-all-languages.zip");

// The open after a start looks again every half second, for at most this many rounds.
constexpr int kOpenRoundMs = 500;
constexpr int kOpenRounds = 12;

// `value` as a single-quoted PHP string literal.
QString phpQuoted(const QString& value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

// 32 characters of URL-safe base64 from the system's secure random source.
std::optional<QString> makeSecret()
{
    QByteArray bytes(32, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + filled, size_t(bytes.size() - filled), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        filled += n;
    }
    QString text = QString::fromLatin1(bytes.toBase64());
    text.replace(QLatin1Char('+'), QLatin1Char('-'));
    text.replace(QLatin1Char('/'), QLatin1Char('_'));
    text.remove(QLatin1Char('='));
    return text.left(32);
}

bool existsAt(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

void removeAt(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else if (info.exists() || info.isSymLink())
        QFile::remove(path);
}

// What the background install hands back: nothing when installed, else the message to show.
struct InstallOutcome {
    std::optional<QString> error;
};

} // namespace

Project AppModel::phpMyAdminProject(const AppConfig& config)
{
    Project project;
    project.id = kPhpMyAdminId;
    project.name = QStringLiteral("phpMyAdmin");
    project.root = config.phpMyAdminRoot;
    project.port = config.phpMyAdminPort;
    project.databaseName = QString();
    project.databaseUser = QStringLiteral("root");
    project.databasePassword = QStringLiteral("kelp");
    return project;
}

QString AppModel::setPHPConfig(const QString& text, const QString& key, const QString& value)
{
    const QString statement = key + QStringLiteral(" = ") + value + QLatin1Char(';');
    // The key, "=", then the value up to the first ";" on that line. A quoted string in the value
    // is taken whole, so a ";" inside it (say, in a host written by an earlier run) does not
    // cut the assignment in two.
    static const QString assignment = QStringLiteral(
        "\\s*=\\s*(?:'(?:(?!\\R)[^'\\\\]|\\\\(?!\\R).)*'|\"(?:(?!\\R)[^\"\\\\]|\\\\(?!\\R).)*\"|(?!\\R)[^'\";])*;");
    const QRegularExpression pattern(QStringLiteral("(*ANY)") + QRegularExpression::escape(key) + assignment,
                                     QRegularExpression::UseUnicodePropertiesOption);
    QString result;
    qsizetype copied = 0;
    bool matched = false;
    QRegularExpressionMatchIterator it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        matched = true;
        result += QStringView(text).mid(copied, match.capturedStart() - copied);
        result += statement; // literally: no back-references are expanded
        copied = match.capturedEnd();
    }
    if (!matched)
        return text + QLatin1Char('\n') + statement + QLatin1Char('\n');
    result += QStringView(text).mid(copied);
    return result;
}

std::optional<QString> AppModel::phpMyAdminBlowfishSecret()
{
    const QString stored = m_userDefaults->string(kSecretKey);
    if (stored.size() > 31)
        return stored;
    const std::optional<QString> fresh = makeSecret();
    if (!fresh)
        return std::nullopt;
    m_userDefaults->set(kSecretKey, *fresh);
    return fresh;
}

void AppModel::configurePhpMyAdmin()
{
    const QString root = m_config.phpMyAdminRoot;
    const QString configPath = root + QStringLiteral("/config.inc.php");
    const QString samplePath = root + QStringLiteral("/config.sample.inc.php");
    if (!QFileInfo::exists(configPath) && QFileInfo::exists(samplePath))
        QFile::copy(samplePath, configPath);

    QFile file(configPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const std::optional<QString> read = Text::decodeUtf8(file.readAll());
    file.close();
    if (!read)
        return;

    // Without a secure secret the file is left as it is rather than given a weak one.
    const std::optional<QString> secret = phpMyAdminBlowfishSecret();
    if (!secret)
        return;

    QString text = *read;
    text = setPHPConfig(text, QStringLiteral("$cfg['blowfish_secret']"), phpQuoted(*secret));
    text = setPHPConfig(text, QStringLiteral("$cfg['Servers'][$i]['auth_type']"), QStringLiteral("'cookie'"));
    text = setPHPConfig(text, QStringLiteral("$cfg['Servers'][$i]['host']"), phpQuoted(m_config.mysqlHost));
    text = setPHPConfig(text, QStringLiteral("$cfg['Servers'][$i]['port']"),
                        phpQuoted(QString::number(m_config.mysqlPort)));
    text = setPHPConfig(text, QStringLiteral("$cfg['Servers'][$i]['AllowNoPassword']"), QStringLiteral("false"));
    text = setPHPConfig(text, QStringLiteral("$cfg['Servers'][$i]['hide_connection_errors']"), QStringLiteral("false"));
    // It holds the cookie secret: owner-only.
    Files::writeWholeFile(configPath, text.toUtf8(), true);
}

void AppModel::autoStartPhpMyAdmin()
{
    if (m_config.user)
        ensurePhpMyAdminInstalledAndStart(false);
}

void AppModel::ensurePhpMyAdminInstalledAndStart(bool openAfterStart)
{
    const bool afterInstall = std::exchange(m_phpMyAdminJustInstalled, false);
    const Project project = phpMyAdminProject(m_config);
    if (!existsAt(project.root)) {
        if (afterInstall) {
            // The install ran but left nothing in place; another one would end the same way.
            setStatusMessage(QStringLiteral("phpMyAdmin could not be installed in ") + project.root + u'.');
            return;
        }
        installPhpMyAdmin(openAfterStart);
        return;
    }

    configurePhpMyAdmin();

    if (!m_runningProjects.contains(kPhpMyAdminId)) {
        startInternal(project);
        const auto running = m_runningProjects.constFind(kPhpMyAdminId);
        setPhpMyAdminPid(running == m_runningProjects.cend() ? std::nullopt : std::optional<qint32>(*running));
    }

    if (openAfterStart && !m_phpMyAdminOpenPending) {
        m_phpMyAdminOpenPending = true;
        QPointer<AppModel> weak(this);
        Dispatch::after(kOpenRoundMs, this, [weak]() {
            if (AppModel* model = weak.data())
                model->openPhpMyAdminAfterStart();
        });
    }
}

void AppModel::openPhpMyAdmin()
{
    if (m_runningProjects.contains(kPhpMyAdminId)) {
        openURL(QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(m_config.phpMyAdminPort)));
        return;
    }
    m_phpMyAdminOpenRounds = 0;
    ensurePhpMyAdminInstalledAndStart(true);
}

void AppModel::openPhpMyAdminAfterStart()
{
    m_phpMyAdminOpenPending = false;
    if (m_runningProjects.contains(kPhpMyAdminId)) {
        m_phpMyAdminOpenRounds = 0;
        openPhpMyAdmin();
        return;
    }
    if (isStarting(kPhpMyAdminId)) {
        if (++m_phpMyAdminOpenRounds < kOpenRounds) {
            m_phpMyAdminOpenPending = true;
            QPointer<AppModel> weak(this);
            Dispatch::after(kOpenRoundMs, this, [weak]() {
                if (AppModel* model = weak.data())
                    model->openPhpMyAdminAfterStart();
            });
            return;
        }
        m_phpMyAdminOpenRounds = 0;
        setStatusMessage(QStringLiteral("phpAdmin was not opened: phpMyAdmin did not answer within %1 seconds. "
                                        "Check Logs for details.")
                             .arg(kOpenRounds * kOpenRoundMs / 1000));
        return;
    }
    // The start was refused or failed; the status line holds its reason.
    m_phpMyAdminOpenRounds = 0;
    setStatusMessage(m_lastStatus.after(QStringLiteral("phpAdmin was not opened: ")));
}

void AppModel::installPhpMyAdmin(bool openAfterInstall)
{
    if (m_phpMyAdminInstalling) {
        // One install at a time; this request only adds its wish to open afterwards.
        m_phpMyAdminOpenAfterInstall = m_phpMyAdminOpenAfterInstall || openAfterInstall;
        return;
    }
    const QString root = m_config.phpMyAdminRoot;
    if (!QDir::isAbsolutePath(root) || m_appSupport.isEmpty()) {
        // Never unpack into (or remove) a folder relative to wherever the program was started,
        // and without a storage folder there is no Downloads folder to unpack in.
        setStatusMessage(QStringLiteral("phpMyAdmin could not be installed in ") + root + u'.');
        return;
    }
    m_phpMyAdminInstalling = true;
    m_phpMyAdminOpenAfterInstall = openAfterInstall;
    setStatusMessage(QStringLiteral("Installing phpMyAdmin..."));

    const QString downloads = m_appSupport + QStringLiteral("/Downloads");
    const QString archive = downloads + QStringLiteral("/phpMyAdmin.zip");
    const QString extract = downloads + QStringLiteral("/phpMyAdminExtract");
    QString base = m_platform.phpMyAdminDownloadURL;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QString url = base + kArchivePath;
    const QString curl = m_platform.tools.curl;
    const QString unzip = m_platform.tools.unzip;
    const QString cp = m_platform.tools.cp;
    const QStringList downloadOptions = ServiceCommands::downloadOptions(m_platform.downloadStallSeconds);
    // Cancelled when the model goes: quitting leaves no download or unpacking running.
    const auto commands = std::make_shared<ServiceCommands::CancellableCommands>(m_logsURL);
    m_phpMyAdminInstallCommands.hold(commands);

    QPointer<AppModel> weak(this);
    Dispatch::userInitiated([weak, commands, downloads, archive, extract, root, url, curl, unzip, cp, downloadOptions]() {
        InstallOutcome outcome;
        [&]() {
            Files::makePath(downloads);
            removeAt(archive);
            removeAt(extract);
            Files::makePath(extract);

            const CommandResult download = commands->run(
                curl, downloadOptions + QStringList{QStringLiteral("-L"), url, QStringLiteral("-o"), archive});
            if (download.status != 0 || !QFileInfo(archive).isFile()) {
                // A cut-off download is no archive: nothing of it is kept.
                removeAt(archive);
                removeAt(extract);
                outcome.error = QStringLiteral("phpMyAdmin download failed: ") + download.output;
                return;
            }

            // unzip: 0 is success, 1 success with warnings; anything else is a broken archive.
            const CommandResult unpacked = commands->run(unzip, {QStringLiteral("-q"), archive, QStringLiteral("-d"), extract});
            QString found;
            if (unpacked.status == 0 || unpacked.status == 1) {
                const QStringList entries = QDir(extract).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                                        | QDir::NoDotAndDotDot,
                                                                    QDir::Unsorted);
                for (const QString& name : entries) {
                    const QFileInfo info(extract + u'/' + name);
                    if (name.startsWith(QStringLiteral("phpMyAdmin-")) && info.isDir() && !info.isSymLink()) {
                        found = info.filePath();
                        break;
                    }
                }
            }
            if (found.isEmpty()) {
                removeAt(archive);
                removeAt(extract);
                outcome.error = QStringLiteral("phpMyAdmin archive could not be extracted.");
                return;
            }

            // Into place: a rename, or a copy beside the target then a rename, so the target is
            // either the whole release or absent.
            removeAt(root);
            Files::makePath(QFileInfo(root).absolutePath());
            if (!QDir().rename(found, root)) {
                const QString staging = root + QStringLiteral(".installing");
                removeAt(staging);
                const CommandResult copied = commands->run(cp, {QStringLiteral("-a"), QStringLiteral("--"), found, staging});
                if (copied.status != 0 || !QDir().rename(staging, root))
                    removeAt(staging);
            }
            if (existsAt(root) && !QFileInfo::exists(root + QStringLiteral("/config.inc.php")))
                QFile::copy(root + QStringLiteral("/config.sample.inc.php"), root + QStringLiteral("/config.inc.php"));
        }();

        Dispatch::main<AppModel>(weak, [outcome](AppModel* model) {
            model->m_phpMyAdminInstalling = false;
            const bool open = std::exchange(model->m_phpMyAdminOpenAfterInstall, false);
            if (outcome.error) {
                model->setStatusMessage(*outcome.error);
                return;
            }
            // The configuration is written here, on the main thread, where the secret is kept.
            model->configurePhpMyAdmin();
            model->setStatusMessage(QStringLiteral("phpMyAdmin installed."));
            model->m_phpMyAdminJustInstalled = true;
            model->ensurePhpMyAdminInstalledAndStart(open);
        });
    });
}

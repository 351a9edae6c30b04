#include "app/AppModel.h"

#include "app/ConfigWriter.h"
#include "app/DocumentRoot.h"

#include "platform/Dispatch.h"
#include "platform/FileSystem.h"
#include "platform/Files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>

#include <cstdio>

namespace {

const QString kOldFolderMarker = QStringLiteral("/KoVani/");

const QFileDevice::Permissions kPrivateFolder = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// The largest settings file read; anything larger is set aside like an unreadable one.
constexpr qint64 kMaxConfigBytes = 64 * 1024 * 1024;

// Moves an unusable config.json aside (or, failing that, copies a regular file) so that no later
// save destroys what it held. Returns the name it is kept under, or nothing when it could not be
// kept. Nothing here opens the entry unless it is a regular file: a FIFO would wait for a writer.
std::optional<QString> preserveUnusableConfig(const QString& configPath)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    const QString base = configPath + QStringLiteral(".unreadable-") + stamp;
    QString target = base;
    for (int n = 2; FileSystem::entryExists(target); ++n)
        target = base + u'-' + QString::number(n);
    if (::rename(QFile::encodeName(configPath).constData(), QFile::encodeName(target).constData()) == 0)
        return QFileInfo(target).fileName();
    const FileSystem::ReadResult read = FileSystem::readRegularFile(configPath, kMaxConfigBytes);
    if (read.outcome == FileSystem::ReadOutcome::ok && Files::writeWholeFile(target, read.bytes, /*privateFile=*/true))
        return QFileInfo(target).fileName();
    return std::nullopt;
}

} // namespace

void AppModel::bootstrapStorage()
{
    if (m_appSupport.isEmpty())
        return;
    for (const QString& folder : {m_appSupport, m_sitesURL, m_logsURL, m_toolsURL, m_routersURL, phpUserIniFolder()})
        Files::makePath(folder);
    // The storage folder holds passwords (config.json): keep it private.
    QFile::setPermissions(m_appSupport, kPrivateFolder);

    const QString defaultSite = m_sitesURL + QStringLiteral("/default");
    const QString target = defaultSite + QStringLiteral("/index.php");
    if (!QFileInfo::exists(target)) {
        Files::makePath(defaultSite);
        const QString resource = m_platform.resourcesDir + QStringLiteral("/default-site/index.php");
        if (QFileInfo(resource).isFile())
            QFile::copy(resource, target);
    }
}

void AppModel::loadConfig()
{
    if (m_configURL.isEmpty())
        return;
    if (!FileSystem::entryExists(m_configURL)) {
        saveConfig();
        return;
    }
    // Only a regular file is read, without waiting: a FIFO, a device or a folder in its place is
    // set aside like a file that cannot be read.
    const FileSystem::ReadResult read = FileSystem::readRegularFile(m_configURL, kMaxConfigBytes);
    std::optional<AppConfig> decoded;
    if (read.outcome == FileSystem::ReadOutcome::ok)
        decoded = ConfigCoding::decode(read.bytes);
    if (!decoded) {
        const std::optional<QString> kept = preserveUnusableConfig(m_configURL);
        if (kept) {
            // Nothing is at config.json any more: the defaults are written as for a first start.
            saveConfig();
        }
        const QString message = kept ? QStringLiteral("Settings could not be read; the file was kept as ") + *kept
                                     : QStringLiteral("Settings could not be read, and the file could not be kept aside.");
        setStatusMessage(message);
        // The start-up's next lines replace the status line at once: the notice stays until the
        // user dismisses it or opens the storage folder that holds the file.
        setNotice(Notice{message, m_appSupport});
        return;
    }
    setConfig(*decoded);
    migrateConfigIfNeeded();
}

void AppModel::migrateConfigIfNeeded()
{
    const QString defaultSiteRoot = m_sitesURL + QStringLiteral("/default");
    const QString defaultPhpMyAdminRoot = m_toolsURL + QStringLiteral("/phpMyAdmin");
    // Paths inside the storage folder of earlier versions are moved onto the current one.
    const QString oldStorage = m_platform.applicationSupport + kOldFolderMarker;
    auto rebased = [&](const QString& path) -> std::optional<QString> {
        if (!path.startsWith(oldStorage))
            return std::nullopt;
        return m_appSupport + u'/' + path.mid(oldStorage.size());
    };

    AppConfig c = m_config;
    bool changed = false;

    if (c.phpMyAdminRoot.isEmpty()) {
        c.phpMyAdminRoot = defaultPhpMyAdminRoot;
        changed = true;
    } else if (auto moved = rebased(c.phpMyAdminRoot)) {
        c.phpMyAdminRoot = QDir::cleanPath(*moved);
        changed = true;
    }
    if (c.mysqlPassword.isEmpty()) {
        c.mysqlPassword = QStringLiteral("kelp");
        changed = true;
    }
    // Read through a const view, so that the list is copied only when a project is repaired.
    const QString current = QDir::currentPath();
    for (qsizetype i = 0; i < c.projects.size(); ++i) {
        const Project& p = std::as_const(c.projects)[i];
        QString root = p.root;
        if (root.isEmpty())
            root = defaultSiteRoot;
        else if (auto moved = rebased(root))
            root = QDir::cleanPath(*moved);
        root = DocumentRoot::resolvedIn(root, current);
        const bool repairRoot = root != p.root;
        const bool repairPassword = p.databasePassword.isEmpty();
        if (!repairRoot && !repairPassword)
            continue;
        Project& repaired = c.projects[i];
        if (repairRoot)
            repaired.root = root;
        if (repairPassword)
            repaired.databasePassword = c.mysqlPassword;
        changed = true;
    }
    if (changed) {
        setConfig(c);
        saveConfig();
    }
}

void AppModel::saveConfig()
{
    if (m_configURL.isEmpty())
        return;
    if (!m_configWriter) {
        // A failure arrives after the operation that saved has set its own outcome, so it is what
        // the status line keeps.
        QPointer<AppModel> weak(this);
        m_configWriter = std::make_unique<ConfigWriter>(m_configURL, m_appSupport, [weak](const QString& reason) {
            Dispatch::main<AppModel>(weak, [reason](AppModel* model) {
                model->setStatusMessage(QStringLiteral("Could not save settings: ") + reason);
            });
        });
    }
    m_configWriter->save(m_config);
}

bool AppModel::waitForConfigWrites(int timeoutMs) const
{
    return !m_configWriter || m_configWriter->waitUntilWritten(timeoutMs);
}


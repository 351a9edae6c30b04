#include "app/AppModel.h"

#include "app/ConfigWriter.h"

#include "platform/Dispatch.h"
#include "platform/Text.h"
#include "platform/UserDefaults.h"

#include <QPointer>

namespace {

void traceStartup(const Platform& platform, const QString& step)
{
    if (platform.startupTrace)
        platform.startupTrace(step);
}

} // namespace

AppModel::AppModel()
    : AppModel(Platform())
{
}

AppModel::AppModel(Platform platform)
    : QObject(nullptr)
    , m_platform(std::move(platform))
{
    m_userDefaults = std::make_unique<UserDefaults>(m_platform.userDefaultsFile);

    // Storage folders. Without a storage folder every path stays empty and nothing is written.
    m_appSupport = m_platform.storageRoot;
    if (!m_appSupport.isEmpty()) {
        m_configURL = m_appSupport + QStringLiteral("/config.json");
        m_sitesURL = m_appSupport + QStringLiteral("/Sites");
        m_logsURL = m_appSupport + QStringLiteral("/Logs");
        m_toolsURL = m_appSupport + QStringLiteral("/Tools");
        m_routersURL = m_appSupport + QStringLiteral("/Routers");
    }

    m_config = AppConfig::defaults(m_appSupport);

    bootstrapStorage();
    loadConfig();

    // Snapshots the ports here and does its work on the utility queue.
    if (m_platform.runOrphanCleanup) {
        traceStartup(m_platform, QStringLiteral("cleanupOrphanedPHPServers"));
        cleanupOrphanedPHPServers();
    }

    if (m_platform.runDeferredStartup) {
        QPointer<AppModel> weak(this);
        Dispatch::after(600, this, [weak]() {
            if (AppModel* model = weak.data())
                model->deferredStartup();
        });
    }
}

AppModel::~AppModel() = default;

void AppModel::deferredStartup()
{
    // The restore only starts here (reading the token, then the request); nothing below waits
    // for it.
    restoreSessionFromSecureToken();
    traceStartup(m_platform, QStringLiteral("autoStartDatabase"));
    autoStartDatabase();
    traceStartup(m_platform, QStringLiteral("refreshPHPVersions"));
    QPointer<AppModel> weak(this);
    refreshPHPVersions([weak]() {
        if (AppModel* model = weak.data()) {
            traceStartup(model->m_platform, QStringLiteral("autoStartPhpMyAdmin"));
            model->autoStartPhpMyAdmin();
        }
    });
}

// ---- Published state ------------------------------------------------------------------------

void AppModel::setConfig(const AppConfig& config)
{
    if (m_config == config)
        return;
    m_config = config;
    emit configChanged();
}

void AppModel::modifyConfig(const std::function<void(AppConfig&)>& change)
{
    AppConfig copy = m_config;
    change(copy);
    setConfig(copy);
}

using RunningMap = QMap<QString, qint32>;

#define KOVANI_SETTER(Type, name, member, signal) \
    void AppModel::name(Type value)               \
    {                                             \
        if (member == value)                      \
            return;                               \
        member = value;                           \
        emit signal();                            \
    }

KOVANI_SETTER(const QList<PHPVersion>&, setPhpVersions, m_phpVersions, phpVersionsChanged)
KOVANI_SETTER(std::optional<qint32>, setPhpMyAdminPid, m_phpMyAdminPid, phpMyAdminPidChanged)
KOVANI_SETTER(bool, setIsDatabaseRunning, m_isDatabaseRunning, isDatabaseRunningChanged)
KOVANI_SETTER(const QString&, setDatabaseStatus, m_databaseStatus, databaseStatusChanged)
KOVANI_SETTER(const QString&, setSelectedLog, m_selectedLog, selectedLogChanged)
KOVANI_SETTER(bool, setIsCreatingWebsite, m_isCreatingWebsite, isCreatingWebsiteChanged)
KOVANI_SETTER(const QString&, setWebsiteCreationProgress, m_websiteCreationProgress, websiteCreationProgressChanged)

#undef KOVANI_SETTER

// The status line carries servers' and tools' output: cut and freed of line breaks at its ends
// before any label shows it.
void AppModel::setStatusMessage(const QString& message)
{
    setStatusMessage(StatusText(message));
}

void AppModel::setStatusMessage(const StatusText& message)
{
    const QString line = Text::statusLine(message.text, message.excerptLength);
    const QString whole = Text::statusLineUncut(message.text);
    m_lastStatus = message;
    if (m_statusMessage == line && m_wholeStatusMessage == whole)
        return;
    m_statusMessage = line;
    m_wholeStatusMessage = whole;
    emit statusMessageChanged();
}

void AppModel::setNotice(const std::optional<Notice>& notice)
{
    if (m_notice == notice)
        return;
    m_notice = notice;
    emit noticeChanged();
}

void AppModel::openNoticeFolder()
{
    if (!m_notice)
        return;
    const QString folder = m_notice->folder;
    dismissNotice();
    openURL(QUrl::fromLocalFile(folder));
}

void AppModel::openURL(const QUrl& url)
{
    if (!m_platform.openURL)
        return;
    QPointer<AppModel> model(this);
    const QString address = url.toDisplayString();
    m_platform.openURL(url, [model, address](const QString& reason) {
        if (model)
            model->setStatusMessage(QStringLiteral("Could not open %1: %2.").arg(address, reason));
    });
}

void AppModel::setRunningProjects(const RunningMap& running)
{
    if (m_runningProjects == running)
        return;
    // The ids whose entry appeared, went or changed: both maps walked once, in key order.
    QStringList changed;
    auto a = m_runningProjects.cbegin();
    auto b = running.cbegin();
    while (a != m_runningProjects.cend() || b != running.cend()) {
        if (b == running.cend() || (a != m_runningProjects.cend() && a.key() < b.key())) {
            changed.append(a.key());
            ++a;
        } else if (a == m_runningProjects.cend() || b.key() < a.key()) {
            changed.append(b.key());
            ++b;
        } else {
            if (a.value() != b.value())
                changed.append(a.key());
            ++a;
            ++b;
        }
    }
    m_runningProjects = running;
    emit runningProjectsChanged();
    for (const QString& id : std::as_const(changed))
        emit projectChanged(id);
}

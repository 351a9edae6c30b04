#include "app/AppModel.h"

// Website servers and the router script. (Being built.)

void AppModel::startInternal(const Project&) {}
QString AppModel::routerScript(const Project& project) { return m_routersURL + u'/' + project.id + QStringLiteral("-router.php"); }
void AppModel::stopProcess(const QString&) {}
void AppModel::stopAllProjects() {}
void AppModel::shutdown() {}
void AppModel::cleanupOrphanedPHPServers() {}
qint64 AppModel::suggestedWebsitePort() const { return 8082; }
void AppModel::showLog(const QString&) {}
bool AppModel::hasRunningWebsites() const { return false; }
bool AppModel::isStarting(const QString& id) const { return m_processes.contains(id) && !m_runningProjects.contains(id); }
bool AppModel::isRunning(const QString& id) const { return m_runningProjects.contains(id); }

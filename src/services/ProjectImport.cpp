#include "app/AppModel.h"

// Import of existing websites and project edits. (Being built.)

bool AppModel::addProject(const QString&, const QString&, qint64, const QString&, const QString&, const QString&) { return false; }
void AppModel::createDatabaseIfNeeded(const QString&) {}
void AppModel::updateProjectPath(const Project&, const QString&) {}
QString AppModel::projectEnv(const Project&) const { return {}; }

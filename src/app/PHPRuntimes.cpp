#include "app/AppModel.h"

// PHP runtime discovery and selection. (Being built.)

void AppModel::refreshPHPVersions(std::function<void()> completion)
{
    if (completion)
        completion();
}
void AppModel::selectPHP(const QString&) {}
std::optional<PHPVersion> AppModel::selectedPHP() const { return std::nullopt; }
std::optional<Project> AppModel::activeProject() const { return std::nullopt; }
QStringList AppModel::phpCandidates() const { return {}; }
QStringList AppModel::nestedPHP(const QString&) { return {}; }
QStringList AppModel::homebrewPHP(const QString&) { return {}; }
int AppModel::compareVersion(const QString&, const QString&) { return 0; }
QStringList AppModel::phpRuntimeArguments(const QStringList& arguments, const QString&) const { return arguments; }
Process::Environment AppModel::phpEnvironment(const QString&) const { return Process::currentEnvironment(); }

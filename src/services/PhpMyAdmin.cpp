#include "app/AppModel.h"

// The shared phpMyAdmin. (Being built.)

void AppModel::autoStartPhpMyAdmin() {}
void AppModel::openPhpMyAdmin() {}
void AppModel::ensurePhpMyAdminInstalledAndStart(bool) {}
void AppModel::installPhpMyAdmin(bool) {}
void AppModel::configurePhpMyAdmin() {}
void AppModel::openPhpMyAdminAfterStart() {}
std::optional<QString> AppModel::phpMyAdminBlowfishSecret() { return std::nullopt; }
QString AppModel::setPHPConfig(const QString& text, const QString&, const QString&) { return text; }
Project AppModel::phpMyAdminProject(const AppConfig&) { return {}; }

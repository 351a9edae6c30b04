#include "app/AppModel.h"

// The shared MySQL server. (Being built.)

void AppModel::autoStartDatabase() {}
void AppModel::checkMySQL() {}
void AppModel::changeMySQLPassword(const QString&, const QString&) {}
std::optional<QString> AppModel::createDatabase(const QString&, const MySQLSettings&) const { return QStringLiteral("Not available."); }

#include "app/AppModel.h"

#include "platform/Dispatch.h"
#include "platform/Text.h"
#include "services/MySQLClient.h"
#include "services/ProjectIds.h"
#include "services/ServiceCommands.h"

#include <QFileInfo>
#include <QPointer>

namespace {

// The shared phpMyAdmin is served under this id, so no website may take it.
const QString kReservedId = QStringLiteral("phpmyadmin");

QString importedMessage(const QString& databaseName)
{
    return QStringLiteral("Website imported. Database ") + databaseName + QStringLiteral(" is ready in shared phpAdmin.");
}

} // namespace

bool AppModel::addProject(const QString& name, const QString& root, qint64 port, const QString& databaseName,
                          const QString& databaseUser, const QString& databasePassword)
{
    const QString trimmedName = Text::trimmed(name);
    if (trimmedName.isEmpty()) {
        setStatusMessage(QStringLiteral("Project name is required."));
        return false;
    }
    if (!QFileInfo::exists(root)) {
        setStatusMessage(QStringLiteral("Project path does not exist."));
        return false;
    }
    const QString documentRoot = resolvedDocumentRoot(root);
    if (!QFileInfo::exists(documentRoot + QStringLiteral("/index.php"))) {
        setStatusMessage(QStringLiteral("Project index.php was not found. Choose the Laravel project folder, its public "
                                        "folder, or a PHP/WordPress folder that contains index.php."));
        return false;
    }
    // The port must be one the server can listen on.
    if (port < 1 || port > 65535) {
        setStatusMessage(QStringLiteral("Website port must be between 1 and 65535."));
        return false;
    }
    if (port == m_config.phpMyAdminPort) {
        setStatusMessage(QStringLiteral("Port ") + QString::number(port)
                         + QStringLiteral(" is reserved for shared phpAdmin. Choose another website port."));
        return false;
    }
    for (const Project& existing : m_config.projects) {
        if (existing.port == port) {
            setStatusMessage(QStringLiteral("Port ") + QString::number(port)
                             + QStringLiteral(" is already used by another website."));
            return false;
        }
    }
    const QString id = slug(trimmedName);
    bool duplicate = id == kReservedId;
    for (const Project& existing : m_config.projects)
        duplicate = duplicate || existing.id == id;
    if (duplicate) {
        setStatusMessage(QStringLiteral("Project already exists: ") + trimmedName);
        return false;
    }
    // The id names the website's log and router files.
    if (id.isEmpty()) {
        setStatusMessage(QStringLiteral("Project name must contain a letter or a digit."));
        return false;
    }
    if (!ProjectIds::isSafe(id)) {
        setStatusMessage(ProjectIds::refusal(id));
        return false;
    }

    Project project;
    project.id = id;
    project.name = trimmedName;
    project.root = documentRoot;
    project.port = port;
    const QString trimmedDatabase = Text::trimmed(databaseName);
    project.databaseName = trimmedDatabase.isEmpty() ? id : trimmedDatabase;
    project.databaseUser = databaseUser;
    project.databasePassword = databasePassword.isEmpty() ? m_config.mysqlPassword : databasePassword;

    modifyConfig([&](AppConfig& config) { config.projects.append(project); });
    saveConfig();
    createDatabaseIfNeeded(project.databaseName);
    setStatusMessage(importedMessage(project.databaseName));
    return true;
}

void AppModel::createDatabaseIfNeeded(const QString& name)
{
    // The job works on copies (the tools and the global credentials, never the project's own user
    // and password) and never touches the model, which may go before it ends (quitting stops its
    // client).
    const MySQLSettings settings = MySQLSettings::from(m_config);
    const ToolPaths tools = m_platform.tools;
    const std::shared_ptr<MySQLClient> mysql = m_mysqlClients.client();
    const int limit = m_platform.mysqlTimeLimits.databaseCreationMs;
    QPointer<AppModel> weak(this);
    Dispatch::userInitiated([weak, tools, mysql, limit, name, settings]() {
        const std::optional<StatusText> error = ServiceCommands::createDatabase(tools, name, settings, *mysql, limit);
        Dispatch::main([weak, name, error]() {
            AppModel* model = weak.data();
            if (!model)
                return;
            if (error)
                model->setStatusMessage(error->after(QStringLiteral("Website imported, but ")));
            else
                model->setStatusMessage(importedMessage(name));
        });
    });
}

void AppModel::updateProjectPath(const Project& project, const QString& root)
{
    qsizetype index = -1;
    for (qsizetype i = 0; i < m_config.projects.size(); ++i) {
        if (m_config.projects[i].id == project.id) {
            index = i;
            break;
        }
    }
    if (index < 0)
        return;
    const Project current = m_config.projects[index];
    if (m_runningProjects.contains(current.id)) {
        stopProcess(current.id);
        setStatusMessage(current.name + QStringLiteral(" stopped."));
    }
    const QString documentRoot = resolvedDocumentRoot(root);
    modifyConfig([&](AppConfig& config) { config.projects[index].root = documentRoot; });
    saveConfig();
    setStatusMessage(QStringLiteral("Project path updated."));
}

QString AppModel::projectEnv(const Project& project) const
{
    const QString port = QString::number(project.port);
    const QStringList lines = {
        QStringLiteral("APP_URL=http://localhost:") + port,
        QStringLiteral("APP_URL_ALT=http://127.0.0.1:") + port,
        QStringLiteral("DB_CONNECTION=mysql"),
        QStringLiteral("DB_HOST=") + m_config.mysqlHost,
        QStringLiteral("DB_PORT=") + QString::number(m_config.mysqlPort),
        QStringLiteral("DB_DATABASE=") + (project.databaseName.isEmpty() ? slug(project.name) : project.databaseName),
        QStringLiteral("DB_USERNAME=") + (project.databaseUser.isEmpty() ? m_config.mysqlUser : project.databaseUser),
        QStringLiteral("DB_PASSWORD=") + (project.databasePassword.isEmpty() ? m_config.mysqlPassword : project.databasePassword),
    };
    return lines.join(u'\n');
}

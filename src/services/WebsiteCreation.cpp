#include "services/WebsiteCreation.h"

#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "platform/Graphemes.h"
#include "platform/Text.h"
#include "services/ServiceCommands.h"
#include "services/WebsiteScaffolding.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

// Creation of Laravel and WordPress websites: acceptance on the main thread, then one work item
// on the user-initiated queue (scaffold, database, Laravel migration), then the result on the
// main thread.

namespace {

bool hasLineBreak(const QString& text)
{
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\n': case u'\r': case 0x0B: case 0x0C: case 0x85: case 0x2028: case 0x2029:
            return true;
        default:
            break;
        }
    }
    return false;
}

// Removes what a failed creation left at its destination. A link is removed as a link: its
// target is never emptied.
void removeDestination(const QString& destination)
{
    const QFileInfo info(destination);
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        QFile::remove(destination);
    else
        QDir(destination).removeRecursively();
}

} // namespace

namespace WebsiteCreation {

QString databaseName(const QString& databaseField, const QString& trimmedName)
{
    const QString source = databaseField.isEmpty() ? trimmedName : databaseField;
    QString result = AppModel::slug(Text::trimmed(source));
    result.replace(u'-', u'_');
    if (result.isEmpty())
        return QStringLiteral("website");
    // The first 64 user-perceived characters: a character is never cut in two.
    return Graphemes::left(result, 64);
}

QString destination(const QString& parentDirectory, const QString& slug)
{
    // The parent taken as an absolute directory, the slug appended as a directory.
    return QDir::cleanPath(QFileInfo(parentDirectory).absoluteFilePath() + u'/' + slug);
}

} // namespace WebsiteCreation

void AppModel::createWebsite(WebsiteTemplate websiteTemplate, const QString& name, const QString& parentDirectory,
                             qint64 port, const QString& databaseName, std::function<void(bool)> completion)
{
    const QString trimmedName = Text::trimmed(name);
    const QString websiteSlug = slug(trimmedName);
    const QString database = WebsiteCreation::databaseName(databaseName, trimmedName);
    const QString destination = WebsiteCreation::destination(parentDirectory, websiteSlug);
    const QString kind = WebsiteTemplates::rawValue(websiteTemplate);

    auto refuse = [&](const QString& message) {
        setStatusMessage(message);
        if (completion)
            completion(false);
    };

    if (m_isCreatingWebsite)
        return refuse(QStringLiteral("Another website is currently being created."));
    if (trimmedName.isEmpty() || websiteSlug.isEmpty())
        return refuse(QStringLiteral("Website name is required."));
    if (hasLineBreak(trimmedName))
        return refuse(QStringLiteral("Website name must be a single line."));
    if (parentDirectory.isEmpty() || !QFileInfo::exists(parentDirectory))
        return refuse(QStringLiteral("Parent folder does not exist."));
    if (QFileInfo::exists(destination) || QFileInfo(destination).isSymLink())
        return refuse(QStringLiteral("Destination already exists: ") + destination);
    if (port < 1 || port > 65535)
        return refuse(QStringLiteral("Website port must be between 1 and 65535."));
    if (port == m_config.phpMyAdminPort)
        return refuse(QStringLiteral("Port %1 is reserved for shared phpAdmin.").arg(port));
    for (const Project& project : m_config.projects)
        if (project.port == port)
            return refuse(QStringLiteral("Port %1 is already used by another website.").arg(port));
    for (const Project& project : m_config.projects)
        if (project.id == websiteSlug)
            return refuse(QStringLiteral("A website named %1 already exists.").arg(trimmedName));
    // The shared phpMyAdmin is served under this id.
    if (websiteSlug == QStringLiteral("phpmyadmin"))
        return refuse(QStringLiteral("Project already exists: ") + trimmedName);
    const std::optional<PHPVersion> php = selectedPHP();
    if (!php || !php->supported)
        return refuse(QStringLiteral("PHP 8.5+ is required to create a website."));
    const MySQLSettings mysql = MySQLSettings::from(m_config);
    if (websiteTemplate == WebsiteTemplate::laravel
        && (hasLineBreak(mysql.host) || hasLineBreak(mysql.user) || hasLineBreak(mysql.password)))
        return refuse(QStringLiteral("The mySQL host, user and password must each be a single line for Laravel's .env file."));

    // The work gets copies of everything it needs and never touches the model. Destroying the
    // model cancels it: the running command is killed and no further one starts, so quitting
    // never waits for a download or an installer.
    const WebsiteScaffolding::Context context = WebsiteScaffolding::Context::from(*this, php->binary);
    m_websiteCreationCommands.hold(context.commands);

    setIsCreatingWebsite(true);
    const QString preparing = QStringLiteral("Preparing %1...").arg(kind);
    setWebsiteCreationProgress(preparing);
    setStatusMessage(preparing);

    const QString phpBinary = php->binary;
    const qint64 websitePort = port;
    const std::shared_ptr<MySQLClient> mysqlClient = m_mysqlClients.client();
    const int databaseLimit = m_platform.mysqlTimeLimits.databaseCreationMs;
    Dispatch::userInitiated([context, websiteTemplate, trimmedName, websiteSlug, database, destination, kind,
                             phpBinary, websitePort, mysql, mysqlClient, databaseLimit,
                             completion = std::move(completion)]() mutable {
        ServiceCommands::CancellableCommands& commands = *context.commands;
        // After a cancel every step fails; one that finished anyway is not carried on from.
        auto stopped = [&](std::optional<StatusText> failure) {
            if (!failure && commands.isCancelled())
                return std::optional<StatusText>(ServiceCommands::CancellableCommands::cancelledMessage());
            return failure;
        };
        std::optional<StatusText> failure;
        if (websiteTemplate == WebsiteTemplate::laravel)
            failure = WebsiteScaffolding::scaffoldLaravel(context, destination, trimmedName, websitePort, database,
                                                          phpBinary, mysql);
        else
            failure = WebsiteScaffolding::scaffoldWordPress(context, destination, database, mysql);
        failure = stopped(failure);
        if (!failure) {
            context.progress(QStringLiteral("Creating database %1...").arg(database));
            failure = stopped(
                ServiceCommands::createDatabase(context.tools, database, mysql, *mysqlClient, databaseLimit));
        }
        if (!failure && websiteTemplate == WebsiteTemplate::laravel)
            failure = stopped(WebsiteScaffolding::migrateLaravelDatabase(context, destination, phpBinary));

        const QPointer<AppModel> weak = context.model;
        if (failure) {
            removeDestination(destination);
            // A quit waiting for the cancelled creation may go on now.
            commands.finish();
            Dispatch::main([weak, message = *failure, completion = std::move(completion)]() {
                if (AppModel* model = weak.data()) {
                    model->setIsCreatingWebsite(false);
                    model->setWebsiteCreationProgress(QString());
                    model->setStatusMessage(message);
                }
                if (completion)
                    completion(false);
            });
            return;
        }

        commands.finish();
        Project project;
        project.id = websiteSlug;
        project.name = trimmedName;
        project.root = websiteTemplate == WebsiteTemplate::laravel ? destination + QStringLiteral("/public") : destination;
        project.port = websitePort;
        project.databaseName = database;
        project.databaseUser = mysql.user;
        project.databasePassword = mysql.password;
        Dispatch::main([weak, project, kind, database, destination, completion = std::move(completion)]() {
            AppModel* model = weak.data();
            if (!model) {
                // Nobody is left to register the website.
                removeDestination(destination);
                if (completion)
                    completion(false);
                return;
            }
            model->modifyConfig([&](AppConfig& config) { config.projects.append(project); });
            model->saveConfig();
            model->setIsCreatingWebsite(false);
            model->setWebsiteCreationProgress(QString());
            model->setStatusMessage(QStringLiteral("%1 website created. Database %2 is connected.").arg(kind, database));
            model->startInternal(project);
            if (completion)
                completion(true);
        });
    });
}

void AppModel::cancelWebsiteCreation()
{
    // The running command is killed with everything it started; the work then removes the
    // destination, which is waited for (briefly) so that quitting leaves nothing half-made.
    if (m_isCreatingWebsite)
        m_websiteCreationCommands.cancelAndWait(1000);
}

void AppModel::updateWebsiteCreationProgress(const QString& progress)
{
    QPointer<AppModel> weak(this);
    Dispatch::main([weak, progress]() {
        if (AppModel* model = weak.data()) {
            model->setWebsiteCreationProgress(progress);
            model->setStatusMessage(progress);
        }
    });
}

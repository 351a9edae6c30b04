#include "services/WebsiteCreation.h"

#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "platform/Text.h"
#include "services/WebsiteScaffolding.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <mutex>

// Creation of Laravel and WordPress websites: acceptance on the main thread, then one work item
// on the user-initiated queue (scaffold, database, Laravel migration), then the result on the
// main thread.

struct AppModel::WebsiteCreationWork {
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0; // work items not yet finished
    std::atomic<bool> abandoned{false};
};

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
    return result.left(64);
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
    const std::optional<PHPVersion> php = selectedPHP();
    if (!php || !php->supported)
        return refuse(QStringLiteral("PHP 8.5+ is required to create a website."));
    const MySQLSettings mysql = MySQLSettings::from(m_config);
    if (websiteTemplate == WebsiteTemplate::laravel
        && (hasLineBreak(mysql.host) || hasLineBreak(mysql.user) || hasLineBreak(mysql.password)))
        return refuse(QStringLiteral("The mySQL host, user and password must each be a single line for Laravel's .env file."));

    if (!m_websiteCreationWork) {
        m_websiteCreationWork = {new WebsiteCreationWork, +[](WebsiteCreationWork* work) {
                                     std::unique_lock lock(work->mutex);
                                     work->abandoned = true;
                                     work->finished.wait(lock, [work] { return work->running == 0; });
                                     lock.unlock();
                                     delete work;
                                 }};
    }
    WebsiteCreationWork* work = m_websiteCreationWork.get();
    {
        std::lock_guard lock(work->mutex);
        ++work->running;
    }

    setIsCreatingWebsite(true);
    const QString preparing = QStringLiteral("Preparing %1...").arg(kind);
    setWebsiteCreationProgress(preparing);
    setStatusMessage(preparing);

    const QString phpBinary = php->binary;
    const qint64 websitePort = port;
    QPointer<AppModel> weak(this);
    // The work reads only these copies and the file system.
    Dispatch::userInitiated([weak, this, work, websiteTemplate, trimmedName, websiteSlug, database, destination, kind,
                             phpBinary, websitePort, mysql, completion = std::move(completion)]() mutable {
        // Ends the work: after this the model may be gone.
        auto finish = [work]() {
            std::lock_guard lock(work->mutex);
            --work->running;
            work->finished.notify_all();
        };
        const std::optional<QString> abandoned = QStringLiteral("The website creation was abandoned.");
        std::optional<QString> failure;
        if (websiteTemplate == WebsiteTemplate::laravel)
            failure = WebsiteScaffolding::scaffoldLaravel(*this, destination, trimmedName, websitePort, database,
                                                          phpBinary, mysql);
        else
            failure = WebsiteScaffolding::scaffoldWordPress(*this, destination, database, mysql);
        if (!failure && work->abandoned)
            failure = abandoned;
        if (!failure) {
            updateWebsiteCreationProgress(QStringLiteral("Creating database %1...").arg(database));
            failure = createDatabase(database, mysql);
        }
        if (!failure && work->abandoned)
            failure = abandoned;
        if (!failure && websiteTemplate == WebsiteTemplate::laravel)
            failure = WebsiteScaffolding::migrateLaravelDatabase(*this, destination, phpBinary);
        if (!failure && work->abandoned)
            failure = abandoned;

        if (failure) {
            removeDestination(destination);
            Dispatch::main([weak, message = *failure, completion = std::move(completion)]() {
                if (AppModel* model = weak.data()) {
                    model->setIsCreatingWebsite(false);
                    model->setWebsiteCreationProgress(QString());
                    model->setStatusMessage(message);
                }
                if (completion)
                    completion(false);
            });
            finish();
            return;
        }

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
        finish();
    });
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

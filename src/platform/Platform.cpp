#include "platform/Platform.h"

#include "platform/UrlOpener.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace {

QString envOr(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

} // namespace

QString Platform::defaultResourcesDir()
{
    const QString fromEnv = qEnvironmentVariable("KOVANI_RESOURCES_DIR");
    if (!fromEnv.isEmpty())
        return QDir::cleanPath(fromEnv);
    const QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    return QDir::cleanPath(exeDir + QStringLiteral("/../Resources"));
}

Platform::Platform()
{
    applicationSupport = QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    // No Application Support folder means no storage folder (never "/Kovani").
    if (!applicationSupport.isEmpty())
        storageRoot = applicationSupport + QStringLiteral("/Kovani");
    resourcesDir = defaultResourcesDir();
    userDefaultsFile = QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        + QStringLiteral("/Kovani/defaults.ini");

    openURL = [](const QUrl& url, std::function<void(const QString&)> failed) {
        if (const std::optional<QString> reason = UrlOpener::open(url, failed); reason && failed)
            failed(*reason);
    };
    chooseFolder = []() {
        return QFileDialog::getExistingDirectory(nullptr, QString(), QString(),
                                                 QFileDialog::ShowDirsOnly);
    };

    // Base URL: the phpMyAdmin install appends "/downloads/phpMyAdmin-latest-all-languages.zip".
    phpMyAdminDownloadURL = envOr("KOVANI_PHPMYADMIN_URL", QStringLiteral("https://www.phpmyadmin.net"));
    // Base URLs: website creation appends the fixed paths "/download/latest-stable/composer.phar",
    // "/latest.zip" and "/secret-key/1.1/salt/".
    composerDownloadURL = envOr("KOVANI_COMPOSER_URL", QStringLiteral("https://getcomposer.org"));
    wordpressDownloadURL = envOr("KOVANI_WORDPRESS_URL", QStringLiteral("https://wordpress.org"));
    wordpressSaltURL = envOr("KOVANI_WORDPRESS_SALT_URL", QStringLiteral("https://api.wordpress.org"));
    accountApiBaseURL = envOr("KOVANI_ACCOUNT_API_URL", QStringLiteral(KOVANI_DEFAULT_ACCOUNT_API_URL));
}

#pragma once

#include "platform/ToolPaths.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

// Everything the model needs from the outside world that a test must be able to control. The
// default constructor gives the real ones.
struct Platform {
    Platform();

    // The user's Application Support folder and, inside it, the program's storage folder "Kovani".
    QString applicationSupport;
    QString storageRoot;
    // The bundle's Contents/Resources folder.
    QString resourcesDir;
    // Where user defaults are kept (an ini file).
    QString userDefaultsFile;

    ToolPaths tools;

    // Prepended to every fixed place where PHP is looked for ("/opt/homebrew/bin/php", ...);
    // empty in the application. Tests point it at a fixture tree.
    QString phpSearchPrefix;
    // Whether `which php` adds a candidate.
    bool phpSearchWhich = true;

    // Start-up work that tests switch off.
    bool runDeferredStartup = true;
    bool runOrphanCleanup = true;
    // Test hooks of the start-up sequence, unset in the application. `startupTrace` is called
    // with the name of each start-up operation just before it runs ("cleanupOrphanedPHPServers",
    // "readSecureToken", "restoreSessionFromSecureToken", "autoStartDatabase",
    // "refreshPHPVersions", "autoStartPhpMyAdmin"). `sessionToken`, when set, is read in place
    // of the keychain token by the deferred start-up.
    std::function<void(const QString& step)> startupTrace;
    std::function<std::optional<QString>()> sessionToken;

    // Opens a URL with the default handler; the result is ignored.
    std::function<void(const QUrl&)> openURL;
    // A modal one-folder chooser; returns the chosen folder's path, or empty when cancelled.
    std::function<QString()> chooseFolder;

    // Download and service locations: HTTPS base URLs (scheme, host, optional port) to which the
    // fixed paths are appended; tests point them at loopback servers.
    QString phpMyAdminDownloadURL;
    QString composerDownloadURL;
    QString wordpressDownloadURL;
    QString wordpressSaltURL;
    QString accountApiBaseURL; // the account service, ending in "/api"

    // A download that moves no byte for this many seconds fails; tests shorten it.
    int downloadStallSeconds = 60;

    // The bundle resources folder next to the executable (Contents/MacOS/../Resources), or the
    // KOVANI_RESOURCES_DIR environment variable when set.
    static QString defaultResourcesDir();
};

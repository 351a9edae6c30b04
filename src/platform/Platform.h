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
    // The socket of the system's MySQL server, the default of the bundled runtime's mysqli and
    // PDO where the private server has none.
    QString systemMySQLSocket = QStringLiteral("/run/mysqld/mysqld.sock");

    // Prepended to every fixed place where PHP is looked for ("/opt/homebrew/bin/php", ...);
    // empty in the application. Tests point it at a fixture tree.
    QString phpSearchPrefix;
    // Whether `which php` adds a candidate.
    bool phpSearchWhich = true;

    // Start-up work that tests switch off.
    bool runDeferredStartup = true;
    bool runOrphanCleanup = true;
    // What the launch found that holds for the whole run (whether another instance runs could
    // not be told), shown in the window's footer; empty when there is nothing.
    QString launchNotice;
    // Test hooks of the start-up sequence, unset in the application. `startupTrace` is called
    // with the name of each start-up operation just before it runs ("cleanupOrphanedPHPServers",
    // "readSecureToken", "restoreSessionFromSecureToken", "autoStartDatabase",
    // "refreshPHPVersions", "autoStartPhpMyAdmin"). `sessionToken`, when set, is read in place
    // of the keychain token by the deferred start-up.
    std::function<void(const QString& step)> startupTrace;
    std::function<std::optional<QString>()> sessionToken;
    // Called on the clean-up's own thread once the orphan clean-up has signalled what it found.
    std::function<void()> orphanCleanupFinished;

    // Opens a URL with the desktop's default handler; `failed` gets the reason when nothing
    // opened (on the main thread, at once or later). See UrlOpener.
    std::function<void(const QUrl&, std::function<void(const QString& reason)> failed)> openURL;
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

    // Time limits of the MySQL client calls, in milliseconds: a client still running then is
    // killed and the call counts as unanswered. Tests shorten them.
    struct MySQLTimeLimits {
        int probeMs = 10000;               // the default login's "SELECT 1;"
        int passwordPreparationMs = 20000; // giving a fresh root the default password
        int pingMs = 5000;
        int passwordChangeMs = 20000;
        int databaseCreationMs = 30000;
    };
    MySQLTimeLimits mysqlTimeLimits;

    // The bundle resources folder next to the executable (Contents/MacOS/../Resources), or the
    // KOVANI_RESOURCES_DIR environment variable when set.
    static QString defaultResourcesDir();
};

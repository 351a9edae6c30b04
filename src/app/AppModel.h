#pragma once

#include "account/APIClient.h"
#include "app/AppConfig.h"
#include "app/CommandResult.h"
#include "app/Notice.h"
#include "app/StatusText.h"
#include "platform/DomainError.h"
#include "platform/Keychain.h"
#include "platform/Platform.h"
#include "platform/Process.h"
#include "services/MySQLClient.h"
#include "services/RunningProcess.h"
#include "services/ServiceCommands.h"
#include "signin/GoogleOAuthConfig.h"

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class ConfigWriter;
class UserDefaults;
struct SignInResult;

// The one model of the application. Published state is read and written on the main thread only;
// every setter emits its own change signal when the value changes.
class AppModel : public QObject {
    Q_OBJECT

public:
    AppModel();
    explicit AppModel(Platform platform);
    ~AppModel() override;

    // ---- Published state -------------------------------------------------------------------
    const AppConfig& config() const { return m_config; }
    void setConfig(const AppConfig& config);
    // In-place change of the settings; emits configChanged when something changed.
    void modifyConfig(const std::function<void(AppConfig&)>& change);

    const QList<PHPVersion>& phpVersions() const { return m_phpVersions; }
    void setPhpVersions(const QList<PHPVersion>& versions);

    const QMap<QString, qint32>& runningProjects() const { return m_runningProjects; }
    void setRunningProjects(const QMap<QString, qint32>& running);

    std::optional<qint32> phpMyAdminPid() const { return m_phpMyAdminPid; }
    void setPhpMyAdminPid(std::optional<qint32> pid);

    bool isDatabaseRunning() const { return m_isDatabaseRunning; }
    void setIsDatabaseRunning(bool running);

    const QString& databaseStatus() const { return m_databaseStatus; }
    void setDatabaseStatus(const QString& status);

    // Stores Text::statusLine(message): no line break at either end, at most 300 characters. A
    // message that ends with an excerpt of a log keeps the excerpt's end instead of its start.
    const QString& statusMessage() const { return m_statusMessage; }
    void setStatusMessage(const QString& message);
    void setStatusMessage(const StatusText& message);
    // The last message as it was given (without line breaks at its ends), before the cap;
    // statusMessageChanged tells of its changes too.
    const QString& wholeStatusMessage() const { return m_wholeStatusMessage; }

    // The notice that stays shown until the user acts on it; none most of the time.
    const std::optional<Notice>& notice() const { return m_notice; }
    void setNotice(const std::optional<Notice>& notice);
    void dismissNotice() { setNotice(std::nullopt); }
    // Opens the notice's folder with the desktop's handler; the notice has then been acted on.
    void openNoticeFolder();

    const QString& selectedLog() const { return m_selectedLog; }
    void setSelectedLog(const QString& log);

    bool isCreatingWebsite() const { return m_isCreatingWebsite; }
    void setIsCreatingWebsite(bool creating);

    const QString& websiteCreationProgress() const { return m_websiteCreationProgress; }
    void setWebsiteCreationProgress(const QString& progress);

    // ---- Storage folders (fixed at construction) -------------------------------------------
    const QString& appSupport() const { return m_appSupport; }
    const QString& configURL() const { return m_configURL; }
    const QString& sitesURL() const { return m_sitesURL; }
    const QString& logsURL() const { return m_logsURL; }
    const QString& toolsURL() const { return m_toolsURL; }
    const QString& routersURL() const { return m_routersURL; }
    const Platform& platform() const { return m_platform; }
    UserDefaults& userDefaults() const { return *m_userDefaults; }
    // Opens an address (a website, phpMyAdmin, a link) with the desktop's default handler; when
    // nothing opens, the status line says what and why.
    void openURL(const QUrl& url);

    // ---- Settings file ---------------------------------------------------------------------
    void bootstrapStorage();
    void loadConfig();
    // Hands a snapshot of the settings to the background writer and returns at once; a write that
    // fails is reported in the status line when it has failed.
    void saveConfig();
    // Waits until every save so far is on disk (or has failed); false when `timeoutMs` passed
    // first. Quitting waits here; tests do too before they read the file.
    bool waitForConfigWrites(int timeoutMs) const;
    // Model-free helpers, each in the file of its concept: app/DocumentRoot.cpp, app/Slug.cpp.
    static QString resolvedDocumentRoot(const QString& folder);
    static QString slug(const QString& text);

    // ---- External commands (blocking; any thread) ------------------------------------------
    QString run(const QString& executable, const QStringList& arguments,
                const std::optional<Process::Environment>& environment = std::nullopt) const;
    CommandResult runCommand(const QString& executable, const QStringList& arguments,
                             const std::optional<Process::Environment>& environment = std::nullopt,
                             const QString& currentDirectory = QString()) const;
    // Model-free helper in app/ShortOutput.cpp.
    static QString shortOutput(const QString& output);

    // ---- PHP runtimes ----------------------------------------------------------------------
    void refreshPHPVersions(std::function<void()> completion = {});
    void selectPHP(const QString& binary);
    std::optional<PHPVersion> selectedPHP() const;
    std::optional<Project> activeProject() const;
    QStringList phpCandidates() const;
    static QStringList nestedPHP(const QString& folder);
    static QStringList homebrewPHP(const QString& cellar);
    // Model-free helper in app/VersionComparison.cpp.
    static int compareVersion(const QString& a, const QString& b);
    QStringList phpRuntimeArguments(const QStringList& arguments, const QString& binary) const;
    Process::Environment phpEnvironment(const QString& binary) const;
    // phpEnvironment() with the workers of a website server.
    Process::Environment serverEnvironment(const QString& binary) const;
    // The folder of the user's own ini files for the bundle's runtime ("PHP" in the storage
    // folder); empty without a storage folder.
    QString phpUserIniFolder() const;

    // ---- Website servers -------------------------------------------------------------------
    void startInternal(const Project& project);
    // Writes the router script; its path, and the reason in `error` when it could not be written.
    QString routerScript(const Project& project, QString* error = nullptr);
    void stopProcess(const QString& id);
    void stopAllProjects();
    void shutdown();
    // Snapshots what it needs on the calling thread; one walk of /proc runs on the utility queue.
    void cleanupOrphanedPHPServers();
    qint64 suggestedWebsitePort() const;
    // Reads the end of the log off the main thread; selectedLog follows once it is read.
    void showLog(const QString& id);
    // Whether the website has a log file: known from one listing of the Logs folder, kept up to
    // date by the starts that create logs.
    bool hasLog(const QString& id) const;
    bool hasRunningWebsites() const;
    // Run state derived from the two maps.
    bool isStarting(const QString& id) const;
    bool isRunning(const QString& id) const;

    // ---- Import and project edits ----------------------------------------------------------
    bool addProject(const QString& name, const QString& root, qint64 port, const QString& databaseName,
                    const QString& databaseUser, const QString& databasePassword);
    void createDatabaseIfNeeded(const QString& name);
    void updateProjectPath(const Project& project, const QString& root);
    QString projectEnv(const Project& project) const;

    // ---- Shared MySQL server ---------------------------------------------------------------
    void autoStartDatabase();
    void checkMySQL();
    void changeMySQLPassword(const QString& currentPassword, const QString& newPassword);
    // Blocking; background queues only. Nothing on success, else an error text.
    std::optional<StatusText> createDatabase(const QString& name, const MySQLSettings& settings) const;

    // ---- Shared phpMyAdmin -----------------------------------------------------------------
    void autoStartPhpMyAdmin();
    void openPhpMyAdmin();

    // ---- Website creation ------------------------------------------------------------------
    void createWebsite(WebsiteTemplate websiteTemplate, const QString& name, const QString& parentDirectory,
                       qint64 port, const QString& databaseName, std::function<void(bool)> completion);
    void updateWebsiteCreationProgress(const QString& progress);
    // Cancels a running creation and waits briefly for its clean-up; called when quitting.
    void cancelWebsiteCreation();

    // ---- Account session -------------------------------------------------------------------
    // Outcomes arrive later as statusMessage and, on success, config().user. A reply to a request
    // started before a logout() is dropped: it changes nothing and reports nothing.
    void login(const QString& name, const QString& email, const QString& password, const QString& mode);
    void restoreSessionFromSecureToken();
    void applyAuth(const AuthResponse& response, const QString& provider);
    void applyMe(const MeResponse& response, const QString& token, const QString& provider);
    // The stored session token, or nothing; `done` runs later on the main thread.
    void readSecureToken(std::function<void(const std::optional<QString>&)> done);
    void deleteSecureToken();
    QString deviceId();
    // Model-free helpers, each in the file of its concept: account/PasswordRules.cpp,
    // account/PasswordHash.cpp, account/Initials.cpp, account/EmailAddress.cpp.
    static std::optional<QString> passwordValidationError(const QString& password);
    static QString hash(const QString& text);
    static QString initials(const QString& name);
    static bool isValidEmail(const QString& trimmedEmail);
    void updateUser(const QString& name, const QString& email);
    void changePassword(const QString& currentPassword, const QString& newPassword);
    void sendPasswordReset(const QString& email);
    void logout();
    void continueWithGoogle();
    // The shared account client, pointed at this model's account service.
    APIClient& accountAPI();
    // Bumped by every logout().
    quint64 signOutGeneration() const { return m_signOutGeneration; }

signals:
    void configChanged();
    void phpVersionsChanged();
    void runningProjectsChanged();
    // A website's running entry changed, or it got its log: only its row needs redrawing.
    void projectChanged(const QString& id);
    void phpMyAdminPidChanged();
    void isDatabaseRunningChanged();
    void databaseStatusChanged();
    void statusMessageChanged();
    void noticeChanged();
    void selectedLogChanged();
    void isCreatingWebsiteChanged();
    void websiteCreationProgressChanged();

private:
    void migrateConfigIfNeeded();
    void deferredStartup();

    Platform m_platform;
    std::unique_ptr<UserDefaults> m_userDefaults;
    // Made by the first save; destroying it waits (bounded) for the last write.
    std::unique_ptr<ConfigWriter> m_configWriter;

    AppConfig m_config;
    QList<PHPVersion> m_phpVersions;
    QMap<QString, qint32> m_runningProjects;
    std::optional<qint32> m_phpMyAdminPid;
    bool m_isDatabaseRunning = false;
    QString m_databaseStatus = QStringLiteral("Checking database...");
    QString m_statusMessage = QStringLiteral("Ready");
    QString m_wholeStatusMessage = QStringLiteral("Ready");
    // The last message as given, with where its excerpt starts.
    StatusText m_lastStatus = StatusText(QStringLiteral("Ready"));
    std::optional<Notice> m_notice;
    QString m_selectedLog;
    bool m_isCreatingWebsite = false;
    QString m_websiteCreationProgress;

    QMap<QString, RunningProcess> m_processes;

    QString m_appSupport;
    QString m_configURL;
    QString m_sitesURL;
    QString m_logsURL;
    QString m_toolsURL;
    QString m_routersURL;

    // ---- Private state of the website servers (servers owner adds here) ---------------------
    // Opens the log empty as the task's output; returns the descriptor to close after launch.
    int attachLog(Process::Spec& task, const QString& logURL);
    void confirmProjectServer(const Project& project, const std::shared_ptr<ChildProcess>& process,
                              const QString& logURL);
    void serverExited(const Project& project, quint64 serial, int status);
    // Drops both entries of a server that is gone (and phpMyAdmin's published pid with it).
    void forgetServer(const QString& id);
    void forgetServers(const QStringList& ids);
    // Stops the registered servers together (one 1.5 s limit for all), then forgets them.
    void stopServers(const QStringList& ids);
    // Expires with the model; background probes test it instead of touching the model.
    std::shared_ptr<const bool> m_serversAlive = std::make_shared<const bool>(true);
    // Serial of the latest showLog request; an older read that finishes later is dropped.
    quint64 m_logRequest = 0;
    // File stems of the logs in the Logs folder; listed once, on first use.
    mutable std::optional<QSet<QString>> m_logStems;

    // ---- Private state of MySQL and phpMyAdmin (their owner adds here) ----------------------
    // Tool look-ups: the first executable fixed candidate, else `which <name>`.
    std::optional<QString> mysqlBinary() const;
    std::optional<QString> mysqlAdminBinary() const;
    std::optional<QString> brewBinary() const;
    // Background steps work on a snapshot (tools, settings) taken on the main thread and reach
    // the model only through a guarded pointer, so they never touch it after it is gone.
    struct MySQLJob;
    MySQLJob mySQLJob() const;
    // Returns the text that stands for a ping that gets no answer (the server program is missing).
    static std::optional<QString> ensureMySQLInstalledAndStarted(const MySQLJob& job);
    static std::optional<QString> startMySQLWithoutHomebrew(const MySQLJob& job);
    static QString pingOrInstead(const QString& ping, const std::optional<QString>& instead);
    static void ensureDefaultMySQLPassword(const MySQLJob& job);
    static QString databasePingMessage(const MySQLJob& job);
    QString databasePingMessage(const AppConfig& config) const;
    void applyDatabaseStatus(const QString& text);
    // Every MySQL client call of this model; quitting kills those still running.
    MySQLClientsOnExit m_mysqlClients;
    // Serial of the latest Check Database ping; an older answer that arrives later is dropped.
    quint64 m_databaseCheck = 0;

    void ensurePhpMyAdminInstalledAndStart(bool openAfterStart);
    void installPhpMyAdmin(bool openAfterInstall);
    void configurePhpMyAdmin();
    void openPhpMyAdminAfterStart();
    // The cookie secret kept in the user defaults (made when missing or too short); main thread.
    std::optional<QString> phpMyAdminBlowfishSecret();
    static QString setPHPConfig(const QString& text, const QString& key, const QString& value);
    static Project phpMyAdminProject(const AppConfig& config);

    // The open after a start waits a bounded number of rounds; one install at a time, and an
    // install that leaves nothing in place is not followed by another.
    int m_phpMyAdminOpenRounds = 0;
    bool m_phpMyAdminOpenPending = false;
    bool m_phpMyAdminInstalling = false;
    bool m_phpMyAdminOpenAfterInstall = false;
    bool m_phpMyAdminJustInstalled = false;
    // The download and unpacking of an install; cancelled when the model goes.
    ServiceCommands::CancelOnExit m_phpMyAdminInstallCommands;

    // ---- Private state of website creation (its owner adds here) ----------------------------
    // The commands of the running creation; destroying the model cancels them (the running one
    // is killed, no further one starts) without waiting. The work never touches the model.
    ServiceCommands::CancelOnExit m_websiteCreationCommands;

    // ---- Private state of the account session (its owner adds here) -------------------------
    void restoreWithToken(const std::optional<QString>& token, quint64 generation);
    void writeSecureToken(const QString& token);
    void reportKeychainFailure(const QString& prefix, const Keychain::Result& result, quint64 generation);
    quint64 m_signOutGeneration = 0;
    // Bumped whenever a session is stored (applyAuth) or ended (logout): a restore reply that
    // arrives after either belongs to an older session and changes nothing.
    quint64 m_sessionGeneration = 0;

    // ---- Private state of Google sign-in (its owner adds here) ------------------------------
    std::optional<GoogleOAuthConfig> googleOAuthConfig() const;
    void applyGoogleSignInResult(const GoogleOAuthConfig& config, const std::optional<SignInResult>& result,
                                 const std::optional<DomainError>& error);
    bool validateGoogleTokenForBackend(const QString& idToken, const QString& expectedAudience);
    void loginWithGoogleIdToken(const QString& idToken, const std::optional<QString>& name);

    friend class AppModelTestAccess;
};

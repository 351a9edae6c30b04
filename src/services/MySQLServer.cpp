#include "app/AppModel.h"

#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "services/MySQLClient.h"
#include "services/MySQLText.h"
#include "services/PrivateMySQLServer.h"
#include "services/ServiceCommands.h"

#include <QPointer>

// The shared MySQL server: tool look-ups, install and start through Homebrew (or the user's start
// command), the default root password, the ping and the root-password change.

namespace {

const QString kDefaultPassword = QStringLiteral("kelp");

} // namespace

// ---- Tool look-ups ----------------------------------------------------------------------------

struct AppModel::MySQLJob {
    ToolPaths tools;
    AppConfig config;
    QPointer<AppModel> model;
    QString storageRoot;
    std::shared_ptr<MySQLClient> client;
    Platform::MySQLTimeLimits limits;
};

namespace {

std::optional<QString> mysqlIn(const ToolPaths& tools)
{
    return ServiceCommands::lookUp(tools.mysql, tools.which, QStringLiteral("mysql"));
}

std::optional<QString> mysqlAdminIn(const ToolPaths& tools)
{
    return ServiceCommands::lookUp(tools.mysqladmin, tools.which, QStringLiteral("mysqladmin"));
}

std::optional<QString> brewIn(const ToolPaths& tools)
{
    return ServiceCommands::lookUp(tools.brew, tools.which, QStringLiteral("brew"));
}

// Output only, as the start and the client calls are judged.
QString runFor(const QString& executable, const QStringList& arguments)
{
    return ServiceCommands::capture(executable, arguments).output;
}

} // namespace

std::optional<QString> AppModel::mysqlBinary() const
{
    return mysqlIn(m_platform.tools);
}

std::optional<QString> AppModel::mysqlAdminBinary() const
{
    return mysqlAdminIn(m_platform.tools);
}

std::optional<QString> AppModel::brewBinary() const
{
    return brewIn(m_platform.tools);
}

AppModel::MySQLJob AppModel::mySQLJob() const
{
    return {m_platform.tools, m_config, QPointer<AppModel>(const_cast<AppModel*>(this)), m_appSupport,
            m_mysqlClients.client(), m_platform.mysqlTimeLimits};
}

// ---- Install, start, default password ---------------------------------------------------------

std::optional<QString> AppModel::ensureMySQLInstalledAndStarted(const MySQLJob& job)
{
    if (!mysqlAdminIn(job.tools)) {
        const std::optional<QString> brew = brewIn(job.tools);
        if (!brew) {
            Dispatch::main<AppModel>(job.model, [](AppModel* model) {
                model->setDatabaseStatus(QStringLiteral("Homebrew not found. Install Homebrew or MySQL manually."));
            });
            return std::nullopt;
        }
        runFor(*brew, {QStringLiteral("install"), QStringLiteral("mysql")});
    }

    std::optional<QString> instead;
    if (const std::optional<QString> brew = brewIn(job.tools))
        runFor(*brew, {QStringLiteral("services"), QStringLiteral("start"), QStringLiteral("mysql")});
    else
        instead = startMySQLWithoutHomebrew(job);

    ensureDefaultMySQLPassword(job);
    return instead;
}

std::optional<QString> AppModel::startMySQLWithoutHomebrew(const MySQLJob& job)
{
    const auto throughLoginShell = [&job]() {
        const QString shell = Files::isExecutableFile(job.tools.zsh) ? job.tools.zsh : job.tools.sh;
        runFor(shell, {QStringLiteral("-lc"), job.config.mysqlStartCommand});
    };
    // A start command of the user's own is theirs to run.
    if (job.config.mysqlStartCommand != AppConfig().mysqlStartCommand) {
        throughLoginShell();
        return std::nullopt;
    }
    // The default one names Homebrew's service: a server of the user's own plays its part.
    if (!PrivateMySQLServer::serverBinary(job.tools))
        return PrivateMySQLServer::kMissingServerText;
    PrivateMySQLServer::Request request;
    request.tools = job.tools;
    request.storageRoot = job.storageRoot;
    request.host = job.config.mysqlHost;
    request.port = job.config.mysqlPort;
    if (PrivateMySQLServer::ensureRunning(request) == PrivateMySQLServer::Outcome::notApplicable)
        throughLoginShell();
    return std::nullopt;
}

QString AppModel::pingOrInstead(const QString& ping, const std::optional<QString>& instead)
{
    if (!instead)
        return ping;
    const QString lower = ping.toLower();
    const bool answered = lower.contains(QStringLiteral("mysqld is alive")) || lower.contains(QStringLiteral("access denied"));
    return answered ? ping : *instead;
}

void AppModel::ensureDefaultMySQLPassword(const MySQLJob& job)
{
    const AppConfig& config = job.config;
    if (config.mysqlUser != QStringLiteral("root") || config.mysqlPassword != kDefaultPassword)
        return;
    const std::optional<QString> client = mysqlIn(job.tools);
    if (!client)
        return;

    MySQLSettings login{config.mysqlHost, config.mysqlPort, QStringLiteral("root"), kDefaultPassword};
    const MySQLClient::Outcome probe = job.client->query(*client, login, QStringLiteral("SELECT 1;"), job.limits.probeMs);
    // A server that does not answer is not prepared: the ping that follows says it does not answer.
    if (probe.succeeded() || probe.timedOut || probe.stopped)
        return;

    login.password = QString();
    const MySQLClient::Outcome set = job.client->query(
        *client, login, QStringLiteral("ALTER USER 'root'@'localhost' IDENTIFIED BY 'kelp'; FLUSH PRIVILEGES;"),
        job.limits.passwordPreparationMs);
    if (set.succeeded() || set.timedOut || set.stopped)
        return;
    Dispatch::main<AppModel>(job.model, [](AppModel* model) {
        model->setDatabaseStatus(QStringLiteral(
            "mySQL is running, but root/kelp could not be prepared. Use Settings to update the password."));
    });
}

// ---- Ping -------------------------------------------------------------------------------------

QString AppModel::databasePingMessage(const MySQLJob& job)
{
    const std::optional<QString> admin = mysqlAdminIn(job.tools);
    if (!admin)
        return QStringLiteral("mysqladmin not found. Kovani will install MySQL automatically if Homebrew is available.");
    // A server that accepts and never answers is given up on after the limit: no answer.
    const MySQLClient::Outcome ping
        = job.client->admin(*admin, MySQLSettings::from(job.config), {QStringLiteral("ping")}, job.limits.pingMs);
    return ping.timedOut || ping.stopped ? QString() : ping.result.output;
}

QString AppModel::databasePingMessage(const AppConfig& config) const
{
    MySQLJob job = mySQLJob();
    job.config = config;
    return databasePingMessage(job);
}

void AppModel::applyDatabaseStatus(const QString& text)
{
    const QString lower = text.toLower();
    const bool accessDenied = lower.contains(QStringLiteral("access denied"));
    const bool running = lower.contains(QStringLiteral("mysqld is alive")) || accessDenied;
    setIsDatabaseRunning(running);
    if (accessDenied)
        setDatabaseStatus(QStringLiteral("mySQL is running. Update username/password in Settings if phpAdmin login fails."));
    else if (running)
        setDatabaseStatus(QStringLiteral("Running"));
    else
        setDatabaseStatus(text.isEmpty() ? QStringLiteral("Not responding") : text);
}

// ---- Operations -------------------------------------------------------------------------------

void AppModel::autoStartDatabase()
{
    setStatusMessage(QStringLiteral("Starting database..."));
    Dispatch::userInitiated([job = mySQLJob()]() {
        const std::optional<QString> instead = ensureMySQLInstalledAndStarted(job);
        const QString text = pingOrInstead(databasePingMessage(job), instead);
        Dispatch::main<AppModel>(job.model, [text](AppModel* model) {
            model->applyDatabaseStatus(text);
            model->setStatusMessage(model->isDatabaseRunning() ? QStringLiteral("Database started.")
                                                               : QStringLiteral("Database did not start. Check Settings."));
        });
    });
}

void AppModel::checkMySQL()
{
    if (mysqlAdminBinary()) {
        // The ping waits off the main thread; only the latest check's answer is shown.
        const quint64 check = ++m_databaseCheck;
        Dispatch::userInitiated([job = mySQLJob(), check]() {
            const QString text = databasePingMessage(job);
            Dispatch::main<AppModel>(job.model, [text, check](AppModel* model) {
                if (model->m_databaseCheck == check)
                    model->applyDatabaseStatus(text);
            });
        });
        return;
    }
    setStatusMessage(QStringLiteral("Installing MySQL..."));
    Dispatch::userInitiated([job = mySQLJob()]() {
        const std::optional<QString> instead = ensureMySQLInstalledAndStarted(job);
        const QString text = pingOrInstead(databasePingMessage(job), instead);
        Dispatch::main<AppModel>(job.model, [text](AppModel* model) {
            model->applyDatabaseStatus(text);
            model->setStatusMessage(model->isDatabaseRunning() ? QStringLiteral("Database ready.")
                                                               : QStringLiteral("Database is not ready yet."));
        });
    });
}

void AppModel::changeMySQLPassword(const QString& currentPassword, const QString& newPassword)
{
    const QString password = Text::trimmed(newPassword);
    if (password.isEmpty()) {
        setStatusMessage(QStringLiteral("New mySQL password is required."));
        return;
    }
    const std::optional<QString> client = mysqlBinary();
    if (!client) {
        setStatusMessage(QStringLiteral("mysql client was not found."));
        return;
    }
    setStatusMessage(QStringLiteral("Changing mySQL root password..."));

    const AppConfig snapshot = m_config;
    const MySQLSettings login{snapshot.mysqlHost, snapshot.mysqlPort, snapshot.mysqlUser,
                              currentPassword.isEmpty() ? snapshot.mysqlPassword : currentPassword};
    const QString clientPath = *client;
    const std::shared_ptr<MySQLClient> mysql = m_mysqlClients.client();
    const int limit = m_platform.mysqlTimeLimits.passwordChangeMs;
    QPointer<AppModel> weak(this);
    Dispatch::userInitiated([weak, login, clientPath, password, mysql, limit]() {
        // Both the user name and the password are escaped, so any text round-trips.
        const QString sql = QStringLiteral("ALTER USER '") + MySQLText::escapeString(login.user)
            + QStringLiteral("'@'localhost' IDENTIFIED BY '") + MySQLText::escapeString(password)
            + QStringLiteral("'; FLUSH PRIVILEGES;");
        const MySQLClient::Outcome change = mysql->query(clientPath, login, sql, limit);
        const bool succeeded = change.succeeded();
        const QString output = change.timedOut ? MySQLClient::noAnswerText(limit) : change.result.output;
        Dispatch::main<AppModel>(weak, [succeeded, password, output](AppModel* model) {
            if (!succeeded) {
                model->setStatusMessage(QStringLiteral("Could not change mySQL password: ") + output);
                return;
            }
            model->modifyConfig([&](AppConfig& config) { config.mysqlPassword = password; });
            model->saveConfig();
            model->configurePhpMyAdmin();
            model->checkMySQL();
            model->setStatusMessage(QStringLiteral("mySQL password updated. phpAdmin login is now ")
                                    + model->config().mysqlUser + QLatin1Char('/') + password + QLatin1Char('.'));
        });
    });
}

std::optional<StatusText> ServiceCommands::createDatabase(const ToolPaths& tools, const QString& name,
                                                      const MySQLSettings& settings, const MySQLClient& mysql,
                                                      int timeoutMs)
{
    const std::optional<QString> client = mysqlIn(tools);
    if (!client)
        return QStringLiteral("mysql client was not found, so database ") + name + QStringLiteral(" could not be created.");
    const QString statement = QStringLiteral("CREATE DATABASE IF NOT EXISTS `") + MySQLText::escapeIdentifier(name)
        + QStringLiteral("` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;");
    const MySQLClient::Outcome created = mysql.query(*client, settings, statement, timeoutMs);
    if (created.succeeded())
        return std::nullopt;
    const QString lead = QStringLiteral("database ") + name + QStringLiteral(" could not be created: ");
    if (created.timedOut)
        return lead + MySQLClient::noAnswerText(timeoutMs);
    return StatusText::withExcerpt(lead, AppModel::shortOutput(created.result.output));
}

std::optional<StatusText> AppModel::createDatabase(const QString& name, const MySQLSettings& settings) const
{
    return ServiceCommands::createDatabase(m_platform.tools, name, settings, *m_mysqlClients.client(),
                                           m_platform.mysqlTimeLimits.databaseCreationMs);
}

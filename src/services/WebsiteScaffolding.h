#pragma once

#include "app/AppConfig.h"
#include "app/CommandResult.h"
#include "app/StatusText.h"
#include "platform/Process.h"
#include "platform/ToolPaths.h"
#include "services/ServiceCommands.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class AppModel;

// The steps that lay down a new website's files: a Laravel project installed with Composer and
// configured through its ".env", or a WordPress release configured through "wp-config.php".
// The three steps block, run on the creation's background work item, report progress to the
// model on the main thread and return nothing on success or one error text.
namespace WebsiteScaffolding {

// What the steps need, copied from the model on the main thread: the work never touches the
// model itself, which may be destroyed while a download or an installer runs.
struct Context {
    QString toolsFolder;
    ToolPaths tools;
    QString composerDownloadURL;
    QString wordpressDownloadURL;
    QString wordpressSaltURL;
    int downloadStallSeconds = 60;
    Process::Environment phpEnvironment; // of the creation's PHP executable
    QStringList phpArgumentsPrefix;      // what the runtime's argument list starts with
    QPointer<AppModel> model;            // progress texts only, on the main thread
    std::shared_ptr<ServiceCommands::CancellableCommands> commands;

    // Main thread. `phpBinary` may be empty when no PHP step runs.
    static Context from(AppModel& model, const QString& phpBinary);

    // Queues the text to the model's progress and status line; dropped once the model is gone.
    void progress(const QString& text) const;
    QStringList phpArguments(const QStringList& arguments) const { return phpArgumentsPrefix + arguments; }
    // curl's options for a release download: fail on HTTP errors, follow redirects, retry a
    // transient failure three times but never after a stall, one-line errors, the stall limit.
    QStringList retriedDownload() const;
};

// Remote paths, appended to the configured base URLs.
inline constexpr const char* composerDownloadPath = "/download/latest-stable/composer.phar";
inline constexpr const char* wordpressDownloadPath = "/latest.zip";
inline constexpr const char* wordpressSaltPath = "/secret-key/1.1/salt/";

// `base` without its trailing slashes, then `path`.
QString remoteURL(const QString& base, const char* path);

std::optional<StatusText> scaffoldLaravel(const Context& context, const QString& destination, const QString& name,
                                       qint64 port, const QString& databaseName, const QString& phpBinary,
                                       const MySQLSettings& mysql);
std::optional<StatusText> migrateLaravelDatabase(const Context& context, const QString& destination,
                                              const QString& phpBinary);
std::optional<StatusText> scaffoldWordPress(const Context& context, const QString& destination,
                                         const QString& databaseName, const MySQLSettings& mysql);

// The same steps with a context taken from the model at once (main thread).
std::optional<StatusText> scaffoldLaravel(AppModel& model, const QString& destination, const QString& name,
                                       qint64 port, const QString& databaseName, const QString& phpBinary,
                                       const MySQLSettings& mysql);
std::optional<StatusText> migrateLaravelDatabase(AppModel& model, const QString& destination, const QString& phpBinary);
std::optional<StatusText> scaffoldWordPress(AppModel& model, const QString& destination, const QString& databaseName,
                                         const MySQLSettings& mysql);

// Sets `key` in a ".env" text: every line "KEY=..." or "#KEY=..." becomes "KEY=value"; without
// such a line "\nKEY=value\n" is appended. The value is inserted literally.
QString setEnvironmentValue(const QString& text, const QString& key, const QString& value);

// Replaces every "define( 'NAME', '...' );" by one with `value` escaped for a single-quoted PHP
// string. Without a match the text is returned unchanged.
QString replaceWordPressConstant(const QString& text, const QString& name, const QString& value);

// Eight "define( 'NAME', '<64 characters>' );" lines from secure random bytes, joined by "\n".
QString localWordPressSalts();

// The eight salt constant names, in WordPress's order.
QStringList saltNames();

// A ".env" value that reads back as exactly `value`: written as is when that is safe, otherwise
// between double quotes with "\", "\"" and "$" escaped. Line breaks cannot be represented.
QString dotenvValue(const QString& value);
// The double-quoted form, always.
QString dotenvQuoted(const QString& value);

// Whether a salt generator reply is exactly the eight salt definitions and nothing else.
bool isWellFormedSaltBlock(const QString& block);

} // namespace WebsiteScaffolding

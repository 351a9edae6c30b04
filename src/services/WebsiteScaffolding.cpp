#include "services/WebsiteScaffolding.h"

#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUuid>

#include <array>


namespace WebsiteScaffolding {
namespace {

QRegularExpression icuPattern(const QString& pattern)
{
    // "(*ANY)" makes "." and "$" treat every line break as ICU does, "\r\n" included.
    return QRegularExpression(QStringLiteral("(*ANY)") + pattern, QRegularExpression::UseUnicodePropertiesOption);
}

// Replaces every match of `pattern` in `text` by `replacement`, inserted literally.
QString replaceLiterally(const QString& text, const QRegularExpression& pattern, const QString& replacement,
                         bool* matched = nullptr)
{
    QString out;
    qsizetype last = 0;
    bool any = false;
    QRegularExpressionMatchIterator it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        any = true;
        out += QStringView(text).mid(last, m.capturedStart() - last);
        out += replacement;
        last = m.capturedEnd();
    }
    if (matched)
        *matched = any;
    if (!any)
        return text;
    out += QStringView(text).mid(last);
    return out;
}

std::optional<QString> readUtf8(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return Text::decodeUtf8(file.readAll());
}

QString absolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString phpFolder(const QString& phpBinary)
{
    return QFileInfo(absolute(phpBinary)).path();
}

// Removes a folder with its contents when it goes out of scope.
class RemoveOnExit {
public:
    explicit RemoveOnExit(QString path) : m_path(std::move(path)) {}
    ~RemoveOnExit() { QDir(m_path).removeRecursively(); }
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;

private:
    QString m_path;
};

} // namespace

Context Context::from(AppModel& model, const QString& phpBinary)
{
    Context context;
    context.toolsFolder = absolute(model.toolsURL());
    context.tools = model.platform().tools;
    context.composerDownloadURL = model.platform().composerDownloadURL;
    context.wordpressDownloadURL = model.platform().wordpressDownloadURL;
    context.wordpressSaltURL = model.platform().wordpressSaltURL;
    context.downloadStallSeconds = model.platform().downloadStallSeconds;
    if (!phpBinary.isEmpty()) {
        context.phpEnvironment = model.phpEnvironment(phpBinary);
        context.phpArgumentsPrefix = model.phpRuntimeArguments({}, phpBinary);
    }
    context.model = &model;
    context.commands = std::make_shared<ServiceCommands::CancellableCommands>(model.logsURL());
    return context;
}

QStringList Context::retriedDownload() const
{
    return QStringList{QStringLiteral("--fail"), QStringLiteral("--location"), QStringLiteral("--retry"), QStringLiteral("3"),
                       QStringLiteral("--retry-max-time"), QString::number(downloadStallSeconds)}
        + ServiceCommands::downloadOptions(downloadStallSeconds);
}

void Context::progress(const QString& text) const
{
    Dispatch::main<AppModel>(model, [text](AppModel* target) {
        target->setWebsiteCreationProgress(text);
        target->setStatusMessage(text);
    });
}

QString remoteURL(const QString& base, const char* path)
{
    QString trimmed = base;
    while (trimmed.endsWith(u'/'))
        trimmed.chop(1);
    return trimmed + QString::fromLatin1(path);
}

QString setEnvironmentValue(const QString& text, const QString& key, const QString& value)
{
    const QRegularExpression pattern = icuPattern(QStringLiteral("(?m)^#?") + QRegularExpression::escape(key)
                                                  + QStringLiteral("=.*$"));
    const QString line = key + u'=' + value;
    bool matched = false;
    const QString replaced = replaceLiterally(text, pattern, line, &matched);
    if (matched)
        return replaced;
    return text + u'\n' + line + u'\n';
}

QString replaceWordPressConstant(const QString& text, const QString& name, const QString& value)
{
    QString escaped = value;
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    escaped.replace(u'\'', QStringLiteral("\\'"));
    const QRegularExpression pattern = icuPattern(QStringLiteral("define\\(\\s*'") + QRegularExpression::escape(name)
                                                  + QStringLiteral("'\\s*,\\s*'.*?'\\s*\\);"));
    return replaceLiterally(text, pattern, QStringLiteral("define( '") + name + QStringLiteral("', '") + escaped
                                               + QStringLiteral("' );"));
}

QStringList saltNames()
{
    return {QStringLiteral("AUTH_KEY"),  QStringLiteral("SECURE_AUTH_KEY"),  QStringLiteral("LOGGED_IN_KEY"),
            QStringLiteral("NONCE_KEY"), QStringLiteral("AUTH_SALT"),        QStringLiteral("SECURE_AUTH_SALT"),
            QStringLiteral("LOGGED_IN_SALT"), QStringLiteral("NONCE_SALT")};
}

QString localWordPressSalts()
{
    QStringList lines;
    for (const QString& name : saltNames()) {
        // The system generator reads the kernel's secure random source.
        std::array<quint32, 12> words{};
        QRandomGenerator::system()->fillRange(words.data(), words.size());
        const QByteArray bytes(reinterpret_cast<const char*>(words.data()), 48);
        QString value = QString::fromLatin1(bytes.toBase64());
        value.replace(u'+', u'-');
        value.replace(u'/', u'_');
        value.remove(u'=');
        lines.append(QStringLiteral("define( '") + name + QStringLiteral("', '") + value + QStringLiteral("' );"));
    }
    return lines.join(u'\n');
}

bool isWellFormedSaltBlock(const QString& block)
{
    // Goes into a PHP file that is executed: only the eight single-quoted definitions, in order,
    // with nothing that could end the string.
    const QStringList lines = block.split(u'\n');
    const QStringList names = saltNames();
    if (lines.size() != names.size())
        return false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r'))
            line.chop(1);
        static const QRegularExpression define(QStringLiteral("\\Adefine\\([ \\t]*'([A-Z_]+)'[ \\t]*,[ \\t]*'([^'\\\\\\r\\n]*)'[ \\t]*\\);[ \\t]*\\z"));
        const QRegularExpressionMatch m = define.match(line);
        if (!m.hasMatch() || m.captured(1) != names[i] || m.captured(2).isEmpty())
            return false;
    }
    return true;
}

QString dotenvQuoted(const QString& value)
{
    QString out;
    out.reserve(value.size() + 2);
    out += u'"';
    for (const QChar c : value) {
        if (c == u'\\' || c == u'"' || c == u'$')
            out += u'\\';
        out += c;
    }
    out += u'"';
    return out;
}

QString dotenvValue(const QString& value)
{
    // Unquoted values end at white space, start a comment at "#", open a quoted value at a quote
    // and expand "${...}"; anything of that kind is quoted.
    bool plain = !value.contains(QStringLiteral("${"));
    for (const QChar c : value) {
        if (c.isSpace() || c == u'#' || c == u'"' || c == u'\'')
            plain = false;
    }
    return plain ? value : dotenvQuoted(value);
}

std::optional<StatusText> scaffoldLaravel(const Context& context, const QString& destination, const QString& name,
                                       qint64 port, const QString& databaseName, const QString& phpBinary,
                                       const MySQLSettings& mysql)
{
    ServiceCommands::CancellableCommands& commands = *context.commands;
    const QString tools = context.toolsFolder;
    const QString dest = absolute(destination);
    const QString composer = tools + QStringLiteral("/composer.phar");

    Process::Environment environment = context.phpEnvironment;
    environment.insert(QStringLiteral("PATH"),
                       phpFolder(phpBinary) + QStringLiteral(":/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"));
    environment.insert(QStringLiteral("COMPOSER_HOME"), tools + QStringLiteral("/Composer"));

    context.progress(QStringLiteral("Preparing Composer..."));
    if (!QFileInfo::exists(composer)) {
        // Downloaded under a temporary name, so a cut-off download never passes for Composer.
        Files::makePath(tools);
        const QString partial = tools + QStringLiteral("/composer.phar.download-")
            + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        const CommandResult download = commands.run(
            context.tools.curl,
            context.retriedDownload() + QStringList{remoteURL(context.composerDownloadURL, composerDownloadPath),
                                                    QStringLiteral("--output"), partial});
        if (download.status != 0) {
            QFile::remove(partial);
            return StatusText::withExcerpt(QStringLiteral("Could not download Composer: "), AppModel::shortOutput(download.output));
        }
        // Kept only when it runs as Composer: a portal's or proxy's page saved with status 200
        // would otherwise break every later creation.
        const CommandResult version = commands.run(phpBinary, context.phpArguments({partial, QStringLiteral("--version")}),
                                                   environment);
        static const QRegularExpression composerVersion(QStringLiteral("(?m)^Composer version \\S"));
        if (version.status != 0 || !composerVersion.match(version.output).hasMatch()) {
            QFile::remove(partial);
            return QStringLiteral("Could not download Composer: the file downloaded from ")
                + remoteURL(context.composerDownloadURL, composerDownloadPath) + QStringLiteral(" is not Composer.");
        }
        if (!QFile::rename(partial, composer)) {
            QFile::remove(partial);
            if (!QFileInfo::exists(composer))
                return QStringLiteral("Could not download Composer: the downloaded file could not be moved into place.");
        }
    }

    context.progress(QStringLiteral("Creating Laravel project. This may take a few minutes..."));

    const CommandResult created = commands.run(
        phpBinary,
        context.phpArguments({composer, QStringLiteral("create-project"), QStringLiteral("laravel/laravel"), dest,
                              QStringLiteral("--no-interaction"), QStringLiteral("--prefer-dist")}),
        environment);
    if (created.status != 0)
        return StatusText::withExcerpt(QStringLiteral("Laravel could not be created: "), AppModel::shortOutput(created.output));

    const QString envPath = dest + QStringLiteral("/.env");
    std::optional<QString> env = readUtf8(envPath);
    if (!env)
        return QStringLiteral("Laravel was downloaded, but its .env file could not be opened.");
    QString text = *env;
    text = setEnvironmentValue(text, QStringLiteral("APP_NAME"), dotenvQuoted(name));
    text = setEnvironmentValue(text, QStringLiteral("APP_URL"), QStringLiteral("http://localhost:") + QString::number(port));
    text = setEnvironmentValue(text, QStringLiteral("DB_CONNECTION"), QStringLiteral("mysql"));
    text = setEnvironmentValue(text, QStringLiteral("DB_HOST"), dotenvValue(mysql.host));
    text = setEnvironmentValue(text, QStringLiteral("DB_PORT"), QString::number(mysql.port));
    text = setEnvironmentValue(text, QStringLiteral("DB_DATABASE"), dotenvValue(databaseName));
    text = setEnvironmentValue(text, QStringLiteral("DB_USERNAME"), dotenvValue(mysql.user));
    text = setEnvironmentValue(text, QStringLiteral("DB_PASSWORD"), dotenvValue(mysql.password));
    QString writeFailure;
    if (!Files::writeWholeFile(envPath, text.toUtf8(), /*privateFile=*/false, &writeFailure))
        return QStringLiteral("Laravel .env could not be saved: ") + writeFailure;

    context.progress(QStringLiteral("Generating Laravel application key..."));
    const CommandResult key = commands.run(
        phpBinary,
        context.phpArguments({dest + QStringLiteral("/artisan"), QStringLiteral("key:generate"),
                              QStringLiteral("--force"), QStringLiteral("--no-interaction")}),
        environment, dest);
    if (key.status != 0)
        return StatusText::withExcerpt(QStringLiteral("Laravel key generation failed: "), AppModel::shortOutput(key.output));
    return std::nullopt;
}

std::optional<StatusText> migrateLaravelDatabase(const Context& context, const QString& destination,
                                              const QString& phpBinary)
{
    const QString dest = absolute(destination);
    context.progress(QStringLiteral("Preparing Laravel database tables..."));
    const CommandResult migrated = context.commands->run(
        phpBinary,
        context.phpArguments({dest + QStringLiteral("/artisan"), QStringLiteral("migrate"), QStringLiteral("--force"),
                              QStringLiteral("--no-interaction")}),
        context.phpEnvironment, dest);
    if (migrated.status != 0)
        return StatusText::withExcerpt(QStringLiteral("Laravel database migration failed: "), AppModel::shortOutput(migrated.output));
    return std::nullopt;
}

std::optional<StatusText> scaffoldWordPress(const Context& context, const QString& destination,
                                         const QString& databaseName, const MySQLSettings& mysql)
{
    ServiceCommands::CancellableCommands& commands = *context.commands;
    const ToolPaths& tools = context.tools;
    const QString dest = absolute(destination);
    const QString work = context.toolsFolder + QStringLiteral("/WebsiteCreation-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const RemoveOnExit removeWork(work);
    const QString archive = work + QStringLiteral("/wordpress.zip");
    const QString extracted = work + QStringLiteral("/extracted");

    if (!Files::makePath(extracted))
        return QStringLiteral("Could not prepare the WordPress download folder: ")
            + QStringLiteral("The folder “%1” could not be created.").arg(QFileInfo(extracted).fileName());

    context.progress(QStringLiteral("Downloading WordPress..."));
    const CommandResult download = commands.run(
        tools.curl, context.retriedDownload() + QStringList{remoteURL(context.wordpressDownloadURL, wordpressDownloadPath),
                                                            QStringLiteral("--output"), archive});
    if (download.status != 0)
        return StatusText::withExcerpt(QStringLiteral("Could not download WordPress: "), AppModel::shortOutput(download.output));

    context.progress(QStringLiteral("Installing WordPress files..."));
    const CommandResult unpacked = commands.run(tools.unzip, {QStringLiteral("-q"), archive, QStringLiteral("-d"), extracted});
    // unzip: 0 is success, 1 success with warnings; anything else is a broken archive.
    if (unpacked.status != 0 && unpacked.status != 1)
        return StatusText::withExcerpt(QStringLiteral("Could not extract WordPress: "), AppModel::shortOutput(unpacked.output));

    const CommandResult copied = commands.run(tools.cp, {QStringLiteral("-a"), QStringLiteral("--"),
                                                         extracted + QStringLiteral("/wordpress"), dest});
    if (copied.status != 0)
        return StatusText::withExcerpt(QStringLiteral("Could not install WordPress files: "), AppModel::shortOutput(copied.output));

    std::optional<QString> sample = readUtf8(dest + QStringLiteral("/wp-config-sample.php"));
    if (!sample)
        return QStringLiteral("WordPress was downloaded, but wp-config-sample.php is missing.");
    QString text = *sample;
    text = replaceWordPressConstant(text, QStringLiteral("DB_NAME"), databaseName);
    text = replaceWordPressConstant(text, QStringLiteral("DB_USER"), mysql.user);
    text = replaceWordPressConstant(text, QStringLiteral("DB_PASSWORD"), mysql.password);
    text = replaceWordPressConstant(text, QStringLiteral("DB_HOST"), mysql.host + u':' + QString::number(mysql.port));

    const CommandResult salts = commands.run(
        tools.curl, QStringList{QStringLiteral("--fail"), QStringLiteral("--location")}
                        + ServiceCommands::downloadOptions(context.downloadStallSeconds)
                        + QStringList{remoteURL(context.wordpressSaltURL, wordpressSaltPath)});
    QString saltBlock;
    if (salts.status == 0 && salts.output.contains(QStringLiteral("AUTH_KEY")))
        saltBlock = Text::trimmed(salts.output);
    if (!isWellFormedSaltBlock(saltBlock))
        saltBlock = localWordPressSalts();
    text = replaceLiterally(text,
                            icuPattern(QStringLiteral("(?s)define\\(\\s*'AUTH_KEY'.*?define\\(\\s*'NONCE_SALT'.*?\\);")),
                            saltBlock);

    const QString config = dest + QStringLiteral("/wp-config.php");
    QString writeFailure;
    if (!Files::writeWholeFile(config, text.toUtf8(), /*privateFile=*/false, &writeFailure))
        return QStringLiteral("WordPress configuration could not be saved: ") + writeFailure;
    return std::nullopt;
}

std::optional<StatusText> scaffoldLaravel(AppModel& model, const QString& destination, const QString& name,
                                       qint64 port, const QString& databaseName, const QString& phpBinary,
                                       const MySQLSettings& mysql)
{
    return scaffoldLaravel(Context::from(model, phpBinary), destination, name, port, databaseName, phpBinary, mysql);
}

std::optional<StatusText> migrateLaravelDatabase(AppModel& model, const QString& destination, const QString& phpBinary)
{
    return migrateLaravelDatabase(Context::from(model, phpBinary), destination, phpBinary);
}

std::optional<StatusText> scaffoldWordPress(AppModel& model, const QString& destination, const QString& databaseName,
                                         const MySQLSettings& mysql)
{
    return scaffoldWordPress(Context::from(model, QString()), destination, databaseName, mysql);
}

} // namespace WebsiteScaffolding

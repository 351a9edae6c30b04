#include "support/WebsiteFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <stdexcept>

namespace WebsiteFixtures {
namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("could not write fixture file " + path.toStdString());
}

} // namespace

void writeLaravelProject(const QString& folder)
{
    writeFile(folder + QStringLiteral("/composer.json"), R"({
    "name": "laravel/laravel",
    "type": "project",
    "version": "11.0.0",
    "require": {},
    "scripts": {
        "post-root-package-install": [
            "@php -r \"file_exists('.env') || copy('.env.example', '.env');\""
        ]
    }
}
)");
    writeFile(folder + QStringLiteral("/.env.example"),
              "APP_NAME=Laravel\n"
              "APP_ENV=local\n"
              "APP_KEY=\n"
              "APP_DEBUG=true\n"
              "APP_URL=http://localhost\n"
              "\n"
              "DB_CONNECTION=sqlite\n"
              "# DB_HOST=127.0.0.1\n"
              "# DB_PORT=3306\n"
              "# DB_DATABASE=laravel\n"
              "# DB_USERNAME=root\n"
              "# DB_PASSWORD=\n");
    writeFile(folder + QStringLiteral("/artisan"), R"PHP(<?php
$command = $argv[1] ?? '';
file_put_contents(__DIR__ . '/artisan-calls.log', json_encode([
    'argv' => array_slice($argv, 1),
    'cwd' => getcwd(),
    'path' => getenv('PATH'),
    'composer_home' => getenv('COMPOSER_HOME'),
]) . "\n", FILE_APPEND);
$exit = getenv('KOVANI_FIXTURE_ARTISAN_EXIT_' . strtoupper(str_replace(':', '_', $command)));
if ($exit !== false && $exit !== '0') {
    fwrite(STDERR, "artisan $command failed on purpose\n");
    exit((int) $exit);
}
if ($command === 'key:generate') {
    $env = file_get_contents(__DIR__ . '/.env');
    $env = preg_replace('/^APP_KEY=.*$/m', 'APP_KEY=base64:' . base64_encode(random_bytes(32)), $env, 1);
    file_put_contents(__DIR__ . '/.env', $env);
    echo "Application key set successfully.\n";
}
if ($command === 'migrate') {
    echo "Nothing to migrate.\n";
}
)PHP");
    writeFile(folder + QStringLiteral("/public/index.php"), "<?php echo 'Laravel fixture home';\n");
}

void writeComposerHome(const QString& composerHome, const QString& projectFolder)
{
    const QByteArray json = QByteArray(R"({"repositories": [{"type": "path", "url": ")")
        + QFileInfo(projectFolder).absoluteFilePath().toUtf8()
        + R"(", "options": {"symlink": false}}, {"packagist.org": false}]})" + "\n";
    writeFile(composerHome + QStringLiteral("/config.json"), json);
}

QByteArray composerShim()
{
    return R"(<?php pcntl_exec(PHP_BINARY, array_merge(['/usr/bin/composer'], array_slice($argv, 1)));)"
           "\n";
}

QByteArray failingComposer(const QString& message)
{
    QByteArray quoted = message.toUtf8();
    quoted.replace("\\", "\\\\").replace("'", "\\'");
    return "<?php fwrite(STDERR, '" + quoted + "' . \"\\n\"); exit(1);\n";
}

QByteArray wordpressConfigSample(bool withSalts)
{
    QByteArray text = R"(<?php
/**
 * The base configuration for WordPress
 *
 * @package WordPress
 */

// ** Database settings - You can get this info from your web host ** //
/** The name of the database for WordPress */
define( 'DB_NAME', 'database_name_here' );

/** Database username */
define( 'DB_USER', 'username_here' );

/** Database password */
define( 'DB_PASSWORD', 'password_here' );

/** Database hostname */
define( 'DB_HOST', 'localhost' );

/** Database charset to use in creating database tables. */
define( 'DB_CHARSET', 'utf8' );

/** The database collate type. Don't change this if in doubt. */
define( 'DB_COLLATE', '' );

)";
    if (withSalts) {
        text += R"(/**#@+
 * Authentication unique keys and salts.
 *
 * @since 2.6.0
 */
define( 'AUTH_KEY',         'put your unique phrase here' );
define( 'SECURE_AUTH_KEY',  'put your unique phrase here' );
define( 'LOGGED_IN_KEY',    'put your unique phrase here' );
define( 'NONCE_KEY',        'put your unique phrase here' );
define( 'AUTH_SALT',        'put your unique phrase here' );
define( 'SECURE_AUTH_SALT', 'put your unique phrase here' );
define( 'LOGGED_IN_SALT',   'put your unique phrase here' );
define( 'NONCE_SALT',       'put your unique phrase here' );

/**#@-*/

)";
    }
    text += R"(/**
 * WordPress database table prefix.
 */
$table_prefix = 'wp_';

define( 'WP_DEBUG', false );

/* That's all, stop editing! Happy publishing. */

/** Absolute path to the WordPress directory. */
if ( ! defined( 'ABSPATH' ) ) {
	define( 'ABSPATH', __DIR__ . '/' );
}

/** Sets up WordPress vars and included files. */
require_once ABSPATH . 'wp-settings.php';
)";
    return text;
}

QByteArray zipArchive(const QList<QPair<QString, QByteArray>>& files)
{
    QTemporaryDir dir;
    for (const auto& f : files)
        writeFile(dir.path() + u'/' + f.first, f.second);
    QStringList arguments{QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("archive.zip")};
    for (const auto& f : files)
        arguments << f.first;
    QProcess zip;
    zip.setWorkingDirectory(dir.path());
    zip.start(QStringLiteral("/usr/bin/zip"), arguments);
    if (!zip.waitForFinished(30000) || zip.exitCode() != 0)
        throw std::runtime_error("zip failed");
    QFile archive(dir.path() + QStringLiteral("/archive.zip"));
    archive.open(QIODevice::ReadOnly);
    return archive.readAll();
}

namespace {
QList<QPair<QString, QByteArray>> wordpressFiles(const QString& prefix, bool withSalts)
{
    return {
        {prefix + QStringLiteral("index.php"),
         "<?php\nrequire __DIR__ . '/wp-config.php';\necho 'WordPress fixture home ', DB_NAME;\n"},
        {prefix + QStringLiteral("wp-settings.php"), "<?php\n"},
        {prefix + QStringLiteral("wp-config-sample.php"), wordpressConfigSample(withSalts)},
    };
}
} // namespace

QByteArray wordpressArchive(bool withSalts)
{
    return zipArchive(wordpressFiles(QStringLiteral("wordpress/"), withSalts));
}

QByteArray wordpressArchiveWithoutFolder()
{
    return zipArchive(wordpressFiles(QString(), true));
}

QByteArray saltReply()
{
    return "define('AUTH_KEY',         'a1!@#$%^&*()-_ []{}<>~`+=,.;:/?|b');\n"
           "define('SECURE_AUTH_KEY',  'remote-secure-auth-key');\n"
           "define('LOGGED_IN_KEY',    'remote-logged-in-key');\n"
           "define('NONCE_KEY',        'remote-nonce-key');\n"
           "define('AUTH_SALT',        'remote-auth-salt');\n"
           "define('SECURE_AUTH_SALT', 'remote-secure-auth-salt');\n"
           "define('LOGGED_IN_SALT',   'remote-logged-in-salt');\n"
           "define('NONCE_SALT',       'remote-nonce-salt');\n";
}

} // namespace WebsiteFixtures

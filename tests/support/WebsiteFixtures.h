#pragma once

// Offline stand-ins for what a website creation downloads.
//
// Laravel: a small "laravel/laravel" project served to Composer by a path repository, a
// Composer home that knows only that repository (the public package index off), and a one-line
// "composer.phar" that hands over to the machine's installed Composer. The fixture's "artisan"
// appends one JSON line per run to "artisan-calls.log" in the project (arguments, working
// folder, PATH, COMPOSER_HOME) and writes APP_KEY on "key:generate"; it exits with the value
// of KOVANI_FIXTURE_ARTISAN_EXIT_<COMMAND> (for example ..._MIGRATE=3) when that is set.
// Its public/index.php answers "Laravel fixture home".
//
// WordPress: zip archives made with /usr/bin/zip holding "wordpress/index.php" ("WordPress
// fixture home") and "wordpress/wp-config-sample.php" in the release's layout, and a salt
// generator reply.

#include <QByteArray>
#include <QString>

namespace WebsiteFixtures {

// Writes the fixture project into `folder` (created).
void writeLaravelProject(const QString& folder);
// Writes COMPOSER_HOME/config.json with a path repository at `projectFolder` and no packagist.
void writeComposerHome(const QString& composerHome, const QString& projectFolder);
// The bytes of a composer.phar that runs /usr/bin/composer with the same arguments.
QByteArray composerShim();
// A composer.phar that prints `message` and exits with 1.
QByteArray failingComposer(const QString& message);

// The sample configuration in the layout of a WordPress release, with or without the salts.
QByteArray wordpressConfigSample(bool withSalts = true);

// A zip archive with the given files (relative path -> contents).
QByteArray zipArchive(const QList<QPair<QString, QByteArray>>& files);
// The usual release archive: wordpress/index.php and wordpress/wp-config-sample.php.
QByteArray wordpressArchive(bool withSalts = true);
// The same files without the "wordpress/" folder.
QByteArray wordpressArchiveWithoutFolder();

// Eight well-formed salt definitions as the salt generator sends them.
QByteArray saltReply();

} // namespace WebsiteFixtures

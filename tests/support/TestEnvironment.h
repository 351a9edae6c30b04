#pragma once

#include "platform/Platform.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

class AppModel;

namespace TestEnvironment {

// Points HOME and the XDG folders of this process at a fresh temporary folder (removed at exit).
// Called once by the test main before Qt starts.
void isolateProcess();

// The temporary home of this process.
QString home();

// A Platform for one test: storage under `root` (Application Support = root + "/support"),
// the build's bundle resources, no deferred start-up, no orphan clean-up, a URL opener and
// folder chooser that only record, PHP looked for only under `root` + "/php-roots" and not
// through `which`, and no MySQL server program (so nothing starts one on the configured port).
struct TestPlatform {
    Platform platform;
    std::shared_ptr<QStringList> openedURLs = std::make_shared<QStringList>();
    std::shared_ptr<QString> nextChosenFolder = std::make_shared<QString>();
};
TestPlatform makePlatform(const QString& root);

// Runs the event loop until `done` holds or `timeoutMs` passes; returns `done()`.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Waits until every settings save of `model` so far is on disk (the writes run in the background),
// then lets a failed write's report reach the status line. The limit is a hang guard only.
bool configWritten(const AppModel& model, int timeoutMs = 60000);

// A free TCP port on 127.0.0.1 (never 8080 or 8081).
quint16 freePort();

// Sets (or, with no value, removes) environment variables of this process for one scope.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    void set(const char* name, const std::optional<QByteArray>& value);

private:
    QList<QPair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// A desktop where nothing opens web pages or folders: no session bus (so no file manager
// answers), no display, no $BROWSER, and no application folders for xdg-open to search. The
// real xdg-open then ends with exit status 3.
class NoDesktopHandlers {
public:
    NoDesktopHandlers();

private:
    QTemporaryDir m_dir;
    ScopedEnvironment m_environment;
};

} // namespace TestEnvironment

// The PHP 8.5 runtime of the build's bundle (Contents/Resources/php85), the runtime every test
// that runs PHP uses.
namespace BundledPhp {

QString binary(); // .../Contents/Resources/php85/bin/php
QString ini();    // .../Contents/Resources/php85/etc/php.ini
// The arguments as the application passes them to its own runtime ("-d", "pcre.jit=0" first).
QStringList arguments(const QStringList& arguments);
// This process's environment with the runtime's PHPRC and an empty PHP_INI_SCAN_DIR.
QProcessEnvironment environment();
// A shell command that runs the runtime as the application does, to be followed by its
// arguments: `exec <shellCommand()> "$@"` keeps the pid of the script.
QString shellCommand();
// What the runtime answers to `-r 'echo PHP_VERSION;'`.
QString version();

} // namespace BundledPhp

// A folder with a `php` wrapper that answers the version probe with `version` and otherwise
// execs the bundled runtime (as the application starts it), so pids and signals are the real
// server's. For tests that need a runtime at a particular place or with a particular version.
// `plain`: the runtime gets exactly the arguments and environment the wrapper got.
class PhpWrapper {
public:
    enum class Start { asTheApplication, plain };
    explicit PhpWrapper(const QString& folder, const QString& version = QStringLiteral("8.5.1"),
                        Start start = Start::asTheApplication);
    QString binary() const { return m_binary; }

private:
    QString m_binary;
};

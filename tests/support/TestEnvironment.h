#pragma once

#include "platform/Platform.h"

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

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

// A free TCP port on 127.0.0.1 (never 8080 or 8081).
quint16 freePort();

} // namespace TestEnvironment

// A folder with a `php` wrapper that answers the version probe with `version` and otherwise
// execs the machine's real PHP, so pids and signals are the real server's.
class PhpWrapper {
public:
    explicit PhpWrapper(const QString& folder, const QString& version = QStringLiteral("8.5.1"));
    QString binary() const { return m_binary; }
    static QString realPhp(); // /usr/bin/php

private:
    QString m_binary;
};

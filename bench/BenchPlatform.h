#pragma once

#include "platform/Platform.h"

#include <QUrl>

// A Platform for a benchmark run: storage under `root`, the build's bundle resources, no start-up
// work, no URL ever opened, PHP not looked up through `which`.
inline Platform benchPlatform(const QString& root)
{
    Platform p;
    p.applicationSupport = root + QStringLiteral("/support");
    p.storageRoot = p.applicationSupport + QStringLiteral("/Kovani");
    p.resourcesDir = QStringLiteral(KOVANI_BENCH_RESOURCES_DIR);
    p.userDefaultsFile = root + QStringLiteral("/defaults.ini");
    p.runDeferredStartup = false;
    p.runOrphanCleanup = false;
    p.phpSearchWhich = false;
    p.openURL = [](const QUrl&, const std::function<void(const QString&)>&) {};
    return p;
}

#include "support/TestEnvironment.h"

#include "platform/Files.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QThread>

#include <cstdlib>

namespace TestEnvironment {
namespace {
QTemporaryDir* processHome = nullptr;
}

void isolateProcess()
{
    if (processHome)
        return;
    processHome = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/kovani-test-XXXXXX"));
    const QString h = processHome->path();
    for (const char* sub : {"/config", "/data", "/cache", "/state", "/runtime", "/tmp"})
        QDir().mkpath(h + QString::fromLatin1(sub));
    QFile::setPermissions(h + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", h.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (h + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (h + QStringLiteral("/data")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (h + QStringLiteral("/cache")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", (h + QStringLiteral("/state")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (h + QStringLiteral("/runtime")).toLocal8Bit());
    std::atexit([] {
        delete processHome;
        processHome = nullptr;
    });
}

QString home()
{
    return processHome ? processHome->path() : QDir::homePath();
}

TestPlatform makePlatform(const QString& root)
{
    TestPlatform t;
    Platform& p = t.platform;
    p.applicationSupport = root + QStringLiteral("/support");
    p.storageRoot = p.applicationSupport + QStringLiteral("/Kovani");
    p.resourcesDir = QStringLiteral(KOVANI_TEST_RESOURCES_DIR);
    p.userDefaultsFile = root + QStringLiteral("/defaults.ini");
    p.phpSearchPrefix = root + QStringLiteral("/php-roots");
    p.phpSearchWhich = false;
    p.runDeferredStartup = false;
    p.runOrphanCleanup = false;
    auto opened = t.openedURLs;
    p.openURL = [opened](const QUrl& url) { opened->append(url.toString()); };
    auto chosen = t.nextChosenFolder;
    p.chooseFolder = [chosen]() { return *chosen; };
    // Downloads never leave the machine in tests.
    p.phpMyAdminDownloadURL = QStringLiteral("http://127.0.0.1:9");
    p.composerDownloadURL = QStringLiteral("http://127.0.0.1:9");
    p.wordpressDownloadURL = QStringLiteral("http://127.0.0.1:9");
    p.wordpressSaltURL = QStringLiteral("http://127.0.0.1:9");
    p.accountApiBaseURL = QStringLiteral("http://127.0.0.1:9/api");
    return t;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

quint16 freePort()
{
    for (;;) {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, 0))
            continue;
        const quint16 port = server.serverPort();
        if (port != 8080 && port != 8081)
            return port;
    }
}

} // namespace TestEnvironment

QString PhpWrapper::realPhp()
{
    return QStringLiteral("/usr/bin/php");
}

PhpWrapper::PhpWrapper(const QString& folder, const QString& version)
{
    Files::makePath(folder);
    m_binary = folder + QStringLiteral("/php");
    const QString script = QStringLiteral(
        "#!/bin/sh\n"
        "# Answers the version probe with a supported version; everything else is the real PHP.\n"
        "if [ \"$#\" -eq 2 ] && [ \"$1\" = \"-r\" ] && [ \"$2\" = \"echo PHP_VERSION;\" ]; then\n"
        "  printf '%s' '%1'\n"
        "  exit 0\n"
        "fi\n"
        "exec %2 \"$@\"\n").arg(version, realPhp());
    QFile file(m_binary);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(script.toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                        | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
}

#include "support/TestEnvironment.h"

#include "app/AppModel.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

#include <atomic>
#include <cstdlib>
#include <unistd.h>
#include <utility>

namespace TestEnvironment {
namespace {
QTemporaryDir* processHome = nullptr;
QString homePath;
}

void isolateProcess()
{
    if (!homePath.isEmpty())
        return;
    // A test process that started itself again inside its own session bus (KeyringSession)
    // takes over the home its first start made, and removes it at exit.
    const QString adopted = qEnvironmentVariable("KOVANI_TEST_ADOPT_HOME");
    qunsetenv("KOVANI_TEST_ADOPT_HOME");
    if (!adopted.isEmpty() && QDir(adopted).exists()) {
        homePath = adopted;
    } else {
        processHome = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/kovani-test-XXXXXX"));
        homePath = processHome->path();
    }
    const QString h = homePath;
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
        if (processHome)
            delete processHome;
        else
            QDir(homePath).removeRecursively();
        processHome = nullptr;
    });
}

QString home()
{
    return homePath.isEmpty() ? QDir::homePath() : homePath;
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
    p.openURL = [opened](const QUrl& url, const std::function<void(const QString&)>&) { opened->append(url.toString()); };
    auto chosen = t.nextChosenFolder;
    p.chooseFolder = [chosen]() { return *chosen; };
    // Downloads never leave the machine in tests.
    p.phpMyAdminDownloadURL = QStringLiteral("http://127.0.0.1:9");
    p.composerDownloadURL = QStringLiteral("http://127.0.0.1:9");
    p.wordpressDownloadURL = QStringLiteral("http://127.0.0.1:9");
    p.wordpressSaltURL = QStringLiteral("http://127.0.0.1:9");
    p.accountApiBaseURL = QStringLiteral("http://127.0.0.1:9/api");
    // No test starts a MySQL server of its own unless it asks for one.
    p.tools.mysqlServer = {};
    p.tools.mysqlServerNames = {};
    p.tools.mysqlInstallDb = {};
    p.tools.mysqlInstallDbNames = {};
    return t;
}

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
        if (it->second)
            qputenv(it->first.constData(), *it->second);
        else
            qunsetenv(it->first.constData());
    }
}

void ScopedEnvironment::set(const char* name, const std::optional<QByteArray>& value)
{
    m_saved.append({name, qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt});
    if (value)
        qputenv(name, *value);
    else
        qunsetenv(name);
}

NoDesktopHandlers::NoDesktopHandlers()
{
    m_environment.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.path()) + "/no-bus");
    m_environment.set("XDG_DATA_DIRS", QFile::encodeName(m_dir.path()));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "BROWSER", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                             "GNOME_DESKTOP_SESSION_ID"})
        m_environment.set(name, std::nullopt);
}

bool configWritten(const AppModel& model, int timeoutMs)
{
    if (!model.waitForConfigWrites(timeoutMs))
        return false;
    QCoreApplication::sendPostedEvents();
    return true;
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

namespace {

// The kernel's ephemeral ports (bind to port 0, outgoing connections), from
// ip_local_port_range.
std::pair<int, int> ephemeralRange()
{
    QFile file(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (file.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> fields = file.readAll().simplified().split(' ');
        bool lowOk = false;
        bool highOk = false;
        if (fields.size() == 2) {
            const int low = fields[0].toInt(&lowOk);
            const int high = fields[1].toInt(&highOk);
            if (lowOk && highOk)
                return {low, high};
        }
    }
    return {32768, 60999};
}

bool canListenOn(quint16 port)
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, port);
}

} // namespace

quint16 freePort()
{
    // A port handed out by the kernel to port 0 is free only until the next test process asks
    // the kernel for one. Ports below the ephemeral range are never handed out that way (nor
    // used by outgoing connections), and each test process walks its own stretch of them, so
    // parallel tests neither take each other's ports nor get one twice.
    constexpr int kLowest = 10000;
    const int highest = ephemeralRange().first - 1;
    if (highest - kLowest >= 1000) {
        const int span = highest - kLowest + 1;
        static std::atomic<quint32> next{static_cast<quint32>(::getpid()) * 397u};
        for (int attempt = 0; attempt < span; ++attempt) {
            const auto port = static_cast<quint16>(kLowest + static_cast<int>(next++ % static_cast<quint32>(span)));
            if (port != 8080 && port != 8081 && canListenOn(port))
                return port;
        }
    }
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

namespace BundledPhp {

QString binary()
{
    return QStringLiteral(KOVANI_TEST_RESOURCES_DIR "/php85/bin/php");
}

QString ini()
{
    return QStringLiteral(KOVANI_TEST_RESOURCES_DIR "/php85/etc/php.ini");
}

QStringList arguments(const QStringList& arguments)
{
    return QStringList{QStringLiteral("-d"), QStringLiteral("pcre.jit=0")} + arguments;
}

QProcessEnvironment environment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PHPRC"), ini());
    environment.insert(QStringLiteral("PHP_INI_SCAN_DIR"), QString());
    return environment;
}

QString shellCommand()
{
    const auto quoted = [](QString text) { return u'\'' + text.replace(u'\'', QStringLiteral("'\\''")) + u'\''; };
    return QStringLiteral("env PHPRC=%1 PHP_INI_SCAN_DIR= %2 -d pcre.jit=0").arg(quoted(ini()), quoted(binary()));
}

QString version()
{
    static const QString answer = [] {
        QProcess php;
        php.setProcessEnvironment(environment());
        php.start(binary(), arguments({QStringLiteral("-r"), QStringLiteral("echo PHP_VERSION;")}));
        php.waitForFinished(30000);
        return QString::fromUtf8(php.readAllStandardOutput()).trimmed();
    }();
    return answer;
}

} // namespace BundledPhp

PhpWrapper::PhpWrapper(const QString& folder, const QString& version, Start start)
{
    Files::makePath(folder);
    m_binary = folder + QStringLiteral("/php");
    const QString script = QStringLiteral(
        "#!/bin/sh\n"
        "# Answers the version probe with a supported version; everything else is the bundled PHP.\n"
        "if [ \"$#\" -eq 2 ] && [ \"$1\" = \"-r\" ] && [ \"$2\" = \"echo PHP_VERSION;\" ]; then\n"
        "  printf '%s' '%1'\n"
        "  exit 0\n"
        "fi\n"
        "exec %2 \"$@\"\n").arg(version, start == Start::plain ? BundledPhp::binary() : BundledPhp::shellCommand());
    QFile file(m_binary);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(script.toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                        | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
}

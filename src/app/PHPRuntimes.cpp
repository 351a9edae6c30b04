#include "app/AppModel.h"

#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>

#include <sys/stat.h>

namespace {

const QString kSupportedThreshold = QStringLiteral("8.5.0");
const QString kBundleRuntime = QStringLiteral("/php85/bin/php");
const QString kBundleIni = QStringLiteral("/php85/etc/php.ini");
// A runtime that has not answered the version probe by then is killed and skipped.
constexpr int kProbeLimitMs = 10000;

const QString kLinuxbrew = QStringLiteral("/home/linuxbrew/.linuxbrew");

// Every entry of a folder, hidden ones included, sorted by name so the order is the same on every
// run; nothing when the folder cannot be listed.
QStringList listing(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// The user's own ini files: each at most this long (a command-line argument holds 128 KiB at
// most), and all of them together at most this long.
constexpr qint64 kMaxUserIniBytes = 64 * 1024;
constexpr qint64 kMaxUserIniTotalBytes = 256 * 1024;

// What the scan needs, copied on the main thread so the background work never touches the model.
struct ScanSetup {
    QString resourcesDir;
    QString mysqlSocket;
    QString searchPrefix;
    bool searchWhich = true;
    QString which;
};

bool isSocket(const QString& path)
{
    struct stat info {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// The socket of the MySQL server Kovani uses: its private server's in the storage folder, else
// the system server's where one answers there, else the private one's, which a later start of
// the private server creates.
QString mysqlSocketFor(const QString& storageRoot, const QString& systemSocket)
{
    // PrivateMySQLServer starts its server with this socket.
    const QString own = storageRoot.isEmpty() ? QString() : QDir::cleanPath(storageRoot) + QStringLiteral("/mysql.sock");
    if (isSocket(own) || !isSocket(systemSocket))
        return own.isEmpty() ? systemSocket : own;
    return systemSocket;
}

ScanSetup scanSetup(const Platform& platform)
{
    return {platform.resourcesDir, mysqlSocketFor(platform.storageRoot, platform.systemMySQLSocket),
            platform.phpSearchPrefix, platform.phpSearchWhich, platform.tools.which};
}

// The bundle's runtime gets its own php.ini and nothing else (PHPRC, an empty PHP_INI_SCAN_DIR),
// its bin folder first on the PATH (so that `php` in a page, or a script that asks for
// `/usr/bin/env php`, is the same runtime), and the MySQL socket its php.ini reads as the default
// of mysqli and PDO.
Process::Environment environmentFor(const QString& binary, const QString& resourcesDir, const QString& mysqlSocket)
{
    Process::Environment environment = Process::currentEnvironment();
    const QString ini = resourcesDir + kBundleIni;
    if (binary.contains(QStringLiteral("/Contents/Resources/php85/bin/php")) && QFileInfo(ini).isFile()) {
        environment.insert(QStringLiteral("PHPRC"), ini);
        environment.insert(QStringLiteral("PHP_INI_SCAN_DIR"), QString());
        const QString path = environment.value(QStringLiteral("PATH"));
        environment.insert(QStringLiteral("PATH"), QFileInfo(binary).absolutePath() + u':'
                               + (path.isEmpty() ? QStringLiteral("/usr/local/bin:/usr/bin:/bin") : path));
        environment.insert(QStringLiteral("KOVANI_MYSQL_SOCKET"), mysqlSocket);
    }
    return environment;
}

QString runToText(const Process::Spec& spec, int timeoutMs, bool* timedOut = nullptr)
{
    const Process::Capture captured = Process::capture(spec, timeoutMs);
    if (timedOut)
        *timedOut = captured.timedOut;
    return captured.text();
}

QStringList candidatesFor(const ScanSetup& setup)
{
    const QString& prefix = setup.searchPrefix;
    QStringList candidates;

    const QString bundle = setup.resourcesDir + kBundleRuntime;
    if (QFileInfo::exists(bundle))
        candidates << bundle;

    for (const char* path : {"/opt/homebrew/bin/php", "/usr/local/bin/php", "/opt/homebrew/opt/php/bin/php",
                             "/opt/homebrew/opt/php@8.5/bin/php", "/usr/local/opt/php/bin/php",
                             "/usr/local/opt/php@8.5/bin/php"})
        candidates << prefix + QString::fromLatin1(path);
    // Homebrew on Linux, then the distribution's own runtime.
    for (const char* path : {"/bin/php", "/opt/php/bin/php", "/opt/php@8.5/bin/php"})
        candidates << prefix + kLinuxbrew + QString::fromLatin1(path);
    candidates << prefix + QStringLiteral("/usr/bin/php");

    candidates << AppModel::nestedPHP(prefix + QStringLiteral("/Applications/MAMP/bin/php"));
    candidates << AppModel::nestedPHP(prefix + QStringLiteral("/Applications/ServBay/package/php"));

    candidates << AppModel::homebrewPHP(prefix + QStringLiteral("/opt/homebrew/Cellar"));
    candidates << AppModel::homebrewPHP(prefix + QStringLiteral("/usr/local/Cellar"));
    candidates << AppModel::homebrewPHP(prefix + kLinuxbrew + QStringLiteral("/Cellar"));

    // Debian-style versioned runtimes: /usr/bin/php8.2, /usr/bin/php8.5, ...
    static const QRegularExpression versioned(QStringLiteral("^php[0-9]+\\.[0-9]+$"));
    const QString usrBin = prefix + QStringLiteral("/usr/bin");
    for (const QString& name : listing(usrBin)) {
        if (versioned.match(name).hasMatch())
            candidates << usrBin + u'/' + name;
    }

    if (setup.searchWhich) {
        Process::Spec spec;
        spec.program = setup.which;
        spec.arguments = {QStringLiteral("php")};
        const QString found = Text::trimmed(runToText(spec, -1));
        if (!found.isEmpty())
            candidates << found;
    }
    return candidates;
}

QList<PHPVersion> scan(const ScanSetup& setup)
{
    QList<PHPVersion> found;
    for (const QString& path : candidatesFor(setup)) {
        if (!Files::isExecutableFile(path))
            continue;
        Process::Spec spec;
        spec.program = path;
        spec.arguments = {QStringLiteral("-r"), QStringLiteral("echo PHP_VERSION;")};
        spec.environment = environmentFor(path, setup.resourcesDir, setup.mysqlSocket);
        bool timedOut = false;
        const QString version = Text::trimmed(runToText(spec, kProbeLimitMs, &timedOut));
        if (timedOut || version.isEmpty())
            continue;
        found.append({path, version, AppModel::compareVersion(version, kSupportedThreshold) >= 0});
    }

    QList<PHPVersion> unique;
    QSet<QString> seen;
    for (const PHPVersion& runtime : found) {
        if (!seen.contains(runtime.binary)) {
            seen.insert(runtime.binary);
            unique.append(runtime);
        }
    }
    std::stable_sort(unique.begin(), unique.end(), [](const PHPVersion& a, const PHPVersion& b) {
        return AppModel::compareVersion(a.version, b.version) > 0;
    });
    return unique;
}

} // namespace

void AppModel::refreshPHPVersions(std::function<void()> completion)
{
    setStatusMessage(QStringLiteral("Checking installed PHP versions..."));
    const ScanSetup setup = scanSetup(m_platform);
    QPointer<AppModel> guard(this);
    Dispatch::userInitiated([guard, setup, completion = std::move(completion)]() {
        const QList<PHPVersion> runtimes = scan(setup);
        Dispatch::main<AppModel>(guard, [runtimes, completion](AppModel* model) {
            model->setPhpVersions(runtimes);

            const QString chosen = model->config().selectedPhp;
            const bool kept = !chosen.isEmpty()
                && std::any_of(runtimes.cbegin(), runtimes.cend(),
                               [&](const PHPVersion& r) { return r.binary == chosen; });
            if (!kept) {
                QString newest;
                for (const PHPVersion& r : runtimes) {
                    if (r.supported) {
                        newest = r.binary;
                        break;
                    }
                }
                model->modifyConfig([&](AppConfig& c) { c.selectedPhp = newest; });
                model->saveConfig();
            }

            const bool anySupported = std::any_of(runtimes.cbegin(), runtimes.cend(),
                                                  [](const PHPVersion& r) { return r.supported; });
            model->setStatusMessage(anySupported
                ? QStringLiteral("PHP runtime is ready.")
                : QStringLiteral("No PHP 8.5+ runtime found. Open Settings for installation guidance."));
            if (completion)
                completion();
        });
    });
}

void AppModel::selectPHP(const QString& binary)
{
    modifyConfig([&](AppConfig& c) { c.selectedPhp = binary; });
    saveConfig();
    setStatusMessage(QStringLiteral("PHP version saved. Restart the active site to apply it."));
}

std::optional<PHPVersion> AppModel::selectedPHP() const
{
    const QString& chosen = m_config.selectedPhp;
    for (const PHPVersion& runtime : m_phpVersions) {
        if (chosen.isEmpty() ? runtime.supported : runtime.binary == chosen)
            return runtime;
    }
    return std::nullopt;
}

std::optional<Project> AppModel::activeProject() const
{
    for (const Project& project : m_config.projects) {
        if (m_runningProjects.contains(project.id))
            return project;
    }
    return std::nullopt;
}

QStringList AppModel::phpCandidates() const
{
    return candidatesFor(scanSetup(m_platform));
}

QStringList AppModel::nestedPHP(const QString& folder)
{
    QStringList candidates;
    for (const QString& entry : listing(folder))
        candidates << folder + u'/' + entry + QStringLiteral("/bin/php");
    return candidates;
}

QStringList AppModel::homebrewPHP(const QString& cellar)
{
    QStringList candidates;
    for (const QString& formula : listing(cellar)) {
        if (!formula.startsWith(QStringLiteral("php")))
            continue;
        const QString formulaFolder = cellar + u'/' + formula;
        for (const QString& version : listing(formulaFolder))
            candidates << formulaFolder + u'/' + version + QStringLiteral("/bin/php");
    }
    return candidates;
}

QStringList AppModel::phpRuntimeArguments(const QStringList& arguments, const QString& binary) const
{
    if (!binary.contains(QStringLiteral("/Resources/php85/bin/php")))
        return arguments;
    QStringList result{QStringLiteral("-d"), QStringLiteral("pcre.jit=0")};
    // The user's ini files, read after the bundle's own, in name order, as one text (a [PATH=] or
    // [HOST=] section runs to its end, as in one php.ini). PHP's "-d" appends its text to the ini
    // entries as it is when the value starts with a letter or digit, so a whole file goes in one
    // option.
    const QDir folder(phpUserIniFolder());
    const QStringList names = phpUserIniFolder().isEmpty()
        ? QStringList()
        : folder.entryList({QStringLiteral("*.ini")}, QDir::Files | QDir::Readable, QDir::Name);
    qint64 total = 0;
    for (const QString& name : names) {
        QFile file(folder.filePath(name));
        if (file.size() > kMaxUserIniBytes || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.read(kMaxUserIniBytes + 1);
        const std::optional<QString> text = Text::decodeUtf8(bytes);
        if (bytes.size() > kMaxUserIniBytes || bytes.contains('\0') || !text)
            continue;
        total += bytes.size();
        if (total > kMaxUserIniTotalBytes)
            break;
        result << QStringLiteral("-d") << QStringLiteral("kovani.user_ini=1\n") + *text;
    }
    return result + arguments;
}

Process::Environment AppModel::phpEnvironment(const QString& binary) const
{
    return environmentFor(binary, m_platform.resourcesDir, mysqlSocketFor(m_appSupport, m_platform.systemMySQLSocket));
}

Process::Environment AppModel::serverEnvironment(const QString& binary) const
{
    Process::Environment environment = phpEnvironment(binary);
    // Workers, so that a page can request its own website while it is being answered.
    environment.insert(QStringLiteral("PHP_CLI_SERVER_WORKERS"), QString::number(kServerWorkers));
    return environment;
}

QString AppModel::phpUserIniFolder() const
{
    return m_appSupport.isEmpty() ? QString() : m_appSupport + QStringLiteral("/PHP");
}

// scripts/php85/prepare-runtime.sh run for real (npm, patchelf, the runtime's own version check)
// against a loopback npm registry that serves a package made from the build's runtime, in a cache
// of the test's own: damaged runtimes are prepared again, and killed runs leave no work folder.
#include "support/LoopbackHttpServer.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/types.h>

namespace {

using Reply = LoopbackHttpServer::Reply;

const QString kBundle = QStringLiteral(KOVANI_TEST_RESOURCES_DIR "/php85");
const QString kScript = QStringLiteral(KOVANI_TEST_SOURCE_DIR "/../scripts/php85/prepare-runtime.sh");
const QString kPackage = QStringLiteral("@libphp/almalinux-9-v85");

struct ScriptRun {
    int status = -1;
    QString output;
};

QStringList neededLibraries(const QString& elf)
{
    QProcess patchelf;
    patchelf.start(QStringLiteral("patchelf"), {QStringLiteral("--print-needed"), elf});
    patchelf.waitForFinished(30000);
    return QString::fromUtf8(patchelf.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

class RuntimeSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFileInfo(kBundle + "/bin/php").isExecutable()) << "the build bundles no runtime";
        makePackage();
        // The script beside a pin of the loopback package, as the checkout has it beside its own.
        QDir().mkpath(dir.filePath("script"));
        ASSERT_TRUE(QFile::copy(kScript, script()));
        TestFiles::writeFile(dir.filePath("script/package.json"),
                             R"({"name":"kovani-php85-runtime","private":true,"dependencies":{"@libphp/almalinux-9-v85":"0.0.3"}})");
        const QJsonObject lock{
            {"name", "kovani-php85-runtime"},
            {"lockfileVersion", 3},
            {"requires", true},
            {"packages",
             QJsonObject{{"", QJsonObject{{"name", "kovani-php85-runtime"}, {"dependencies", QJsonObject{{kPackage, "0.0.3"}}}}},
                         {"node_modules/" + kPackage, QJsonObject{{"version", "0.0.3"}, {"integrity", integrity}, {"license", "MIT"}}}}},
        };
        TestFiles::writeFile(dir.filePath("script/package-lock.json"), QJsonDocument(lock).toJson());

        const QByteArray packument = QJsonDocument(QJsonObject{
            {"name", kPackage},
            {"dist-tags", QJsonObject{{"latest", "0.0.3"}}},
            {"versions", QJsonObject{{"0.0.3", QJsonObject{{"name", kPackage},
                                                           {"version", "0.0.3"},
                                                           {"dist", QJsonObject{{"integrity", integrity},
                                                                                {"tarball", registry.url("/package.tgz")}}}}}}},
        }).toJson(QJsonDocument::Compact);
        registry.setReply("/@libphp%2falmalinux-9-v85", Reply::json(packument));
        registry.setReply("/@libphp%2Falmalinux-9-v85", Reply::json(packument));
        serveTarball();
    }

    // An npm package of the build's runtime: the CLI, one module and the libraries it needs.
    void makePackage()
    {
        const QString root = dir.filePath("package/package");
        QDir().mkpath(root + "/native/php/modules");
        QDir().mkpath(root + "/native/lib");
        TestFiles::writeFile(root + "/package.json", R"({"name":"@libphp/almalinux-9-v85","version":"0.0.3"})");
        ASSERT_TRUE(QFile::copy(kBundle + "/bin/php", root + "/native/php/php"));
        ASSERT_TRUE(QFile::copy(kBundle + "/modules/ctype.so", root + "/native/php/modules/ctype.so"));
        QStringList pending = neededLibraries(kBundle + "/bin/php");
        while (!pending.isEmpty()) {
            const QString name = pending.takeFirst();
            const QString from = kBundle + "/lib/" + name;
            if (!QFile::exists(from) || QFile::exists(root + "/native/lib/" + name))
                continue;
            ASSERT_TRUE(QFile::copy(from, root + "/native/lib/" + name));
            pending += neededLibraries(from);
        }
        QProcess tar;
        tar.start(QStringLiteral("tar"), {"-czf", dir.filePath("package.tgz"), "-C", dir.filePath("package"), "package"});
        ASSERT_TRUE(tar.waitForFinished(120000) && tar.exitCode() == 0) << tar.readAllStandardError().constData();
        tarball = TestFiles::readBytes(dir.filePath("package.tgz"));
        integrity = "sha512-" + QString::fromLatin1(QCryptographicHash::hash(tarball, QCryptographicHash::Sha512).toBase64());
    }

    void serveTarball(int delayMs = 0)
    {
        Reply reply{200, {{"Content-Type", "application/octet-stream"}}, tarball};
        reply.delayMs = delayMs;
        registry.setReply("/package.tgz", reply);
    }

    QString script() const { return dir.filePath("script/prepare-runtime.sh"); }
    QString cacheRoot(const QString& cache) const { return dir.filePath(cache) + "/kovani/php85"; }

    QProcessEnvironment environment(const QString& cache) const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("XDG_CACHE_HOME", dir.filePath(cache));
        e.insert("npm_config_registry", registry.baseURL() + "/");
        e.insert("npm_config_update_notifier", "false");
        for (const char* proxy : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "npm_config_proxy", "npm_config_https_proxy"})
            e.remove(QString::fromLatin1(proxy));
        e.insert("NO_PROXY", "127.0.0.1");
        return e;
    }

    // Started in a session of its own (setsid), so its process group can be killed whole.
    void start(QProcess& process, const QStringList& arguments = {}, const QString& cache = "cache") const
    {
        process.setProcessEnvironment(environment(cache));
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("setsid"), QStringList{"bash", script()} + arguments);
        ASSERT_TRUE(process.waitForStarted());
    }

    ScriptRun run(const QStringList& arguments = {}, const QString& cache = "cache") const
    {
        QProcess process;
        start(process, arguments, cache);
        ScriptRun result;
        if (!process.waitForFinished(180000))
            return result;
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.output = QString::fromUtf8(process.readAll());
        return result;
    }

    QString runtimeFolder() const { return run({"--path"}).output.trimmed(); }

    QStringList workFolders(const QString& cache = "cache") const
    {
        return QDir(cacheRoot(cache)).entryList({".prepare-*"}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // Whether nothing holds the folder's lock any more.
    static bool unlocked(const QString& folder)
    {
        return QProcess::execute(QStringLiteral("flock"), {"-n", folder, "true"}) == 0;
    }

    QTemporaryDir dir;
    LoopbackHttpServer registry;
    QByteArray tarball;
    QString integrity;
};

} // namespace

TEST_F(RuntimeSetup, ADamagedRuntimeIsPreparedAgainAndAWholeOneIsKept)
{
    const ScriptRun first = run();
    ASSERT_EQ(first.status, 0) << first.output.toStdString();
    const QString runtime = runtimeFolder();
    ASSERT_TRUE(runtime.startsWith(cacheRoot("cache"))) << runtime.toStdString();
    const qint64 phpSize = QFileInfo(runtime + "/bin/php").size();
    EXPECT_EQ(QFileInfo(runtime + "/bin/php").size(), QFileInfo(kBundle + "/bin/php").size());
    EXPECT_TRUE(TestFiles::readText(runtime + "/.sha256").contains("  bin/php\n"));
    EXPECT_EQ(run({"--verify"}).status, 0);
    EXPECT_EQ(registry.requestCount("/package.tgz"), 1);
    EXPECT_TRUE(workFolders().isEmpty());

    const QString library = QDir(runtime + "/lib").entryList(QDir::Files).value(0);
    ASSERT_FALSE(library.isEmpty());
    const struct {
        const char* damage;
        std::function<void()> apply;
        QString named; // what the check names
    } cases[] = {
        {"bin/php truncated", [&] { QFile(runtime + "/bin/php").resize(4096); }, "bin/php: FAILED"},
        {"a library deleted", [&] { QFile::remove(runtime + "/lib/" + library); }, "lib/" + library + ": FAILED open or read"},
        {"the checksum list edited", [&] { TestFiles::writeFile(runtime + "/.sha256", "0  bin/php\n"); },
         "the checksum list of " + runtime + " has changed"},
    };
    int fetched = 1;
    for (const auto& c : cases) {
        c.apply();
        const ScriptRun check = run({"--verify", runtime});
        EXPECT_EQ(check.status, 1) << c.damage;
        EXPECT_TRUE(check.output.contains(c.named)) << c.damage << ": " << check.output.toStdString();
        EXPECT_TRUE(check.output.contains("run  bash scripts/php85/prepare-runtime.sh  to prepare it again")) << c.damage;

        const ScriptRun again = run();
        ASSERT_EQ(again.status, 0) << c.damage << ": " << again.output.toStdString();
        EXPECT_TRUE(again.output.contains("preparing the runtime again")) << c.damage;
        EXPECT_EQ(registry.requestCount("/package.tgz"), ++fetched) << c.damage;
        EXPECT_EQ(QFileInfo(runtime + "/bin/php").size(), phpSize) << c.damage;
        EXPECT_TRUE(QFile::exists(runtime + "/lib/" + library)) << c.damage;
        EXPECT_EQ(run({"--verify"}).status, 0) << c.damage;
        EXPECT_TRUE(workFolders().isEmpty()) << c.damage << ": " << workFolders().join(' ').toStdString();
    }

    // A whole runtime is used as it is: nothing is fetched.
    const ScriptRun kept = run();
    EXPECT_EQ(kept.status, 0);
    EXPECT_TRUE(kept.output.isEmpty()) << kept.output.toStdString();
    EXPECT_EQ(registry.requestCount("/package.tgz"), fetched);
}

TEST_F(RuntimeSetup, AKilledRunLeavesNoWorkFolderAfterTheNextRun)
{
    // Killed with SIGKILL while npm downloads: nothing of the run can clean up.
    serveTarball(600000);
    QProcess killed;
    start(killed);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return registry.requestCount("/package.tgz") == 1; }, 120000))
        << killed.readAll().constData();
    const QStringList left = workFolders();
    ASSERT_EQ(left.size(), 1);
    ::kill(-pid_t(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(30000));
    const QString leftover = cacheRoot("cache") + "/" + left[0];
    EXPECT_TRUE(QFileInfo(leftover).isDir());
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return unlocked(leftover); }, 30000)) << "the killed run's processes have gone";

    serveTarball();
    const ScriptRun next = run();
    ASSERT_EQ(next.status, 0) << next.output.toStdString();
    EXPECT_TRUE(workFolders().isEmpty()) << workFolders().join(' ').toStdString();
    EXPECT_EQ(run({"--verify"}).status, 0);
}

TEST_F(RuntimeSetup, EveryOtherEndOfARunRemovesItsWorkFolder)
{
    // Terminated (the run itself, not its group) while npm downloads: the run stops npm and
    // removes its folder at once.
    serveTarball(600000);
    QProcess terminated;
    start(terminated, {}, "cache-terminated");
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return registry.requestCount("/package.tgz") == 1; }, 120000))
        << terminated.readAll().constData();
    ASSERT_EQ(workFolders("cache-terminated").size(), 1);
    ::kill(pid_t(terminated.processId()), SIGTERM);
    ASSERT_TRUE(terminated.waitForFinished(60000));
    EXPECT_NE(terminated.exitCode(), 0);
    EXPECT_TRUE(workFolders("cache-terminated").isEmpty()) << workFolders("cache-terminated").join(' ').toStdString();

    // A download that fails ends the run with an error and leaves nothing either.
    registry.setReply("/package.tgz", Reply::withStatus(404));
    const ScriptRun failed = run({}, "cache-failed");
    EXPECT_NE(failed.status, 0) << failed.output.toStdString();
    EXPECT_TRUE(workFolders("cache-failed").isEmpty()) << workFolders("cache-failed").join(' ').toStdString();
    EXPECT_FALSE(QFileInfo::exists(run({"--path"}, "cache-failed").output.trimmed()));
}

// Configuring the real CMake project in a temporary build folder (configure only, without tests
// and benchmarks): where the bundle's PHP runtime comes from (-DKOVANI_PHP85_DIR,
// -DKOVANI_NO_BUNDLED_PHP, or the fetched runtime, which this test's cache does not hold), and the
// install prefix the first configure of a build folder picks.
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSource = QDir::cleanPath(QStringLiteral(KOVANI_TEST_SOURCE_DIR "/.."));
constexpr uid_t kOtherUser = 65534; // nobody

struct Outcome {
    int exitCode = -1;
    QString output;
};

Outcome run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    Outcome result;
    if (!process.waitForStarted(10000))
        return result;
    const bool ended = process.waitForFinished(240000);
    result.output = QString::fromUtf8(process.readAll());
    if (ended && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

// The environment of a configure: this process's (its home and an empty cache of its own), with
// nothing that points the build elsewhere or at a compiler cache.
QProcessEnvironment configureEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys()) {
        if (name.startsWith(QLatin1String("CMAKE_")) || name.startsWith(QLatin1String("CCACHE_")) || name == QLatin1String("DESTDIR"))
            environment.remove(name);
    }
    return environment;
}

QStringList configureArguments(const QString& build, const QStringList& options)
{
    return QStringList{QStringLiteral("-S"), kSource, QStringLiteral("-B"), build, QStringLiteral("-G"), QStringLiteral("Ninja"),
                       QStringLiteral("-DKOVANI_BUILD_TESTS=OFF"), QStringLiteral("-DKOVANI_BUILD_BENCHMARKS=OFF")}
        + options;
}

Outcome configure(const QString& build, const QStringList& options = {})
{
    return run(QStringLiteral(KOVANI_CMAKE_COMMAND), configureArguments(build, options), configureEnvironment());
}

// A value of the build folder's cache.
QString cached(const QString& build, const QString& name)
{
    for (const QString& line : TestFiles::readText(build + QStringLiteral("/CMakeCache.txt")).split(u'\n')) {
        if (line.startsWith(name + u':'))
            return line.mid(line.indexOf(u'=') + 1);
    }
    return QString();
}

// Runs the configured command of the target that puts the PHP runtime into the bundle, by itself
// (its prerequisites, the whole program, are not built).
Outcome runBundlingCommand(const QString& build)
{
    const Outcome commands = run(QStringLiteral("/usr/bin/ninja"), {QStringLiteral("-C"), build, QStringLiteral("-t"),
                                                               QStringLiteral("commands"), QStringLiteral("kovani_php85")},
                             configureEnvironment());
    if (commands.exitCode != 0)
        return commands;
    // The target's own command comes after those of everything it needs.
    const QString own = commands.output.trimmed().split(u'\n').last();
    if (!own.contains(QStringLiteral("/Contents/Resources/php85")))
        return Outcome{-1, QStringLiteral("not the bundling command: ") + own};
    return run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), own}, configureEnvironment());
}

class BuildConfiguration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFileInfo::exists(kSource + QStringLiteral("/CMakeLists.txt"))) << kSource.toStdString();
        // The fetched runtime is looked for in this process's own, empty, cache.
        ASSERT_TRUE(qEnvironmentVariable("XDG_CACHE_HOME").startsWith(TestEnvironment::home()));
        ASSERT_FALSE(QFileInfo::exists(qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/kovani")));
    }

    QString path(const QString& relative) const { return dir.path() + u'/' + relative; }

    QTemporaryDir dir;
};

} // namespace

TEST_F(BuildConfiguration, WithoutTheFetchedRuntimeConfiguringSaysHowToGoOn)
{
    const Outcome configured = configure(path("build"));
    EXPECT_NE(configured.exitCode, 0) << configured.output.toStdString();
    EXPECT_TRUE(configured.output.contains(QStringLiteral("is not in the cache"))) << configured.output.toStdString();
    for (const char* way : {"bash scripts/setup-debian.sh", "-DKOVANI_NO_BUNDLED_PHP=ON", "-DKOVANI_PHP85_DIR=/path/to/php85"})
        EXPECT_TRUE(configured.output.contains(QLatin1String(way))) << way << "\n" << configured.output.toStdString();
}

TEST_F(BuildConfiguration, ARuntimeOfOnesOwnIsBundledAsItIs)
{
    // A runtime of one's own: bin/php and etc/php.ini, and whatever else it carries.
    const QString runtime = path("my php85");
    TestFiles::writeFile(runtime + QStringLiteral("/bin/php"), "#!/bin/sh\necho 'my own php'\n");
    ASSERT_TRUE(QFile::setPermissions(runtime + QStringLiteral("/bin/php"),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    TestFiles::writeFile(runtime + QStringLiteral("/etc/php.ini"), "memory_limit = 64M\n");
    TestFiles::writeFile(runtime + QStringLiteral("/modules/mine.so"), "not really a module");

    const QString build = path("build");
    const Outcome configured = configure(build, {QStringLiteral("-DKOVANI_PHP85_DIR=") + runtime});
    ASSERT_EQ(configured.exitCode, 0) << configured.output.toStdString();
    EXPECT_EQ(cached(build, QStringLiteral("KOVANI_PHP85_DIR")), runtime);

    const Outcome bundled = runBundlingCommand(build);
    ASSERT_EQ(bundled.exitCode, 0) << bundled.output.toStdString();
    const QString inBundle = build + QStringLiteral("/Kovani.app/Contents/Resources/php85");
    for (const char* file : {"/bin/php", "/etc/php.ini", "/modules/mine.so"})
        EXPECT_EQ(TestFiles::readBytes(inBundle + QLatin1String(file)), TestFiles::readBytes(runtime + QLatin1String(file))) << file;
    EXPECT_TRUE(QFileInfo(inBundle + QStringLiteral("/bin/php")).isExecutable());
    // An install points the runtime's settings at the installed place instead of this folder.
    EXPECT_TRUE(TestFiles::readText(build + QStringLiteral("/install-desktop.cmake")).contains(runtime));
}

TEST_F(BuildConfiguration, WithoutABundledRuntimeTheBundleKeepsNone)
{
    const QString build = path("build");
    // A runtime that an earlier build of this folder put into the bundle.
    const QString inBundle = build + QStringLiteral("/Kovani.app/Contents/Resources/php85");
    TestFiles::writeFile(inBundle + QStringLiteral("/bin/php"), "left over");

    const Outcome configured = configure(build, {QStringLiteral("-DKOVANI_NO_BUNDLED_PHP=ON")});
    ASSERT_EQ(configured.exitCode, 0) << configured.output.toStdString();
    EXPECT_FALSE(configured.output.contains(QStringLiteral("is not in the cache"))) << configured.output.toStdString();

    const Outcome bundled = runBundlingCommand(build);
    ASSERT_EQ(bundled.exitCode, 0) << bundled.output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(inBundle));
    EXPECT_TRUE(QFileInfo::exists(build + QStringLiteral("/Kovani.app/Contents/Resources")));
}

TEST_F(BuildConfiguration, TheFirstConfigurePicksTheUsersOrRootsPlaceAndALaterOneKeepsIt)
{
    const QStringList options{QStringLiteral("-DKOVANI_NO_BUNDLED_PHP=ON")};
    const bool root = ::geteuid() == 0;

    // The user's place: ~/.local of whoever configures first. As root, that user is another one.
    const QString home = path("user-home");
    const QString userBuild = path("user-build");
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_TRUE(QDir().mkpath(userBuild));
    QProcessEnvironment userEnvironment = configureEnvironment();
    userEnvironment.insert(QStringLiteral("HOME"), home);
    Outcome configured;
    if (root) {
        // The other user reaches its folders, and the ones it writes are its own.
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        for (const QString& folder : {home, userBuild})
            ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), kOtherUser, kOtherUser), 0);
        userEnvironment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
        configured = run(QStringLiteral("/usr/bin/setpriv"),
                         QStringList{QStringLiteral("--reuid=%1").arg(kOtherUser), QStringLiteral("--regid=%1").arg(kOtherUser),
                                     QStringLiteral("--clear-groups"), QStringLiteral(KOVANI_CMAKE_COMMAND)}
                             + configureArguments(userBuild, options),
                         userEnvironment);
    } else {
        configured = run(QStringLiteral(KOVANI_CMAKE_COMMAND), configureArguments(userBuild, options), userEnvironment);
    }
    ASSERT_EQ(configured.exitCode, 0) << configured.output.toStdString();
    EXPECT_EQ(cached(userBuild, QStringLiteral("CMAKE_INSTALL_PREFIX")), home + QStringLiteral("/.local"));

    if (root) {
        // Root's place: /usr/local, which puts the bundle in /opt.
        const QString rootBuild = path("root-build");
        const Outcome asRoot = configure(rootBuild, options);
        ASSERT_EQ(asRoot.exitCode, 0) << asRoot.output.toStdString();
        EXPECT_EQ(cached(rootBuild, QStringLiteral("CMAKE_INSTALL_PREFIX")), QStringLiteral("/usr/local"));
    }

    // A build folder configured before keeps its prefix, whoever configures it again.
    const Outcome again = configure(userBuild, options);
    ASSERT_EQ(again.exitCode, 0) << again.output.toStdString();
    EXPECT_EQ(cached(userBuild, QStringLiteral("CMAKE_INSTALL_PREFIX")), home + QStringLiteral("/.local"));
}

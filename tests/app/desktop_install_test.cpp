// `cmake --install` of this build into temporary places: the bundle, the launcher (valid for
// desktop-file-validate, starting the installed executable), the icon at the theme's sizes and the
// bundled PHP runtime, its php.ini pointing at the installed place.
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray output;
};

// The end of a command's output, where cmake says why an install failed, for a failure message.
std::string tail(const Outcome& outcome, int lines = 30)
{
    const QList<QByteArray> all = outcome.output.trimmed().split('\n');
    const QList<QByteArray> last = all.mid(std::max<qsizetype>(0, all.size() - lines));
    QByteArray text = "exit code " + QByteArray::number(outcome.exitCode) + ", ";
    text += all.size() > last.size() ? "the last " + QByteArray::number(last.size()) + " of " + QByteArray::number(all.size())
                                           + " lines of its output:\n"
                                     : "its output:\n";
    return (text + last.join('\n')).toStdString();
}

// Installs go to temporary folders in the build folder: an install copies the whole bundle, which
// the temporary folder of a small machine may have no room for, while the build folder holds the
// bundle already.
const QString kInstallFolders = QStringLiteral(KOVANI_TEST_BINARY_DIR "/desktop-install-XXXXXX");

Outcome run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Outcome result;
    if (!process.waitForFinished(120000)) {
        result.output = process.readAll() + "\n(no end within two minutes)";
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAll();
    return result;
}

Outcome install(const QString& prefix, const QString& destdir = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DESTDIR"));
    if (!destdir.isEmpty())
        environment.insert(QStringLiteral("DESTDIR"), destdir);
    return run(QStringLiteral(KOVANI_CMAKE_COMMAND),
               {QStringLiteral("--install"), QStringLiteral(KOVANI_TEST_BINARY_DIR), QStringLiteral("--prefix"), prefix},
               environment);
}

// The value of a key of the launcher's [Desktop Entry] group.
QString entry(const QString& desktopFile, const QString& key)
{
    for (const QString& line : TestFiles::readText(desktopFile).split(u'\n')) {
        if (line.startsWith(key + u'='))
            return line.mid(key.size() + 1);
    }
    return QString();
}

// Checks one installation: bundle at `bundle`, launcher and icons under `share`, and the
// launcher's Exec naming `executable` (where the bundle runs from once installed).
void expectInstalled(const QString& bundle, const QString& share, const QString& executable)
{
    const QFileInfo binary(bundle + QStringLiteral("/Contents/MacOS/Kovani"));
    EXPECT_TRUE(binary.isFile() && binary.isExecutable()) << binary.filePath().toStdString();
    EXPECT_TRUE(QFileInfo::exists(bundle + QStringLiteral("/Contents/Resources/AppIcon1024.png")));
    EXPECT_TRUE(QFileInfo::exists(bundle + QStringLiteral("/Contents/Resources/default-site/index.php")));

    const QString launcher = share + QStringLiteral("/applications/kovani.desktop");
    ASSERT_TRUE(QFileInfo::exists(launcher)) << launcher.toStdString();
    const Outcome validate = run(QStringLiteral("/usr/bin/desktop-file-validate"), {launcher},
                             QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(validate.exitCode, 0) << tail(validate);
    EXPECT_TRUE(validate.output.trimmed().isEmpty()) << validate.output.toStdString();
    EXPECT_EQ(entry(launcher, QStringLiteral("Type")), QStringLiteral("Application"));
    EXPECT_EQ(entry(launcher, QStringLiteral("Name")), QStringLiteral("Kovani"));
    EXPECT_EQ(entry(launcher, QStringLiteral("Icon")), QStringLiteral("kovani"));
    EXPECT_EQ(entry(launcher, QStringLiteral("Exec")), u'"' + executable + u'"');

    for (const int size : {16, 24, 32, 48, 64, 128, 256, 512}) {
        const QString icon = share + QStringLiteral("/icons/hicolor/%1x%1/apps/kovani.png").arg(size);
        const QImage image(icon);
        EXPECT_EQ(image.size(), QSize(size, size)) << icon.toStdString();
    }

    // The PHP runtime came along, its php.ini naming the installed place only.
    const QString installedPlace = executable.chopped(QStringLiteral("/Contents/MacOS/Kovani").size());
    const QString runtime = bundle + QStringLiteral("/Contents/Resources/php85");
    EXPECT_TRUE(QFileInfo(runtime + QStringLiteral("/bin/php")).isExecutable());
    EXPECT_TRUE(QFileInfo::exists(runtime + QStringLiteral("/modules/mysqli.so")));
    const QString ini = TestFiles::readText(runtime + QStringLiteral("/etc/php.ini"));
    EXPECT_TRUE(ini.contains(QStringLiteral("extension_dir = \"%1/Contents/Resources/php85/modules\"").arg(installedPlace)))
        << ini.toStdString();
    // Nothing of the build's own bundle (the installs are made in a folder of the build folder).
    EXPECT_FALSE(ini.contains(QStringLiteral(KOVANI_TEST_BINARY_DIR "/Kovani.app"))) << ini.toStdString();
    EXPECT_FALSE(ini.contains(QStringLiteral(KOVANI_TEST_RESOURCES_DIR))) << ini.toStdString();
    if (installedPlace != bundle)
        EXPECT_FALSE(ini.contains(bundle)) << ini.toStdString();
}

// Runs the installed runtime as the application does; its answer and its warnings.
Outcome runInstalledPhp(const QString& bundle, const QString& code)
{
    const QString runtime = bundle + QStringLiteral("/Contents/Resources/php85");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PHPRC"), runtime + QStringLiteral("/etc/php.ini"));
    environment.insert(QStringLiteral("PHP_INI_SCAN_DIR"), QString());
    return run(runtime + QStringLiteral("/bin/php"), {QStringLiteral("-d"), QStringLiteral("pcre.jit=0"), QStringLiteral("-r"), code},
               environment);
}

} // namespace

TEST(DesktopInstall, PrefixGetsTheBundleTheLauncherAndTheIcon)
{
    QTemporaryDir dir(kInstallFolders);
    ASSERT_TRUE(dir.isValid()) << dir.errorString().toStdString();
    // A prefix with a blank: the launcher quotes the path.
    const QString prefix = dir.path() + QStringLiteral("/home of user/.local");
    const Outcome installed = install(prefix);
    ASSERT_EQ(installed.exitCode, 0) << tail(installed);
    const QString bundle = prefix + QStringLiteral("/opt/Kovani.app");
    expectInstalled(bundle, prefix + QStringLiteral("/share"), bundle + QStringLiteral("/Contents/MacOS/Kovani"));
    // The installed runtime runs from its own place, with its modules, without a warning.
    const Outcome php = runInstalledPhp(
        bundle, QStringLiteral("echo PHP_VERSION, '|', ini_get('extension_dir'), '|', extension_loaded('mysqli') ? 'mysqli' : '-';"));
    EXPECT_EQ(php.exitCode, 0);
    EXPECT_TRUE(php.output.startsWith("8.5.")) << php.output.toStdString();
    EXPECT_TRUE(php.output.endsWith("|" + bundle.toUtf8() + "/Contents/Resources/php85/modules|mysqli")) << php.output.toStdString();

    // Installing again replaces the bundle: nothing of the earlier one is left over.
    TestFiles::writeFile(bundle + QStringLiteral("/Contents/Resources/left-over"), "old");
    const Outcome again = install(prefix);
    ASSERT_EQ(again.exitCode, 0) << tail(again);
    EXPECT_FALSE(QFileInfo::exists(bundle + QStringLiteral("/Contents/Resources/left-over")));
    EXPECT_TRUE(QFileInfo(bundle + QStringLiteral("/Contents/MacOS/Kovani")).isExecutable());
}

TEST(DesktopInstall, SystemPrefixPutsTheBundleInOptAndHonoursDestdir)
{
    QTemporaryDir dir(kInstallFolders);
    ASSERT_TRUE(dir.isValid()) << dir.errorString().toStdString();
    const bool optHadIt = QFileInfo::exists(QStringLiteral("/opt/Kovani.app"));
    const QString stage = dir.path() + QStringLiteral("/stage");
    const Outcome installed = install(QStringLiteral("/usr/local"), stage);
    ASSERT_EQ(installed.exitCode, 0) << tail(installed);
    expectInstalled(stage + QStringLiteral("/opt/Kovani.app"), stage + QStringLiteral("/usr/local/share"),
                    QStringLiteral("/opt/Kovani.app/Contents/MacOS/Kovani"));
    // Everything went below DESTDIR.
    EXPECT_EQ(QFileInfo::exists(QStringLiteral("/opt/Kovani.app")), optHadIt);
}

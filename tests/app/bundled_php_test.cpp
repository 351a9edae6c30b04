// The PHP 8.5 runtime that the build puts into the bundle, started as the model starts it.
#include "app/AppModel.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace {

struct PhpRun {
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

class BundledPhpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        t = TestEnvironment::makePlatform(dir.path());
        model = std::make_unique<AppModel>(t.platform);
        ASSERT_TRUE(QFileInfo(binary).isExecutable())
            << binary.toStdString() << " is missing: the build bundles the runtime that scripts/setup-debian.sh fetches";
    }

    // Runs the bundle's runtime with the arguments and the environment the model gives it.
    PhpRun runPhp(const QStringList& arguments)
    {
        QProcessEnvironment environment;
        const Process::Environment given = model->phpEnvironment(binary);
        for (auto it = given.cbegin(); it != given.cend(); ++it)
            environment.insert(it.key(), it.value());
        QProcess php;
        php.setProcessEnvironment(environment);
        php.setWorkingDirectory(dir.path());
        php.start(binary, model->phpRuntimeArguments(arguments, binary));
        PhpRun run;
        if (!php.waitForFinished(60000))
            return run;
        run.exitCode = php.exitStatus() == QProcess::NormalExit ? php.exitCode() : -1;
        run.output = php.readAllStandardOutput();
        run.errors = php.readAllStandardError();
        return run;
    }

    QTemporaryDir dir;
    TestEnvironment::TestPlatform t;
    std::unique_ptr<AppModel> model;
    const QString binary = QStringLiteral(KOVANI_TEST_RESOURCES_DIR "/php85/bin/php");
    const QString bundle = QStringLiteral(KOVANI_TEST_RESOURCES_DIR "/php85");
};

} // namespace

TEST_F(BundledPhpTest, StartsCleanAs85WithEveryExtensionAndLeavesNoLibraryPathToItsPrograms)
{
    // Whatever this process had, the runtime must not need it nor hand one on.
    const QByteArray savedLibraryPath = qgetenv("LD_LIBRARY_PATH");
    qunsetenv("LD_LIBRARY_PATH");
    const PhpRun run = runPhp({QStringLiteral("-r"), QStringLiteral(R"php(
        echo json_encode([
            'version' => PHP_VERSION,
            'extensions' => array_map('strtolower', get_loaded_extensions()),
            'ini' => php_ini_loaded_file(),
            'scanned' => php_ini_scanned_files(),
            'pcreJit' => ini_get('pcre.jit'),
            'memoryLimit' => ini_get('memory_limit'),
            'logErrors' => ini_get('log_errors'),
            'displayErrors' => ini_get('display_errors'),
            'caFile' => ini_get('openssl.cafile'),
            'ownMaps' => file_get_contents('/proc/self/maps'),
            'childEnvironment' => shell_exec('env'),
            'childMaps' => shell_exec('cat /proc/self/maps'),
        ]);
    )php")});
    if (!savedLibraryPath.isNull())
        qputenv("LD_LIBRARY_PATH", savedLibraryPath);

    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    // Not a single warning, on either stream.
    EXPECT_TRUE(run.errors.isEmpty()) << run.errors.toStdString();
    QJsonParseError error{};
    const QJsonObject answer = QJsonDocument::fromJson(run.output, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << run.output.toStdString();

    const QString version = answer.value("version").toString();
    EXPECT_TRUE(version.startsWith(QStringLiteral("8.5."))) << version.toStdString();
    EXPECT_GE(AppModel::compareVersion(version, QStringLiteral("8.5.0")), 0);

    QStringList extensions;
    for (const QJsonValue& name : answer.value("extensions").toArray())
        extensions << name.toString();
    for (const char* name : {"mysqli", "pdo_mysql", "curl", "openssl", "mbstring", "intl", "gd", "zip", "ctype", "dom",
                             "fileinfo", "iconv", "tokenizer", "xml", "xmlreader", "xmlwriter", "simplexml", "phar",
                             "sodium", "bcmath", "exif", "posix", "sqlite3", "pdo_sqlite", "json", "session", "zlib"})
        EXPECT_TRUE(extensions.contains(QString::fromLatin1(name))) << name;

    // Our php.ini and nothing else; the arguments of the bundle's runtime.
    EXPECT_EQ(answer.value("ini").toString(), bundle + QStringLiteral("/etc/php.ini"));
    EXPECT_FALSE(answer.value("scanned").toBool());
    EXPECT_EQ(answer.value("pcreJit").toString(), QStringLiteral("0"));
    // Local development: errors go to the server's log, a generous memory limit.
    EXPECT_EQ(answer.value("memoryLimit").toString(), QStringLiteral("512M"));
    EXPECT_EQ(answer.value("logErrors").toString(), QStringLiteral("1"));
    EXPECT_TRUE(QFileInfo(answer.value("caFile").toString()).isReadable()) << answer.value("caFile").toString().toStdString();

    // The runtime loads its own libraries (through the RUNPATH of its files)...
    EXPECT_TRUE(answer.value("ownMaps").toString().contains(bundle + QStringLiteral("/lib/")));
    // ...and a program it runs sees no library path and loads nothing of the bundle.
    const QString childEnvironment = answer.value("childEnvironment").toString();
    EXPECT_FALSE(childEnvironment.isEmpty());
    for (const QString& line : childEnvironment.split(u'\n')) {
        EXPECT_FALSE(line.startsWith(QStringLiteral("LD_LIBRARY_PATH="))) << line.toStdString();
        EXPECT_FALSE(line.startsWith(QStringLiteral("LD_PRELOAD="))) << line.toStdString();
    }
    const QString childMaps = answer.value("childMaps").toString();
    EXPECT_TRUE(childMaps.contains(QStringLiteral("libc.so")));
    EXPECT_FALSE(childMaps.contains(bundle)) << childMaps.toStdString();
}

TEST_F(BundledPhpTest, ErrorsAreShownAndLogged)
{
    // Shown where the output goes (a website's page) and logged to standard error (its log);
    // deprecations neither.
    const PhpRun run = runPhp({QStringLiteral("-r"),
                            QStringLiteral("trigger_error('kovani check', E_USER_WARNING); $kovani_old = strlen(null); echo 'page';")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.output.contains("Warning: kovani check")) << run.output.toStdString();
    EXPECT_TRUE(run.output.endsWith("page"));
    EXPECT_TRUE(run.errors.contains("PHP Warning:  kovani check")) << run.errors.toStdString();
    EXPECT_FALSE(run.output.contains("Deprecated")) << run.output.toStdString();
    EXPECT_FALSE(run.errors.contains("Deprecated")) << run.errors.toStdString();
}

TEST_F(BundledPhpTest, ComposerAnswersItsVersion)
{
    const PhpRun run = runPhp({QStringLiteral("/usr/bin/composer"), QStringLiteral("--no-interaction"), QStringLiteral("--version")});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString() << run.errors.toStdString();
    EXPECT_TRUE(run.output.contains("Composer version ")) << run.output.toStdString();
}

TEST_F(BundledPhpTest, EveryProgramModuleAndLibraryFindsItsLibrariesInTheBundle)
{
    // The RUNPATH of each ELF file leads into the runtime's own lib folder, relative to the file,
    // so the runtime works wherever the bundle is and nothing needs LD_LIBRARY_PATH.
    const QList<QPair<QString, QString>> folders = {{QStringLiteral("bin"), QStringLiteral("$ORIGIN/../lib")},
                                                    {QStringLiteral("modules"), QStringLiteral("$ORIGIN/../lib")},
                                                    {QStringLiteral("lib"), QStringLiteral("$ORIGIN")}};
    int checked = 0;
    for (const auto& [folder, runpath] : folders) {
        const QDir dir(bundle + u'/' + folder);
        for (const QString& name : dir.entryList(QDir::Files)) {
            QProcess readelf;
            readelf.start(QStringLiteral("/usr/bin/readelf"), {QStringLiteral("-d"), dir.filePath(name)});
            ASSERT_TRUE(readelf.waitForFinished(30000));
            const QString dynamic = QString::fromUtf8(readelf.readAllStandardOutput());
            EXPECT_TRUE(dynamic.contains(QStringLiteral("(RUNPATH)")) && dynamic.contains(u'[' + runpath + u']'))
                << folder.toStdString() << '/' << name.toStdString() << ":\n" << dynamic.toStdString();
            EXPECT_FALSE(dynamic.contains(QStringLiteral("(RPATH)"))) << name.toStdString();
            ++checked;
        }
    }
    EXPECT_GT(checked, 40);
}

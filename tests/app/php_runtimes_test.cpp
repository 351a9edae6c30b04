#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

namespace {

void writeFile(const QString& path, const QByteArray& bytes, bool executable)
{
    Files::makePath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
    file.close();
    QFile::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (executable)
        mode |= QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    file.setPermissions(mode);
}

// A stand-in runtime that answers the version probe with `output`.
void fakePhp(const QString& path, const QString& output)
{
    writeFile(path, QStringLiteral("#!/bin/sh\nprintf '%s' '%1'\n").arg(output).toUtf8(), true);
}

void fakeScript(const QString& path, const QString& body)
{
    writeFile(path, (QStringLiteral("#!/bin/sh\n") + body + u'\n').toUtf8(), true);
}

QStringList describe(const QList<PHPVersion>& runtimes, const QString& stripPrefix = QString())
{
    QStringList lines;
    for (const PHPVersion& r : runtimes) {
        QString binary = r.binary;
        if (!stripPrefix.isEmpty() && binary.startsWith(stripPrefix))
            binary = binary.mid(stripPrefix.size());
        lines << binary + u'|' + r.version + u'|' + (r.supported ? u'+' : u'-');
    }
    return lines;
}

class PHPRuntimes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        t = TestEnvironment::makePlatform(dir.path());
        prefix = t.platform.phpSearchPrefix;
        resources = dir.path() + QStringLiteral("/Kovani.app/Contents/Resources");
        Files::makePath(resources);
        t.platform.resourcesDir = resources;
    }

    AppModel& makeModel()
    {
        model = std::make_unique<AppModel>(t.platform);
        return *model;
    }

    // Runs one scan to its publication.
    void scan()
    {
        bool done = false;
        model->refreshPHPVersions([&done] { done = true; });
        EXPECT_EQ(model->statusMessage(), QStringLiteral("Checking installed PHP versions..."));
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return done; }, 60000));
    }

    QString bundle() const { return resources + QStringLiteral("/php85/bin/php"); }

    // The saved choice, or nothing when config.json was not written.
    std::optional<QString> savedChoice() const
    {
        EXPECT_TRUE(TestEnvironment::configWritten(*model));
        QFile file(model->configURL());
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("selectedPhp")).toString();
    }

    QTemporaryDir dir;
    TestEnvironment::TestPlatform t;
    QString prefix;
    QString resources;
    std::unique_ptr<AppModel> model;
};

} // namespace

TEST_F(PHPRuntimes, CandidatesComeInTheirFixedOrder)
{
    fakePhp(bundle(), QStringLiteral("8.5.1"));
    // Listings: MAMP and ServBay versions (hidden entries too), Cellar formulas starting with "php".
    for (const char* e : {"php8.4.1", "php8.5.0", ".hidden"})
        Files::makePath(prefix + QStringLiteral("/Applications/MAMP/bin/php/") + QString::fromLatin1(e));
    writeFile(prefix + QStringLiteral("/Applications/MAMP/bin/php/readme.txt"), "x", false);
    Files::makePath(prefix + QStringLiteral("/Applications/ServBay/package/php/8.5"));
    for (const char* e : {"php/8.5.1", "php/8.5.0_1", "php@8.4/8.4.3", "node/22.0.0", "PHPUpper/1.0"})
        Files::makePath(prefix + QStringLiteral("/opt/homebrew/Cellar/") + QString::fromLatin1(e));
    writeFile(prefix + QStringLiteral("/opt/homebrew/Cellar/php-file"), "x", false); // cannot be listed
    Files::makePath(prefix + QStringLiteral("/usr/local/Cellar/php@8.5/8.5.2"));
    Files::makePath(prefix + QStringLiteral("/home/linuxbrew/.linuxbrew/Cellar/php/8.5.3"));
    for (const char* e : {"php8.2", "php8.5", "php", "php-config8.2", "php8", "php8.2.1", "phpize8.2"})
        writeFile(prefix + QStringLiteral("/usr/bin/") + QString::fromLatin1(e), "x", true);

    const QStringList expected{
        bundle(),
        prefix + QStringLiteral("/opt/homebrew/bin/php"),
        prefix + QStringLiteral("/usr/local/bin/php"),
        prefix + QStringLiteral("/opt/homebrew/opt/php/bin/php"),
        prefix + QStringLiteral("/opt/homebrew/opt/php@8.5/bin/php"),
        prefix + QStringLiteral("/usr/local/opt/php/bin/php"),
        prefix + QStringLiteral("/usr/local/opt/php@8.5/bin/php"),
        prefix + QStringLiteral("/home/linuxbrew/.linuxbrew/bin/php"),
        prefix + QStringLiteral("/home/linuxbrew/.linuxbrew/opt/php/bin/php"),
        prefix + QStringLiteral("/home/linuxbrew/.linuxbrew/opt/php@8.5/bin/php"),
        prefix + QStringLiteral("/usr/bin/php"),
        prefix + QStringLiteral("/Applications/MAMP/bin/php/.hidden/bin/php"),
        prefix + QStringLiteral("/Applications/MAMP/bin/php/php8.4.1/bin/php"),
        prefix + QStringLiteral("/Applications/MAMP/bin/php/php8.5.0/bin/php"),
        prefix + QStringLiteral("/Applications/MAMP/bin/php/readme.txt/bin/php"),
        prefix + QStringLiteral("/Applications/ServBay/package/php/8.5/bin/php"),
        prefix + QStringLiteral("/opt/homebrew/Cellar/php/8.5.0_1/bin/php"),
        prefix + QStringLiteral("/opt/homebrew/Cellar/php/8.5.1/bin/php"),
        prefix + QStringLiteral("/opt/homebrew/Cellar/php@8.4/8.4.3/bin/php"),
        prefix + QStringLiteral("/usr/local/Cellar/php@8.5/8.5.2/bin/php"),
        prefix + QStringLiteral("/home/linuxbrew/.linuxbrew/Cellar/php/8.5.3/bin/php"),
        prefix + QStringLiteral("/usr/bin/php8.2"),
        prefix + QStringLiteral("/usr/bin/php8.5"),
    };
    EXPECT_EQ(makeModel().phpCandidates(), expected);

    // Without the bundle's runtime, the list starts with the fixed places.
    QFile::remove(bundle());
    EXPECT_EQ(model->phpCandidates(), expected.mid(1));
}

TEST_F(PHPRuntimes, WhichAddsItsTrimmedAnswer)
{
    t.platform.phpSearchWhich = true;
    const QString which = dir.path() + QStringLiteral("/tools/which");
    t.platform.tools.which = which;
    struct Case {
        QString script;
        QStringList added;
    };
    const Case cases[] = {
        {QStringLiteral("[ \"$1\" = php ] && printf '  /somewhere/php \\n\\n'"), {QStringLiteral("/somewhere/php")}},
        {QStringLiteral("exit 1"), {}},
        {QStringLiteral("printf ' \\n\\t'"), {}},
    };
    makeModel();
    const QStringList fixed = [&] {
        t.platform.phpSearchWhich = false;
        return AppModel(t.platform).phpCandidates();
    }();
    for (const Case& c : cases) {
        fakeScript(which, c.script);
        EXPECT_EQ(model->phpCandidates(), fixed + c.added) << c.script.toStdString();
    }
}

TEST_F(PHPRuntimes, ListingsOfMissingFoldersGiveNothing)
{
    writeFile(dir.path() + QStringLiteral("/plain-file"), "x", false);
    for (const QString& folder : {dir.path() + QStringLiteral("/missing"), dir.path() + QStringLiteral("/plain-file")}) {
        EXPECT_TRUE(AppModel::nestedPHP(folder).isEmpty());
        EXPECT_TRUE(AppModel::homebrewPHP(folder).isEmpty());
    }
    const QString cellar = dir.path() + QStringLiteral("/Cellar");
    Files::makePath(cellar + QStringLiteral("/php/.8.5.0"));
    Files::makePath(cellar + QStringLiteral("/php@8.4"));
    EXPECT_EQ(AppModel::homebrewPHP(cellar), QStringList{cellar + QStringLiteral("/php/.8.5.0/bin/php")});
}

TEST_F(PHPRuntimes, ScanProbesDeduplicatesAndSortsNewestFirst)
{
    const QString cellarPhp = prefix + QStringLiteral("/opt/homebrew/Cellar/php/8.5.1/bin/php");
    fakePhp(cellarPhp, QStringLiteral("8.5.1"));
    Files::makePath(prefix + QStringLiteral("/opt/homebrew/bin"));
    ASSERT_TRUE(QFile::link(cellarPhp, prefix + QStringLiteral("/opt/homebrew/bin/php")));
    fakePhp(prefix + QStringLiteral("/usr/local/bin/php"), QStringLiteral("8.4.3"));
    fakePhp(prefix + QStringLiteral("/opt/homebrew/opt/php@8.5/bin/php"), QStringLiteral("8.5.0"));
    writeFile(prefix + QStringLiteral("/usr/local/opt/php/bin/php"), "#!/bin/sh\necho 9.9.9\n", false); // not executable
    Files::makePath(prefix + QStringLiteral("/usr/local/opt/php@8.5/bin/php"));                      // a folder
    Files::makePath(prefix + QStringLiteral("/home/linuxbrew/.linuxbrew/bin"));
    ASSERT_TRUE(QFile::link(prefix + QStringLiteral("/nowhere"), prefix + QStringLiteral("/home/linuxbrew/.linuxbrew/bin/php")));
    fakeScript(prefix + QStringLiteral("/home/linuxbrew/.linuxbrew/opt/php/bin/php"), QStringLiteral("printf ' \\n '"));
    fakePhp(prefix + QStringLiteral("/usr/bin/php"), QStringLiteral("PHP Warning:  Module already loaded\n8.5.2"));
    writeFile(prefix + QStringLiteral("/usr/bin/php8.5"), "not a program", true);
    fakeScript(prefix + QStringLiteral("/Applications/MAMP/bin/php/php8.5.0/bin/php"),
               QStringLiteral("[ \"$1 $2\" = '-r echo PHP_VERSION;' ] && printf '8.5.0-dev' >&2"));
    fakePhp(prefix + QStringLiteral("/Applications/ServBay/package/php/8.5/bin/php"), QStringLiteral("10.0.0"));
    // `which` names a runtime already listed.
    t.platform.phpSearchWhich = true;
    t.platform.tools.which = dir.path() + QStringLiteral("/tools/which");
    fakeScript(t.platform.tools.which, QStringLiteral("echo '%1'").arg(prefix + QStringLiteral("/opt/homebrew/bin/php")));

    makeModel();
    scan();
    const QStringList expected{
        QStringLiteral("/Applications/ServBay/package/php/8.5/bin/php|10.0.0|+"),
        QStringLiteral("/opt/homebrew/bin/php|8.5.1|+"),
        QStringLiteral("/opt/homebrew/Cellar/php/8.5.1/bin/php|8.5.1|+"),
        QStringLiteral("/opt/homebrew/opt/php@8.5/bin/php|8.5.0|+"),
        QStringLiteral("/Applications/MAMP/bin/php/php8.5.0/bin/php|8.5.0-dev|+"),
        QStringLiteral("/usr/local/bin/php|8.4.3|-"),
        QStringLiteral("/usr/bin/php|PHP Warning:  Module already loaded\n8.5.2|-"),
        QStringLiteral("/usr/bin/php8.5|Could not launch \u201C%1/usr/bin/php8.5\u201D: Exec format error|-").arg(prefix),
    };
    EXPECT_EQ(describe(model->phpVersions(), prefix), expected);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("PHP runtime is ready."));
    EXPECT_EQ(model->config().selectedPhp, prefix + QStringLiteral("/Applications/ServBay/package/php/8.5/bin/php"));
}

TEST_F(PHPRuntimes, PublicationRepairsTheChoiceOnlyWhenItIsNotKept)
{
    const QString newest = prefix + QStringLiteral("/opt/homebrew/bin/php");
    const QString middle = prefix + QStringLiteral("/usr/local/bin/php");
    const QString old = prefix + QStringLiteral("/opt/homebrew/opt/php/bin/php");
    const QString gone = prefix + QStringLiteral("/usr/local/opt/php@8.5/bin/php");
    const QString ready = QStringLiteral("PHP runtime is ready.");
    const QString none = QStringLiteral("No PHP 8.5+ runtime found. Open Settings for installation guidance.");
    struct Case {
        const char* name;
        QStringList versions; // of newest, middle, old; empty: absent
        QString stored;
        bool saved;
        QString chosen;
        QString status;
        std::optional<QString> selected;
    };
    const Case cases[] = {
        {"empty choice", {"8.5.1", "8.4.3", "8.5.0"}, QString(), true, newest, ready, newest},
        {"supported choice listed", {"8.5.1", "8.4.3", "8.5.0"}, old, false, old, ready, old},
        {"unsupported choice listed", {"8.5.1", "8.4.3", "8.5.0"}, middle, false, middle, ready, middle},
        {"choice gone", {"8.5.1", "8.4.3", "8.5.0"}, gone, true, newest, ready, newest},
        {"choice gone, nothing supported", {"", "8.4.3", "7.4.0"}, gone, true, QString(), none, std::nullopt},
        {"empty stays empty", {"", "8.4.3", ""}, QString(), true, QString(), none, std::nullopt},
        {"unsupported choice kept, nothing supported", {"", "8.4.3", ""}, middle, false, middle, none, middle},
        {"nothing found", {"", "", ""}, newest, true, QString(), none, std::nullopt},
    };
    for (const Case& c : cases) {
        const QStringList binaries{newest, middle, old};
        for (int i = 0; i < 3; ++i) {
            QFile::remove(binaries[i]);
            if (!c.versions[i].isEmpty())
                fakePhp(binaries[i], c.versions[i]);
        }
        makeModel();
        model->modifyConfig([&](AppConfig& config) { config.selectedPhp = c.stored; });
        model->saveConfig();
        ASSERT_TRUE(TestEnvironment::configWritten(*model));
        ASSERT_TRUE(QFile::remove(model->configURL()));
        EXPECT_FALSE(model->selectedPHP().has_value()) << "nothing is listed before the first scan";

        scan();
        EXPECT_EQ(savedChoice().has_value(), c.saved) << c.name;
        if (c.saved) {
            EXPECT_EQ(savedChoice(), c.chosen) << c.name;
        }
        EXPECT_EQ(model->config().selectedPhp, c.chosen) << c.name;
        EXPECT_EQ(model->statusMessage(), c.status) << c.name;
        const std::optional<PHPVersion> selected = model->selectedPHP();
        EXPECT_EQ(selected ? std::optional<QString>(selected->binary) : std::nullopt, c.selected) << c.name;
    }
}

TEST_F(PHPRuntimes, ScanThatEndsAfterTheModelIsGoneIsDropped)
{
    fakeScript(prefix + QStringLiteral("/opt/homebrew/bin/php"), QStringLiteral("sleep 1; printf 8.5.1"));
    bool called = false;
    makeModel().refreshPHPVersions([&called] { called = true; });
    model.reset();
    // The probe finishes and its publication is queued and dropped.
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_FALSE(called);
}

TEST_F(PHPRuntimes, HangingRuntimeIsKilledAndSkipped)
{
    const QString pidFile = dir.path() + QStringLiteral("/hung-grandchild");
    fakeScript(prefix + QStringLiteral("/opt/homebrew/bin/php"),
               QStringLiteral("sleep 120 & echo $! > '%1'; wait").arg(pidFile));
    fakePhp(prefix + QStringLiteral("/usr/local/bin/php"), QStringLiteral("8.5.1"));
    makeModel();
    QElapsedTimer clock;
    clock.start();
    scan();
    EXPECT_GE(clock.elapsed(), 9500);
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_EQ(describe(model->phpVersions(), prefix), QStringList{QStringLiteral("/usr/local/bin/php|8.5.1|+")});
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto grandchild = Text::parseInt32(QString::fromLatin1(file.readAll()).trimmed());
    ASSERT_TRUE(grandchild.has_value());
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !Process::exists(*grandchild); }, 20000));
    if (Process::exists(*grandchild))
        ::kill(*grandchild, SIGKILL);
}

TEST_F(PHPRuntimes, SelectPHPSavesAnyPathWithoutChecking)
{
    makeModel();
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    ASSERT_TRUE(QFile::remove(model->configURL()));
    model->selectPHP(QStringLiteral("/not/a/runtime"));
    EXPECT_EQ(model->config().selectedPhp, QStringLiteral("/not/a/runtime"));
    EXPECT_EQ(savedChoice(), QStringLiteral("/not/a/runtime"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("PHP version saved. Restart the active site to apply it."));
    EXPECT_FALSE(model->selectedPHP().has_value());
}

TEST_F(PHPRuntimes, SelectedPHPFollowsTheChoice)
{
    makeModel();
    const QList<PHPVersion> listed{{QStringLiteral("/a/php"), QStringLiteral("8.4.1"), false},
                                   {QStringLiteral("/b/php"), QStringLiteral("8.5.2"), true},
                                   {QStringLiteral("/c/php"), QStringLiteral("8.5.0"), true},
                                   {QStringLiteral("/b/php"), QStringLiteral("8.5.2"), false}};
    model->setPhpVersions(listed);
    struct Case {
        QString choice;
        std::optional<int> index;
    };
    const Case cases[] = {
        {QString(), 1}, {QStringLiteral("/a/php"), 0}, {QStringLiteral("/c/php"), 2},
        {QStringLiteral("/b/php"), 1}, {QStringLiteral("/c/php/"), std::nullopt}, {QStringLiteral("/d/php"), std::nullopt},
    };
    for (const Case& c : cases) {
        model->modifyConfig([&](AppConfig& config) { config.selectedPhp = c.choice; });
        const auto selected = model->selectedPHP();
        ASSERT_EQ(selected.has_value(), c.index.has_value()) << c.choice.toStdString();
        if (selected)
            EXPECT_EQ(*selected, listed[*c.index]) << c.choice.toStdString();
    }
    model->setPhpVersions({listed[0]});
    model->modifyConfig([&](AppConfig& config) { config.selectedPhp.clear(); });
    EXPECT_FALSE(model->selectedPHP().has_value());
}

TEST_F(PHPRuntimes, ActiveProjectIsTheFirstRunningInListOrder)
{
    makeModel();
    model->modifyConfig([](AppConfig& config) {
        config.projects.clear();
        for (const char* id : {"alpha", "beta", "gamma"}) {
            Project p;
            p.id = QString::fromLatin1(id);
            p.name = p.id;
            config.projects.append(p);
        }
    });
    struct Case {
        QMap<QString, qint32> running;
        QString active;
    };
    const Case cases[] = {
        {{}, QString()},
        {{{QStringLiteral("gamma"), 30}, {QStringLiteral("beta"), 20}}, QStringLiteral("beta")},
        {{{QStringLiteral("gamma"), 30}}, QStringLiteral("gamma")},
        {{{QStringLiteral("other"), 5}}, QString()},
        {{{QStringLiteral("alpha"), 1}, {QStringLiteral("gamma"), 3}}, QStringLiteral("alpha")},
    };
    for (const Case& c : cases) {
        model->setRunningProjects(c.running);
        const auto active = model->activeProject();
        EXPECT_EQ(active ? active->id : QString(), c.active);
    }
}

TEST(CompareVersion, ComparesThreeNumericPieces)
{
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"8.5.0", "8.5.0", 0},   {"8.5", "8.5.0", 0},        {"8..5", "8.5.0", 0},    {"8.4.12", "8.5.0", -1},
        {"8.5.0-dev", "8.5.0", 0}, {"8.5.0RC1", "8.5.0", 0}, {"10.0.0", "8.5.0", 1},  {"8.10.0", "8.9.9", 1},
        {"x.9.9", "0.9.9", 0},   {"x.9.9", "1.0.0", -1},     {"8.5.0.9", "8.5.0", 0}, {"+8.5.1", "8.5.0", 1},
        {"-1.0.0", "0.0.0", -1}, {"", "0.0.0", 0},           {".8.5", "8.5.0", 0},    {"8.5.1", "8.5.0", 1},
        {" 8.5.1", "8.5.0", -1}, {"99999999999999999999.0", "0.1", -1},
        {"9223372036854775807.0.0", "9223372036854775806.9.9", 1},
    };
    for (const Case& c : cases) {
        const int result = AppModel::compareVersion(QString::fromLatin1(c.a), QString::fromLatin1(c.b));
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " vs " << c.b;
        const int reverse = AppModel::compareVersion(QString::fromLatin1(c.b), QString::fromLatin1(c.a));
        EXPECT_EQ((reverse > 0) - (reverse < 0), -c.sign) << c.b << " vs " << c.a;
    }
}

TEST_F(PHPRuntimes, BundleArgumentsAndEnvironment)
{
    writeFile(resources + QStringLiteral("/php85/etc/php.ini"), "memory_limit=77M\n", false);
    makeModel();
    const QStringList serve{QStringLiteral("-S"), QStringLiteral("127.0.0.1:8080")};
    struct ArgCase {
        QString binary;
        QStringList expected;
    };
    const QStringList bundled = QStringList{QStringLiteral("-d"), QStringLiteral("pcre.jit=0")} + serve;
    const ArgCase argCases[] = {
        {bundle(), bundled},
        {QStringLiteral("/Applications/Other.app/Resources/php85/bin/php"), bundled},
        {QStringLiteral("/opt/homebrew/bin/php"), serve},
        {QStringLiteral("/usr/bin/php"), serve},
        {QStringLiteral("/x/Resources/php85/bin/php-cgi"), bundled},
        {QStringLiteral("/x/resources/php85/bin/php"), serve},
    };
    for (const ArgCase& c : argCases)
        EXPECT_EQ(model->phpRuntimeArguments(serve, c.binary), c.expected) << c.binary.toStdString();

    const Process::Environment ours = Process::currentEnvironment();
    Process::Environment withIni = ours;
    withIni.insert(QStringLiteral("PHPRC"), resources + QStringLiteral("/php85/etc/php.ini"));
    withIni.insert(QStringLiteral("PHP_INI_SCAN_DIR"), QString());
    // Its own bin folder first on the PATH, and the socket of the private MySQL server, which has
    // none yet, as the default of mysqli and PDO.
    withIni.insert(QStringLiteral("PATH"), QFileInfo(bundle()).absolutePath() + u':' + ours.value(QStringLiteral("PATH")));
    withIni.insert(QStringLiteral("KOVANI_MYSQL_SOCKET"), model->appSupport() + QStringLiteral("/mysql.sock"));
    EXPECT_EQ(model->phpEnvironment(QStringLiteral("/opt/homebrew/bin/php")), ours);
    EXPECT_EQ(model->phpEnvironment(bundle()), withIni);
    EXPECT_TRUE(model->phpEnvironment(bundle()).contains(QStringLiteral("PHP_INI_SCAN_DIR")));
    // Only the Contents/Resources form names the bundle here.
    EXPECT_EQ(model->phpEnvironment(QStringLiteral("/Applications/Other.app/Resources/php85/bin/php")), ours);
    // Without the bundle's php.ini nothing is added.
    QFile::remove(resources + QStringLiteral("/php85/etc/php.ini"));
    EXPECT_EQ(model->phpEnvironment(bundle()), ours);
}

TEST_F(PHPRuntimes, OnThisMachine)
{
    // The real places (no prefix), the real `which`, and a supported wrapper as the bundle's runtime
    // and first in PATH.
    t.platform.phpSearchPrefix.clear();
    t.platform.phpSearchWhich = true;
    PhpWrapper bundled(resources + QStringLiteral("/php85/bin"), QStringLiteral("8.5.1"), PhpWrapper::Start::plain);
    writeFile(resources + QStringLiteral("/php85/etc/php.ini"), "memory_limit=77M\n", false);
    PhpWrapper onPath(dir.path() + QStringLiteral("/path-bin"), QStringLiteral("8.5.1"), PhpWrapper::Start::plain);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path() + QStringLiteral("/path-bin:")) + oldPath);
    makeModel();
    scan();
    qputenv("PATH", oldPath);

    const QString realVersion = model->run(QStringLiteral("/usr/bin/php"), {QStringLiteral("-r"), QStringLiteral("echo PHP_VERSION;")});
    ASSERT_TRUE(realVersion.startsWith(QStringLiteral("8.2."))) << realVersion.toStdString();
    const QStringList listed = describe(model->phpVersions());
    ASSERT_GE(listed.size(), 4) << listed.join(u'\n').toStdString();
    EXPECT_EQ(listed[0], bundled.binary() + QStringLiteral("|8.5.1|+"));
    EXPECT_EQ(listed[1], onPath.binary() + QStringLiteral("|8.5.1|+"));
    EXPECT_TRUE(listed.contains(QStringLiteral("/usr/bin/php|") + realVersion + QStringLiteral("|-")));
    EXPECT_TRUE(listed.contains(QStringLiteral("/usr/bin/php8.2|") + realVersion + QStringLiteral("|-")));
    EXPECT_LT(listed.indexOf(QStringLiteral("/usr/bin/php|") + realVersion + QStringLiteral("|-")),
              listed.indexOf(QStringLiteral("/usr/bin/php8.2|") + realVersion + QStringLiteral("|-")));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("PHP runtime is ready."));
    EXPECT_EQ(model->config().selectedPhp, bundled.binary());
    ASSERT_TRUE(model->selectedPHP().has_value());
    EXPECT_EQ(model->selectedPHP()->binary, bundled.binary());

    // The bundle's runtime runs with its arguments and its own php.ini; any other with neither.
    const QStringList probe{QStringLiteral("-r"),
        QStringLiteral("echo ini_get('pcre.jit'), '|', php_ini_loaded_file(), '|', var_export(getenv('PHP_INI_SCAN_DIR'), true), '|', ini_get('memory_limit');")};
    const QString b = bundled.binary();
    EXPECT_EQ(model->run(b, model->phpRuntimeArguments(probe, b), model->phpEnvironment(b)),
              QStringLiteral("0|%1|''|77M").arg(resources + QStringLiteral("/php85/etc/php.ini")));
    const QString p = onPath.binary();
    const QString other = model->run(p, model->phpRuntimeArguments(probe, p), model->phpEnvironment(p));
    EXPECT_FALSE(other.startsWith(QStringLiteral("0|"))) << other.toStdString();
    EXPECT_FALSE(other.contains(resources)) << other.toStdString();
}

TEST_F(PHPRuntimes, BundledRuntimesMySQLSocketIsTheServerKovaniUses)
{
    writeFile(resources + QStringLiteral("/php85/etc/php.ini"), "memory_limit=77M\n", false);
    const QString system = dir.path() + QStringLiteral("/run/mysqld.sock");
    Files::makePath(dir.path() + QStringLiteral("/run"));
    t.platform.systemMySQLSocket = system;
    const QString own = makeModel().appSupport() + QStringLiteral("/mysql.sock");
    const auto socketNow = [&] { return model->phpEnvironment(bundle()).value(QStringLiteral("KOVANI_MYSQL_SOCKET")); };

    // Neither answers yet: the private server's, which its start creates.
    EXPECT_EQ(socketNow(), own);
    // A system server answers: its socket.
    QLocalServer systemServer;
    ASSERT_TRUE(systemServer.listen(system));
    EXPECT_EQ(socketNow(), system);
    // The private server runs: its socket, whatever the system has.
    QLocalServer ownServer;
    ASSERT_TRUE(ownServer.listen(own));
    EXPECT_EQ(socketNow(), own);
    // A plain file where a socket would be is no server.
    ownServer.close();
    writeFile(own, "not a socket", false);
    EXPECT_EQ(socketNow(), system);
    // Decided at each start, not once.
    systemServer.close();
    EXPECT_EQ(socketNow(), own);
    // Another runtime keeps its own default.
    EXPECT_FALSE(model->phpEnvironment(QStringLiteral("/usr/bin/php")).contains(QStringLiteral("KOVANI_MYSQL_SOCKET")));
}

// The storage folder and config.json: bootstrap, load, migration and save, on real files.
#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using nlohmann::json;


namespace {

QByteArray readFile(const QString& path)
{
    return TestFiles::readBytes(path);
}

using TestFiles::writeFile;

int mode(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return st.st_mode & 07777;
}

QStringList asideFiles(const QString& storage)
{
    return QDir(storage).entryList({QStringLiteral("config.json.unreadable-*")},
                                   QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// One temporary world: Application Support = <tmp>/support, storage = <tmp>/support/Kovani.
struct World {
    QTemporaryDir dir;
    TestEnvironment::TestPlatform t = TestEnvironment::makePlatform(dir.path());
    QString support = t.platform.applicationSupport;
    QString storage = t.platform.storageRoot;
    QString config = storage + QStringLiteral("/config.json");
    QString elsewhere = dir.path() + QStringLiteral("/elsewhere");

    // The model, once the saves of its start are on disk.
    std::unique_ptr<AppModel> start()
    {
        auto model = std::make_unique<AppModel>(t.platform);
        EXPECT_TRUE(TestEnvironment::configWritten(*model));
        return model;
    }
};

// A valid file for `w` that needs no repair.
json cleanFile(const World& w)
{
    json j = json::parse(ConfigCoding::encode(AppConfig::defaults(w.storage)).toStdString());
    j["projects"].push_back({{"id", "blog"}, {"name", "Blog"}, {"root", (w.elsewhere + "/blog").toStdString()},
                             {"port", 8200}, {"databaseName", "blog"}, {"databaseUser", "bob"},
                             {"databasePassword", "pw"}});
    return j;
}

// ---- Fresh start ----------------------------------------------------------------------------

TEST(Bootstrap, FreshStartCreatesFoldersDefaultSiteAndDefaults)
{
    World w;
    auto model = w.start();
    for (const char* sub : {"Sites", "Logs", "Tools", "Routers", "PHP", "Sites/default"})
        EXPECT_TRUE(QFileInfo(w.storage + u'/' + QString::fromLatin1(sub)).isDir()) << sub;
    EXPECT_EQ(readFile(w.storage + QStringLiteral("/Sites/default/index.php")),
              readFile(w.t.platform.resourcesDir + QStringLiteral("/default-site/index.php")));
    EXPECT_FALSE(readFile(w.storage + QStringLiteral("/Sites/default/index.php")).isEmpty());

    const AppConfig defaults = AppConfig::defaults(w.storage);
    EXPECT_EQ(model->config(), defaults);
    EXPECT_EQ(readFile(w.config), ConfigCoding::encode(defaults));
    ASSERT_EQ(defaults.projects.size(), 1);
    EXPECT_EQ(defaults.projects[0].root, w.storage + QStringLiteral("/Sites/default"));
    EXPECT_EQ(defaults.phpMyAdminRoot, w.storage + QStringLiteral("/Tools/phpMyAdmin"));

    EXPECT_EQ(mode(w.storage), 0700);
    EXPECT_EQ(mode(w.config), 0600);
    // Nothing else next to config.json: no temporary file, nothing set aside.
    QStringList entries = QDir(w.storage).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    entries.sort();
    EXPECT_EQ(entries, (QStringList{"Logs", "PHP", "Routers", "Sites", "Tools", "config.json"}));

    EXPECT_EQ(model->appSupport(), w.storage);
    EXPECT_EQ(model->configURL(), w.config);
    EXPECT_EQ(model->sitesURL(), w.storage + QStringLiteral("/Sites"));
    EXPECT_EQ(model->logsURL(), w.storage + QStringLiteral("/Logs"));
    EXPECT_EQ(model->toolsURL(), w.storage + QStringLiteral("/Tools"));
    EXPECT_EQ(model->routersURL(), w.storage + QStringLiteral("/Routers"));
}

TEST(Bootstrap, ExistingFolderIsMadePrivate)
{
    World w;
    ASSERT_TRUE(Files::makePath(w.storage));
    ::chmod(QFile::encodeName(w.storage).constData(), 0755);
    auto model = w.start();
    EXPECT_EQ(mode(w.storage), 0700);
}

struct SiteCase {
    std::string name;
    std::function<void(World&)> before;      // run before the (second) start
    std::function<void(World&)> check;
};
void PrintTo(const SiteCase& c, std::ostream* os) { *os << c.name; }
class DefaultSite : public ::testing::TestWithParam<SiteCase> {};

TEST_P(DefaultSite, CopyRules)
{
    World w;
    GetParam().before(w);
    auto model = w.start();
    GetParam().check(w);
}

QString indexPhp(const World& w) { return w.storage + QStringLiteral("/Sites/default/index.php"); }
QByteArray bundled(const World& w) { return readFile(w.t.platform.resourcesDir + QStringLiteral("/default-site/index.php")); }

INSTANTIATE_TEST_SUITE_P(
    Storage, DefaultSite,
    ::testing::Values(
        SiteCase{"DeletedIndexIsCopiedAgain",
                 [](World& w) {
                     w.start().reset();
                     ASSERT_TRUE(QFile::remove(indexPhp(w)));
                 },
                 [](World& w) { EXPECT_EQ(readFile(indexPhp(w)), bundled(w)); }},
        SiteCase{"ChangedIndexStaysUntouched",
                 [](World& w) { writeFile(indexPhp(w), "<?php echo 'mine';"); },
                 [](World& w) { EXPECT_EQ(readFile(indexPhp(w)), "<?php echo 'mine';"); }},
        SiteCase{"FolderWithoutIndexReceivesIt",
                 [](World& w) { writeFile(w.storage + QStringLiteral("/Sites/default/style.css"), "body{}"); },
                 [](World& w) {
                     EXPECT_EQ(readFile(indexPhp(w)), bundled(w));
                     EXPECT_EQ(readFile(w.storage + QStringLiteral("/Sites/default/style.css")), "body{}");
                 }},
        SiteCase{"MissingResourceCopiesNothing",
                 [](World& w) { w.t.platform.resourcesDir = w.dir.path() + QStringLiteral("/no-resources"); },
                 [](World& w) {
                     EXPECT_TRUE(QFileInfo(w.storage + QStringLiteral("/Sites/default")).isDir());
                     EXPECT_FALSE(QFileInfo::exists(indexPhp(w)));
                     EXPECT_TRUE(QFileInfo(w.storage + QStringLiteral("/Routers")).isDir());
                     EXPECT_TRUE(QFileInfo::exists(w.config));
                 }}),
    [](const ::testing::TestParamInfo<SiteCase>& info) { return info.param.name; });

// ---- Files that cannot be used ----------------------------------------------------------------

struct BadCase {
    std::string name;
    std::function<void(World&)> make;
};
void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }
class UnusableFile : public ::testing::TestWithParam<BadCase> {};

TEST_P(UnusableFile, IsSetAsideAndDefaultsAreUsed)
{
    World w;
    GetParam().make(w);
    const bool isFolder = QFileInfo(w.config).isDir();
    const QByteArray original = readFile(w.config);

    auto model = w.start();
    const AppConfig defaults = AppConfig::defaults(w.storage);
    EXPECT_EQ(model->config(), defaults);
    ASSERT_EQ(model->config().projects.size(), 1);
    EXPECT_EQ(model->config().projects[0].id, "default");

    // Kept aside under a new name before anything could write config.json.
    const QStringList aside = asideFiles(w.storage);
    ASSERT_EQ(aside.size(), 1);
    const QString asidePath = w.storage + u'/' + aside[0];
    EXPECT_EQ(QFileInfo(asidePath).isDir(), isFolder);
    if (!isFolder)
        EXPECT_EQ(readFile(asidePath), original);
    // Then the defaults were written, as for a first start.
    EXPECT_EQ(readFile(w.config), ConfigCoding::encode(defaults));
    // The status line says where the file went, and so does the notice, which stays.
    const QString message = QStringLiteral("Settings could not be read; the file was kept as ") + aside[0];
    EXPECT_EQ(model->statusMessage(), message);
    EXPECT_EQ(model->notice(), (Notice{message, w.storage}));

    // The next save (the PHP scan repairs the selection within a second of start-up) writes the
    // in-memory settings and leaves the kept file alone.
    QFile::remove(w.config);
    model->saveConfig();
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(readFile(w.config), ConfigCoding::encode(defaults));
    if (!isFolder)
        EXPECT_EQ(readFile(asidePath), original);

    // A later start reads the new file and does not touch the kept one.
    model.reset();
    auto again = w.start();
    EXPECT_EQ(asideFiles(w.storage), aside);
    EXPECT_EQ(again->config(), defaults);
    EXPECT_EQ(again->statusMessage(), QStringLiteral("Ready"));
    EXPECT_FALSE(again->notice());
}

INSTANTIATE_TEST_SUITE_P(
    Config, UnusableFile,
    ::testing::Values(
        BadCase{"Malformed", [](World& w) { writeFile(w.config, "{\"mysqlHost\": "); }},
        BadCase{"Empty", [](World& w) { writeFile(w.config, ""); }},
        BadCase{"Truncated",
                [](World& w) {
                    const std::string text = cleanFile(w).dump(2);
                    writeFile(w.config, QByteArray::fromStdString(text.substr(0, text.size() / 2)));
                }},
        // A key twice: the parser would keep the last value and the next save would lose the first.
        BadCase{"ProjectsTwice",
                [](World& w) {
                    std::string text = cleanFile(w).dump(2);
                    text.replace(0, 1, "{\n  \"projects\": [],");
                    writeFile(w.config, QByteArray::fromStdString(text));
                }},
        BadCase{"KeyTwiceInAProject",
                [](World& w) {
                    std::string text = cleanFile(w).dump(2);
                    const auto blog = text.find("\"id\": \"blog\"");
                    text.insert(blog, "\"port\": 8300, ");
                    writeFile(w.config, QByteArray::fromStdString(text));
                }},
        BadCase{"MissingStopCommand",
                [](World& w) {
                    json j = cleanFile(w);
                    j.erase("mysqlStopCommand");
                    writeFile(w.config, QByteArray::fromStdString(j.dump(2)));
                }},
        BadCase{"WrongType",
                [](World& w) {
                    json j = cleanFile(w);
                    j["projects"][1]["port"] = "8200";
                    writeFile(w.config, QByteArray::fromStdString(j.dump(2)));
                }},
        BadCase{"BadUser",
                [](World& w) {
                    json j = cleanFile(w);
                    j["user"] = {{"name", "Ada"}};
                    writeFile(w.config, QByteArray::fromStdString(j.dump(2)));
                }},
        BadCase{"NotUtf8",
                [](World& w) {
                    std::string text = cleanFile(w).dump(2);
                    text.replace(text.find("Blog"), 4, "Bl\xff\xfeg");
                    writeFile(w.config, QByteArray::fromStdString(text));
                }},
        BadCase{"FolderInItsPlace",
                [](World& w) {
                    ASSERT_TRUE(Files::makePath(w.config));
                    writeFile(w.config + QStringLiteral("/inside.txt"), "x");
                }}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return info.param.name; });

// A FIFO (or a socket, or a device) in place of config.json is set aside unopened: opening a FIFO
// to read waits for a writer, which never comes. A watchdog opens the FIFO's other end after a
// generous time, so a start that waits fails the test instead of hanging it.
TEST(NotARegularFile, AFifoInItsPlaceIsSetAsideWithoutWaiting)
{
    World w;
    ASSERT_TRUE(Files::makePath(w.storage));
    ASSERT_EQ(::mkfifo(QFile::encodeName(w.config).constData(), 0600), 0);

    std::mutex mutex;
    std::condition_variable done;
    bool started = false;
    bool hung = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (done.wait_for(lock, std::chrono::seconds(60), [&] { return started; }))
            return;
        hung = true;
        // Opening the writing end releases a reader blocked in open(); closing it gives it EOF.
        for (int i = 0; i < 600; ++i) {
            const int fd = ::open(QFile::encodeName(w.config).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            done.wait_for(lock, std::chrono::milliseconds(100));
        }
    });
    auto model = w.start();
    {
        std::lock_guard<std::mutex> lock(mutex);
        started = true;
    }
    done.notify_all();
    watchdog.join();
    ASSERT_FALSE(hung) << "the start waited on the FIFO";

    const AppConfig defaults = AppConfig::defaults(w.storage);
    EXPECT_EQ(model->config(), defaults);
    const QStringList aside = asideFiles(w.storage);
    ASSERT_EQ(aside.size(), 1);
    struct stat kept {};
    ASSERT_EQ(::lstat(QFile::encodeName(w.storage + u'/' + aside[0]).constData(), &kept), 0);
    EXPECT_TRUE(S_ISFIFO(kept.st_mode)) << "the FIFO itself was moved aside";
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Settings could not be read; the file was kept as ") + aside[0]);
    // A regular file with the defaults took its place.
    EXPECT_TRUE(QFileInfo(w.config).isFile());
    EXPECT_EQ(readFile(w.config), ConfigCoding::encode(defaults));

    model.reset();
    auto again = w.start();
    EXPECT_EQ(again->config(), defaults);
    EXPECT_EQ(again->statusMessage(), QStringLiteral("Ready"));
    EXPECT_EQ(asideFiles(w.storage), aside);
}

// ---- Migration ------------------------------------------------------------------------------

struct MigrationCase {
    std::string name;
    std::function<void(World&, json&)> edit;          // the file as found
    std::function<void(World&, AppConfig&)> expected; // applied to the decoded file
    bool rewritten;
};
void PrintTo(const MigrationCase& c, std::ostream* os) { *os << c.name; }
class Migration : public ::testing::TestWithParam<MigrationCase> {};

std::string s(const QString& text) { return text.toStdString(); }
json& blog(json& j) { return j["projects"][1]; }
Project& blog(AppConfig& c) { return c.projects[1]; }

void makeLaravel(const QString& folder)
{
    writeFile(folder + QStringLiteral("/artisan"), "#!/usr/bin/env php\n");
    writeFile(folder + QStringLiteral("/public/index.php"), "<?php\n");
}

TEST_P(Migration, RepairsExactlyWhatItShould)
{
    World w;
    json j = cleanFile(w);
    GetParam().edit(w, j);
    const QByteArray original = QByteArray::fromStdString(j.dump(2));
    writeFile(w.config, original);
    ::chmod(QFile::encodeName(w.config).constData(), 0644);

    AppConfig expected = *ConfigCoding::decode(original);
    GetParam().expected(w, expected);

    auto model = w.start();
    EXPECT_EQ(model->config(), expected);
    EXPECT_TRUE(asideFiles(w.storage).isEmpty());
    if (GetParam().rewritten) {
        EXPECT_EQ(readFile(w.config), ConfigCoding::encode(expected));
        EXPECT_EQ(mode(w.config), 0600);
    } else {
        EXPECT_EQ(readFile(w.config), original);
    }

    // Idempotent: a second start on the repaired file changes nothing.
    const QByteArray afterFirst = readFile(w.config);
    model.reset();
    auto again = w.start();
    EXPECT_EQ(again->config(), expected);
    EXPECT_EQ(readFile(w.config), afterFirst);
}

INSTANTIATE_TEST_SUITE_P(
    Config, Migration,
    ::testing::Values(
        MigrationCase{"NothingToRepair", [](World&, json&) {}, [](World&, AppConfig&) {}, false},
        MigrationCase{"EmptyPhpMyAdminRoot", [](World&, json& j) { j["phpMyAdminRoot"] = ""; },
                      [](World& w, AppConfig& c) { c.phpMyAdminRoot = w.storage + "/Tools/phpMyAdmin"; }, true},
        MigrationCase{"PhpMyAdminInOldStorage",
                      [](World& w, json& j) { j["phpMyAdminRoot"] = s(w.support + "/KoVani/Tools/phpMyAdmin"); },
                      [](World& w, AppConfig& c) { c.phpMyAdminRoot = w.storage + "/Tools/phpMyAdmin"; }, true},
        MigrationCase{"PhpMyAdminElsewhereInOldStorageIsRebased",
                      [](World& w, json& j) { j["phpMyAdminRoot"] = s(w.support + "/KoVani/Tools/pma-5.2/"); },
                      [](World& w, AppConfig& c) { c.phpMyAdminRoot = w.storage + "/Tools/pma-5.2"; }, true},
        MigrationCase{"PhpMyAdminUnderAnotherKoVaniFolderStays",
                      [](World& w, json& j) { j["phpMyAdminRoot"] = s(w.elsewhere + "/KoVani/phpMyAdmin"); },
                      [](World&, AppConfig&) {}, false},
        MigrationCase{"CurrentStorageIsCaseSensitivelyNotOld",
                      [](World& w, json& j) { j["phpMyAdminRoot"] = s(w.storage + "/Tools/other"); },
                      [](World&, AppConfig&) {}, false},
        MigrationCase{"EmptyMysqlPasswordAlsoFillsEmptyProjectPasswords",
                      [](World&, json& j) { j["mysqlPassword"] = ""; blog(j)["databasePassword"] = ""; },
                      [](World&, AppConfig& c) { c.mysqlPassword = "kelp"; blog(c).databasePassword = "kelp"; }, true},
        MigrationCase{"EmptyProjectPasswordTakesTheMysqlPassword",
                      [](World&, json& j) { j["mysqlPassword"] = "s3cret"; blog(j)["databasePassword"] = ""; },
                      [](World&, AppConfig& c) { blog(c).databasePassword = "s3cret"; }, true},
        MigrationCase{"BlankIsNotEmpty",
                      [](World&, json& j) { j["mysqlPassword"] = " "; blog(j)["databasePassword"] = " "; },
                      [](World&, AppConfig&) {}, false},
        MigrationCase{"MissingDatabaseKeysTakeDefaultsWithoutRewrite",
                      [](World&, json& j) {
                          for (const char* k : {"databaseName", "databaseUser", "databasePassword"})
                              blog(j).erase(k);
                      },
                      [](World&, AppConfig& c) {
                          EXPECT_EQ(blog(c).databaseName, "");
                          EXPECT_EQ(blog(c).databaseUser, "root");
                          EXPECT_EQ(blog(c).databasePassword, "kelp");
                      },
                      false},
        MigrationCase{"DatabaseNameAndUserAreNotTouched",
                      [](World&, json& j) { blog(j)["databaseName"] = ""; blog(j)["databaseUser"] = ""; },
                      [](World&, AppConfig&) {}, false},
        MigrationCase{"EmptyRootBecomesTheDefaultSite", [](World&, json& j) { blog(j)["root"] = ""; },
                      [](World& w, AppConfig& c) { blog(c).root = w.storage + "/Sites/default"; }, true},
        MigrationCase{"RootInOldStorageIsRebased",
                      [](World& w, json& j) { blog(j)["root"] = s(w.support + "/KoVani/Sites/blog"); },
                      [](World& w, AppConfig& c) { blog(c).root = w.storage + "/Sites/blog"; }, true},
        MigrationCase{"RootUnderAnotherKoVaniFolderStays",
                      [](World& w, json& j) { blog(j)["root"] = s(w.elsewhere + "/KoVani/blog"); },
                      [](World&, AppConfig&) {}, false},
        MigrationCase{"LaravelRootBecomesItsPublicFolder",
                      [](World& w, json& j) {
                          makeLaravel(w.elsewhere + "/shop");
                          blog(j)["root"] = s(w.elsewhere + "/shop");
                      },
                      [](World& w, AppConfig& c) { blog(c).root = w.elsewhere + "/shop/public"; }, true},
        MigrationCase{"LaravelPublicRootStays",
                      [](World& w, json& j) {
                          makeLaravel(w.elsewhere + "/shop");
                          blog(j)["root"] = s(w.elsewhere + "/shop/public");
                      },
                      [](World&, AppConfig&) {}, false},
        MigrationCase{"OldLaravelRootIsRebasedThenResolved",
                      [](World& w, json& j) {
                          makeLaravel(w.storage + "/Sites/shop");
                          blog(j)["root"] = s(w.support + "/KoVani/Sites/shop");
                      },
                      [](World& w, AppConfig& c) { blog(c).root = w.storage + "/Sites/shop/public"; }, true},
        MigrationCase{"UnstandardizedRootIsStandardized",
                      [](World& w, json& j) { blog(j)["root"] = s(w.elsewhere + "/./a/../blog/"); },
                      [](World& w, AppConfig& c) { blog(c).root = w.elsewhere + "/blog"; }, true},
        MigrationCase{"EmptyProjectListStaysEmpty", [](World&, json& j) { j["projects"] = json::array(); },
                      [](World&, AppConfig&) {}, false},
        MigrationCase{"EmptyProjectListTopLevelRepair",
                      [](World&, json& j) { j["projects"] = json::array(); j["phpMyAdminRoot"] = ""; },
                      [](World& w, AppConfig& c) {
                          c.phpMyAdminRoot = w.storage + "/Tools/phpMyAdmin";
                          EXPECT_TRUE(c.projects.isEmpty());
                      },
                      true},
        MigrationCase{"UserMissingOrNullIsNoProfile", [](World&, json& j) { j["user"] = nullptr; },
                      [](World&, AppConfig& c) { EXPECT_FALSE(c.user.has_value()); }, false},
        MigrationCase{"UserIsKeptThroughARepair",
                      [](World&, json& j) {
                          j["user"] = {{"name", "Ada"}, {"email", "a@x"}, {"avatarInitials", "A"}};
                          j["mysqlPassword"] = "";
                      },
                      [](World&, AppConfig& c) {
                          ASSERT_TRUE(c.user.has_value());
                          EXPECT_EQ(c.user->provider, "email");
                          c.mysqlPassword = "kelp";
                      },
                      true}),
    [](const ::testing::TestParamInfo<MigrationCase>& info) { return info.param.name; });

TEST(Migration, UntouchedFileKeepsItsBytesOrderAndUnknownKeys)
{
    World w;
    const QString text = QStringLiteral(
        R"({"projects":[{"port":8200,"root":"%1/blog","name":"Blog","id":"blog","colour":"red"}],)"
        R"("theme":{"dark":true},"selectedPhp":"","phpMyAdminRoot":"%2/Tools/phpMyAdmin","phpMyAdminPort":8081,)"
        R"("mysqlHost":"127.0.0.1","mysqlPort":3306,"mysqlUser":"root","mysqlPassword":"kelp",)"
        R"("mysqlStartCommand":"brew services start mysql","mysqlStopCommand":"brew services stop mysql","user":null})")
        .arg(w.elsewhere, w.storage);
    writeFile(w.config, text.toUtf8());
    ::chmod(QFile::encodeName(w.config).constData(), 0640);
    const QDateTime modified = QFileInfo(w.config).lastModified();

    auto model = w.start();
    EXPECT_EQ(readFile(w.config), text.toUtf8());
    EXPECT_EQ(QFileInfo(w.config).lastModified(), modified);
    EXPECT_EQ(mode(w.config), 0640);
    ASSERT_EQ(model->config().projects.size(), 1);
    EXPECT_EQ(model->config().projects[0].databasePassword, "kelp");

    // The next save writes the records only: unknown keys go, keys are sorted.
    model->saveConfig();
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    const QByteArray saved = readFile(w.config);
    EXPECT_EQ(saved, ConfigCoding::encode(model->config()));
    EXPECT_FALSE(saved.contains("theme"));
    EXPECT_FALSE(saved.contains("colour"));
    EXPECT_FALSE(saved.contains("\"user\""));
    EXPECT_EQ(mode(w.config), 0600);
}

// ---- Save -----------------------------------------------------------------------------------

TEST(Save, WritesTheWholeConfigAtomicallyAndPrivately)
{
    World w;
    auto model = w.start();
    model->modifyConfig([](AppConfig& c) {
        c.mysqlPassword = QStringLiteral("n3w");
        c.user = UserProfile{QStringLiteral("Ada"), QStringLiteral("a@x"), QStringLiteral("A"), QString(),
                             QStringLiteral("email"), QStringLiteral("t")};
    });
    model->saveConfig();
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(readFile(w.config), ConfigCoding::encode(model->config()));
    EXPECT_EQ(mode(w.config), 0600);
    EXPECT_EQ(QDir(w.storage).entryList(QDir::Files | QDir::Hidden), QStringList{"config.json"});

    // The storage folder removed while running is made again, privately.
    ASSERT_TRUE(QDir(w.storage).removeRecursively());
    model->saveConfig();
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(readFile(w.config), ConfigCoding::encode(model->config()));
    EXPECT_EQ(mode(w.storage), 0700);
}

TEST(Save, FailureIsReportedAndKeepsMemory)
{
    World w;
    auto model = w.start();
    const QByteArray before = readFile(w.config);
    ASSERT_TRUE(QFile::remove(w.config));
    ASSERT_TRUE(Files::makePath(w.config)); // a folder where the file should be
    model->modifyConfig([](AppConfig& c) { c.mysqlPort = 3307; });
    model->saveConfig();
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(model->config().mysqlPort, 3307);
    EXPECT_TRUE(QFileInfo(w.config).isDir());
    EXPECT_FALSE(before.isEmpty());
    const QString failure = model->statusMessage();
    EXPECT_TRUE(failure.startsWith(QStringLiteral("Could not save settings: "))) << failure.toStdString();
    EXPECT_GT(failure.size(), QStringLiteral("Could not save settings: ").size()) << "the reason follows";

    // An operation that reports its own outcome after saving still ends on the failure.
    model->setStatusMessage(QStringLiteral("Ready"));
    model->updateProjectPath(model->config().projects.at(0), w.elsewhere);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Project path updated."));
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(model->statusMessage(), failure);

    // A save that works again says nothing.
    ASSERT_TRUE(QDir(w.config).removeRecursively());
    model->setStatusMessage(QStringLiteral("Ready"));
    model->saveConfig();
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Ready"));
    EXPECT_EQ(readFile(w.config), ConfigCoding::encode(model->config()));
}

TEST(Save, WithoutStorageFolderNothingIsWritten)
{
    World w;
    w.t.platform.applicationSupport.clear();
    w.t.platform.storageRoot.clear();
    const QStringList rootPaths{"/config.json", "/Sites", "/Logs", "/Tools", "/Routers", "/Kovani"};
    QStringList before;
    for (const QString& path : rootPaths)
        if (QFileInfo::exists(path))
            before << path;
    auto model = w.start();
    model->saveConfig();
    EXPECT_TRUE(model->configURL().isEmpty());
    EXPECT_EQ(model->config(), AppConfig::defaults(QString()));
    QStringList after;
    for (const QString& path : rootPaths)
        if (QFileInfo::exists(path))
            after << path;
    EXPECT_EQ(after, before);
}

// ---- Document root --------------------------------------------------------------------------

TEST(ResolvedDocumentRoot, StandardizesAndFindsLaravelPublic)
{
    QTemporaryDir dir;
    const QString base = dir.path();
    makeLaravel(base + QStringLiteral("/laravel"));
    writeFile(base + QStringLiteral("/artisanOnly/artisan"), "x");
    writeFile(base + QStringLiteral("/publicOnly/public/index.php"), "x");
    writeFile(base + QStringLiteral("/emptyPublic/artisan"), "x");
    Files::makePath(base + QStringLiteral("/emptyPublic/public"));

    const std::vector<std::pair<QString, QString>> cases = {
        {base + "/laravel", base + "/laravel/public"},
        {base + "/laravel/", base + "/laravel/public"},
        {base + "/laravel/./x/..", base + "/laravel/public"},
        {base + "/laravel/public", base + "/laravel/public"},
        {base + "/artisanOnly", base + "/artisanOnly"},
        {base + "/publicOnly", base + "/publicOnly"},
        {base + "/emptyPublic", base + "/emptyPublic"},
        {base + "/missing/../gone/", base + "/gone"},
        {base + "//double//slash", base + "/double/slash"},
        {"/", "/"},
        {"/../x", "/x"},
        {"relative/site", QDir::currentPath() + "/relative/site"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(AppModel::resolvedDocumentRoot(input), expected) << input.toStdString();
}

} // namespace

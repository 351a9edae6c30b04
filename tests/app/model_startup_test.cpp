// The model's construction and its deferred start-up, observed through the start-up trace.
#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "platform/Files.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <optional>

static void PrintTo(const QStringList& l, std::ostream* os) { *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']'; }

namespace {

using TestEnvironment::waitUntil;

// What the trace saw: the steps, when the first deferred one ran, and the PHP list published at
// the moment phpMyAdmin was considered.
struct Recorder {
    QStringList steps;
    QElapsedTimer clock;
    qint64 firstDeferredMs = -1;
    bool offMainThread = false;
    AppModel* model = nullptr;
    std::optional<QList<PHPVersion>> versionsAtPhpMyAdmin;
    std::optional<QString> selectedAtPhpMyAdmin;
};

// A world whose start-up touches nothing real: free ports that no server uses, MySQL commands
// that do nothing, and one supported PHP: the bundle's own runtime.
struct StartupWorld {
    QTemporaryDir dir;
    TestEnvironment::TestPlatform t = TestEnvironment::makePlatform(dir.path());
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    QString php = BundledPhp::binary();

    StartupWorld()
    {
        AppConfig c = AppConfig::defaults(t.platform.storageRoot);
        c.phpMyAdminPort = TestEnvironment::freePort();
        c.mysqlPort = TestEnvironment::freePort();
        c.mysqlStartCommand = QStringLiteral("true");
        c.mysqlStopCommand = QStringLiteral("true");
        c.mysqlPassword = QString(); // repaired by the migration at construction
        c.projects[0].port = TestEnvironment::freePort();
        Files::makePath(t.platform.storageRoot);
        Files::writeWholeFile(t.platform.storageRoot + QStringLiteral("/config.json"), ConfigCoding::encode(c));

        t.platform.runDeferredStartup = true;
        auto r = recorder;
        t.platform.startupTrace = [r](const QString& step) {
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                r->offMainThread = true;
            if (step != QStringLiteral("cleanupOrphanedPHPServers") && r->firstDeferredMs < 0)
                r->firstDeferredMs = r->clock.elapsed();
            if (step == QStringLiteral("autoStartPhpMyAdmin") && r->model) {
                r->versionsAtPhpMyAdmin = r->model->phpVersions();
                r->selectedAtPhpMyAdmin = r->model->config().selectedPhp;
            }
            r->steps << step;
        };
    }

    std::unique_ptr<AppModel> start()
    {
        recorder->clock.start();
        auto model = std::make_unique<AppModel>(t.platform);
        recorder->model = model.get();
        return model;
    }
};

// In the application the model lives for the whole process, and work that the deferred start-up
// put on the background queues may still refer to it: a model whose start-up ran is kept.
void keepAlive(std::unique_ptr<AppModel> model)
{
    static auto* kept = new std::vector<std::unique_ptr<AppModel>>;
    kept->push_back(std::move(model));
}

bool sawPhpMyAdmin(const Recorder& r) { return r.steps.contains(QStringLiteral("autoStartPhpMyAdmin")); }

TEST(ModelStartup, StateRightAfterConstruction)
{
    StartupWorld w;
    auto model = w.start();
    EXPECT_EQ(model->statusMessage(), "Ready");
    EXPECT_EQ(model->databaseStatus(), "Checking database...");
    EXPECT_TRUE(model->phpVersions().isEmpty());
    EXPECT_TRUE(model->runningProjects().isEmpty());
    EXPECT_FALSE(model->phpMyAdminPid().has_value());
    EXPECT_FALSE(model->isDatabaseRunning());
    EXPECT_EQ(model->selectedLog(), "");
    EXPECT_FALSE(model->isCreatingWebsite());
    EXPECT_EQ(model->websiteCreationProgress(), "");
    // Already the loaded and migrated settings.
    EXPECT_EQ(model->config().mysqlStartCommand, "true");
    EXPECT_EQ(model->config().mysqlPassword, "kelp");
    ASSERT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(ConfigCoding::decode([&] {
                  QFile f(model->configURL());
                  f.open(QIODevice::ReadOnly);
                  return f.readAll();
              }()),
              model->config());
    // Nothing of the deferred start-up yet.
    EXPECT_TRUE(w.recorder->steps.isEmpty()) << w.recorder->steps.join(u',').toStdString();
}

TEST(ModelStartup, OrphanCleanupIsStartedDuringConstruction)
{
    StartupWorld w;
    w.t.platform.runOrphanCleanup = true;
    auto model = w.start();
    EXPECT_EQ(w.recorder->steps, QStringList{"cleanupOrphanedPHPServers"});
    ASSERT_TRUE(waitUntil([&] { return sawPhpMyAdmin(*w.recorder); }, 15000));
    EXPECT_EQ(w.recorder->steps.first(), "cleanupOrphanedPHPServers");
    EXPECT_EQ(w.recorder->steps.count(QStringLiteral("cleanupOrphanedPHPServers")), 1);
    keepAlive(std::move(model));
}

struct TokenCase {
    std::string name;
    std::optional<QString> token;
    bool restores;
};
void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.name; }
class DeferredStartup : public ::testing::TestWithParam<TokenCase> {};

TEST_P(DeferredStartup, RunsInOrderAfterSixTenthsOfASecond)
{
    StartupWorld w;
    const std::optional<QString> token = GetParam().token;
    w.t.platform.sessionToken = [token]() { return token; };
    auto model = w.start();
    // A timer armed after the model's: the start-up is due long before it. A busy machine can
    // hold both back, but the one due first still fires first.
    std::optional<bool> startedBeforeTheLaterTimer;
    QTimer::singleShot(3000, model.get(), [&, r = w.recorder] { startedBeforeTheLaterTimer = r->firstDeferredMs >= 0; });

    // Not before 0.6 s: whatever had run when the clock still read less than that.
    waitUntil([&] { return w.recorder->clock.elapsed() >= 450; }, 2000);
    const bool nothingYet = w.recorder->steps.isEmpty();
    if (w.recorder->clock.elapsed() < 600)
        EXPECT_TRUE(nothingYet);

    ASSERT_TRUE(waitUntil([&] { return sawPhpMyAdmin(*w.recorder); }, 15000)) << w.recorder->steps.join(u',').toStdString();
    EXPECT_GE(w.recorder->firstDeferredMs, 600);
    ASSERT_TRUE(waitUntil([&] { return startedBeforeTheLaterTimer.has_value(); }, 30000));
    EXPECT_TRUE(*startedBeforeTheLaterTimer) << "the start-up waited past a timer due 3 s after the model was made";
    EXPECT_FALSE(w.recorder->offMainThread);

    QStringList expected{"readSecureToken"};
    if (GetParam().restores)
        expected << "restoreSessionFromSecureToken";
    expected << "autoStartDatabase" << "refreshPHPVersions" << "autoStartPhpMyAdmin";
    EXPECT_EQ(w.recorder->steps, expected);

    // phpMyAdmin is considered only once the scan has published its list and repaired the choice.
    QCoreApplication::processEvents();
    ASSERT_TRUE(w.recorder->versionsAtPhpMyAdmin.has_value());
    EXPECT_EQ(*w.recorder->versionsAtPhpMyAdmin, (QList<PHPVersion>{{w.php, BundledPhp::version(), true}}));
    EXPECT_EQ(*w.recorder->selectedAtPhpMyAdmin, w.php);
    EXPECT_EQ(model->phpVersions(), *w.recorder->versionsAtPhpMyAdmin);

    // It runs once only: nothing of it is left to run.
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(w.recorder->steps, expected);
    keepAlive(std::move(model));
}

INSTANTIATE_TEST_SUITE_P(Model, DeferredStartup,
                         ::testing::Values(TokenCase{"NoToken", std::nullopt, false},
                                           TokenCase{"EmptyToken", QString(), false},
                                           TokenCase{"Token", QStringLiteral("tok-123"), true},
                                           TokenCase{"BlankToken", QStringLiteral(" "), true}),
                         [](const ::testing::TestParamInfo<TokenCase>& info) { return info.param.name; });

TEST(DeferredStartup, KeychainIsReadWhenNoTokenHookIsSet)
{
    StartupWorld w;
    auto model = w.start();
    ASSERT_TRUE(waitUntil([&] { return sawPhpMyAdmin(*w.recorder); }, 15000));
    EXPECT_EQ(w.recorder->steps.first(), "readSecureToken");
    EXPECT_TRUE(w.recorder->steps.contains(QStringLiteral("autoStartDatabase")));
    keepAlive(std::move(model));
}

TEST(DeferredStartup, RepairSaveOfThePhpScanLeavesAnUndecodableFileAside)
{
    StartupWorld w;
    const QString config = w.t.platform.storageRoot + QStringLiteral("/config.json");
    QFile::remove(config);
    const QByteArray broken = "{\"projects\": [{\"id\": \"shop\", \"name\": \"Shop\"}], \"mysqlHost\": ";
    Files::writeWholeFile(config, broken);
    auto model = w.start();
    ASSERT_TRUE(waitUntil([&] { return sawPhpMyAdmin(*w.recorder); }, 15000));
    // Settings are written off the main thread.
    ASSERT_TRUE(TestEnvironment::configWritten(*model, 15000));

    // The scan did not keep the (empty) choice and saved; the broken file survived under its own name.
    const QStringList aside = QDir(w.t.platform.storageRoot).entryList({QStringLiteral("config.json.unreadable-*")});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(w.t.platform.storageRoot + u'/' + aside[0]);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), broken);
    QFile saved(config);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const std::optional<AppConfig> written = ConfigCoding::decode(saved.readAll());
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(written->selectedPhp, w.php);
    EXPECT_EQ(written->projects.size(), 1);
    EXPECT_EQ(written->projects[0].id, "default");
    keepAlive(std::move(model));
}

TEST(DeferredStartup, NothingRunsWhenTheModelIsGoneBeforeSixTenths)
{
    for (int lifetimeMs : {0, 300, 550}) {
        StartupWorld w;
        w.t.platform.sessionToken = []() { return std::optional<QString>(QStringLiteral("tok")); };
        auto model = w.start();
        // No events are handled meanwhile, so however late the reset comes under load, the
        // deferred start-up has not had its turn yet.
        QThread::msleep(static_cast<unsigned long>(lifetimeMs));
        model.reset();
        w.recorder->model = nullptr;
        ASSERT_TRUE(Dispatch::drainForTesting());
        EXPECT_TRUE(w.recorder->steps.isEmpty()) << lifetimeMs << ": " << w.recorder->steps.join(u',').toStdString();
    }
}

TEST(DeferredStartup, OffWhenThePlatformSaysSo)
{
    StartupWorld w;
    w.t.platform.runDeferredStartup = false;
    auto model = w.start();
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_TRUE(w.recorder->steps.isEmpty());
    EXPECT_EQ(model->statusMessage(), "Ready");
}

} // namespace

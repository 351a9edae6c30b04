// The model's shutdown runs exactly once when the application quits: by closing the window, by
// the quit shortcut, and by SIGTERM, SIGINT or SIGHUP sent to the process.
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/SablewickhavenApp.h"
#include "platform/Process.h"
#include "app/PageRegistry.h"
#include "platform/Dispatch.h"
#include "services/ServerTestKit.h"
#include "support/LiveProcesses.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace {

// Runs the application's event loop with `during` queued inside it; a watchdog ends a loop
// that does not quit. Returns the loop's exit code.
int runApplication(const std::function<void()>& during)
{
    QCoreApplication::removePostedEvents(qApp, QEvent::Quit);
    QTimer::singleShot(0, qApp, during);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, []() { QCoreApplication::exit(99); });
    watchdog.start(15000);
    return QApplication::exec();
}

// Signals sent by sendFromOutside() so far.
std::atomic<int> signalsSent{0};

// Delivers the signal to the process from another thread, as `kill` from outside would; a
// little apart, so that the process takes them as separate signals.
void sendFromOutside(int signalNumber, int times = 1)
{
    std::thread([signalNumber, times]() {
        for (int i = 0; i < times; ++i) {
            if (i > 0)
                ::usleep(20000);
            ::kill(::getpid(), signalNumber);
            ++signalsSent;
        }
    }).detach();
}

class Termination : public ::testing::Test {
protected:
    void SetUp() override
    {
        SablewickhavenApp::prepare(*qApp);
        t = TestEnvironment::makePlatform(dir.path());
        window = std::make_unique<ContentView>(t.platform);
        window->setTerminationHandler([this]() { ++shutdowns; });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    QTemporaryDir dir;
    TestEnvironment::TestPlatform t;
    std::unique_ptr<ContentView> window;
    int shutdowns = 0;
};

} // namespace

TEST_F(Termination, ClosingTheWindowShutsDownOnce)
{
    EXPECT_EQ(runApplication([this]() { window->close(); }), 0);
    EXPECT_EQ(shutdowns, 1);
    // Nothing runs it again, not even the window going away.
    window.reset();
    EXPECT_EQ(shutdowns, 1);
}

TEST_F(Termination, ClosingTheWindowWithASheetOpenStillQuits)
{
    auto* sheet = new QDialog(window.get());
    sheet->setWindowModality(Qt::WindowModal);
    EXPECT_EQ(runApplication([this, sheet]() {
                  sheet->open();
                  window->close();
              }),
              0);
    EXPECT_EQ(shutdowns, 1);
}

TEST_F(Termination, QuitShortcutShutsDownOnce)
{
    EXPECT_EQ(runApplication([this]() { QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier); }), 0);
    EXPECT_EQ(shutdowns, 1);
}

TEST_F(Termination, QuitShortcutWorksWhileASheetIsOpen)
{
    auto* sheet = new QDialog(window.get());
    sheet->setWindowModality(Qt::WindowModal);
    auto* field = new QLineEdit(sheet);
    EXPECT_EQ(runApplication([sheet, field]() {
                  sheet->open();
                  field->setFocus();
                  QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
              }),
              0);
    EXPECT_EQ(shutdowns, 1);
}

TEST_F(Termination, EachTerminationSignalShutsDownOnce)
{
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        shutdowns = 0;
        const int sentBefore = signalsSent.load();
        window = std::make_unique<ContentView>(t.platform);
        window->setTerminationHandler([this]() { ++shutdowns; });
        window->show();
        // Two signals in a row: still one shutdown.
        EXPECT_EQ(runApplication([signalNumber]() { sendFromOutside(signalNumber, 2); }), 0) << signalNumber;
        EXPECT_EQ(shutdowns, 1) << signalNumber;
        // The second signal may land after the loop ended; it must not quit the next one early.
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return signalsSent.load() == sentBefore + 2; })) << signalNumber;
        ASSERT_TRUE(Dispatch::drainForTesting());
        EXPECT_EQ(shutdowns, 1) << signalNumber;
    }
}

TEST_F(Termination, SigtermStopsRunningWebsitesBeforeTheProcessEnds)
{
    // The default handler: the model's own shutdown.
    window = std::make_unique<ContentView>(t.platform);
    window->show();
    AppModel& model = window->model();
    const QString php = BundledPhp::binary();
    model.setPhpVersions({PHPVersion{php, BundledPhp::version(), true}});
    const QString site = dir.path() + QStringLiteral("/site");
    TestFiles::writeFile(site + QStringLiteral("/index.php"), "<?php echo 'hello';\n");
    Project project = ServerTestKit::makeProject(QStringLiteral("site"), QStringLiteral("Site"), site, TestEnvironment::freePort());
    project.databaseName = QStringLiteral("site");
    model.modifyConfig([&](AppConfig& c) {
        c.selectedPhp = php;
        c.projects = {project};
    });
    model.startInternal(project);
    ASSERT_TRUE(TestEnvironment::waitUntil([&model]() { return model.runningProjects().contains(QStringLiteral("site")); },
                                           30000))
        << model.statusMessage().toStdString();
    const qint32 pid = model.runningProjects().value(QStringLiteral("site"));
    ASSERT_TRUE(Process::exists(pid));

    EXPECT_EQ(runApplication([]() { sendFromOutside(SIGTERM); }), 0);
    EXPECT_FALSE(Process::exists(pid));
}


// Quitting while a website is being created (the create sheet open and refusing to close)
// cancels the creation: the process ends without waiting for the command, which is gone, and so
// is the half-made website.
TEST_F(Termination, QuittingDuringACreationCancelsItAndLeavesNothing)
{
    const QList<std::pair<const char*, std::function<void(ContentView&)>>> quits = {
        {"SIGTERM", [](ContentView&) { sendFromOutside(SIGTERM); }},
        {"window close", [](ContentView& w) { w.windowHandle()->close(); }},
        {"quit shortcut in the sheet",
         [](ContentView& w) { QTest::keyClick(w.presentedSheet(SheetKind::createWebsite), Qt::Key_Q, Qt::ControlModifier); }},
    };
    int n = 0;
    for (const auto& [label, quit] : quits) {
        SCOPED_TRACE(label);
        QTemporaryDir root;
        TestEnvironment::TestPlatform p = TestEnvironment::makePlatform(root.path());
        auto view = std::make_unique<ContentView>(p.platform);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        AppModel& model = view->model();
        const QString php = BundledPhp::binary();
        model.setPhpVersions({PHPVersion{php, BundledPhp::version(), true}});
        // A Composer that starts the website's folder and then takes its time.
        TestFiles::writeFile(model.toolsURL() + QStringLiteral("/composer.phar"),
                             "<?php mkdir($argv[3]); file_put_contents($argv[3] . '/partial', 'x'); sleep(600);");
        const QString name = QStringLiteral("Slow Site %1").arg(++n);
        const QString destination = model.sitesURL() + QStringLiteral("/slow-site-%1").arg(n);

        view->setSheetShown(SheetKind::createWebsite, true);
        QDialog* sheet = view->presentedSheet(SheetKind::createWebsite);
        ASSERT_NE(sheet, nullptr);
        std::optional<bool> result;
        model.createWebsite(WebsiteTemplate::laravel, name, model.sitesURL(), TestEnvironment::freePort(), QString(),
                            [&result](bool created) { result = created; });
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return QFileInfo::exists(destination + QStringLiteral("/partial")); },
                                               15000))
            << model.statusMessage().toStdString();
        ASSERT_FALSE(LiveProcesses::mentioning(destination).isEmpty());
        // The sheet still refuses to be closed by itself.
        sheet->close();
        ASSERT_TRUE(sheet->isVisible());

        QElapsedTimer timer;
        EXPECT_EQ(runApplication([&, quit = quit]() {
                      timer.start();
                      quit(*view);
                  }),
                  0);
        // A hang guard: the Composer would take ten minutes. The quit ended it instead.
        EXPECT_LT(timer.elapsed(), 30000);
        EXPECT_FALSE(QFileInfo::exists(destination));
        EXPECT_TRUE(LiveProcesses::mentioning(destination).isEmpty());
        view.reset();
        ASSERT_TRUE(Dispatch::drainForTesting());
    }
}

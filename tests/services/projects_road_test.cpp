// The main road through the real window: Projects, Import Website with the default site's
// folder on a free port, Start, the page answers, Open, Stop, and quitting leaves no server and no
// worker.
#include "app/ContentView.h"
#include "app/Sidebar.h"
#include "services/AddProjectSheet.h"
#include "services/ProjectRow.h"
#include "services/ProjectsPage.h"
#include "services/ServerTestKit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace ServerTestKit;
using TestEnvironment::freePort;
using TestEnvironment::waitUntil;

TEST(ProjectsRoad, ImportTheDefaultSiteStartOpenAndStop)
{
    QTemporaryDir dir;
    auto platform = TestEnvironment::makePlatform(dir.path());

    auto window = std::make_unique<ContentView>(platform.platform);
    window->resize(1200, 800);
    window->show();
    AppModel& model = window->model();
    // No database server here: the import's background job fails fast.
    model.modifyConfig([](AppConfig& c) { c.mysqlPort = freePort(); });
    bool scanned = false;
    model.refreshPHPVersions([&] { scanned = true; });
    ASSERT_TRUE(waitUntil([&] { return scanned; }, 20000));
    ASSERT_TRUE(model.selectedPHP().has_value()) << model.statusMessage().toStdString();
    // Found by the real discovery: the bundle's own runtime.
    EXPECT_EQ(model.selectedPHP()->binary, BundledPhp::binary());

    QTest::mouseClick(window->sidebar()->sectionButton(AppSection::projects), Qt::LeftButton);
    auto* page = qobject_cast<ProjectsPage*>(window->page());
    ASSERT_NE(page, nullptr);

    QTest::mouseClick(page->importWebsiteButton(), Qt::LeftButton);
    auto* sheet = qobject_cast<AddProjectSheet*>(window->presentedSheet(SheetKind::addProject));
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(waitUntil([&] { return sheet->isVisible(); }, 15000));

    const quint16 port = freePort();
    const QString defaultSite = model.sitesURL() + "/default";
    QTest::keyClicks(sheet->nameField(), "Default Copy");
    *platform.nextChosenFolder = defaultSite;
    QTest::mouseClick(sheet->browseButton(), Qt::LeftButton);
    sheet->portField()->selectAll();
    QTest::keyClicks(sheet->portField(), QString::number(port));
    ASSERT_TRUE(sheet->importButton()->isEnabled());
    QTest::mouseClick(sheet->importButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !window->showAddProject(); }, 15000)) << model.statusMessage().toStdString();

    ProjectRow* row = page->row("default-copy");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->project().root, defaultSite);
    QTest::mouseClick(row->startStopButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model.isRunning("default-copy"); }, 30000)) << model.statusMessage().toStdString();
    EXPECT_EQ(model.statusMessage(), QStringLiteral("Default Copy started on port %1.").arg(port));
    const qint32 pid = model.runningProjects().value("default-copy");

    const Reply reply = curl(port, "/");
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body.contains("It works!")) << reply.body.toStdString();

    QTest::mouseClick(row->openButton(), Qt::LeftButton);
    EXPECT_EQ(platform.openedURLs->value(0), QStringLiteral("http://127.0.0.1:%1").arg(port));

    QTest::mouseClick(row->startStopButton(), Qt::LeftButton);
    EXPECT_EQ(model.statusMessage(), QStringLiteral("Default Copy stopped."));
    EXPECT_FALSE(Process::exists(pid));
    EXPECT_EQ(curl(port, "/").status, 0);

    // Start again and quit: the window's termination handler leaves no server behind.
    QTest::mouseClick(row->startStopButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model.isRunning("default-copy"); }, 30000));
    const qint32 second = model.runningProjects().value("default-copy");
    const QString routers = model.routersURL();
    // The server and the workers it forked.
    ASSERT_TRUE(waitUntil([&] { return processesMentioning(routers).size() == 1 + kServerWorkers; }, 30000));
    // Closing the window quits the event loop, which runs the termination handler.
    QTimer::singleShot(0, window.get(), [&] { window->close(); });
    QCoreApplication::exec();
    EXPECT_TRUE(model.runningProjects().isEmpty());
    window.reset();
    EXPECT_FALSE(Process::exists(second));
    EXPECT_TRUE(processesMentioning(routers).isEmpty());
}

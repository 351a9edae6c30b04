// The projects page and its cards, driven through real widgets on the offscreen platform
// against real PHP servers.
#include "app/ContentView.h"
#include "app/DisclosureButton.h"
#include "app/ElidedLabel.h"
#include "app/LogBox.h"
#include "app/PageRegistry.h"
#include "app/SelectableText.h"
#include "app/Spinner.h"
#include "app/Theme.h"
#include "services/ProjectCards.h"
#include "services/ProjectRow.h"
#include "services/ProjectsPage.h"
#include "platform/UrlOpener.h"
#include "services/ServerTestKit.h"

#include <QAccessible>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTcpServer>

#include <csignal>

using namespace ServerTestKit;
using TestEnvironment::freePort;
using TestEnvironment::waitUntil;

namespace {

class ProjectsPageTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        Theme::install();
    }

    void TearDown() override
    {
        // The page is the test's to destroy, not the scroll area's.
        if (area)
            area->takeWidget();
        area.reset();
        page.reset();
        ServerTest::TearDown();
    }

    ProjectsPage& makePage()
    {
        page = std::make_unique<ProjectsPage>(
            *model, [this] { ++createCalls; }, [this] { ++importCalls; },
            [this](const Project& p) { openedIDE.append(p); });
        page->resize(1100, 900);
        page->show();
        return *page;
    }

    // A new page in a scroll area of the window's size, as in the window.
    QScrollArea& makePageInScrollArea()
    {
        area = std::make_unique<QScrollArea>();
        area->setWidgetResizable(true);
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        page = std::make_unique<ProjectsPage>(*model, [] {}, [] {}, [](const Project&) {});
        area->setWidget(page.get());
        area->resize(1120, 760);
        area->show();
        return *area;
    }

    void setProjects(const QList<Project>& projects)
    {
        model->modifyConfig([&](AppConfig& c) { c.projects = projects; });
        model->saveConfig();
        // A window made next reads the file.
        EXPECT_TRUE(TestEnvironment::configWritten(*model));
    }

    QStringList rowIds() const
    {
        QStringList ids;
        for (ProjectRow* row : page->rows())
            ids.append(row->project().id);
        return ids;
    }

    static void click(QAbstractButton* button)
    {
        ASSERT_TRUE(button->isVisible());
        ASSERT_TRUE(button->isEnabled()) << button->text().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void expectStoppedRow(ProjectRow* row)
    {
        EXPECT_FALSE(row->statusDot()->isRunning());
        EXPECT_EQ(row->statusDot()->color(), Theme::withOpacity(Theme::secondary(), 0.35));
        EXPECT_EQ(row->startStopButton()->text(), QStringLiteral("Start"));
        EXPECT_TRUE(row->startStopButton()->property("prominent").toBool());
        EXPECT_EQ(row->portLabel()->text(), QStringLiteral("Port ") + QString::number(row->project().port));
        EXPECT_FALSE(row->openButton()->isEnabled());
        // Logs stays available while the website's log is on disk.
        EXPECT_EQ(row->logsButton()->isEnabled(),
                  QFileInfo::exists(model->logsURL() + u'/' + row->project().id + QStringLiteral(".log")));
        EXPECT_TRUE(row->choosePathButton()->isEnabled());
        EXPECT_TRUE(row->removeButton()->isEnabled());
        EXPECT_TRUE(row->codeIDEButton()->isEnabled());
    }

    void expectRunningRow(ProjectRow* row)
    {
        const qint32 pid = model->runningProjects().value(row->project().id);
        EXPECT_TRUE(row->statusDot()->isRunning());
        EXPECT_EQ(row->statusDot()->color(), Theme::green());
        EXPECT_EQ(row->startStopButton()->text(), QStringLiteral("Stop"));
        EXPECT_FALSE(row->startStopButton()->property("prominent").toBool());
        EXPECT_EQ(row->portLabel()->text(),
                  QStringLiteral("Port %1 \u00B7 pid %2").arg(row->project().port).arg(pid));
        EXPECT_TRUE(row->openButton()->isEnabled());
        EXPECT_TRUE(row->logsButton()->isEnabled());
        EXPECT_FALSE(row->choosePathButton()->isEnabled());
        EXPECT_FALSE(row->removeButton()->isEnabled());
    }

    std::unique_ptr<QScrollArea> area;
    std::unique_ptr<ProjectsPage> page;
    int createCalls = 0;
    int importCalls = 0;
    QList<Project> openedIDE;
};

} // namespace

TEST_F(ProjectsPageTest, EmptyListShowsHeaderAndLogPlaceholder)
{
    setProjects({});
    makePage();
    EXPECT_EQ(page->titleLabel()->text(), QStringLiteral("Websites"));
    EXPECT_TRUE(page->rows().isEmpty());
    EXPECT_FALSE(page->stopAllButton()->isEnabled());
    EXPECT_TRUE(page->createWebsiteButton()->isEnabled());
    EXPECT_TRUE(page->importWebsiteButton()->isEnabled());
    EXPECT_FALSE(page->progressBox()->isVisible());
    EXPECT_EQ(page->logBox()->text(), QStringLiteral("Select Logs on a website to view output."));
    EXPECT_EQ(page->logBox()->title(), QStringLiteral("Logs"));

    click(page->createWebsiteButton());
    click(page->importWebsiteButton());
    EXPECT_EQ(createCalls, 1);
    EXPECT_EQ(importCalls, 1);
}

TEST_F(ProjectsPageTest, PageIsTheRegisteredProjectsPage)
{
    const ProjectsPageFactory factory = PageRegistry::projectsPage();
    ASSERT_TRUE(factory);
    std::unique_ptr<QWidget> built(factory(*model, {}, {}, {}));
    EXPECT_NE(dynamic_cast<ProjectsPage*>(built.get()), nullptr);
}

TEST_F(ProjectsPageTest, RowsShowEveryLineOfTheirProject)
{
    model->modifyConfig([](AppConfig& c) {
        c.mysqlHost = "127.0.0.1";
        c.mysqlPort = 3306;
        c.mysqlUser = "dbadmin";
    });
    Project blank = makeProject("my-blog", "My Blog", path("blog"), 8080);
    blank.databaseName = "";
    blank.databaseUser = "";
    Project full = makeProject("shop", "Shop <b>bold</b>", path("shop/public"), 9001);
    full.databaseName = "shop_db";
    full.databaseUser = "shopper";
    full.databasePassword = "s3cret";
    setProjects({blank, full});
    makePage();

    ASSERT_EQ(rowIds(), (QStringList{"my-blog", "shop"}));
    ProjectRow* first = page->row("my-blog");
    EXPECT_EQ(first->nameLabel()->text(), QStringLiteral("My Blog"));
    EXPECT_EQ(first->rootLabel()->text(), path("blog"));
    EXPECT_EQ(first->rootLabel()->maxLines(), 1);
    EXPECT_EQ(first->portLabel()->text(), QStringLiteral("Port 8080"));
    EXPECT_EQ(first->urlLabel()->text(), QStringLiteral("URL: http://localhost:8080"));
    EXPECT_EQ(first->altLabel()->text(), QStringLiteral("Alt: http://127.0.0.1:8080"));
    EXPECT_EQ(first->databaseLabel()->text(), QStringLiteral("DB: my-blog \u00B7 dbadmin@127.0.0.1:3306"));
    expectStoppedRow(first);

    ProjectRow* second = page->row("shop");
    EXPECT_EQ(second->nameLabel()->text(), QStringLiteral("Shop <b>bold</b>"));
    EXPECT_EQ(second->nameLabel()->displayedLines(), QStringList{"Shop <b>bold</b>"}) << "drawn as typed, not as markup";
    EXPECT_EQ(second->databaseLabel()->text(), QStringLiteral("DB: shop_db \u00B7 shopper@127.0.0.1:3306"));
    EXPECT_FALSE(second->databaseLabel()->text().contains("s3cret"));

    // The configuration section starts collapsed and shows projectEnv, selectable.
    EXPECT_FALSE(second->isConfigExpanded());
    EXPECT_FALSE(second->configText()->isVisible());
    EXPECT_EQ(second->configToggle()->text(), QStringLiteral("Website config"));
    click(second->configToggle());
    EXPECT_TRUE(second->isConfigExpanded());
    EXPECT_TRUE(second->configText()->isVisible());
    EXPECT_EQ(second->configText()->text(), model->projectEnv(full));
    EXPECT_TRUE(second->configText()->textInteractionFlags() & Qt::TextSelectableByMouse);
}

TEST_F(ProjectsPageTest, OpenWithoutABrowserSaysWhatAndWhy)
{
    // The model's opener runs the program this test names.
    auto opener = std::make_shared<QString>();
    model->shutdown();
    platform.platform.openURL = [opener](const QUrl& url, std::function<void(const QString&)> failed) {
        if (const std::optional<QString> reason = UrlOpener::openWith(*opener, url, failed))
            failed(*reason);
    };
    model = std::make_unique<AppModel>(platform.platform);
    selectRuntime(*model, php);
    const quint16 port = freePort();
    setProjects({makeProject("alpha", "Alpha", makeSite(path("alpha")), port)});
    makePage();
    ProjectRow* row = page->row("alpha");
    click(row->startStopButton());
    ASSERT_TRUE(waitRunning("alpha"));

    TestEnvironment::NoDesktopHandlers nothing;
    const QString address = QStringLiteral("http://127.0.0.1:%1").arg(port);
    const struct {
        QString program;
        QString status;
    } cases[] = {
        {ToolPaths().xdgOpen, QStringLiteral("Could not open %1: no application is set up to open it (xdg-open exit status 3).").arg(address)},
        {QStringLiteral("/nonexistent/xdg-open"), QStringLiteral("Could not open %1: /nonexistent/xdg-open is not installed.").arg(address)},
    };
    for (const auto& c : cases) {
        *opener = c.program;
        model->setStatusMessage(QStringLiteral("Ready"));
        click(row->openButton());
        EXPECT_TRUE(waitUntil([&] { return model->statusMessage() == c.status; }, 20000))
            << c.program.toStdString() << ": " << model->statusMessage().toStdString();
    }
}

TEST_F(ProjectsPageTest, StartStopOpenAndLogsFollowTheModel)
{
    const quint16 port = freePort();
    const quint16 otherPort = freePort();
    setProjects({makeProject("alpha", "Alpha", makeSite(path("alpha")), port),
                 makeProject("beta", "Beta", makeSite(path("beta")), otherPort)});
    makePage();
    ProjectRow* row = page->row("alpha");
    click(row->configToggle());

    click(row->startStopButton());
    // Not yet confirmed: still shown as stopped; a second click is refused by the model.
    if (!model->isRunning("alpha")) {
        expectStoppedRow(row);
        click(row->startStopButton());
        EXPECT_EQ(model->statusMessage(), QStringLiteral("Alpha is already starting or running."));
    }
    ASSERT_TRUE(waitRunning("alpha"));
    EXPECT_EQ(page->row("alpha"), row) << "the card is kept across redraws";
    EXPECT_TRUE(row->isConfigExpanded()) << "the open configuration section survives status changes";
    expectRunningRow(row);
    expectStoppedRow(page->row("beta"));
    EXPECT_TRUE(page->stopAllButton()->isEnabled());

    click(row->openButton());
    EXPECT_EQ(*platform.openedURLs, QStringList{QStringLiteral("http://127.0.0.1:%1").arg(port)});

    EXPECT_EQ(curl(port, "/").body, QByteArray("front:/index.php:/"));
    writeFile(path("alpha/noisy.php"), "<?php file_put_contents('php://stderr', 'alpha wrote this'); echo 'ok';");
    curl(port, "/noisy.php");
    ASSERT_TRUE(waitUntil([&] {
        click(row->logsButton());
        return page->logBox()->text().contains("alpha wrote this");
    }));
    EXPECT_EQ(page->logBox()->text(), model->selectedLog());

    const QString loaded = page->logBox()->text();
    click(row->startStopButton());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Alpha stopped."));
    expectStoppedRow(row);
    EXPECT_TRUE(row->logsButton()->isEnabled()) << "the stopped website's log is still there";
    EXPECT_FALSE(page->row("beta")->logsButton()->isEnabled()) << "never started: no log";
    EXPECT_TRUE(row->isConfigExpanded());
    EXPECT_EQ(page->logBox()->text(), loaded) << "the log box keeps what was loaded";
    EXPECT_FALSE(page->stopAllButton()->isEnabled());
}

TEST_F(ProjectsPageTest, LogsOfAWebsiteThatStoppedUnexpectedlyCanBeRead)
{
    const quint16 port = freePort();
    setProjects({makeProject("crash", "Crash", makeSite(path("crash")), port)});
    makePage();
    ProjectRow* row = page->row("crash");
    click(row->startStopButton());
    ASSERT_TRUE(waitRunning("crash"));
    writeFile(path("crash/noisy.php"), "<?php file_put_contents('php://stderr', 'last words'); echo 'ok';");
    curl(port, "/noisy.php");
    ::kill(model->runningProjects().value("crash"), SIGKILL);
    ASSERT_TRUE(waitStopped("crash"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Crash stopped unexpectedly. Check Logs for details."));
    ASSERT_TRUE(row->logsButton()->isEnabled());
    click(row->logsButton());
    EXPECT_TRUE(waitUntil([&] { return page->logBox()->text().contains("last words"); })) << page->logBox()->text().toStdString();

    // A first start that fails leaves a log too, and Logs shows it.
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    setProjects({makeProject("fails", "Fails", makeSite(path("fails")), taken.serverPort())});
    ProjectRow* failing = page->row("fails");
    ASSERT_FALSE(failing->logsButton()->isEnabled());
    click(failing->startStopButton());
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage().startsWith("Failed to start Fails: "); }, 10000))
        << model->statusMessage().toStdString();
    EXPECT_TRUE(failing->logsButton()->isEnabled());
}

TEST_F(ProjectsPageTest, RunningChangesNameOnlyTheirWebsitesAndLogsOnDiskAtStartCount)
{
    // A log left by an earlier run enables Logs; the listing is taken once.
    writeFile(model->logsURL() + "/earlier.log", "from before\n");
    setProjects({makeProject("earlier", "Earlier", path("x"), 9001), makeProject("never", "Never", path("x"), 9002),
                 makeProject("third", "Third", path("x"), 9003)});
    makePage();
    EXPECT_TRUE(page->row("earlier")->logsButton()->isEnabled());
    EXPECT_FALSE(page->row("never")->logsButton()->isEnabled());

    QSignalSpy changed(model.get(), &AppModel::projectChanged);
    const auto changedIds = [&]() {
        QStringList ids;
        for (const QList<QVariant>& call : std::as_const(changed))
            ids.append(call.value(0).toString());
        changed.clear();
        ids.sort();
        return ids;
    };
    model->setRunningProjects({{"never", 41}});
    EXPECT_EQ(changedIds(), QStringList({"never"}));
    EXPECT_EQ(page->row("never")->portLabel()->text(), QStringLiteral("Port 9002 \u00B7 pid 41"));
    model->setRunningProjects({{"never", 42}, {"third", 43}});
    EXPECT_EQ(changedIds(), QStringList({"never", "third"}));
    EXPECT_EQ(page->row("never")->portLabel()->text(), QStringLiteral("Port 9002 \u00B7 pid 42"));
    EXPECT_EQ(page->row("third")->startStopButton()->text(), QStringLiteral("Stop"));
    model->setRunningProjects({{"never", 42}, {"third", 43}});
    EXPECT_TRUE(changedIds().isEmpty());
    model->setRunningProjects({{"third", 43}});
    EXPECT_EQ(changedIds(), QStringList({"never"}));
    expectStoppedRow(page->row("never"));
    EXPECT_FALSE(page->row("never")->logsButton()->isEnabled()) << "it never wrote a log";
    model->setStatusMessage("Anything");
    EXPECT_TRUE(changedIds().isEmpty());
    model->setRunningProjects({});
}

TEST_F(ProjectsPageTest, StopAllButtonStopsRunningWebsitesOnly)
{
    const quint16 port = freePort();
    const quint16 pmaPort = freePort();
    setProjects({makeProject("one", "One", makeSite(path("one")), port)});
    model->modifyConfig([&](AppConfig& c) { c.phpMyAdminPort = pmaPort; });
    makePage();
    model->startInternal(makeProject("phpmyadmin", "phpMyAdmin", makeSite(path("pma")), pmaPort));
    ASSERT_TRUE(waitRunning("phpmyadmin"));
    EXPECT_FALSE(page->stopAllButton()->isEnabled()) << "phpMyAdmin alone does not count";
    EXPECT_EQ(page->rows().size(), 1);

    click(page->row("one")->startStopButton());
    ASSERT_TRUE(waitRunning("one"));
    ASSERT_TRUE(page->stopAllButton()->isEnabled());
    click(page->stopAllButton());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("All websites stopped."));
    expectStoppedRow(page->row("one"));
    EXPECT_TRUE(model->isRunning("phpmyadmin"));
}

TEST_F(ProjectsPageTest, RemoveEditsTheSettingsAndLeavesTheFolder)
{
    const QString firstRoot = makeSite(path("first"));
    setProjects({makeProject("first", "First", firstRoot, 9001), makeProject("second", "Second", makeSite(path("second")), 9002),
                 makeProject("third", "Third", makeSite(path("third")), 9003)});
    makePage();
    ProjectRow* row = page->row("first");
    click(row->configToggle());
    click(row->removeButton());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("First stopped."));
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(rowIds(), (QStringList{"second", "third"}));
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    const AppConfig saved = ConfigCoding::decode(readFile(model->configURL())).value_or(AppConfig());
    ASSERT_EQ(saved.projects.size(), 2);
    EXPECT_EQ(saved.projects[0].id, QStringLiteral("second"));
    EXPECT_EQ(saved.projects[1].id, QStringLiteral("third"));
    EXPECT_TRUE(QFileInfo::exists(firstRoot + "/index.php"));

    // Two entries with one id go together.
    setProjects({makeProject("dup", "Dup", path("a"), 9101), makeProject("keep", "Keep", path("k"), 9102),
                 makeProject("dup", "Dup again", path("b"), 9103)});
    ASSERT_EQ(rowIds(), (QStringList{"dup", "keep", "dup"}));
    click(page->row("dup")->removeButton());
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(rowIds(), QStringList{"keep"});
    EXPECT_EQ(model->config().projects.size(), 1);
}

TEST_F(ProjectsPageTest, RemoveWhileStartingStopsTheJustLaunchedServer)
{
    const QString gate = path("lazy-gate");
    selectRuntime(*model, writeGatedPhp(path("bin/lazy-php"), gate));
    setProjects({makeProject("lazy", "Lazy", makeSite(path("lazy")), freePort())});
    makePage();
    ProjectRow* row = page->row("lazy");
    click(row->startStopButton());
    ASSERT_TRUE(model->isStarting("lazy"));
    // A process just launched shows its command line a moment later, and the gated runtime forks
    // a copy of itself now and then while it waits: the launched one is counted once it shows.
    QList<qint32> launched;
    ASSERT_TRUE(waitUntil([&] {
        launched = launchedMentioning(model->routersURL() + "/lazy-router.php");
        return !launched.isEmpty();
    }, 15000));
    ASSERT_EQ(launched.size(), 1);
    ASSERT_TRUE(model->isStarting("lazy"));
    expectStoppedRow(row);
    click(row->removeButton());
    EXPECT_FALSE(model->isStarting("lazy"));
    EXPECT_FALSE(Process::exists(launched.first()));
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_TRUE(page->rows().isEmpty());
    // No copy of the stopped runtime is left that could start its server once the gate opens.
    const QString router = model->routersURL() + "/lazy-router.php";
    EXPECT_TRUE(waitUntil([&] { return processesMentioning(router).isEmpty(); }, 15000));
    writeFile(gate, "");
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_TRUE(processesMentioning(router).isEmpty());
    EXPECT_FALSE(model->isStarting("lazy"));
    EXPECT_FALSE(model->isRunning("lazy"));
}

TEST_F(ProjectsPageTest, ChoosePathRepointsALaravelFolderToPublic)
{
    const QString laravel = path("laravel");
    writeFile(laravel + "/artisan", "");
    makeSite(laravel + "/public");
    setProjects({makeProject("app", "App", makeSite(path("old")), 9001)});
    makePage();
    ProjectRow* row = page->row("app");

    *platform.nextChosenFolder = QString(); // the chooser is cancelled
    model->setStatusMessage("untouched");
    click(row->choosePathButton());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("untouched"));
    EXPECT_EQ(model->config().projects.first().root, path("old"));

    *platform.nextChosenFolder = laravel;
    click(row->choosePathButton());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Project path updated."));
    EXPECT_EQ(model->config().projects.first().root, laravel + "/public");
    EXPECT_EQ(page->row("app"), row);
    EXPECT_EQ(row->rootLabel()->text(), laravel + "/public");

    click(row->codeIDEButton());
    ASSERT_EQ(openedIDE.size(), 1);
    EXPECT_EQ(openedIDE.first().root, laravel + "/public");
}

TEST_F(ProjectsPageTest, CreationProgressDisablesTheHeaderButtons)
{
    makePage();
    model->setWebsiteCreationProgress("Downloading WordPress...");
    model->setIsCreatingWebsite(true);
    EXPECT_TRUE(page->progressBox()->isVisible());
    EXPECT_EQ(page->progressLabel()->text(), QStringLiteral("Downloading WordPress..."));
    EXPECT_FALSE(page->createWebsiteButton()->isEnabled());
    EXPECT_FALSE(page->importWebsiteButton()->isEnabled());
    model->setWebsiteCreationProgress("Running Composer...");
    EXPECT_EQ(page->progressLabel()->text(), QStringLiteral("Running Composer..."));
    model->setIsCreatingWebsite(false);
    EXPECT_FALSE(page->progressBox()->isVisible());
    EXPECT_TRUE(page->createWebsiteButton()->isEnabled());
    EXPECT_TRUE(page->importWebsiteButton()->isEnabled());
}

TEST_F(ProjectsPageTest, ScreenshotWithOneRunningAndOneStoppedSite)
{
    const quint16 port = freePort();
    Project running = makeProject("storefront", "Storefront", makeSite(path("Sites/storefront")), port);
    running.databaseName = "storefront";
    Project stopped = makeProject("company-blog", "Company Blog", makeSite(path("Sites/company-blog")), freePort());
    stopped.databaseName = "";
    setProjects({running, stopped});
    makePage();
    click(page->row("storefront")->startStopButton());
    ASSERT_TRUE(waitRunning("storefront"));
    click(page->row("company-blog")->configToggle());
    curl(port, "/");
    click(page->row("storefront")->logsButton());
    ASSERT_TRUE(Dispatch::drainForTesting());

    const QString folder = qEnvironmentVariable("KOVANI_SCREENSHOT_DIR", QDir::tempPath());
    QDir().mkpath(folder);
    const QImage image = page->grab().toImage();
    EXPECT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(folder + "/projects-page.png"));
}

TEST_F(ProjectsPageTest, ALongListHasCardsForTheRowsInViewInListOrderAndKeepsRowStateByIdWhenReordered)
{
    QList<Project> projects;
    for (int i = 0; i < 300; ++i)
        projects.append(makeProject(QStringLiteral("site-%1").arg(i), QStringLiteral("Site %1").arg(i), path("x"), 9000 + i));
    setProjects(projects);
    QScrollArea& area = makePageInScrollArea();

    const auto idsOf = [](const QList<Project>& list) {
        QStringList ids;
        for (const Project& p : list)
            ids.append(p.id);
        return ids;
    };
    const auto inView = [&](QWidget* card) {
        const QRect shown(card->mapTo(area.viewport(), QPoint(0, 0)), card->size());
        return area.viewport()->rect().intersects(shown);
    };
    // The cards are rows of the list, in order and one below the other, each showing its own
    // project at its row's place: a run of consecutive rows around the view, and the first and the
    // last row (where Tab enters the list); there are cards only for about a screenful.
    const auto expectCardsFollowTheList = [&](const QStringList& expected, const char* when) {
        const QList<ProjectRow*> cards = page->rows();
        ASSERT_FALSE(cards.isEmpty()) << when;
        EXPECT_LT(cards.size(), 30) << when;
        EXPECT_LT(page->cardList()->findChildren<ProjectRow*>().size(), 40) << when << ": cards are reused";
        QList<qsizetype> run;
        qsizetype previous = -1;
        int previousY = -1;
        for (ProjectRow* card : cards) {
            const qsizetype index = expected.indexOf(card->project().id);
            ASSERT_GT(index, previous) << when;
            previous = index;
            EXPECT_EQ(card->nameLabel()->text(), model->config().projects.value(index).name) << when;
            EXPECT_EQ(card->geometry(), page->cardList()->rowRect(index)) << when;
            EXPECT_TRUE(card->isVisible()) << when;
            EXPECT_GT(card->y(), previousY) << when;
            previousY = card->y() + card->height();
            if (index != 0 && index != expected.size() - 1)
                run.append(index);
        }
        if (!run.isEmpty())
            EXPECT_EQ(run.last() - run.first() + 1, run.size()) << when << ": the rows around the view";
        EXPECT_EQ(cards.first()->project().id, expected.first()) << when;
        EXPECT_EQ(cards.last()->project().id, expected.last()) << when;
    };

    QStringList expected = idsOf(projects);
    ASSERT_FALSE(page->rows().isEmpty()) << "the first cards are there as soon as the page shows";
    EXPECT_EQ(page->rows().first()->project().id, QStringLiteral("site-0"));
    expectCardsFollowTheList(expected, "at the top");
    // Scrolled to any row, that row has a card in view.
    for (const int i : {1, 37, 140, 141, 298, 299, 0}) {
        const QString id = QStringLiteral("site-%1").arg(i);
        ProjectRow* card = page->revealRow(id);
        ASSERT_NE(card, nullptr) << i;
        EXPECT_EQ(card->project().id, id);
        EXPECT_EQ(card->portLabel()->text(), QStringLiteral("Port %1").arg(9000 + i));
        EXPECT_TRUE(inView(card)) << i;
        expectCardsFollowTheList(expected, "after scrolling");
    }
    EXPECT_GT(page->cardList()->height(), 300 * page->rows().first()->height()) << "as high as every row";

    // A row keeps its open configuration section when it scrolls away and back.
    ProjectRow* open = page->revealRow("site-150");
    ASSERT_NE(open, nullptr);
    click(open->configToggle());
    ASSERT_TRUE(open->isConfigExpanded());
    ASSERT_NE(page->revealRow("site-299"), nullptr);
    EXPECT_EQ(page->row("site-150"), nullptr) << "no card far from the view";
    for (ProjectRow* card : page->rows())
        EXPECT_FALSE(card->isConfigExpanded()) << card->project().id.toStdString() << " shows another row's state";
    open = page->revealRow("site-150");
    ASSERT_NE(open, nullptr);
    EXPECT_TRUE(open->isConfigExpanded());
    EXPECT_TRUE(open->configText()->isVisible());
    EXPECT_FALSE(page->revealRow("site-151")->isConfigExpanded());
    expectCardsFollowTheList(expected, "with an open section");

    // Reversed, one removed, two new ones (one at the front, one in the middle). site-150 keeps its
    // place in the list, so it stays in view and keeps its card.
    QPointer<ProjectRow> kept = page->revealRow("site-150");
    QList<Project> reordered;
    for (qsizetype i = projects.size() - 1; i >= 0; --i) {
        if (projects[i].id != "site-3")
            reordered.append(projects[i]);
    }
    reordered.prepend(makeProject("new-front", "New front", path("x"), 9500));
    reordered.insert(240, makeProject("new-middle", "New middle", path("x"), 9501));
    setProjects(reordered);
    expected = idsOf(reordered);
    EXPECT_EQ(page->row("site-150"), kept.data()) << "the card is kept by id";
    EXPECT_EQ(page->revealRow("site-150"), kept.data());
    EXPECT_TRUE(kept->isConfigExpanded());
    expectCardsFollowTheList(expected, "after the reorder");
    EXPECT_EQ(page->revealRow("site-3"), nullptr) << "the removed project has no row";
    for (const QString id : {QStringLiteral("new-front"), QStringLiteral("new-middle"), QStringLiteral("site-4")}) {
        ProjectRow* card = page->revealRow(id);
        ASSERT_NE(card, nullptr) << id.toStdString();
        EXPECT_EQ(card->project().id, id);
        EXPECT_TRUE(inView(card));
        EXPECT_FALSE(card->isConfigExpanded());
        expectCardsFollowTheList(expected, "after the reorder, scrolled");
    }
}

TEST_F(ProjectsPageTest, TabWalksTheCardsInListOrderAndScrollsEachIntoView)
{
    QList<Project> projects;
    for (int i = 0; i < 200; ++i)
        projects.append(makeProject(QStringLiteral("site-%1").arg(i), QStringLiteral("Site %1").arg(i), path("x"), 9000 + i));
    setProjects(projects);
    QScrollArea& area = makePageInScrollArea();
    QApplication::setActiveWindow(&area);
    ASSERT_TRUE(waitUntil([&] { return !page->rows().isEmpty(); }, 60000));

    ProjectRow* start = page->revealRow("site-100");
    ASSERT_NE(start, nullptr);
    start->removeButton()->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), start->removeButton());
    // Well past the cards made at first; each stopped card takes focus on its disclosure and its
    // four enabled buttons.
    for (int i = 101; i < 130; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ProjectRow* card = page->row(QStringLiteral("site-%1").arg(i));
        ASSERT_NE(card, nullptr) << i;
        ASSERT_EQ(QApplication::focusWidget(), card->configToggle()) << i;
        for (int k = 0; k < 4; ++k)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), card->removeButton()) << i;
        const QRect shown(card->removeButton()->mapTo(area.viewport(), QPoint(0, 0)), card->removeButton()->size());
        EXPECT_TRUE(area.viewport()->rect().contains(shown)) << i << ": the focused control is in view";
    }
    // And back.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), page->row("site-129")->choosePathButton());

    // Scrolled far away, the card with the focus keeps it, and its row.
    QPointer<ProjectRow> focused = page->row("site-129");
    ASSERT_NE(page->revealRow("site-10"), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), focused->choosePathButton());
    EXPECT_EQ(page->row("site-129"), focused.data());
    EXPECT_EQ(focused->project().id, QStringLiteral("site-129"));
    EXPECT_EQ(page->revealRow("site-129"), focused.data());
}

TEST_F(ProjectsPageTest, AtTheMinimumWindowSizeLongTextsNeverPushAButtonOutOfReach)
{
    const QString longName = QStringLiteral("An extraordinarily long website name ").repeated(7).left(250);
    ASSERT_EQ(longName.size(), 250);
    Project project = makeProject("long", longName, path("Sites/") + QStringLiteral("deeply-nested-folder/").repeated(12) + "public", 9001);
    project.databaseName = QStringLiteral("a_database_name_that_goes_on_and_on_").repeated(4);
    project.databaseUser = QStringLiteral("a_very_long_database_user_name_").repeated(3);
    project.databasePassword = QStringLiteral("p4ssw0rd-").repeated(20);
    Project plain = makeProject("plain", "Plain", path("Sites/plain"), 9002);
    setProjects({project, plain});

    ContentView window(platform.platform);
    window.model().setStatusMessage(QStringLiteral("Could not start ") + longName + QStringLiteral(": the port is taken."));
    window.resize(1120, 760);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.setSection(AppSection::projects);
    auto* projectsPage = qobject_cast<ProjectsPage*>(window.page());
    ASSERT_NE(projectsPage, nullptr);
    ProjectRow* row = projectsPage->row("long");
    ASSERT_NE(row, nullptr);
    row->configToggle()->click();
    window.model().setWebsiteCreationProgress(QStringLiteral("Creating ") + longName + QStringLiteral("..."));
    window.model().setIsCreatingWebsite(true);
    // The layouts the new texts asked for are done.
    ASSERT_TRUE(Dispatch::drainForTesting());

    const QString folder = qEnvironmentVariable("KOVANI_SCREENSHOT_DIR", QDir::tempPath());
    QDir().mkpath(folder);
    EXPECT_TRUE(window.grab().save(folder + "/projects-page-long-texts-1120x760.png"));

    // Every button of the page lies inside the visible width of the scrolling area, and inside
    // its card.
    QWidget* viewport = window.pageArea()->viewport();
    const QList<QAbstractButton*> buttons = projectsPage->findChildren<QAbstractButton*>();
    ASSERT_GE(buttons.size(), 3 + 2 * 7);
    for (QAbstractButton* button : buttons) {
        if (!button->isVisibleTo(projectsPage))
            continue;
        const QRect inViewport(button->mapTo(viewport, QPoint(0, 0)), button->size());
        EXPECT_GE(inViewport.left(), 0) << button->text().toStdString();
        EXPECT_LE(inViewport.right(), viewport->width() - 1) << button->text().toStdString();
        EXPECT_LE(button->width(), std::max(button->sizeHint().width(), button->minimumSizeHint().width()) + 1)
            << button->text().toStdString();
        EXPECT_GE(button->width(), button->minimumSizeHint().width()) << button->text().toStdString() << " is squeezed";
        if (auto* card = qobject_cast<ProjectRow*>(button->parentWidget())) {
            const QRect inCard(button->mapTo(card, QPoint(0, 0)), button->size());
            EXPECT_TRUE(card->rect().contains(inCard)) << button->text().toStdString();
        }
    }
    // The header's buttons and the first card's are on screen without scrolling sideways.
    for (QAbstractButton* button : {static_cast<QAbstractButton*>(projectsPage->createWebsiteButton()),
                                    static_cast<QAbstractButton*>(projectsPage->importWebsiteButton()),
                                    static_cast<QAbstractButton*>(row->startStopButton()),
                                    static_cast<QAbstractButton*>(row->removeButton())}) {
        const QRect inViewport(button->mapTo(viewport, QPoint(0, 0)), button->size());
        EXPECT_TRUE(viewport->rect().contains(inViewport)) << button->text().toStdString();
    }
    EXPECT_EQ(window.pageArea()->horizontalScrollBar()->maximum(), 0);

    // The long texts end in an ellipsis and give their whole text as tooltip and to screen readers.
    for (ElidedLabel* label : {row->nameLabel(), row->rootLabel(), row->databaseLabel(), projectsPage->progressLabel()}) {
        EXPECT_TRUE(label->isElided()) << label->text().toStdString();
        EXPECT_TRUE(label->displayedLines().last().endsWith(QChar(0x2026)));
        QTextDocument tip;
        tip.setHtml(label->toolTipText());
        EXPECT_EQ(tip.toPlainText(), label->text());
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(label);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->text(QAccessible::Name), label->text());
    }
    EXPECT_EQ(row->nameLabel()->text(), longName);
    // The configuration text wraps inside the card, also within its long words.
    SelectableText* config = row->configText();
    EXPECT_TRUE(config->isVisible());
    EXPECT_LE(config->mapTo(row, QPoint(config->width(), 0)).x(), row->width());
    EXPECT_EQ(config->text(), window.model().projectEnv(project));
    EXPECT_GE(config->height(), config->heightForWidth(config->width()) - 1) << "every line is shown";
    // The short texts of the other card are whole, with no tooltip.
    EXPECT_FALSE(projectsPage->row("plain")->nameLabel()->isElided());
    EXPECT_TRUE(projectsPage->row("plain")->nameLabel()->toolTipText().isEmpty());
    window.model().setIsCreatingWebsite(false);
}

TEST_F(ProjectsPageTest, ARunningCreationShowsASmallSpinner)
{
    makePage();
    Spinner* spinner = page->progressSpinner();
    ASSERT_NE(spinner, nullptr);
    EXPECT_FALSE(spinner->isVisible());
    EXPECT_FALSE(spinner->isSpinning());
    model->setIsCreatingWebsite(true);
    EXPECT_TRUE(spinner->isVisible());
    EXPECT_TRUE(spinner->isSpinning());
    EXPECT_LE(spinner->width(), Theme::points(20));
    EXPECT_EQ(spinner->width(), spinner->height());
    const int step = spinner->step();
    EXPECT_TRUE(waitUntil([&] { return spinner->step() != step; }, 10000)) << "it turns";
    model->setIsCreatingWebsite(false);
    EXPECT_FALSE(spinner->isSpinning());
}

// The real window, driven with clicks: sections, the user summary and top bar, the dashboard's
// quick links, sheets, the code workspace, the footer and the window's size.
#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "app/Avatar.h"
#include "account/LoginSheet.h"
#include "app/ContentView.h"
#include "app/DashboardPage.h"
#include "app/DisclosureButton.h"
#include "app/ElidedLabel.h"
#include "app/Footer.h"
#include "app/GuidePage.h"
#include "app/LinkButton.h"
#include "app/LogBox.h"
#include "app/Maker.h"
#include "app/Sidebar.h"
#include "app/StatCard.h"
#include "app/Theme.h"
#include "app/TopBar.h"
#include "app/UserSummary.h"
#include "services/ProjectRow.h"
#include "services/ProjectsPage.h"
#include "platform/Text.h"
#include "support/TestEnvironment.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

UserProfile signedInUser()
{
    UserProfile user;
    user.name = QStringLiteral("Linh Tran");
    user.email = QStringLiteral("linh.tran@example.com");
    user.avatarInitials = QStringLiteral("LT");
    return user;
}

Project project(const QString& id, const QString& name)
{
    Project p;
    p.id = id;
    p.name = name;
    p.root = QStringLiteral("/tmp/") + id;
    p.port = 8090;
    p.databaseName = id;
    return p;
}

// Puts back whatever was registered before, so tests do not leak their stand-ins.
struct RegistryRestore {
    ProjectsPageFactory projects = PageRegistry::projectsPage();
    UserPageFactory user = PageRegistry::userPage();
    SheetFactory login = PageRegistry::sheet(SheetKind::login);
    SheetFactory create = PageRegistry::sheet(SheetKind::createWebsite);
    SheetFactory add = PageRegistry::sheet(SheetKind::addProject);
    CodeIDEViewFactory codeIDE = PageRegistry::codeIDEView();
    ~RegistryRestore()
    {
        PageRegistry::setProjectsPage(projects);
        PageRegistry::setUserPage(user);
        PageRegistry::setSheet(SheetKind::login, login);
        PageRegistry::setSheet(SheetKind::createWebsite, create);
        PageRegistry::setSheet(SheetKind::addProject, add);
        PageRegistry::setCodeIDEView(codeIDE);
    }
};

class ContentViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        t = TestEnvironment::makePlatform(dir.path());
        window = std::make_unique<ContentView>(t.platform);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override { window.reset(); }

    void click(QWidget* widget)
    {
        ASSERT_NE(widget, nullptr);
        ASSERT_TRUE(widget->isVisible());
        QTest::mouseClick(widget, Qt::LeftButton);
        QCoreApplication::processEvents();
    }

    void signIn() { window->model().modifyConfig([](AppConfig& c) { c.user = signedInUser(); }); }

    QTemporaryDir dir;
    TestEnvironment::TestPlatform t;
    std::unique_ptr<ContentView> window;
};

} // namespace

TEST_F(ContentViewTest, FirstLaunchOpensOnTheDashboard)
{
    EXPECT_EQ(window->section(), AppSection::dashboard);
    EXPECT_EQ(window->topBar()->title(), QStringLiteral("Dashboard"));
    EXPECT_EQ(window->topBar()->subtitle(), QStringLiteral("Overview, quick actions and setup guide"));
    EXPECT_EQ(window->footer()->status()->text(), window->model().statusMessage());
    EXPECT_EQ(window->footer()->status()->text(), QStringLiteral("Ready"));
    EXPECT_NE(qobject_cast<DashboardPage*>(window->page()), nullptr);
    EXPECT_FALSE(window->showAddProject());
    EXPECT_FALSE(window->showCreateWebsite());
    EXPECT_FALSE(window->showLogin());
    EXPECT_FALSE(window->codeIDEProject().has_value());
    EXPECT_TRUE(window->sidebar()->isHighlighted(AppSection::dashboard));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kovani"));

    // The footer follows the model, as plain text.
    window->model().setStatusMessage(QStringLiteral("Website <b>blog</b> started on port 8090."));
    EXPECT_EQ(window->footer()->status()->text(), QStringLiteral("Website <b>blog</b> started on port 8090."));

    // A tool's bell and escape codes are not drawn; the model keeps the text as it came.
    const QString raw = QStringLiteral("\aERROR 2002: \x1b[1mCan't connect\x1b[0m\r\nto server");
    window->model().setStatusMessage(raw);
    EXPECT_EQ(window->model().statusMessage(), raw);
    EXPECT_EQ(window->footer()->status()->text(), QStringLiteral("ERROR 2002: [1mCan't connect[0m\nto server"));
}

TEST_F(ContentViewTest, SelectingASectionHighlightsExactlyThatRow)
{
    struct Row {
        AppSection section;
        const char* title;
    };
    const Row rows[] = {{AppSection::projects, "Projects"}, {AppSection::settings, "Settings"},
                        {AppSection::guide, "Guide"},       {AppSection::dravix, "Dravix"},
                        {AppSection::dashboard, "Dashboard"}};
    for (const Row& row : rows) {
        click(window->sidebar()->sectionButton(row.section));
        EXPECT_EQ(window->section(), row.section) << row.title;
        EXPECT_EQ(window->topBar()->title(), QString::fromLatin1(row.title));
        EXPECT_EQ(window->topBar()->subtitle(), AppSections::subtitle(row.section));
        for (const AppSection other : AppSections::allCases())
            EXPECT_EQ(window->sidebar()->isHighlighted(other), other == row.section) << row.title;
        // The page area shows that section's page (an empty one when none is plugged in).
        ASSERT_NE(window->page(), nullptr);
        EXPECT_EQ(window->page()->objectName(), QString::fromLatin1(row.title) + QStringLiteral("Page"));
        EXPECT_TRUE(window->page()->isVisible());
    }

    // The highlight is the accent colour at 0.12 behind the row, seen on screen.
    click(window->sidebar()->sectionButton(AppSection::guide));
    QAbstractButton* guide = window->sidebar()->sectionButton(AppSection::guide);
    QAbstractButton* settings = window->sidebar()->sectionButton(AppSection::settings);
    const QImage shot = window->grab().toImage();
    const auto sample = [&shot, this](QWidget* w) {
        const QPoint p = w->mapTo(window.get(), QPoint(w->width() - 6, w->height() / 2));
        return shot.pixelColor(p * shot.devicePixelRatio());
    };
    const QColor base = Theme::controlBackground();
    const QColor tint = Theme::withOpacity(Theme::accent(), 0.12);
    const QColor expected = QColor::fromRgbF(tint.redF() * 0.12 + base.redF() * 0.88, tint.greenF() * 0.12 + base.greenF() * 0.88,
                                             tint.blueF() * 0.12 + base.blueF() * 0.88);
    const QColor highlighted = sample(guide);
    EXPECT_LT(std::abs(highlighted.red() - expected.red()) + std::abs(highlighted.green() - expected.green())
                  + std::abs(highlighted.blue() - expected.blue()), 12);
    EXPECT_EQ(sample(settings), base);

    // Pressing the selected row again changes nothing: same page, no signal.
    QWidget* page = window->page();
    int changes = 0;
    QObject::connect(window.get(), &ContentView::sectionChanged, [&changes]() { ++changes; });
    click(guide);
    EXPECT_EQ(window->page(), page);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(window->sidebar()->isHighlighted(AppSection::guide));
}

TEST_F(ContentViewTest, SignedOutSummaryOpensTheAccountPageAndTheLoginSheet)
{
    UserSummary* summary = window->sidebar()->userSummary();
    EXPECT_EQ(summary->nameText(), QStringLiteral("Guest"));
    EXPECT_EQ(summary->emailText(), QStringLiteral("Click to login"));
    EXPECT_EQ(summary->avatar()->initials(), QStringLiteral("G"));
    EXPECT_TRUE(window->topBar()->loginButton()->isVisible());
    EXPECT_FALSE(window->topBar()->avatar()->isVisible());

    click(summary);
    EXPECT_EQ(window->section(), AppSection::dravix);
    EXPECT_TRUE(window->showLogin());
    EXPECT_TRUE(window->sidebar()->isHighlighted(AppSection::dravix));
    // The account's login sheet opens, in login mode.
    auto* sheet = qobject_cast<LoginSheet*>(window->presentedSheet(SheetKind::login));
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(sheet->isRegister());
}

TEST_F(ContentViewTest, TopBarLoginOpensTheLoginSheetAndKeepsTheSection)
{
    RegistryRestore restore;
    QPointer<QDialog> opened;
    AppModel* handedModel = nullptr;
    PageRegistry::setSheet(SheetKind::login, [&](AppModel& model, QWidget* parent) -> QDialog* {
        handedModel = &model;
        auto* sheet = new QDialog(parent);
        auto* layout = new QVBoxLayout(sheet);
        auto* cancel = new QPushButton(QStringLiteral("Cancel"));
        layout->addWidget(cancel);
        QObject::connect(cancel, &QPushButton::clicked, sheet, &QDialog::reject);
        opened = sheet;
        return sheet;
    });

    click(window->sidebar()->sectionButton(AppSection::guide));
    click(window->topBar()->loginButton());
    EXPECT_EQ(window->section(), AppSection::guide);
    EXPECT_TRUE(window->showLogin());
    ASSERT_FALSE(opened.isNull());
    EXPECT_EQ(handedModel, &window->model());
    EXPECT_EQ(window->presentedSheet(SheetKind::login), opened.data());
    EXPECT_TRUE(opened->isVisible());
    EXPECT_EQ(opened->windowModality(), Qt::WindowModal);
    EXPECT_EQ(opened->parentWidget(), window.get());

    // The sheet's own Cancel dismisses it and clears the flag.
    click(opened->findChild<QPushButton*>());
    EXPECT_FALSE(window->showLogin());
    EXPECT_EQ(window->presentedSheet(SheetKind::login), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&opened]() { return opened.isNull(); }, 15000));

    // Pressing Login again opens a fresh sheet.
    click(window->topBar()->loginButton());
    ASSERT_FALSE(opened.isNull());
    EXPECT_TRUE(opened->isVisible());
    // Clearing the flag closes it.
    window->setSheetShown(SheetKind::login, false);
    EXPECT_TRUE(QTest::qWaitFor([&opened]() { return opened.isNull(); }, 15000));
}

TEST_F(ContentViewTest, SignedInSummaryAndTopBar)
{
    signIn();
    UserSummary* summary = window->sidebar()->userSummary();
    EXPECT_EQ(summary->nameText(), QStringLiteral("Linh Tran"));
    EXPECT_EQ(summary->emailText(), QStringLiteral("linh.tran@example.com"));
    EXPECT_EQ(summary->avatar()->initials(), QStringLiteral("LT"));
    EXPECT_FALSE(window->topBar()->loginButton()->isVisible());
    EXPECT_TRUE(window->topBar()->avatar()->isVisible());
    EXPECT_EQ(window->topBar()->avatar()->initials(), QStringLiteral("LT"));
    EXPECT_EQ(window->topBar()->avatar()->diameter(), 42);
    EXPECT_EQ(window->topBar()->userName()->text(), QStringLiteral("Linh Tran"));
    EXPECT_TRUE(window->topBar()->userName()->isVisible());

    click(summary);
    EXPECT_EQ(window->section(), AppSection::dravix);
    EXPECT_FALSE(window->showLogin());

    // A long e-mail address stays on one line.
    window->model().modifyConfig([](AppConfig& c) {
        c.user->email = QStringLiteral("a.very.long.address.for.someone@subdomain.of.an.example-company.com");
    });
    QCoreApplication::processEvents();
    const QStringList lines = summary->emailLabel()->displayedLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(summary->emailLabel()->isElided());
    EXPECT_TRUE(lines.first().endsWith(QChar(0x2026)));
    EXPECT_LE(summary->emailLabel()->geometry().right(), window->sidebar()->width());

    // Signing out brings back the guest summary and the Login button.
    window->model().modifyConfig([](AppConfig& c) { c.user.reset(); });
    EXPECT_EQ(summary->nameText(), QStringLiteral("Guest"));
    EXPECT_TRUE(window->topBar()->loginButton()->isVisible());
    EXPECT_FALSE(window->topBar()->avatar()->isVisible());
}

TEST_F(ContentViewTest, UserTextIsNeverReadAsMarkup)
{
    UserProfile user = signedInUser();
    user.name = QStringLiteral("<b>Linh</b> & <i>Co</i>");
    user.email = QStringLiteral("<img src=x>@example.com");
    window->model().modifyConfig([&user](AppConfig& c) { c.user = user; });
    UserSummary* summary = window->sidebar()->userSummary();
    EXPECT_EQ(summary->nameText(), user.name);
    EXPECT_TRUE(summary->findChild<ElidedLabel*>()->displayedLines().value(0).startsWith("<b>Linh</b>")) << "drawn as typed";
    EXPECT_EQ(window->topBar()->userName()->textFormat(), Qt::PlainText);
    // The tooltip with the whole address shows it as typed.
    QTextDocument tooltip;
    tooltip.setHtml(summary->toolTip());
    EXPECT_TRUE(Qt::mightBeRichText(summary->toolTip()));
    EXPECT_EQ(tooltip.toPlainText(), user.email);
}

TEST_F(ContentViewTest, DashboardQuickLinksOnlySwitchTheSection)
{
    const AppConfig before = window->model().config();
    auto* dashboard = qobject_cast<DashboardPage*>(window->page());
    ASSERT_NE(dashboard, nullptr);
    EXPECT_TRUE(dashboard->openPhpMyAdminButton()->isEnabled());
    click(dashboard->manageProjectsButton());
    EXPECT_EQ(window->section(), AppSection::projects);
    EXPECT_TRUE(window->sidebar()->isHighlighted(AppSection::projects));

    click(window->sidebar()->sectionButton(AppSection::dashboard));
    dashboard = qobject_cast<DashboardPage*>(window->page());
    ASSERT_NE(dashboard, nullptr);
    click(dashboard->settingsButton());
    EXPECT_EQ(window->section(), AppSection::settings);
    EXPECT_TRUE(window->sidebar()->isHighlighted(AppSection::settings));
    EXPECT_EQ(window->model().config(), before);
    EXPECT_FALSE(window->showLogin());
}

TEST_F(ContentViewTest, DashboardFollowsTheModel)
{
    auto* dashboard = qobject_cast<DashboardPage*>(window->page());
    ASSERT_NE(dashboard, nullptr);
    EXPECT_EQ(dashboard->databaseCard()->value(), QStringLiteral("mySQL"));
    EXPECT_EQ(dashboard->databaseCard()->color(), Theme::green());
    EXPECT_EQ(dashboard->activeSiteCard()->value(), QStringLiteral("None"));
    EXPECT_EQ(dashboard->activeSiteCard()->color(), Theme::secondary());
    EXPECT_EQ(dashboard->phpCard()->value(), QStringLiteral("Not found"));
    EXPECT_EQ(dashboard->phpCard()->color(), Theme::red());
    EXPECT_TRUE(dashboard->logBox()->isHidden());

    // Two running websites: the first of the project list is the active one.
    AppModel& model = window->model();
    model.modifyConfig([](AppConfig& c) {
        c.projects = {project(QStringLiteral("shop"), QStringLiteral("Shop")),
                      project(QStringLiteral("blog"), QStringLiteral("Blog"))};
    });
    model.setRunningProjects({{QStringLiteral("blog"), 4242}, {QStringLiteral("shop"), 4343}});
    EXPECT_EQ(dashboard->activeSiteCard()->value(), QStringLiteral("Shop"));
    EXPECT_EQ(dashboard->activeSiteCard()->color(), Theme::green());
    model.setRunningProjects({{QStringLiteral("blog"), 4242}});
    EXPECT_EQ(dashboard->activeSiteCard()->value(), QStringLiteral("Blog"));

    // The database card does not follow the server.
    model.setIsDatabaseRunning(true);
    model.setDatabaseStatus(QStringLiteral("mySQL is not running"));
    EXPECT_EQ(dashboard->databaseCard()->value(), QStringLiteral("mySQL"));
    EXPECT_EQ(dashboard->databaseCard()->color(), Theme::green());

    // A log shown by the projects page appears at the bottom.
    model.setSelectedLog(QStringLiteral("PHP 8.5.1 Development Server started"));
    EXPECT_FALSE(dashboard->logBox()->isHidden());
    EXPECT_EQ(dashboard->logBox()->text(), QStringLiteral("PHP 8.5.1 Development Server started"));
    model.setSelectedLog(QString());
    EXPECT_TRUE(dashboard->logBox()->isHidden());
}

TEST_F(ContentViewTest, CodeWorkspaceFillsTheWindowAndReturnsToTheSameSection)
{
    RegistryRestore restore;
    // A projects page stand-in that opens the workspace, and a workspace with a Done button.
    PageRegistry::setProjectsPage([](AppModel&, std::function<void()> showCreateWebsite,
                                     std::function<void()> showAddProject,
                                     std::function<void(const Project&)> openCodeIDE) -> QWidget* {
        auto* page = new QWidget;
        auto* layout = new QVBoxLayout(page);
        for (const QString& id : {QStringLiteral("shop"), QStringLiteral("blog")}) {
            auto* open = new QPushButton(QStringLiteral("Code ") + id);
            open->setObjectName(QStringLiteral("code-") + id);
            QObject::connect(open, &QPushButton::clicked, [openCodeIDE, id]() { openCodeIDE(project(id, id)); });
            layout->addWidget(open);
        }
        auto* create = new QPushButton(QStringLiteral("Create Website"));
        create->setObjectName(QStringLiteral("create"));
        QObject::connect(create, &QPushButton::clicked, showCreateWebsite);
        auto* import = new QPushButton(QStringLiteral("Import Website"));
        import->setObjectName(QStringLiteral("import"));
        QObject::connect(import, &QPushButton::clicked, showAddProject);
        layout->addWidget(create);
        layout->addWidget(import);
        return page;
    });
    QStringList workspacesBuilt;
    PageRegistry::setCodeIDEView([&workspacesBuilt](const Project& p, std::function<void()> onClose) -> QWidget* {
        workspacesBuilt << p.id;
        auto* workspace = new QWidget;
        workspace->setObjectName(QStringLiteral("workspace-") + p.id);
        auto* layout = new QVBoxLayout(workspace);
        auto* done = new QPushButton(QStringLiteral("Done"));
        QObject::connect(done, &QPushButton::clicked, onClose);
        layout->addWidget(done);
        return workspace;
    });

    click(window->sidebar()->sectionButton(AppSection::projects));
    click(window->page()->findChild<QPushButton*>(QStringLiteral("create")));
    EXPECT_TRUE(window->showCreateWebsite());
    click(window->page()->findChild<QPushButton*>(QStringLiteral("import")));
    EXPECT_TRUE(window->showAddProject());

    click(window->page()->findChild<QPushButton*>(QStringLiteral("code-shop")));
    ASSERT_TRUE(window->codeIDEProject().has_value());
    EXPECT_EQ(window->codeIDEProject()->id, QStringLiteral("shop"));
    ASSERT_NE(window->codeWorkspace(), nullptr);
    EXPECT_TRUE(window->codeWorkspace()->isVisible());
    EXPECT_EQ(window->codeWorkspace()->size(), window->size());
    EXPECT_FALSE(window->sidebar()->isVisible());
    EXPECT_FALSE(window->topBar()->isVisible());
    EXPECT_FALSE(window->footer()->isVisible());

    QPointer<QWidget> first = window->codeWorkspace();
    click(first->findChild<QPushButton*>());
    EXPECT_FALSE(window->codeIDEProject().has_value());
    EXPECT_EQ(window->codeWorkspace(), nullptr);
    EXPECT_TRUE(window->sidebar()->isVisible());
    EXPECT_TRUE(window->footer()->isVisible());
    EXPECT_EQ(window->section(), AppSection::projects);
    EXPECT_TRUE(window->sidebar()->isHighlighted(AppSection::projects));
    EXPECT_EQ(window->topBar()->title(), QStringLiteral("Projects"));
    EXPECT_TRUE(QTest::qWaitFor([&first]() { return first.isNull(); }, 15000));

    // Another project gets a fresh workspace.
    click(window->page()->findChild<QPushButton*>(QStringLiteral("code-blog")));
    ASSERT_NE(window->codeWorkspace(), nullptr);
    EXPECT_EQ(window->codeWorkspace()->objectName(), QStringLiteral("workspace-blog"));
    EXPECT_EQ(workspacesBuilt, (QStringList{QStringLiteral("shop"), QStringLiteral("blog")}));
    click(window->codeWorkspace()->findChild<QPushButton*>());
    EXPECT_EQ(window->section(), AppSection::projects);
}

TEST_F(ContentViewTest, WithoutAWorkspacePluggedInOpeningOneDoesNothing)
{
    RegistryRestore restore;
    PageRegistry::setCodeIDEView({});
    window->setCodeIDEProject(project(QStringLiteral("shop"), QStringLiteral("Shop")));
    EXPECT_FALSE(window->codeIDEProject().has_value());
    EXPECT_TRUE(window->sidebar()->isVisible());
}

TEST_F(ContentViewTest, PagesArePluggedInWithTheirActions)
{
    RegistryRestore restore;
    std::function<void()> handedShowLogin;
    PageRegistry::setUserPage([&handedShowLogin](AppModel&, std::function<void()> showLogin) -> QWidget* {
        handedShowLogin = showLogin;
        auto* page = new QLabel(QStringLiteral("Account"));
        return page;
    });
    click(window->sidebar()->sectionButton(AppSection::dravix));
    ASSERT_NE(qobject_cast<QLabel*>(window->page()), nullptr);
    ASSERT_TRUE(handedShowLogin);
    handedShowLogin();
    EXPECT_TRUE(window->showLogin());
    EXPECT_EQ(window->section(), AppSection::dravix);

    // A page is built afresh each time its section is selected, and sits at the top left.
    QPointer<QWidget> first = window->page();
    click(window->sidebar()->sectionButton(AppSection::guide));
    EXPECT_NE(qobject_cast<GuidePage*>(window->page()), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&first]() { return first.isNull(); }, 15000));
    click(window->sidebar()->sectionButton(AppSection::dravix));
    EXPECT_NE(window->page(), nullptr);
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(window->page()->pos(), QPoint(24, 24));
}

TEST_F(ContentViewTest, TheProjectsPageIsKeptAcrossVisitsAndFollowsTheModelMeanwhile)
{
    window->model().modifyConfig([](AppConfig& c) { c.projects = {project(QStringLiteral("shop"), QStringLiteral("Shop"))}; });
    click(window->sidebar()->sectionButton(AppSection::projects));
    QPointer<ProjectsPage> page = qobject_cast<ProjectsPage*>(window->page());
    ASSERT_NE(page, nullptr);
    QPointer<ProjectRow> shopRow = page->row(QStringLiteral("shop"));
    ASSERT_NE(shopRow, nullptr);
    shopRow->configToggle()->click();

    click(window->sidebar()->sectionButton(AppSection::dashboard));
    EXPECT_FALSE(page.isNull());
    EXPECT_FALSE(page->isVisible());
    window->model().modifyConfig([](AppConfig& c) { c.projects.prepend(project(QStringLiteral("blog"), QStringLiteral("Blog"))); });
    ASSERT_TRUE(Dispatch::drainForTesting());

    click(window->sidebar()->sectionButton(AppSection::projects));
    EXPECT_EQ(window->page(), page.data());
    EXPECT_TRUE(page->isVisible());
    ASSERT_EQ(page->rows().size(), 2);
    EXPECT_EQ(page->rows().first()->project().id, QStringLiteral("blog"));
    EXPECT_EQ(page->row(QStringLiteral("shop")), shopRow.data());
    EXPECT_TRUE(shopRow->isConfigExpanded());
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_LT(page->row(QStringLiteral("blog"))->y(), shopRow->y()) << "the cards are laid out in list order";
}

TEST_F(ContentViewTest, FooterShowsAtMostTwoLines)
{
    ElidedLabel* status = window->footer()->status();
    const QString longMessage = QStringLiteral("Could not start website blog on port 8090: ")
        + QStringLiteral("PHP Warning: something went wrong in a very long line of the log. ").repeated(12);
    window->model().setStatusMessage(longMessage);
    ASSERT_TRUE(Dispatch::drainForTesting());
    // The model keeps a readable length; the label cuts that at two lines.
    EXPECT_EQ(status->text(), Text::statusLine(longMessage));
    EXPECT_EQ(status->text().size(), Text::kStatusLineLimit);
    const QStringList lines = status->displayedLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.last().endsWith(QChar(0x2026)));
    EXPECT_LE(status->height(), 2 * status->fontMetrics().lineSpacing() + 2);
    // The maker's link keeps its place at the right.
    LinkButton* link = window->footer()->makerLink();
    EXPECT_TRUE(link->isVisible());
    EXPECT_GE(link->geometry().left(), status->geometry().right());
    EXPECT_LE(window->footer()->mapTo(window.get(), link->geometry().topRight()).x(), window->width());

    window->model().setStatusMessage(QStringLiteral("All websites stopped."));
    EXPECT_EQ(status->displayedLines(), QStringList{QStringLiteral("All websites stopped.")});

    click(link);
    EXPECT_EQ(*t.openedURLs, QStringList{Maker::webAddress()});
}

TEST_F(ContentViewTest, FooterKeepsTheEndOfALogExcerptAndItsTooltipTheWholeMessage)
{
    ElidedLabel* status = window->footer()->status();
    const QString reason = QStringLiteral("Failed to listen on 127.0.0.1:9100 (reason: Address already in use)");
    const QString excerpt = QStringLiteral("PHP Warning:  PHP Startup: Unable to load dynamic library 'x'\n").repeated(30) + reason;
    window->model().setStatusMessage(StatusText::withExcerpt(QStringLiteral("Failed to start Blog: "), excerpt));
    QCoreApplication::processEvents();
    EXPECT_EQ(status->text(), QStringLiteral("Failed to start Blog: ") + QChar(0x2026) + reason);
    // The footer's two lines show the reason.
    EXPECT_FALSE(status->isElided());
    EXPECT_TRUE(status->displayedLines().last().endsWith(QStringLiteral("(reason: Address already in use)")))
        << status->displayedLines().join(u'|').toStdString();
    EXPECT_EQ(status->wholeText(), QStringLiteral("Failed to start Blog: ") + excerpt);
    QTextDocument tip;
    tip.setHtml(status->toolTipText());
    // The tooltip's rich text folds runs of blanks; every line of the excerpt is in it.
    EXPECT_EQ(tip.toPlainText().split(u'\n').size(), 31);
    EXPECT_TRUE(tip.toPlainText().startsWith(QStringLiteral("Failed to start Blog: PHP Warning:")));
    EXPECT_TRUE(tip.toPlainText().endsWith(reason));

    // A short message that fits has no tooltip.
    window->model().setStatusMessage(QStringLiteral("Blog started on port 9100."));
    QCoreApplication::processEvents();
    EXPECT_TRUE(status->toolTipText().isEmpty());
}

TEST_F(ContentViewTest, WindowCannotBeMadeSmallerThan1120By760)
{
    EXPECT_EQ(window->minimumSize(), QSize(1120, 760));
    window->resize(800, 500);
    QCoreApplication::processEvents();
    EXPECT_GE(window->width(), 1120);
    EXPECT_GE(window->height(), 760);
    window->resize(1500, 1000);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->size(), QSize(1500, 1000));
    EXPECT_EQ(window->sidebar()->width(), 220);
}

TEST_F(ContentViewTest, CutTextsOfTheWindowShowTheirWholeTextAsTooltipAndToScreenReaders)
{
    // The footer's status line, cut at two lines.
    ElidedLabel* status = window->footer()->status();
    const QString longMessage = QStringLiteral("Failed to start Blog: ") + QStringLiteral("PHP Warning: <b>not bold</b> and more. ").repeated(20);
    window->model().setStatusMessage(longMessage);
    ASSERT_TRUE(Dispatch::drainForTesting());
    ASSERT_TRUE(status->isElided());
    QTextDocument tip;
    tip.setHtml(status->toolTipText());
    // The tooltip holds the whole message, not only the capped line.
    EXPECT_EQ(tip.toPlainText(), longMessage);
    EXPECT_GT(longMessage.size(), Text::kStatusLineLimit);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(status);
    ASSERT_NE(accessible, nullptr);
    // The status line reads as the window's status bar, named by its message.
    EXPECT_EQ(accessible->role(), QAccessible::StatusBar);
    EXPECT_EQ(accessible->text(QAccessible::Name), Text::statusLine(longMessage));
    window->model().setStatusMessage(QStringLiteral("Ready"));
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_TRUE(status->toolTipText().isEmpty());
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Ready"));

    // The sidebar's user name ends in an ellipsis like the e-mail line.
    UserProfile user = signedInUser();
    user.name = QStringLiteral("Maximiliana Alexandrina Konstantinopoulou-Vanderberghe");
    user.email = QStringLiteral("maximiliana.alexandrina.konstantinopoulou@example.com");
    window->model().modifyConfig([&user](AppConfig& c) { c.user = user; });
    ASSERT_TRUE(Dispatch::drainForTesting());
    UserSummary* summary = window->sidebar()->userSummary();
    EXPECT_EQ(summary->nameText(), user.name);
    for (ElidedLabel* line : {summary->nameLabel(), summary->emailLabel()}) {
        ASSERT_TRUE(line->isElided()) << line->text().toStdString();
        EXPECT_TRUE(line->displayedLines().value(0).endsWith(QChar(0x2026)));
        EXPECT_LE(line->mapTo(window->sidebar(), QPoint(line->width(), 0)).x(), window->sidebar()->width());
        EXPECT_EQ(QAccessible::queryAccessibleInterface(line)->text(QAccessible::Name), line->text());
    }
    EXPECT_EQ(window->sidebar()->width(), 220);
}

TEST_F(ContentViewTest, SidebarRowsShowKeyboardFocus)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QAbstractButton* guide = window->sidebar()->sectionButton(AppSection::guide);
    QAbstractButton* settings = window->sidebar()->sectionButton(AppSection::settings);
    settings->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(Dispatch::drainForTesting());
    const QImage unfocused = guide->grab().toImage();
    guide->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(guide->hasFocus());
    ASSERT_TRUE(Dispatch::drainForTesting());
    const QImage focused = guide->grab().toImage();
    EXPECT_NE(focused, unfocused);
    const QColor ring = focused.pixelColor(focused.width() / 2, 1);
    EXPECT_LT(std::abs(ring.red() - Theme::focusRing().red()) + std::abs(ring.green() - Theme::focusRing().green())
                  + std::abs(ring.blue() - Theme::focusRing().blue()),
              60);
    // Space on the focused row selects its section.
    QTest::keyClick(guide, Qt::Key_Space);
    EXPECT_EQ(window->section(), AppSection::guide);
}

TEST_F(ContentViewTest, PagesFitTheWidthAtTheMinimumSizeAndWhenEnlarged)
{
    for (const QSize size : {QSize(1120, 760), QSize(1800, 1100)}) {
        window->resize(size);
        for (const AppSection section : {AppSection::dashboard, AppSection::guide}) {
            window->setSection(section);
            ASSERT_TRUE(Dispatch::drainForTesting());
            QWidget* viewport = window->pageArea()->viewport();
            QWidget* page = window->page();
            // The page takes the full width less its margins and needs no more than that.
            EXPECT_EQ(page->width(), viewport->width() - 48) << AppSections::rawValue(section).toStdString();
            EXPECT_LE(page->minimumSizeHint().width(), viewport->width() - 48);
            EXPECT_EQ(page->x(), 24);
            EXPECT_EQ(page->y(), 24 - window->pageArea()->verticalScrollBar()->value());
        }
        // The top bar and footer span the right column.
        EXPECT_EQ(window->topBar()->width(), window->width() - 221);
        EXPECT_EQ(window->footer()->width(), window->width() - 221);
    }
}

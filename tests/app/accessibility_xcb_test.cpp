// The window as assistive technology and the keyboard reach it, on a real X display with the
// AT-SPI bridge on (see support/XvfbSession.h). Every showing, focusable control must have a name,
// both in Qt's accessibility tree (what the bridge exports, walked in process, with the widget each
// object stands for) and on the accessibility bus itself, walked from outside as a screen reader
// does (support/AtSpiWalk.h).
#include "account/LoginSheet.h"
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/DisclosureButton.h"
#include "app/ElidedLabel.h"
#include "app/Maker.h"
#include "app/PasswordField.h"
#include "app/Sidebar.h"
#include "services/CreateWebsiteSheet.h"
#include "services/ProjectRow.h"
#include "services/ProjectsPage.h"
#include "support/AtSpiWalk.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"
#include "support/WebsiteFixtures.h"
#include "support/XvfbSession.h"
#include "workspace/CodeFileTree.h"
#include "workspace/CodeIDEModel.h"
#include "workspace/CodeIDEView.h"
#include "workspace/CodeTextEditor.h"
#include "workspace/NewCodeItemSheet.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

// A hang guard only: a busy machine maps and activates windows late.
constexpr int kWindowWait = 60000;

QString describe(QAccessibleInterface* iface)
{
    QObject* object = iface->object();
    QString where;
    for (QObject* o = object; o; o = o->parent()) {
        const QString part = o->objectName().isEmpty() ? QString::fromLatin1(o->metaObject()->className()) : o->objectName();
        where = where.isEmpty() ? part : part + QStringLiteral(" > ") + where;
    }
    return QStringLiteral("role %1 at %2 (description \"%3\")")
        .arg(int(iface->role()))
        .arg(where.isEmpty() ? QStringLiteral("?") : where, iface->text(QAccessible::Description));
}

void walk(QAccessibleInterface* iface, QSet<QAccessible::Id>& seen, QStringList& unnamed, QStringList& named, int depth = 0)
{
    if (!iface || !iface->isValid() || depth > 60)
        return;
    const QAccessible::Id id = QAccessible::uniqueId(iface);
    if (seen.contains(id))
        return;
    seen.insert(id);
    const QAccessible::State state = iface->state();
    if (state.invisible)
        return;
    if (state.focusable) {
        const QString name = iface->text(QAccessible::Name).trimmed();
        if (name.isEmpty())
            unnamed << describe(iface);
        else
            named << name;
    }
    for (int i = 0; i < iface->childCount(); ++i)
        walk(iface->child(i), seen, unnamed, named, depth + 1);
}

struct Walk {
    QStringList unnamed;
    QStringList named;
};

// Walks a window's accessibility tree as the bridge exports it.
Walk walkWindow(QWidget* window)
{
    Walk result;
    QSet<QAccessible::Id> seen;
    walk(QAccessible::queryAccessibleInterface(window), seen, result.unnamed, result.named);
    return result;
}

UserProfile user(const QString& provider, const QString& passwordHash)
{
    UserProfile u;
    u.name = QStringLiteral("Linh Tran");
    u.email = QStringLiteral("linh.tran@example.com");
    u.avatarInitials = QStringLiteral("LT");
    u.provider = provider;
    u.passwordHash = passwordHash;
    u.apiToken = QStringLiteral("token");
    return u;
}

class AccessibilityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(XvfbSession::active()) << "runs on its own X display";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        ASSERT_TRUE(dir.isValid());
        t = std::make_unique<TestEnvironment::TestPlatform>(TestEnvironment::makePlatform(dir.path()));
        t->platform.wordpressDownloadURL = server.baseURL();
        t->platform.wordpressSaltURL = server.baseURL();
        t->platform.composerDownloadURL = server.baseURL();
    }

    void TearDown() override
    {
        if (window)
            window->model().shutdown();
        window.reset();
    }

    void openWindow()
    {
        window = std::make_unique<ContentView>(t->platform);
        const quint16 nothing = TestEnvironment::freePort(); // no database server here
        window->model().modifyConfig([&](AppConfig& c) { c.mysqlPort = nothing; });
        window->resize(1120, 760);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kWindowWait));
    }

    // A project whose folder holds one file, for the workspace.
    Project projectWithFiles()
    {
        const QString root = dir.path() + QStringLiteral("/site");
        QDir().mkpath(root + QStringLiteral("/public"));
        QFile file(root + QStringLiteral("/public/index.php"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<?php echo 'hi';\n");
        file.close();
        Project p;
        p.id = QStringLiteral("site");
        p.name = QStringLiteral("Site");
        p.root = root;
        p.port = 8090;
        return p;
    }

    CodeIDEView* openWorkspace()
    {
        window->setCodeIDEProject(projectWithFiles());
        auto* view = qobject_cast<CodeIDEView*>(window->codeWorkspace());
        EXPECT_NE(view, nullptr);
        if (view)
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get(), kWindowWait));
        return view;
    }

    static bool focusInside(QWidget* widget)
    {
        QWidget* focus = QApplication::focusWidget();
        return focus && (focus == widget || widget->isAncestorOf(focus));
    }

    QTemporaryDir dir;
    LoopbackHttpServer server;
    std::unique_ptr<TestEnvironment::TestPlatform> t;
    std::unique_ptr<ContentView> window;
};

std::string list(const QStringList& items)
{
    return items.join(QStringLiteral("\n")).toStdString();
}

} // namespace

TEST_F(AccessibilityTest, EveryShowingFocusableControlHasAName)
{
    openWindow();
    // The bridge connects to the accessibility bus in the background.
    EXPECT_TRUE(TestEnvironment::waitUntil([] { return QAccessible::isActive(); }, 30000))
        << "the AT-SPI bridge exports the window";

    QStringList faults;
    auto walkHere = [&](QWidget* w, const QString& what) {
        EXPECT_TRUE(w && w->isVisible()) << what.toStdString();
        if (!w)
            return Walk{};
        QApplication::processEvents();
        Walk result = walkWindow(w);
        for (const QString& fault : result.unnamed)
            faults << what + QStringLiteral(": ") + fault;
        // The same seen from outside, on the accessibility bus.
        const AtSpiWalk::Result bus = AtSpiWalk::walkThisProcess();
        EXPECT_TRUE(bus.ok) << what.toStdString() << ": " << bus.error.toStdString();
        for (const QString& fault : bus.unnamed)
            faults << what + QStringLiteral(" (AT-SPI): ") + fault;
        for (const QString& name : result.named)
            EXPECT_TRUE(bus.named.contains(name)) << what.toStdString() << ": \"" << name.toStdString() << "\" is not on the bus";
        return result;
    };

    // The five pages, signed out and signed in (e-mail user, and a Google user without a
    // password); the settings page holds the MySQL password change.
    const std::vector<std::pair<QString, std::optional<UserProfile>>> users{
        {QStringLiteral("signed out"), std::nullopt},
        {QStringLiteral("e-mail user"), user(QStringLiteral("email"), QStringLiteral("hash"))},
        {QStringLiteral("Google user"), user(QStringLiteral("google"), QString())},
    };
    for (const auto& [who, profile] : users) {
        window->model().modifyConfig([&](AppConfig& c) { c.user = profile; });
        for (const AppSection section : AppSections::allCases()) {
            window->setSection(section);
            const Walk page = walkHere(window.get(), AppSections::rawValue(section) + QStringLiteral(" page, ") + who);
            if (section == AppSection::dashboard) {
                // The user summary reads as the two lines it shows.
                const QString summary = profile ? QStringLiteral("Linh Tran, linh.tran@example.com")
                                                : QStringLiteral("Guest, Click to login");
                EXPECT_TRUE(page.named.contains(summary)) << list(page.named);
            }
            if (section == AppSection::projects) {
                // The header and the default website's row, whose controls name the website.
                const QString website = window->model().config().projects.value(0).name;
                EXPECT_FALSE(website.isEmpty());
                for (const QString name : {QStringLiteral("Stop All"), QStringLiteral("Create Website"),
                                           QStringLiteral("Import Website"), QStringLiteral("Start ") + website,
                                           QStringLiteral("Code IDE ") + website, QStringLiteral("Choose Path ") + website,
                                           QStringLiteral("Remove ") + website, QStringLiteral("Website config ") + website})
                    EXPECT_TRUE(page.named.contains(name)) << name.toStdString() << "\n" << list(page.named);
            }
            if (section == AppSection::settings) {
                for (const QString name : {QStringLiteral("PHP version"), QStringLiteral("Current password"),
                                           QStringLiteral("New password"), QStringLiteral("Show password"),
                                           QStringLiteral("Change mySQL Password")})
                    EXPECT_TRUE(page.named.contains(name)) << name.toStdString() << "\n" << list(page.named);
            }
        }
    }
    window->model().modifyConfig([&](AppConfig& c) { c.user.reset(); });

    // A row's "Website config" opened by its Press action on the bus, as a screen reader does:
    // the website's settings show, and they too have a name.
    window->setSection(AppSection::projects);
    ProjectRow* row = window->page()->findChild<ProjectRow*>();
    ASSERT_NE(row, nullptr);
    const QString toggled
        = AtSpiWalk::doAction(QStringLiteral("Website config ") + row->project().name, QStringLiteral("Press"));
    EXPECT_TRUE(toggled.isEmpty()) << toggled.toStdString();
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return row->isConfigExpanded(); }));
    walkHere(window.get(), QStringLiteral("Projects page, website config open"));

    // The three sheets of the window.
    const std::vector<std::tuple<SheetKind, QString, QStringList>> sheets{
        {SheetKind::addProject, QStringLiteral("Import sheet"),
         {QStringLiteral("Website name"), QStringLiteral("/path/to/project/public"), QStringLiteral("Port"),
          QStringLiteral("Database name"), QStringLiteral("Database user"), QStringLiteral("Database password"),
          QStringLiteral("Show password"), QStringLiteral("Browse"), QStringLiteral("Import")}},
        {SheetKind::createWebsite, QStringLiteral("Create sheet"),
         {QStringLiteral("Laravel"), QStringLiteral("WordPress"), QStringLiteral("Website name"),
          QStringLiteral("Create inside"), QStringLiteral("Website port"), QStringLiteral("Database name"),
          QStringLiteral("Create and Start")}},
        {SheetKind::login, QStringLiteral("Login sheet"),
         {QStringLiteral("Email"), QStringLiteral("Password"), QStringLiteral("Show password"),
          QStringLiteral("New here? Register"), QStringLiteral("Login")}},
    };
    for (const auto& [kind, what, expected] : sheets) {
        window->setSheetShown(kind, true);
        QDialog* sheet = window->presentedSheet(kind);
        ASSERT_NE(sheet, nullptr) << what.toStdString();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet, kWindowWait)) << what.toStdString();
        const Walk walked = walkHere(sheet, what);
        for (const QString& name : expected)
            EXPECT_TRUE(walked.named.contains(name)) << what.toStdString() << ": " << name.toStdString() << "\n"
                                                     << list(walked.named);
        window->setSheetShown(kind, false);
    }

    // A password shown in clear: its button now reads "Hide password".
    window->setSheetShown(SheetKind::login, true);
    QDialog* login = window->presentedSheet(SheetKind::login);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(login, kWindowWait));
    PasswordField* password = login->findChild<PasswordField*>();
    ASSERT_NE(password, nullptr);
    QTest::mouseClick(password->toggleButton(), Qt::LeftButton);
    EXPECT_TRUE(walkHere(login, QStringLiteral("Login sheet, password shown")).named.contains(QStringLiteral("Hide password")));
    // Registration mode adds the name field.
    QTest::mouseClick(static_cast<LoginSheet*>(login)->switchButton(), Qt::LeftButton);
    const Walk registration = walkHere(login, QStringLiteral("Login sheet, registration"));
    for (const QString name : {QStringLiteral("Full name"), QStringLiteral("Have an account? Login"), QStringLiteral("Register")})
        EXPECT_TRUE(registration.named.contains(name)) << name.toStdString() << "\n" << list(registration.named);
    window->setSheetShown(SheetKind::login, false);

    // The workspace, its two new-item sheets and the delete confirmation.
    CodeIDEView* view = openWorkspace();
    ASSERT_NE(view, nullptr);
    walkHere(window.get(), QStringLiteral("workspace"));
    view->model().selectFile(QUrl::fromLocalFile(dir.path() + QStringLiteral("/site/public/index.php")));
    // The file may load in the background: its editor shows once it has.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return view->editor() != nullptr; }, kWindowWait));
    const Walk open = walkHere(window.get(), QStringLiteral("workspace with a file open"));
    for (const QString name : {QStringLiteral("New File"), QStringLiteral("New Folder"), QStringLiteral("Done"),
                               QStringLiteral("Project files"), QStringLiteral("Code editor")})
        EXPECT_TRUE(open.named.contains(name)) << name.toStdString() << "\n" << list(open.named);
    for (const CodeItemType type : {CodeItemType::file, CodeItemType::folder}) {
        view->setNewItemType(type);
        ASSERT_NE(view->newItemSheet(), nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view->newItemSheet(), kWindowWait));
        walkHere(view->newItemSheet(), QStringLiteral("New ") + CodeItemTypes::rawValue(type) + QStringLiteral(" sheet"));
        view->setNewItemType(std::nullopt);
    }
    ASSERT_FALSE(view->model().rootItems().isEmpty());
    view->setDeleteCandidate(view->model().rootItems().first());
    ASSERT_NE(view->deleteConfirmation(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view->deleteConfirmation(), kWindowWait));
    const Walk confirmation = walkHere(view->deleteConfirmation(), QStringLiteral("delete confirmation"));
    EXPECT_TRUE(confirmation.named.contains(QStringLiteral("Delete")));
    view->setDeleteCandidate(std::nullopt);

    EXPECT_TRUE(faults.isEmpty()) << faults.size() << " showing, focusable controls without a name:\n" << list(faults);
}

// ---- What a control acts on and what state things are in, read from the bus ------------------------

namespace {

AtSpiWalk::Dump busDump()
{
    AtSpiWalk::Dump dump = AtSpiWalk::dumpThisProcess();
    EXPECT_TRUE(dump.ok) << dump.error.toStdString();
    return dump;
}

// The one showing object of this role and name, or an empty node (with a failure) when there is
// not exactly one.
AtSpiWalk::Node busNode(const AtSpiWalk::Dump& dump, const QString& role, const QString& name)
{
    QList<AtSpiWalk::Node> found;
    for (const AtSpiWalk::Node& node : dump.named(name)) {
        if (node.role == role)
            found << node;
    }
    EXPECT_EQ(found.size(), 1) << role.toStdString() << "[" << name.toStdString() << "]";
    return found.size() == 1 ? found.first() : AtSpiWalk::Node{};
}

QString roleName(const AtSpiWalk::Node& node)
{
    return node.role + u'[' + node.name + u']';
}

// The names of the objects of `role` inside the one group of `groupRole` named `group`, and of
// those of them in `state`.
struct Members {
    QStringList names;
    QStringList inState;
};

Members members(const AtSpiWalk::Dump& dump, const QString& groupRole, const QString& group, const QString& role,
                const QString& state)
{
    const QString inside = roleName(busNode(dump, groupRole, group));
    Members result;
    for (const AtSpiWalk::Node& node : dump.nodes) {
        if (node.role == role && node.within(inside)) {
            result.names << node.name;
            if (node.has(state))
                result.inState << node.name;
        }
    }
    return result;
}

} // namespace

class BusReadingTest : public AccessibilityTest {
protected:
    void openOnTheBus()
    {
        openWindow();
        ASSERT_TRUE(TestEnvironment::waitUntil([] { return QAccessible::isActive(); }, 30000));
    }

    // Two websites served by the bundled runtime.
    void twoWebsites()
    {
        for (const QString& folder : {QStringLiteral("/corner-shop"), QStringLiteral("/blog")})
            TestFiles::writeFile(dir.path() + folder + QStringLiteral("/index.php"), "<?php echo 'hi';\n");
        corner = Project{};
        corner.id = QStringLiteral("corner-shop");
        corner.name = QStringLiteral("Corner Shop");
        corner.root = dir.path() + QStringLiteral("/corner-shop");
        corner.port = TestEnvironment::freePort();
        blog = Project{};
        blog.id = QStringLiteral("blog");
        blog.name = QStringLiteral("Blog");
        blog.root = dir.path() + QStringLiteral("/blog");
        blog.port = TestEnvironment::freePort();
        window->model().setPhpVersions({PHPVersion{BundledPhp::binary(), QStringLiteral("8.5.2"), true}});
        window->model().modifyConfig([&](AppConfig& c) {
            c.selectedPhp = BundledPhp::binary();
            c.projects = {corner, blog};
        });
        window->setSection(AppSection::projects);
    }

    // The card of `own` reads as a group named after it with its state, and each of its controls
    // names it and not `other`.
    static void expectCard(const AtSpiWalk::Dump& dump, const Project& own, const Project& other, const QString& state)
    {
        const AtSpiWalk::Node card = busNode(dump, QStringLiteral("panel"), own.name);
        EXPECT_EQ(card.description, state) << own.name.toStdString();
        const QString inside = roleName(card);
        // The dot reads as the same state.
        bool dot = false;
        int controls = 0;
        for (const AtSpiWalk::Node& node : dump.nodes) {
            if (!node.within(inside))
                continue;
            if (node.role == QLatin1String("label") && node.name == state)
                dot = true;
            if (!node.has(QStringLiteral("focusable")))
                continue;
            ++controls;
            const QString reads = node.name + u' ' + node.description;
            EXPECT_TRUE(reads.contains(own.name)) << roleName(node).toStdString() << " in " << inside.toStdString();
            EXPECT_FALSE(reads.contains(other.name)) << roleName(node).toStdString() << " in " << inside.toStdString();
        }
        EXPECT_TRUE(dot) << own.name.toStdString() << ": no \"" << state.toStdString() << "\"";
        EXPECT_GE(controls, 7) << own.name.toStdString() << ": the disclosure and the six buttons";
    }

    Project corner;
    Project blog;
};

TEST_F(BusReadingTest, EachCardNamesItsWebsiteAndReadsItsStateAsStartAndStopChangeIt)
{
    openOnTheBus();
    twoWebsites();
    const QString running = QStringLiteral("Running on port ") + QString::number(corner.port);

    AtSpiWalk::Dump dump = busDump();
    expectCard(dump, corner, blog, QStringLiteral("Stopped"));
    expectCard(dump, blog, corner, QStringLiteral("Stopped"));
    for (const QString label : {QStringLiteral("Start"), QStringLiteral("Open"), QStringLiteral("Code IDE"),
                                QStringLiteral("Choose Path"), QStringLiteral("Logs"), QStringLiteral("Remove")}) {
        busNode(dump, QStringLiteral("push button"), label + QStringLiteral(" Corner Shop"));
        busNode(dump, QStringLiteral("push button"), label + QStringLiteral(" Blog"));
    }
    // The visible texts stay.
    ProjectsPage* page = qobject_cast<ProjectsPage*>(window->page());
    ASSERT_NE(page, nullptr);
    ASSERT_NE(page->row(corner.id), nullptr);
    EXPECT_EQ(page->row(corner.id)->startStopButton()->text(), QStringLiteral("Start"));

    // Started from the bus, as a screen reader's command does.
    QString error = AtSpiWalk::doAction(QStringLiteral("Start Corner Shop"), QStringLiteral("Press"));
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return window->model().isRunning(corner.id); }, 30000))
        << window->model().statusMessage().toStdString();
    dump = busDump();
    expectCard(dump, corner, blog, running);
    expectCard(dump, blog, corner, QStringLiteral("Stopped"));
    busNode(dump, QStringLiteral("push button"), QStringLiteral("Stop Corner Shop"));
    EXPECT_TRUE(dump.named(QStringLiteral("Start Corner Shop")).isEmpty());

    error = AtSpiWalk::doAction(QStringLiteral("Stop Corner Shop"), QStringLiteral("Press"));
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !window->model().isRunning(corner.id); }, 30000));
    dump = busDump();
    expectCard(dump, corner, blog, QStringLiteral("Stopped"));
    expectCard(dump, blog, corner, QStringLiteral("Stopped"));
}

TEST_F(BusReadingTest, DisclosuresSegmentsLinksAndTheSidebarReadAsWhatTheyAre)
{
    openOnTheBus();
    twoWebsites();

    // The sidebar: one tab per page, the shown page's tab selected.
    const auto expectSelected = [&](const QString& current) {
        const Members tabs = members(busDump(), QStringLiteral("page tab list"), QStringLiteral("Sections"),
                                     QStringLiteral("page tab"), QStringLiteral("selected"));
        EXPECT_EQ(tabs.names, (QStringList{QStringLiteral("Dashboard"), QStringLiteral("Projects"), QStringLiteral("Settings"),
                                           QStringLiteral("Guide"), QStringLiteral("Dravix")}));
        EXPECT_EQ(tabs.inState, QStringList{current});
    };
    expectSelected(QStringLiteral("Projects"));
    const QString pressed = AtSpiWalk::doAction(QStringLiteral("Settings"), QStringLiteral("Press"), QStringLiteral("page tab"));
    ASSERT_TRUE(pressed.isEmpty()) << pressed.toStdString();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return window->section() == AppSection::settings; }));
    expectSelected(QStringLiteral("Settings"));
    window->setSection(AppSection::projects);
    expectSelected(QStringLiteral("Projects"));

    // A disclosure is a button, collapsed or expanded; never a check box.
    const QString disclosure = QStringLiteral("Website config Blog");
    AtSpiWalk::Node node = busNode(busDump(), QStringLiteral("push button"), disclosure);
    EXPECT_TRUE(node.has(QStringLiteral("expandable")) && node.has(QStringLiteral("collapsed"))) << node.states.join(u',').toStdString();
    EXPECT_FALSE(node.has(QStringLiteral("expanded")) || node.has(QStringLiteral("checked")));
    EXPECT_TRUE(node.actions.contains(QStringLiteral("Press"))) << node.actions.join(u',').toStdString();
    const QString opened = AtSpiWalk::doAction(disclosure, QStringLiteral("Press"));
    ASSERT_TRUE(opened.isEmpty()) << opened.toStdString();
    auto* page = qobject_cast<ProjectsPage*>(window->page());
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return page->row(blog.id) && page->row(blog.id)->isConfigExpanded(); }));
    node = busNode(busDump(), QStringLiteral("push button"), disclosure);
    EXPECT_TRUE(node.has(QStringLiteral("expandable")) && node.has(QStringLiteral("expanded"))) << node.states.join(u',').toStdString();
    EXPECT_FALSE(node.has(QStringLiteral("collapsed")) || node.has(QStringLiteral("checked")));

    // Links drawn as buttons read as links.
    window->setSection(AppSection::dravix);
    AtSpiWalk::Dump dump = busDump();
    for (const QString name : {Maker::phone(), Maker::email()})
        busNode(dump, QStringLiteral("link"), name);
    for (const AtSpiWalk::Node& link : dump.named(Maker::webAddress()))
        EXPECT_EQ(link.role, QStringLiteral("link"));
    EXPECT_EQ(dump.named(Maker::webAddress()).size(), 2) << "the page's and the footer's";

    // The template segments: a group of radio buttons, one checked.
    window->setSheetShown(SheetKind::createWebsite, true);
    auto* sheet = qobject_cast<CreateWebsiteSheet*>(window->presentedSheet(SheetKind::createWebsite));
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet, kWindowWait));
    const auto expectChecked = [&](const QString& checked) {
        const Members segments = members(busDump(), QStringLiteral("panel"), QStringLiteral("Website type"),
                                         QStringLiteral("radio button"), QStringLiteral("checked"));
        EXPECT_EQ(segments.names, (QStringList{QStringLiteral("Laravel"), QStringLiteral("WordPress")}));
        EXPECT_EQ(segments.inState, QStringList{checked});
    };
    expectChecked(QStringLiteral("Laravel"));
    QTest::mouseClick(sheet->findChild<QPushButton*>(QStringLiteral("wordpressSegment")), Qt::LeftButton);
    ASSERT_EQ(sheet->websiteTemplate(), WebsiteTemplate::wordpress);
    expectChecked(QStringLiteral("WordPress"));
    window->setSheetShown(SheetKind::createWebsite, false);
}

TEST_F(BusReadingTest, TreeRowsTellFoldersFromFilesAndOpenFromClosed)
{
    openOnTheBus();
    const QString root = dir.path() + QStringLiteral("/site");
    TestFiles::writeFile(root + QStringLiteral("/public/index.php"), "<?php\n");
    QDir().mkpath(root + QStringLiteral("/public/css"));
    TestFiles::writeFile(root + QStringLiteral("/README.md"), "# Site\n");
    Project p;
    p.id = QStringLiteral("site");
    p.name = QStringLiteral("Site");
    p.root = root;
    p.port = 8090;
    window->setCodeIDEProject(p);
    auto* view = qobject_cast<CodeIDEView*>(window->codeWorkspace());
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), kWindowWait));

    const auto row = [](const AtSpiWalk::Dump& dump, const QString& name) {
        AtSpiWalk::Node found;
        int count = 0;
        for (const AtSpiWalk::Node& node : dump.named(name)) {
            if (node.within(QStringLiteral("tree[Project files]"))) {
                found = node;
                ++count;
            }
        }
        EXPECT_EQ(count, 1) << name.toStdString();
        return found;
    };
    AtSpiWalk::Dump dump = busDump();
    AtSpiWalk::Node folder = row(dump, QStringLiteral("public"));
    EXPECT_EQ(folder.description, QStringLiteral("folder, collapsed, level 1"));
    EXPECT_TRUE(folder.has(QStringLiteral("expandable")) && folder.has(QStringLiteral("collapsed"))) << folder.states.join(u',').toStdString();
    EXPECT_FALSE(folder.has(QStringLiteral("expanded")));
    AtSpiWalk::Node file = row(dump, QStringLiteral("README.md"));
    EXPECT_EQ(file.description, QStringLiteral("file, level 1"));
    EXPECT_FALSE(file.has(QStringLiteral("expandable")) || file.has(QStringLiteral("expanded")) || file.has(QStringLiteral("collapsed")));
    EXPECT_TRUE(dump.named(QStringLiteral("index.php")).isEmpty()) << "inside a closed folder";

    // Opened from the bus: its entries show one level down, in it.
    const QString error = AtSpiWalk::doAction(QStringLiteral("public"), QStringLiteral("Press"), folder.role);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return view->fileTree()->rows().rowOf(root + QStringLiteral("/public/index.php")) >= 0; }));
    dump = busDump();
    folder = row(dump, QStringLiteral("public"));
    EXPECT_EQ(folder.description, QStringLiteral("folder, expanded, level 1"));
    EXPECT_TRUE(folder.has(QStringLiteral("expandable")) && folder.has(QStringLiteral("expanded"))) << folder.states.join(u',').toStdString();
    EXPECT_FALSE(folder.has(QStringLiteral("collapsed")));
    EXPECT_EQ(row(dump, QStringLiteral("index.php")).description, QStringLiteral("file, level 2, in public"));
    const AtSpiWalk::Node inner = row(dump, QStringLiteral("css"));
    EXPECT_EQ(inner.description, QStringLiteral("folder, collapsed, level 2, in public"));
    EXPECT_TRUE(inner.has(QStringLiteral("collapsed")));
    EXPECT_EQ(row(dump, QStringLiteral("README.md")).description, QStringLiteral("file, level 1"));
}

TEST_F(BusReadingTest, ReturnPressesTheFocusedButtonOfTheWindow)
{
    openWindow();
    const auto press = [&](QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        target->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return QApplication::focusWidget() == target; }))
            << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "none") << " "
            << (QApplication::activeWindow() ? QApplication::activeWindow()->metaObject()->className() : "none");
        // Through the X display's window, as the keyboard does.
        QTest::keyClick(window->windowHandle(), key, modifiers);
    };
    // A sidebar row.
    press(window->sidebar()->sectionButton(AppSection::projects), Qt::Key_Return);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return window->section() == AppSection::projects; }));
    press(window->sidebar()->sectionButton(AppSection::guide), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return window->section() == AppSection::guide; }));
    window->setSection(AppSection::projects);

    // A disclosure, both ways.
    auto* page = qobject_cast<ProjectsPage*>(window->page());
    ASSERT_NE(page, nullptr);
    ASSERT_FALSE(page->rows().isEmpty());
    ProjectRow* row = page->rows().first();
    press(row->configToggle(), Qt::Key_Return);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return row->isConfigExpanded(); }));
    press(row->configToggle(), Qt::Key_Return);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !row->isConfigExpanded(); }));

    // A push button.
    press(page->createWebsiteButton(), Qt::Key_Return);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return window->showCreateWebsite(); }));
    window->setSheetShown(SheetKind::createWebsite, false);

    // A modified Return is not a press (what the next press opens comes after it).
    window->activateWindow(); // an X server without a window manager activates nothing by itself
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return QApplication::activeWindow() == window.get(); }, kWindowWait));
    press(window->sidebar()->sectionButton(AppSection::settings), Qt::Key_Return, Qt::ControlModifier);
    press(page->importWebsiteButton(), Qt::Key_Return);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return window->showAddProject(); }));
    EXPECT_EQ(window->section(), AppSection::projects) << "Control+Return pressed the Settings row";
}

TEST_F(BusReadingTest, TheFooterAnnouncesANewMessageWithoutTakingTheFocus)
{
    openOnTheBus();
    QWidget* focused = window->sidebar()->sectionButton(AppSection::projects);
    focused->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return QApplication::focusWidget() == focused; }));

    AtSpiWalk::Listener listener(QStringLiteral("Corner Shop started"),
                                 {QStringLiteral("object:property-change:accessible-name")});
    ASSERT_TRUE(listener.ready()) << listener.error().toStdString();
    // Until the bridge has heard of the listener, an event may not be sent: each try is a new message.
    bool heard = false;
    for (int attempt = 1; attempt <= 5 && !heard; ++attempt) {
        window->model().setStatusMessage(QStringLiteral("Corner Shop started on port 8090 (%1).").arg(attempt));
        heard = listener.wait(attempt == 5 ? 120000 : 10000);
    }
    ASSERT_TRUE(heard) << listener.error().toStdString();
    const QJsonObject event = listener.events().last();
    EXPECT_EQ(event.value(QLatin1String("role")).toString(), QStringLiteral("status bar"));
    EXPECT_TRUE(event.value(QLatin1String("name")).toString().startsWith(QStringLiteral("Corner Shop started on port 8090")))
        << event.value(QLatin1String("name")).toString().toStdString();
    EXPECT_FALSE(event.value(QLatin1String("states")).toVariant().toStringList().contains(QStringLiteral("focused")));
    // The focus stayed where the user is.
    EXPECT_EQ(QApplication::focusWidget(), focused);
    EXPECT_TRUE(busNode(busDump(), QStringLiteral("page tab"), QStringLiteral("Projects")).has(QStringLiteral("focused")));
}

// ---- Choosing by state ---------------------------------------------------------------------------

class CreateWebsiteChoiceTest : public AccessibilityTest {
protected:
    CreateWebsiteSheet* openSheet()
    {
        openWindow();
        window->setSheetShown(SheetKind::createWebsite, true);
        auto* sheet = qobject_cast<CreateWebsiteSheet*>(window->presentedSheet(SheetKind::createWebsite));
        EXPECT_NE(sheet, nullptr);
        if (!sheet)
            return nullptr;
        EXPECT_TRUE(QTest::qWaitForWindowActive(sheet, kWindowWait));
        return sheet;
    }

    template <typename T>
    static T* child(QWidget* sheet, const char* name)
    {
        T* widget = sheet->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // What the sheet shows and would create for WordPress, the name typed or not.
    static void expectWordPress(CreateWebsiteSheet* sheet, const char* when)
    {
        EXPECT_EQ(sheet->websiteTemplate(), WebsiteTemplate::wordpress) << when;
        EXPECT_EQ(child<QLabel>(sheet, "templateDescription")->text(),
                  QStringLiteral("Downloads WordPress, creates wp-config.php and connects it to shared mySQL."))
            << when;
        EXPECT_EQ(child<QLabel>(sheet, "templateIcon")->property("symbol").toString(), QStringLiteral("globe")) << when;
        EXPECT_TRUE(child<QPushButton>(sheet, "wordpressSegment")->isChecked()) << when;
        EXPECT_FALSE(child<QPushButton>(sheet, "laravelSegment")->isChecked()) << when;
    }

    // Types a name by keyboard; the destination line follows it and the choice stays.
    void typeName(CreateWebsiteSheet* sheet)
    {
        QLineEdit* name = child<QLineEdit>(sheet, "nameField");
        name->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(name, QStringLiteral("My Blog"));
        auto* destination = child<ElidedLabel>(sheet, "destinationLine");
        EXPECT_FALSE(destination->isHidden());
        EXPECT_EQ(destination->text(), QStringLiteral("Destination: ") + window->model().sitesURL() + QStringLiteral("/my-blog"));
        expectWordPress(sheet, "after typing a name");
    }

    // "Create and Start" takes the WordPress way: it downloads WordPress.
    void createTakesWordPress(CreateWebsiteSheet* sheet)
    {
        LoopbackHttpServer::Reply slow{200, {}, WebsiteFixtures::wordpressArchive()};
        slow.delayMs = 1500;
        server.setReply("/latest.zip", slow);
        server.setReply("/secret-key/1.1/salt/", LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
        // A runtime is needed before anything starts.
        PhpWrapper php(dir.path() + QStringLiteral("/php-bin"));
        window->model().setPhpVersions({PHPVersion{php.binary(), QStringLiteral("8.5.1"), true}});
        QTest::mouseClick(child<QPushButton>(sheet, "createButton"), Qt::LeftButton);
        ASSERT_TRUE(window->model().isCreatingWebsite()) << window->model().statusMessage().toStdString();
        EXPECT_TRUE(TestEnvironment::waitUntil(
            [&] { return window->model().websiteCreationProgress() == QStringLiteral("Downloading WordPress..."); }, 30000))
            << window->model().websiteCreationProgress().toStdString();
        // The database step fails here (nothing listens on its port).
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !window->model().isCreatingWebsite(); }, 120000));
    }
};

TEST_F(CreateWebsiteChoiceTest, WordPressThroughTheSegmentsAccessibilityAction)
{
    CreateWebsiteSheet* sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->websiteTemplate(), WebsiteTemplate::laravel);

    QAccessibleInterface* segment = QAccessible::queryAccessibleInterface(child<QPushButton>(sheet, "wordpressSegment"));
    ASSERT_NE(segment, nullptr);
    EXPECT_EQ(segment->text(QAccessible::Name), QStringLiteral("WordPress"));
    QAccessibleActionInterface* actions = segment->actionInterface();
    ASSERT_NE(actions, nullptr);
    const QStringList names = actions->actionNames();
    // A checkable segment offers Toggle (a plain button would offer Press).
    const QString action = names.contains(QAccessibleActionInterface::toggleAction()) ? QAccessibleActionInterface::toggleAction()
                                                                                     : QAccessibleActionInterface::pressAction();
    ASSERT_TRUE(names.contains(action)) << names.join(u',').toStdString();
    actions->doAction(action);
    QApplication::processEvents();
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return sheet->websiteTemplate() == WebsiteTemplate::wordpress; }));
    expectWordPress(sheet, "after the action");
    EXPECT_TRUE(segment->state().checked);

    typeName(sheet);
    createTakesWordPress(sheet);
}

TEST_F(CreateWebsiteChoiceTest, WordPressThroughTheAccessibilityBus)
{
    CreateWebsiteSheet* sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(TestEnvironment::waitUntil([] { return QAccessible::isActive(); }, 30000));
    // A screen reader's command: the segment's only action, Toggle, from the bus.
    const QString error = AtSpiWalk::doAction(QStringLiteral("WordPress"), QStringLiteral("Toggle"));
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return sheet->websiteTemplate() == WebsiteTemplate::wordpress; }));
    expectWordPress(sheet, "after the action on the bus");
    typeName(sheet);
}

TEST_F(CreateWebsiteChoiceTest, WordPressByKeyboardAlone)
{
    CreateWebsiteSheet* sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    auto* laravel = child<QPushButton>(sheet, "laravelSegment");
    auto* wordpress = child<QPushButton>(sheet, "wordpressSegment");

    // Shift+Tab from the name field (where the sheet opens) into the segments: Tab stops once in
    // the group; the arrows move within it.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return QApplication::focusWidget() == child<QLineEdit>(sheet, "nameField"); }));
    for (int i = 0; i < 20 && QApplication::focusWidget() != laravel && QApplication::focusWidget() != wordpress; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_TRUE(QApplication::focusWidget() == laravel || QApplication::focusWidget() == wordpress);
    if (QApplication::focusWidget() == wordpress)
        QTest::keyClick(wordpress, Qt::Key_Left);
    ASSERT_EQ(QApplication::focusWidget(), laravel);
    EXPECT_EQ(sheet->websiteTemplate(), WebsiteTemplate::laravel);

    // The arrow moves to WordPress and chooses it.
    QTest::keyClick(laravel, Qt::Key_Right);
    EXPECT_EQ(QApplication::focusWidget(), wordpress);
    expectWordPress(sheet, "after the arrow key");

    // Back to Laravel, and over again.
    QTest::keyClick(wordpress, Qt::Key_Left);
    EXPECT_EQ(sheet->websiteTemplate(), WebsiteTemplate::laravel);
    EXPECT_EQ(child<QLabel>(sheet, "templateDescription")->text(),
              QStringLiteral("Creates a current Laravel project with Composer and configures its .env file."));
    EXPECT_TRUE(laravel->isChecked());
    QTest::keyClick(laravel, Qt::Key_Right);
    expectWordPress(sheet, "after the arrow key, again");

    // Tab on to the name field and type it.
    for (int i = 0; i < 20 && QApplication::focusWidget() != child<QLineEdit>(sheet, "nameField"); ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), child<QLineEdit>(sheet, "nameField"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("My Blog"));
    expectWordPress(sheet, "after typing a name");
    createTakesWordPress(sheet);
}

TEST_F(AccessibilityTest, ThePHPPickerChoosesWhatItShows)
{
    openWindow();
    const QString a = dir.path() + QStringLiteral("/a/php");
    const QString b = dir.path() + QStringLiteral("/b/php");
    // With no runtime found, the empty picker reads as its label.
    window->setSection(AppSection::settings);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window->page()->findChild<QComboBox*>())->text(QAccessible::Name),
              QStringLiteral("PHP version"));
    window->setSection(AppSection::guide);
    window->model().setPhpVersions({PHPVersion{a, QStringLiteral("8.5.1"), true}, PHPVersion{b, QStringLiteral("8.5.2"), true}});
    window->model().modifyConfig([&](AppConfig& c) { c.selectedPhp = a; });
    window->setSection(AppSection::settings);
    auto* picker = window->page()->findChild<QComboBox*>();
    ASSERT_NE(picker, nullptr);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(picker);
    ASSERT_NE(iface, nullptr);
    // The picker reads as what it chooses, its value the entry it shows, labelled by the text beside it.
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("PHP version"));
    EXPECT_EQ(iface->text(QAccessible::Value), picker->currentText());
    EXPECT_EQ(picker->currentText(), QStringLiteral("8.5.1 - ") + a);
    QStringList labels;
    for (const auto& [other, relation] : iface->relations(QAccessible::Label))
        labels << other->text(QAccessible::Name);
    EXPECT_TRUE(labels.contains(QStringLiteral("PHP version"))) << labels.join(u',').toStdString();
    EXPECT_EQ(picker->currentData().toString(), a);
    // So it reads on the bus: a combo box named "PHP version" whose text is the runtime shown.
    const auto busPicker = [] {
        const QList<AtSpiWalk::Node> nodes = AtSpiWalk::dumpThisProcess().named(QStringLiteral("PHP version"));
        for (const AtSpiWalk::Node& node : nodes) {
            if (node.role == QLatin1String("combo box"))
                return node;
        }
        return AtSpiWalk::Node{};
    };
    AtSpiWalk::Node onBus = busPicker();
    EXPECT_EQ(onBus.role, QStringLiteral("combo box"));
    EXPECT_EQ(onBus.text, std::optional<QString>(QStringLiteral("8.5.1 - ") + a));
    EXPECT_TRUE(onBus.has(QStringLiteral("collapsed")) && onBus.has(QStringLiteral("expandable")));

    // By keyboard; the name stays, the value follows.
    picker->setFocus(Qt::TabFocusReason);
    QTest::keyClick(picker, Qt::Key_Down);
    EXPECT_EQ(window->model().config().selectedPhp, b);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("PHP version"));
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("8.5.2 - ") + b);
    onBus = busPicker();
    EXPECT_EQ(onBus.text, std::optional<QString>(QStringLiteral("8.5.2 - ") + b));
    EXPECT_TRUE(onBus.has(QStringLiteral("focused")));
    // By a selection that is no click (what a tool or assistive technology sets).
    picker->setCurrentIndex(0);
    EXPECT_EQ(window->model().config().selectedPhp, a);
    // A refilled list shows the choice again and chooses nothing.
    window->model().setPhpVersions({PHPVersion{b, QStringLiteral("8.5.2"), true}, PHPVersion{a, QStringLiteral("8.5.1"), true}});
    EXPECT_EQ(window->model().config().selectedPhp, a);
    EXPECT_EQ(picker->currentData().toString(), a);
}

// ---- Focus after New File / New Folder -----------------------------------------------------------

class NewItemFocusTest : public AccessibilityTest {
protected:
    CodeIDEView* openActiveWorkspace()
    {
        openWindow();
        CodeIDEView* view = openWorkspace();
        if (view)
            EXPECT_TRUE(QTest::qWaitForWindowActive(window.get(), kWindowWait));
        return view;
    }

    // Presses a toolbar button as a user does and waits for the sheet to take the keyboard.
    NewCodeItemSheet* pressNew(CodeIDEView* view, QPushButton* button)
    {
        QTest::mouseClick(button, Qt::LeftButton);
        NewCodeItemSheet* sheet = view->newItemSheet();
        EXPECT_NE(sheet, nullptr);
        // The user types once the sheet has the keyboard.
        if (sheet)
            EXPECT_TRUE(TestEnvironment::waitUntil(
                [&] { return QApplication::activeWindow() == sheet && focusInside(sheet); }, kWindowWait));
        return sheet;
    }

    // Keys go to whatever has the keyboard, through the X display's window.
    static void type(QWidget* window, const QString& text)
    {
        for (const QChar c : text)
            QTest::keyClick(window->windowHandle(), c.toLatin1());
    }

    static void press(QWidget* window, Qt::Key key)
    {
        QTest::keyClick(window->windowHandle(), key);
    }
};

TEST_F(NewItemFocusTest, ANewFileOpensWithTheKeyboardInTheEditor)
{
    CodeIDEView* view = openActiveWorkspace();
    ASSERT_NE(view, nullptr);
    NewCodeItemSheet* sheet = pressNew(view, view->newFileButton());
    ASSERT_NE(sheet, nullptr);
    type(sheet, QStringLiteral("notes.txt"));
    press(sheet, Qt::Key_Return);

    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return view->newItemSheet() == nullptr; }, kWindowWait));
    // The file may load in the background: its editor shows once it has.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return view->editor() != nullptr; }, kWindowWait));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return QApplication::activeWindow() == window.get(); }, kWindowWait));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return focusInside(view->editor()); }, kWindowWait))
        << "focus is on " << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");

    // What the user types next is the file's text.
    type(window.get(), QStringLiteral("hello"));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return view->model().content() == QStringLiteral("hello"); }, kWindowWait))
        << view->model().content().toStdString();
    EXPECT_NE(window->codeWorkspace(), nullptr);
}

TEST_F(NewItemFocusTest, ANewFolderOrACancelLeavesTheKeyboardInTheTree)
{
    CodeIDEView* view = openActiveWorkspace();
    ASSERT_NE(view, nullptr);

    NewCodeItemSheet* sheet = pressNew(view, view->newFolderButton());
    ASSERT_NE(sheet, nullptr);
    type(sheet, QStringLiteral("src"));
    press(sheet, Qt::Key_Return);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return view->newItemSheet() == nullptr; }, kWindowWait));
    EXPECT_TRUE(QFileInfo(dir.path() + QStringLiteral("/site/public/src")).isDir()
                || QFileInfo(dir.path() + QStringLiteral("/site/src")).isDir());
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return focusInside(view->fileTree()); }, kWindowWait))
        << "focus is on " << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");

    // Cancelled: nothing was created, the tree has the keyboard again.
    sheet = pressNew(view, view->newFileButton());
    ASSERT_NE(sheet, nullptr);
    press(sheet, Qt::Key_Escape);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return view->newItemSheet() == nullptr; }, kWindowWait));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return focusInside(view->fileTree()); }, kWindowWait))
        << "focus is on " << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");
    EXPECT_NE(window->codeWorkspace(), nullptr) << "Escape closed the sheet, not the workspace";
}

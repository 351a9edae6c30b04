// The window as assistive technology and the keyboard reach it, on a real X display with the
// AT-SPI bridge on (see support/XvfbSession.h). Every showing, focusable control must have a name,
// both in Qt's accessibility tree (what the bridge exports, walked in process, with the widget each
// object stands for) and on the accessibility bus itself, walked from outside as a screen reader
// does (support/AtSpiWalk.h).
#include "account/LoginSheet.h"
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/ElidedLabel.h"
#include "app/PasswordField.h"
#include "services/CreateWebsiteSheet.h"
#include "services/ProjectRow.h"
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
                // The header and the default website's row.
                for (const QString name : {QStringLiteral("Stop All"), QStringLiteral("Create Website"),
                                           QStringLiteral("Import Website"), QStringLiteral("Start"),
                                           QStringLiteral("Code IDE"), QStringLiteral("Choose Path"),
                                           QStringLiteral("Remove"), QStringLiteral("Website config")})
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

    // A row's "Website config" opened by its Toggle action on the bus, as a screen reader does:
    // the website's settings show, and they too have a name.
    window->setSection(AppSection::projects);
    ProjectRow* row = window->page()->findChild<ProjectRow*>();
    ASSERT_NE(row, nullptr);
    const QString toggled = AtSpiWalk::doAction(QStringLiteral("Website config"), QStringLiteral("Toggle"));
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
    // On Linux a picker reads as the entry it shows, labelled by the text beside it.
    EXPECT_EQ(iface->text(QAccessible::Name), picker->currentText());
    QStringList labels;
    for (const auto& [other, relation] : iface->relations(QAccessible::Label))
        labels << other->text(QAccessible::Name);
    EXPECT_TRUE(labels.contains(QStringLiteral("PHP version"))) << labels.join(u',').toStdString();
    EXPECT_EQ(picker->currentData().toString(), a);

    // By keyboard.
    picker->setFocus(Qt::TabFocusReason);
    QTest::keyClick(picker, Qt::Key_Down);
    EXPECT_EQ(window->model().config().selectedPhp, b);
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

// The sheets of the window and the browser panel of "Continue with Google" on a real X display: which
// window is active, what is modal to what, where focus goes, and that the panel shows and
// cancels.
#include "account/LoginSheet.h"
#include "platform/Dispatch.h"
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/ElidedLabel.h"
#include "app/Footer.h"
#include "app/Sidebar.h"
#include "app/TopBar.h"
#include "platform/WebAuthenticationSession.h"
#include "signin/SignInBundle.h"
#include "support/OAuthProviderStandIn.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "support/XvfbSession.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

const QString ClientID = QStringLiteral("123-abc.apps.example");

class WindowSheets : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(XvfbSession::active());
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        TestCertificates::trustTestCA();
        resources = SignInBundle::write(dir.path() + "/Kovani.app", ClientID);
        ASSERT_FALSE(resources.isEmpty());
        // The shared sign-in controller reads this bundle and talks to the stand-in provider; the
        // "browser" opens nothing.
        qputenv("KOVANI_RESOURCES_DIR", resources.toLocal8Bit());
        const QByteArray host = "127.0.0.1:" + QByteArray::number(provider.server().port());
        qputenv("KOVANI_GOOGLE_AUTHORIZATION_SERVER", host);
        qputenv("KOVANI_GOOGLE_TOKEN_SERVER", host);
        qputenv("KOVANI_GOOGLE_USERINFO_SERVER", host);
        qputenv("KOVANI_BROWSER", "/bin/true");
        WebAuthenticationSession::setHandlerExecutable(QStringLiteral("/bin/true"));

        t = std::make_unique<TestEnvironment::TestPlatform>(TestEnvironment::makePlatform(dir.path() + "/root"));
        t->platform.resourcesDir = resources;
        view = std::make_unique<ContentView>(t->platform);
        view->resize(1120, 760);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }

    void TearDown() override
    {
        view.reset();
        EXPECT_TRUE(Dispatch::drainForTesting()); // deferred deletions
    }

    LoginSheet* sheet() { return qobject_cast<LoginSheet*>(view->presentedSheet(SheetKind::login)); }
    QDialog* panel() { return view->findChild<QDialog*>("webAuthenticationPanel"); }
    QString footer() { return view->footer()->status()->text(); }

    // Opens the login sheet from the top bar and waits until it is the active window.
    LoginSheet* openSheet()
    {
        QTest::mouseClick(view->topBar()->loginButton(), Qt::LeftButton);
        LoginSheet* s = sheet();
        EXPECT_TRUE(s);
        if (!s)
            return nullptr;
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return QApplication::activeWindow() == s; }, 5000))
            << "the sheet is the active window";
        return s;
    }

    // Whether a click on a sidebar section reaches the window (a window under a modal sheet or
    // panel takes none). The section is set back afterwards.
    bool windowTakesClicks()
    {
        const AppSection before = view->section();
        const AppSection other = before == AppSection::projects ? AppSection::guide : AppSection::projects;
        // Through the window, as the display delivers clicks, so that modality applies.
        QAbstractButton* button = view->sidebar()->sectionButton(other);
        QTest::mouseClick(view->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          button->mapTo(view.get(), button->rect().center()));
        EXPECT_TRUE(Dispatch::drainForTesting());
        const bool took = view->section() == other;
        view->setSection(before);
        return took;
    }

    // After a sheet or panel: nothing modal is left and the window is usable again (which window
    // the display then activates is the window manager's; Xvfb runs none, so it is asked for).
    void expectWindowFree(const char* what)
    {
        EXPECT_TRUE(TestEnvironment::waitUntil([] { return QApplication::activeModalWidget() == nullptr; }, 5000)) << what;
        view->activateWindow();
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return QApplication::activeWindow() == view.get(); }, 5000)) << what;
        EXPECT_TRUE(windowTakesClicks()) << what;
    }

    OAuthProviderStandIn provider;
    QTemporaryDir dir;
    QString resources;
    std::unique_ptr<TestEnvironment::TestPlatform> t;
    std::unique_ptr<ContentView> view;
};

} // namespace

TEST_F(WindowSheets, TheSheetIsModalOverTheWindowAndTakesTheTyping)
{
    EXPECT_TRUE(windowTakesClicks());
    LoginSheet* s = openSheet();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->windowModality(), Qt::WindowModal);
    EXPECT_EQ(s->parentWidget(), view.get());
    EXPECT_EQ(QApplication::activeModalWidget(), s);
    EXPECT_FALSE(windowTakesClicks()) << "the window under the sheet takes no clicks";
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return QApplication::focusWidget() == s->emailField(); }, 5000))
        << "typing goes to the e-mail field";
    QTest::keyClicks(QApplication::focusWidget(), "ada@example.test");
    EXPECT_EQ(s->email(), QStringLiteral("ada@example.test"));

    // Escape dismisses the sheet; the window is active again and free of modal windows.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !view->showLogin(); }, 5000));
    expectWindowFree("after Escape");

    // A new sheet starts empty, in login mode.
    LoginSheet* again = openSheet();
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->emailField()->text().isEmpty());
    QTest::mouseClick(again->cancelButton(), Qt::LeftButton);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !view->showLogin(); }, 5000));
    expectWindowFree("after Cancel");
}

TEST_F(WindowSheets, EverySheetOfTheWindowIsModalTakesFocusAndLeavesWithEscape)
{
    const struct {
        const char* name;
        SheetKind kind;
    } sheets[] = {
        {"add project", SheetKind::addProject},
        {"create website", SheetKind::createWebsite},
        {"login", SheetKind::login},
    };
    for (const auto& c : sheets) {
        view->setSheetShown(c.kind, true);
        QDialog* s = view->presentedSheet(c.kind);
        ASSERT_TRUE(s) << c.name;
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return QApplication::activeWindow() == s; }, 5000))
            << c.name << ": the sheet is the active window";
        EXPECT_EQ(s->parentWidget(), view.get()) << c.name;
        EXPECT_EQ(s->windowModality(), Qt::WindowModal) << c.name;
        EXPECT_EQ(QApplication::activeModalWidget(), s) << c.name;
        EXPECT_TRUE(TestEnvironment::waitUntil(
            [&] { return QApplication::focusWidget() && s->isAncestorOf(QApplication::focusWidget()); }, 5000))
            << c.name << ": typing goes into the sheet";
        EXPECT_FALSE(windowTakesClicks()) << c.name << ": the window under the sheet takes no clicks";
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !view->isSheetShown(c.kind); }, 5000)) << c.name;
        expectWindowFree(c.name);
    }
}

TEST_F(WindowSheets, ContinueWithGoogleShowsThePanelOverTheWindowAndEachWayOutCancels)
{
    const struct {
        const char* name;
        std::function<void(QDialog*)> leave;
    } ways[] = {
        {"Cancel", [](QDialog* p) { QTest::mouseClick(p->findChild<QPushButton*>(), Qt::LeftButton); }},
        {"Escape", [](QDialog* p) { QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : p, Qt::Key_Escape); }},
        {"closing the panel", [](QDialog* p) { p->close(); }},
    };
    for (const auto& way : ways) {
        view->model().setStatusMessage(QStringLiteral("Ready"));
        LoginSheet* s = openSheet();
        ASSERT_TRUE(s) << way.name;
        QTest::mouseClick(s->googleButton(), Qt::LeftButton);
        EXPECT_EQ(footer(), QStringLiteral("Opening Google login...")) << way.name;
        // The sheet goes at once; the panel stays, over the application's window.
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !sheet(); }, 5000)) << way.name;
        EXPECT_TRUE(Dispatch::drainForTesting()); // the sheet's deferred deletion
        ASSERT_TRUE(panel()) << way.name << ": the panel went with the sheet; " << footer().toStdString();
        QDialog* p = panel();
        EXPECT_EQ(p->parentWidget(), view.get()) << way.name;
        EXPECT_TRUE(p->isVisible()) << way.name;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(p)) << way.name;
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return QApplication::activeWindow() == p; }, 5000))
            << way.name << ": the panel is the active window";
        EXPECT_EQ(p->windowModality(), Qt::WindowModal) << way.name;
        EXPECT_EQ(QApplication::activeModalWidget(), p) << way.name;
        EXPECT_FALSE(windowTakesClicks()) << way.name << ": the window under the panel takes no clicks";
        EXPECT_EQ(footer(), QStringLiteral("Opening Google login...")) << way.name;

        way.leave(p);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return footer() == QStringLiteral("Google login was cancelled."); }, 10000))
            << way.name << ": " << footer().toStdString();
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !panel() || !panel()->isVisible(); }, 5000)) << way.name;
        expectWindowFree(way.name);
        EXPECT_EQ(provider.tokenRequests(), 0) << way.name;
        EXPECT_TRUE(Dispatch::drainForTesting());
    }
}

// The projects page with the keyboard, on a real X display: Tab walks the header, every card in
// list order and then the log; a creation that disables the focused header button leaves the page
// where it is and the focus near where the user was.
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/DisclosureButton.h"
#include "app/Footer.h"
#include "app/LinkButton.h"
#include "app/LogBox.h"
#include "services/ProjectCards.h"
#include "services/ProjectRow.h"
#include "services/ProjectsPage.h"
#include "support/TestEnvironment.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using TestEnvironment::waitUntil;

namespace {

// A hang guard only: a busy machine maps and activates windows late.
constexpr int kWindowWait = 60000;

class ProjectsPageFocusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(XvfbSession::active()) << "runs on its own X display";
        ASSERT_TRUE(dir.isValid());
        t = std::make_unique<TestEnvironment::TestPlatform>(TestEnvironment::makePlatform(dir.path()));
    }

    void TearDown() override
    {
        if (window)
            window->model().shutdown();
        window.reset();
    }

    // The window on the projects page with `count` stopped websites, scrolled to the top.
    ProjectsPage* openPage(int count)
    {
        window = std::make_unique<ContentView>(t->platform);
        window->model().modifyConfig([&](AppConfig& c) {
            c.projects.clear();
            for (int i = 0; i < count; ++i) {
                Project p;
                p.id = QStringLiteral("site-%1").arg(i);
                p.name = QStringLiteral("Site %1").arg(i);
                p.root = dir.path() + QStringLiteral("/site-%1").arg(i);
                p.port = 9100 + i;
                c.projects.append(p);
            }
        });
        window->resize(1120, 760);
        window->show();
        activate();
        window->setSection(AppSection::projects);
        auto* page = qobject_cast<ProjectsPage*>(window->page());
        EXPECT_NE(page, nullptr);
        return page;
    }

    void activate()
    {
        window->activateWindow();
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == window.get(); }, kWindowWait));
    }

    // Keys go to whatever has the keyboard, through the X display's window.
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(window->windowHandle(), key, modifiers);
    }

    bool inView(QWidget* widget) const
    {
        QScrollArea* area = window->pageArea();
        const QRect shown(widget->mapTo(area->viewport(), QPoint(0, 0)), widget->size());
        return area->viewport()->rect().contains(shown);
    }

    static std::string name(QWidget* w)
    {
        if (!w)
            return "nothing";
        return (w->accessibleName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->accessibleName()).toStdString();
    }

    QTemporaryDir dir;
    std::unique_ptr<TestEnvironment::TestPlatform> t;
    std::unique_ptr<ContentView> window;
};

} // namespace

TEST_F(ProjectsPageFocusTest, TabWalksTheHeaderEveryCardInListOrderAndThenTheLog)
{
    ProjectsPage* page = openPage(25);
    ASSERT_NE(page, nullptr);
    QPlainTextEdit* log = page->logBox()->textView();

    // From the scrolling area into the page (before the footer): the first enabled header button.
    window->pageArea()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), page->createWebsiteButton()) << name(QApplication::focusWidget());
    press(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), page->importWebsiteButton()) << name(QApplication::focusWidget());

    // Every stopped card takes the focus on its disclosure and its four enabled buttons, in list
    // order, each in view as it gets it.
    for (int i = 0; i < 25; ++i) {
        const QString id = QStringLiteral("site-%1").arg(i);
        press(Qt::Key_Tab);
        ProjectRow* card = page->row(id);
        ASSERT_NE(card, nullptr) << i;
        ASSERT_EQ(QApplication::focusWidget(), card->configToggle()) << i << ": " << name(QApplication::focusWidget());
        for (QWidget* next : {static_cast<QWidget*>(card->startStopButton()), static_cast<QWidget*>(card->codeIDEButton()),
                              static_cast<QWidget*>(card->choosePathButton()), static_cast<QWidget*>(card->removeButton())}) {
            press(Qt::Key_Tab);
            ASSERT_EQ(QApplication::focusWidget(), next) << i << ": " << name(QApplication::focusWidget());
            EXPECT_TRUE(inView(next)) << i;
        }
    }
    // Then the log, then the footer.
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), log) << name(QApplication::focusWidget());
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window->footer()->makerLink()) << name(QApplication::focusWidget());

    // Back from the log to the last card.
    log->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_NE(page->row(QStringLiteral("site-24")), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), page->row(QStringLiteral("site-24"))->removeButton()) << name(QApplication::focusWidget());

    // With the page scrolled away from the header, Tab from "Import Website" still enters the list
    // at its first card, and brings it into view.
    page->importWebsiteButton()->setFocus(Qt::TabFocusReason);
    QScrollBar* bar = window->pageArea()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    ASSERT_TRUE(waitUntil([&] { return page->row(QStringLiteral("site-12")) != nullptr; })) << "the middle rows are in view";
    press(Qt::Key_Tab);
    ASSERT_NE(page->row(QStringLiteral("site-0")), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), page->row(QStringLiteral("site-0"))->configToggle()) << name(QApplication::focusWidget());
    EXPECT_TRUE(inView(page->row(QStringLiteral("site-0"))->configToggle()));
}

TEST_F(ProjectsPageFocusTest, ACreationLeavesThePageWhereItIsAndGivesTheFocusBack)
{
    ProjectsPage* page = openPage(12);
    ASSERT_NE(page, nullptr);
    QScrollBar* bar = window->pageArea()->verticalScrollBar();
    ASSERT_TRUE(waitUntil([&] { return bar->maximum() > 0; })) << "the page is longer than the window";
    ASSERT_EQ(bar->value(), 0);

    // The user presses "Create Website"; the sheet takes the keyboard.
    QTest::mouseClick(page->createWebsiteButton(), Qt::LeftButton);
    ASSERT_TRUE(window->showCreateWebsite());
    QDialog* sheet = window->presentedSheet(SheetKind::createWebsite);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == sheet; }, kWindowWait));
    ASSERT_EQ(window->focusWidget(), page->createWebsiteButton());

    // A creation starts: both header buttons are disabled; the page stays at its top and the
    // window's focus goes to a control in view (not to the log at the bottom).
    window->model().setIsCreatingWebsite(true);
    EXPECT_FALSE(page->createWebsiteButton()->isEnabled());
    EXPECT_FALSE(page->importWebsiteButton()->isEnabled());
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 0) << "the page jumped";
    QWidget* parked = window->focusWidget();
    ASSERT_NE(parked, nullptr);
    EXPECT_NE(parked, page->logBox()->textView());
    EXPECT_TRUE(parked->isEnabled());
    EXPECT_TRUE(inView(parked)) << name(parked);

    // It ends: the focus is back on "Create Website", and the page still at its top.
    window->model().setIsCreatingWebsite(false);
    EXPECT_EQ(window->focusWidget(), page->createWebsiteButton()) << name(window->focusWidget());
    window->setSheetShown(SheetKind::createWebsite, false);
    activate();
    EXPECT_EQ(QApplication::focusWidget(), page->createWebsiteButton()) << name(QApplication::focusWidget());
    EXPECT_EQ(bar->value(), 0);
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), page->importWebsiteButton()) << name(QApplication::focusWidget());

    // The same from "Import Website" with a website running: "Stop All" takes it meanwhile.
    window->model().setRunningProjects({{QStringLiteral("site-3"), 4242}});
    ASSERT_TRUE(page->stopAllButton()->isEnabled());
    page->importWebsiteButton()->setFocus(Qt::TabFocusReason);
    window->model().setIsCreatingWebsite(true);
    EXPECT_EQ(QApplication::focusWidget(), page->stopAllButton()) << name(QApplication::focusWidget());
    EXPECT_EQ(bar->value(), 0);
    window->model().setIsCreatingWebsite(false);
    EXPECT_EQ(QApplication::focusWidget(), page->importWebsiteButton()) << name(QApplication::focusWidget());
    window->model().setRunningProjects({});
}

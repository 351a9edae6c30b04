// The "Import Website" sheet typed into with the keyboard on a real X display, opened from the
// projects page: the database name follows the website name key by key until the user types one.
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "services/AddProjectSheet.h"
#include "services/ProjectsPage.h"
#include "support/TestEnvironment.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using TestEnvironment::waitUntil;

namespace {

// A hang guard only: a busy machine maps and activates windows late.
constexpr int kWindowWait = 60000;

class AddProjectSheetTyping : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(XvfbSession::active()) << "runs on its own X display";
        ASSERT_TRUE(dir.isValid());
        t = std::make_unique<TestEnvironment::TestPlatform>(TestEnvironment::makePlatform(dir.path()));
        window = std::make_unique<ContentView>(t->platform);
        window->resize(1120, 760);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == window.get(); }, kWindowWait));
        window->setSection(AppSection::projects);
    }

    void TearDown() override
    {
        if (window)
            window->model().shutdown();
        window.reset();
    }

    // Clicks "Import Website" and waits until the sheet has the keyboard in its name field.
    AddProjectSheet* openSheet()
    {
        auto* page = qobject_cast<ProjectsPage*>(window->page());
        EXPECT_NE(page, nullptr);
        if (!page)
            return nullptr;
        QTest::mouseClick(page->importWebsiteButton(), Qt::LeftButton);
        auto* sheet = qobject_cast<AddProjectSheet*>(window->presentedSheet(SheetKind::addProject));
        EXPECT_NE(sheet, nullptr);
        if (!sheet)
            return nullptr;
        EXPECT_TRUE(waitUntil([&] { return QApplication::activeWindow() == sheet; }, kWindowWait));
        sheet->nameField()->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == sheet->nameField(); }, kWindowWait));
        return sheet;
    }

    // One key to whatever has the keyboard, through the sheet's window on the display.
    void type(AddProjectSheet* sheet, QChar c) { QTest::keyClick(sheet->windowHandle(), c.toLatin1()); }
    void press(AddProjectSheet* sheet, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(sheet->windowHandle(), key, modifiers);
    }

    QTemporaryDir dir;
    std::unique_ptr<TestEnvironment::TestPlatform> t;
    std::unique_ptr<ContentView> window;
};

} // namespace

TEST_F(AddProjectSheetTyping, DatabaseNameFollowsEveryKeyOfTheName)
{
    AddProjectSheet* sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    const QString typed = QStringLiteral("My Site");
    const QString expected[] = {"m", "my", "my", "my_s", "my_si", "my_sit", "my_site"};
    for (qsizetype i = 0; i < typed.size(); ++i) {
        type(sheet, typed.at(i));
        ASSERT_EQ(sheet->nameField()->text(), typed.left(i + 1));
        EXPECT_EQ(sheet->databaseNameField()->text(), expected[i]) << "after " << typed.left(i + 1).toStdString();
    }
    press(sheet, Qt::Key_Backspace);
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("my_sit"));
}

TEST_F(AddProjectSheetTyping, DatabaseNameTypedByTheUserStaysWhenTheNameChanges)
{
    AddProjectSheet* sheet = openSheet();
    ASSERT_NE(sheet, nullptr);
    for (QChar c : QStringLiteral("Shop"))
        type(sheet, c);
    ASSERT_EQ(sheet->databaseNameField()->text(), QStringLiteral("shop"));

    // Tab walks from the name past the folder, Browse and the port to the database name.
    for (int i = 0; i < 4 && QApplication::focusWidget() != sheet->databaseNameField(); ++i)
        press(sheet, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), sheet->databaseNameField());
    press(sheet, Qt::Key_End);
    for (QChar c : QStringLiteral("_live"))
        type(sheet, c);
    ASSERT_EQ(sheet->databaseNameField()->text(), QStringLiteral("shop_live"));

    sheet->nameField()->setFocus(Qt::BacktabFocusReason);
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == sheet->nameField(); }, kWindowWait));
    press(sheet, Qt::Key_End);
    for (QChar c : QStringLiteral(" Two"))
        type(sheet, c);
    press(sheet, Qt::Key_Backspace);
    EXPECT_EQ(sheet->nameField()->text(), QStringLiteral("Shop Tw"));
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("shop_live"));
}

// The "Import Website" sheet, driven through its widgets on the offscreen platform.
#include "app/PageRegistry.h"
#include "app/PasswordField.h"
#include "app/Theme.h"
#include "services/AddProjectSheet.h"
#include "services/ServerTestKit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace ServerTestKit;
using TestEnvironment::freePort;
using TestEnvironment::waitUntil;

namespace {

class AddProjectSheetTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        Theme::install();
        // Imports create their database in the background; nothing answers here.
        model->modifyConfig([&](AppConfig& c) { c.mysqlPort = freePort(); });
    }

    void TearDown() override
    {
        sheet.reset();
        // Let a database job started by an import report before the model goes.
        waitUntil([&] { return !model->statusMessage().startsWith("Website imported. "); }, 15000);
        ServerTest::TearDown();
    }

    AddProjectSheet& open()
    {
        sheet = std::make_unique<AddProjectSheet>(*model);
        sheet->show();
        return *sheet;
    }

    static void replaceText(QLineEdit* field, const QString& text)
    {
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            field->insert(text); // as a paste: one change
    }

    std::unique_ptr<AddProjectSheet> sheet;
};

} // namespace

TEST_F(AddProjectSheetTest, StartsWithItsDefaultsAndTheSuggestedPort)
{
    model->modifyConfig([&](AppConfig& c) {
        c.projects = {makeProject("a", "A", path("a"), 8082), makeProject("b", "B", path("b"), 8083)};
        c.phpMyAdminPort = 8081;
    });
    open();
    EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Import Website"));
    EXPECT_EQ(sheet->nameField()->text(), QString());
    EXPECT_EQ(sheet->nameField()->placeholderText(), QStringLiteral("Website name"));
    EXPECT_EQ(sheet->rootField()->text(), QString());
    EXPECT_EQ(sheet->rootField()->placeholderText(), QStringLiteral("/path/to/project/public"));
    EXPECT_EQ(sheet->portField()->text(), QStringLiteral("8084"));
    EXPECT_EQ(sheet->portField()->width(), 120);
    EXPECT_EQ(sheet->databaseNameField()->text(), QString());
    EXPECT_EQ(sheet->databaseUserField()->text(), QStringLiteral("root"));
    EXPECT_EQ(sheet->databasePasswordField()->text(), QStringLiteral("kelp"));
    EXPECT_EQ(sheet->databasePasswordField()->placeholder(), QStringLiteral("Database password"));
    EXPECT_FALSE(sheet->databasePasswordField()->isPasswordVisible());
    EXPECT_FALSE(sheet->reservedPortLabel()->isVisible());
    EXPECT_FALSE(sheet->importButton()->isEnabled());
    EXPECT_EQ(sheet->width(), 560);

    // It is the sheet the window opens for "Import Website".
    const SheetFactory factory = PageRegistry::sheet(SheetKind::addProject);
    ASSERT_TRUE(factory);
    std::unique_ptr<QDialog> built(factory(*model, nullptr));
    EXPECT_NE(dynamic_cast<AddProjectSheet*>(built.get()), nullptr);
}

TEST_F(AddProjectSheetTest, DatabaseNameFollowsTheNameUntilTheUserTypesOne)
{
    open();
    replaceText(sheet->nameField(), "My Shop");
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("my_shop"));
    QTest::keyClicks(sheet->nameField(), " Two");
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("my_shop_two"));

    struct Case {
        QString typed;
        QString expected;
    };
    const Case cases[] = {
        {"!!!", "website"},
        {"  Blog--Site  ", "blog_site"},
        {QString(80, u'a'), QString(64, u'a')},
        {QString::fromUtf8("Caf\u00E9 \u00DCber"), QString::fromUtf8("caf\u00E9_\u00FCber")},
    };
    for (const Case& c : cases) {
        open();
        replaceText(sheet->nameField(), c.typed);
        EXPECT_EQ(sheet->databaseNameField()->text(), c.expected) << c.typed.toStdString();
    }

    // Typed key by key, the field follows every key; the two sites no longer share "m".
    open();
    const QString typed = QStringLiteral("My Site");
    for (qsizetype i = 0; i < typed.size(); ++i) {
        QTest::keyClicks(sheet->nameField(), typed.mid(i, 1));
        EXPECT_EQ(sheet->databaseNameField()->text(), AddProjectSheet::suggestedDatabaseName(typed.left(i + 1)))
            << "after " << typed.left(i + 1).toStdString();
    }
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("my_site"));
    // Backspace follows too: the name emptied suggests "website", the next key follows again.
    for (qsizetype i = 0; i < typed.size(); ++i)
        QTest::keyClick(sheet->nameField(), Qt::Key_Backspace);
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("website"));
    QTest::keyClicks(sheet->nameField(), "Blog");
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("blog"));
}

TEST_F(AddProjectSheetTest, DatabaseNameOfTheUsersOwnIsKeptWhenTheNameChanges)
{
    open();
    QTest::keyClicks(sheet->nameField(), "Shop");
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("shop"));
    // One key of the user's own in the database field makes it theirs.
    QTest::keyClicks(sheet->databaseNameField(), "_db");
    QTest::keyClicks(sheet->nameField(), " Two");
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("shop_db"));
    replaceText(sheet->nameField(), "Other");
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("shop_db"));

    // A pasted database name is the user's own as well, set before any name.
    open();
    replaceText(sheet->databaseNameField(), "legacy");
    QTest::keyClicks(sheet->nameField(), "New Site");
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("legacy"));

    // Emptying the database field lets the next change of the name fill it again.
    replaceText(sheet->databaseNameField(), "");
    QTest::keyClick(sheet->nameField(), Qt::Key_Backspace);
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("new_sit"));
    QTest::keyClicks(sheet->nameField(), "e");
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("new_site"));

    // The import takes what the field holds.
    replaceText(sheet->databaseNameField(), "kept_db");
    replaceText(sheet->nameField(), "Renamed");
    makeSite(path("renamed"));
    replaceText(sheet->rootField(), path("renamed"));
    replaceText(sheet->portField(), QString::number(freePort()));
    ASSERT_TRUE(sheet->importButton()->isEnabled());
    QTest::mouseClick(sheet->importButton(), Qt::LeftButton);
    ASSERT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(model->config().projects.last().databaseName, QStringLiteral("kept_db"));
}

TEST_F(AddProjectSheetTest, ImportIsEnabledOnlyByItsRule)
{
    model->modifyConfig([&](AppConfig& c) {
        c.phpMyAdminPort = 8081;
        c.projects = {makeProject("taken", "Taken", path("t"), 9100)};
    });
    open();
    struct Case {
        QString name;
        QString root;
        QString port;
        bool enabled;
        bool reserved;
    };
    const Case cases[] = {
        {"Site", "/srv/site", "9000", true, false},
        {"   ", "/srv/site", "9000", false, false},
        {"Site", " \t ", "9000", false, false},
        {"Site", "/srv/site", "8081", false, true},
        {"Site", "/srv/site", "+8081", false, true},
        {"", "", "8081", false, true},
        {"Site", "/srv/site", "abc", false, false},
        {"Site", "/srv/site", "", false, false},
        {"Site", "/srv/site", "90 00", false, false},
        {"Site", "/srv/site", " 9000", false, false},
        {"Site", "/srv/site", "99999999999999999999", false, false},
        {"Site", "/srv/site", "9100", false, false},
        {"Site", "/srv/site", "-5", true, false},
        {"Site", "/srv/site", "70000", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.name + "|" + c.root + "|" + c.port).toStdString());
        replaceText(sheet->nameField(), c.name);
        replaceText(sheet->rootField(), c.root);
        replaceText(sheet->portField(), c.port);
        EXPECT_EQ(sheet->importButton()->isEnabled(), c.enabled);
        EXPECT_EQ(sheet->reservedPortLabel()->isVisible(), c.reserved);
        if (c.reserved)
            EXPECT_EQ(sheet->reservedPortLabel()->text(), QStringLiteral("Port 8081 is reserved for shared phpAdmin."));
    }
    // A change of the settings is seen at once.
    replaceText(sheet->portField(), "9200");
    EXPECT_TRUE(sheet->importButton()->isEnabled());
    model->modifyConfig([&](AppConfig& c) { c.phpMyAdminPort = 9200; });
    EXPECT_FALSE(sheet->importButton()->isEnabled());
    EXPECT_EQ(sheet->reservedPortLabel()->text(), QStringLiteral("Port 9200 is reserved for shared phpAdmin."));
}

TEST_F(AddProjectSheetTest, BrowseFillsOnlyTheFolder)
{
    open();
    replaceText(sheet->rootField(), "/typed/before");
    *platform.nextChosenFolder = QString();
    QTest::mouseClick(sheet->browseButton(), Qt::LeftButton);
    EXPECT_EQ(sheet->rootField()->text(), QStringLiteral("/typed/before"));

    *platform.nextChosenFolder = path("chosen");
    const QString port = sheet->portField()->text();
    QTest::mouseClick(sheet->browseButton(), Qt::LeftButton);
    EXPECT_EQ(sheet->rootField()->text(), path("chosen"));
    EXPECT_EQ(sheet->nameField()->text(), QString());
    EXPECT_EQ(sheet->databaseNameField()->text(), QString());
    EXPECT_EQ(sheet->portField()->text(), port);
}

TEST_F(AddProjectSheetTest, RefusedImportKeepsTheSheetOpenAndSuccessClosesIt)
{
    const QList<Project> before = model->config().projects;
    open();
    replaceText(sheet->nameField(), "  Shop  ");
    replaceText(sheet->rootField(), path("not-there"));
    replaceText(sheet->portField(), "9300");
    replaceText(sheet->databaseUserField(), " shop user ");
    sheet->databasePasswordField()->setText("");
    ASSERT_TRUE(sheet->importButton()->isEnabled());
    QTest::mouseClick(sheet->importButton(), Qt::LeftButton);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Project path does not exist."));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->nameField()->text(), QStringLiteral("  Shop  "));
    EXPECT_EQ(sheet->rootField()->text(), path("not-there"));
    EXPECT_EQ(sheet->portField()->text(), QStringLiteral("9300"));
    EXPECT_EQ(sheet->databaseNameField()->text(), QStringLiteral("shop"));
    EXPECT_EQ(model->config().projects, before);

    makeSite(path("not-there"));
    QTest::mouseClick(sheet->importButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    ASSERT_EQ(model->config().projects.size(), before.size() + 1);
    const Project stored = model->config().projects.last();
    EXPECT_EQ(stored.name, QStringLiteral("Shop"));
    EXPECT_EQ(stored.port, 9300);
    EXPECT_EQ(stored.databaseName, QStringLiteral("shop"));
    EXPECT_EQ(stored.databaseUser, QStringLiteral(" shop user "));
    EXPECT_EQ(stored.databasePassword, model->config().mysqlPassword);
}

TEST_F(AddProjectSheetTest, CancelSavesNothing)
{
    makeSite(path("site"));
    const QList<Project> before = model->config().projects;
    open();
    replaceText(sheet->nameField(), "Site");
    replaceText(sheet->rootField(), path("site"));
    QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_EQ(model->config().projects, before);
}

TEST_F(AddProjectSheetTest, PortTextOtherThanTheInitialIsKeptOnAppearance)
{
    model->modifyConfig([&](AppConfig& c) { c.projects = {makeProject("a", "A", path("a"), 8082)}; });
    sheet = std::make_unique<AddProjectSheet>(*model);
    sheet->portField()->setText("9999");
    sheet->show();
    EXPECT_EQ(sheet->portField()->text(), QStringLiteral("9999"));
    sheet->hide();
    sheet->portField()->setText("8082");
    sheet->show();
    EXPECT_EQ(sheet->portField()->text(), QStringLiteral("8082")) << "only the first appearance suggests";

    const QString folder = qEnvironmentVariable("KOVANI_SCREENSHOT_DIR", QDir::tempPath());
    QDir().mkpath(folder);
    replaceText(sheet->nameField(), "Company Blog");
    replaceText(sheet->portField(), "8081");
    EXPECT_TRUE(sheet->grab().toImage().save(folder + "/add-project-sheet.png"));
}

TEST_F(AddProjectSheetTest, ReturnPressesImportOnlyWhileItIsEnabled)
{
    const QList<Project> before = model->config().projects;
    open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
    sheet->nameField()->setFocus();
    model->setStatusMessage("untouched");
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_FALSE(sheet->importButton()->isEnabled());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("untouched"));
    EXPECT_TRUE(sheet->isVisible());

    replaceText(sheet->nameField(), "Shop");
    replaceText(sheet->rootField(), makeSite(path("shop")));
    replaceText(sheet->portField(), "9301");
    ASSERT_TRUE(sheet->importButton()->isEnabled());
    QTest::keyClick(sheet->portField(), Qt::Key_Return);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    ASSERT_EQ(model->config().projects.size(), before.size() + 1) << "one import per press";
    EXPECT_EQ(model->config().projects.last().name, QStringLiteral("Shop"));
}

// The create-website sheet, driven through its real widgets on the offscreen platform.
#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "app/ContentView.h"
#include "app/ElidedLabel.h"
#include "app/PageRegistry.h"
#include "app/Spinner.h"
#include "app/Theme.h"
#include "services/CreateWebsiteSheet.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestEnvironment.h"
#include "support/WebsiteFixtures.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

class CreateWebsiteSheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        platform = std::make_unique<TestEnvironment::TestPlatform>(TestEnvironment::makePlatform(dir.path()));
        platform->platform.wordpressDownloadURL = server.baseURL();
        platform->platform.wordpressSaltURL = server.baseURL();
        platform->platform.composerDownloadURL = server.baseURL();
        model = std::make_unique<AppModel>(platform->platform);
        model->setPhpVersions({PHPVersion{php, BundledPhp::version(), true}});
        const quint16 nothing = TestEnvironment::freePort(); // no database server here
        model->modifyConfig([&](AppConfig& c) { c.mysqlPort = nothing; });
        open();
    }

    void TearDown() override
    {
        sheet.reset();
        if (model)
            model->shutdown();
    }

    void open()
    {
        sheet = std::make_unique<CreateWebsiteSheet>(*model);
        sheet->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
    }

    template <typename T>
    T* child(const char* name) const
    {
        T* widget = sheet->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* field(const char* name) const { return child<QLineEdit>(name); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    QString text(const char* name) const { return child<QLabel>(name)->text(); }
    bool shown(const char* name) const { return !sheet->findChild<QWidget*>(QString::fromLatin1(name))->isHidden(); }
    QString destination() const { return child<ElidedLabel>("destinationLine")->text(); }

    // Replaces a field's text the way a user does: select all, then type.
    static void retype(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        bool ascii = true;
        for (const QChar c : text)
            ascii = ascii && c.unicode() < 0x80;
        if (ascii)
            QTest::keyClicks(edit, text);
        else
            edit->insert(text); // as pasted: QTest types ASCII only
    }

    QTemporaryDir dir;
    LoopbackHttpServer server;
    std::unique_ptr<TestEnvironment::TestPlatform> platform;
    std::unique_ptr<AppModel> model;
    const QString php = BundledPhp::binary();
    std::unique_ptr<CreateWebsiteSheet> sheet;
};

TEST_F(CreateWebsiteSheetTest, Defaults)
{
    EXPECT_EQ(field("parentField")->text(), model->sitesURL());
    EXPECT_EQ(field("portField")->text(), QStringLiteral("8082"));
    EXPECT_EQ(field("databaseField")->text(), QString());
    EXPECT_EQ(field("nameField")->text(), QString());
    EXPECT_EQ(field("nameField")->placeholderText(), QStringLiteral("Website name"));
    EXPECT_EQ(text("configDatabase"), QStringLiteral("Database: generated_from_name"));
    EXPECT_EQ(text("configURL"), QStringLiteral("URL: http://localhost:8082"));
    EXPECT_EQ(text("configMySQL"), QStringLiteral("mySQL: root@127.0.0.1:%1").arg(model->config().mysqlPort));
    EXPECT_FALSE(shown("destinationLine"));
    EXPECT_FALSE(shown("reservedPortWarning"));
    EXPECT_FALSE(shown("progressRow"));
    EXPECT_EQ(sheet->websiteTemplate(), WebsiteTemplate::laravel);
    EXPECT_TRUE(button("laravelSegment")->isChecked());
    EXPECT_EQ(child<QLabel>("templateIcon")->property("symbol").toString(), QStringLiteral("shippingbox"));
    EXPECT_EQ(text("templateDescription"),
              QStringLiteral("Creates a current Laravel project with Composer and configures its .env file."));
    EXPECT_FALSE(button("createButton")->isEnabled()); // no name yet
    EXPECT_TRUE(button("cancelButton")->isEnabled());
    EXPECT_EQ(sheet->width(), 620);
}

TEST_F(CreateWebsiteSheetTest, ConfigurationBoxShowsTheMySQLLoginAsStored)
{
    model->modifyConfig([](AppConfig& c) {
        c.mysqlUser = QStringLiteral("u%1%2");
        c.mysqlHost = QStringLiteral("db%3.local");
        c.mysqlPort = 3307;
    });
    EXPECT_EQ(text("configMySQL"), QStringLiteral("mySQL: u%1%2@db%3.local:3307"));
}

TEST_F(CreateWebsiteSheetTest, NameDrivesDatabaseAndDestination)
{
    struct Case {
        QString name;
        QString database;
        QString folder;
        bool enabled;
    };
    const QString longName = QString(70, u'x');
    const QList<Case> cases = {
        {"My Blog", "my_blog", "my-blog", true},
        {"!!!", "website", "", true},
        {"   ", "website", "", false},
        {longName, QString(64, u'x'), longName, true},
        {"Café Zürich 2", "café_zürich_2", "café-zürich-2", true},
    };
    for (const Case& c : cases) {
        retype(field("nameField"), c.name);
        EXPECT_EQ(field("databaseField")->text(), c.database) << c.name.toStdString();
        EXPECT_TRUE(shown("destinationLine")) << c.name.toStdString();
        EXPECT_EQ(destination(), QStringLiteral("Destination: ") + model->sitesURL() + u'/' + c.folder) << c.name.toStdString();
        EXPECT_EQ(button("createButton")->isEnabled(), c.enabled) << c.name.toStdString();
        EXPECT_EQ(text("configDatabase"), QStringLiteral("Database: ") + c.database);
    }
    retype(field("nameField"), QString());
    EXPECT_FALSE(shown("destinationLine"));
}

TEST_F(CreateWebsiteSheetTest, SuggestionFollowsTheNameUntilEdited)
{
    QTest::keyClicks(field("nameField"), QStringLiteral("Shop"));
    EXPECT_EQ(field("databaseField")->text(), QStringLiteral("shop"));
    retype(field("databaseField"), QStringLiteral("custom_db"));
    QTest::keyClicks(field("nameField"), QStringLiteral(" Two"));
    EXPECT_EQ(field("databaseField")->text(), QStringLiteral("custom_db"));
    EXPECT_EQ(sheet->databaseName(), QStringLiteral("custom_db"));
    retype(field("databaseField"), QString());
    EXPECT_EQ(text("configDatabase"), QStringLiteral("Database: generated_from_name"));
    QTest::keyClicks(field("nameField"), QStringLiteral("!"));
    EXPECT_EQ(field("databaseField")->text(), QStringLiteral("shop_two"));
    EXPECT_EQ(sheet->lastSuggestedDatabaseName(), QStringLiteral("shop_two"));
}

TEST_F(CreateWebsiteSheetTest, PortTable)
{
    QTest::keyClicks(field("nameField"), QStringLiteral("Site"));
    const QList<QPair<QString, bool>> cases = {
        {"8082", true},  {"+8082", true}, {"-5", true},   {"0", true},
        {" 8082", false}, {"8082 ", false}, {"80a", false}, {"", false},
        {"99999999999999999999", false}, {"+", false}, {"８０８２", false},
    };
    for (const auto& [port, enabled] : cases) {
        retype(field("portField"), port);
        EXPECT_EQ(button("createButton")->isEnabled(), enabled) << port.toStdString();
        EXPECT_EQ(text("configURL"), QStringLiteral("URL: http://localhost:") + (port.isEmpty() ? QStringLiteral("port") : port));
    }
    retype(field("parentField"), QString());
    retype(field("portField"), QStringLiteral("8090"));
    EXPECT_FALSE(button("createButton")->isEnabled()); // no folder
}

TEST_F(CreateWebsiteSheetTest, ReservedPortWarnsAndTheModelRefuses)
{
    QTest::keyClicks(field("nameField"), QStringLiteral("Site"));
    retype(field("portField"), QStringLiteral("8081"));
    EXPECT_TRUE(shown("reservedPortWarning"));
    EXPECT_EQ(sheet->findChild<QWidget*>(QStringLiteral("reservedPortWarning"))->findChildren<QLabel*>().last()->text(),
              QStringLiteral("Port 8081 is reserved for shared phpAdmin."));
    ASSERT_TRUE(button("createButton")->isEnabled());
    QTest::mouseClick(button("createButton"), Qt::LeftButton);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), 0);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Port 8081 is reserved for shared phpAdmin."));
    EXPECT_EQ(field("nameField")->text(), QStringLiteral("Site"));
    EXPECT_EQ(field("portField")->text(), QStringLiteral("8081"));
    retype(field("portField"), QStringLiteral("+8081"));
    EXPECT_TRUE(shown("reservedPortWarning"));
    retype(field("portField"), QStringLiteral("8083"));
    EXPECT_FALSE(shown("reservedPortWarning"));
}

TEST_F(CreateWebsiteSheetTest, TemplateSwitchTouchesNothingElse)
{
    QTest::keyClicks(field("nameField"), QStringLiteral("My Blog"));
    QTest::mouseClick(button("wordpressSegment"), Qt::LeftButton);
    EXPECT_EQ(sheet->websiteTemplate(), WebsiteTemplate::wordpress);
    EXPECT_EQ(child<QLabel>("templateIcon")->property("symbol").toString(), QStringLiteral("globe"));
    EXPECT_EQ(text("templateDescription"),
              QStringLiteral("Downloads WordPress, creates wp-config.php and connects it to shared mySQL."));
    EXPECT_EQ(field("nameField")->text(), QStringLiteral("My Blog"));
    EXPECT_EQ(field("databaseField")->text(), QStringLiteral("my_blog"));
    EXPECT_EQ(field("portField")->text(), QStringLiteral("8082"));
    EXPECT_EQ(field("parentField")->text(), model->sitesURL());
    QTest::mouseClick(button("laravelSegment"), Qt::LeftButton);
    EXPECT_EQ(child<QLabel>("templateIcon")->property("symbol").toString(), QStringLiteral("shippingbox"));
}

TEST_F(CreateWebsiteSheetTest, BrowseSetsTheFolderAndCancelKeepsIt)
{
    *platform->nextChosenFolder = dir.path() + QStringLiteral("/chosen");
    // The model copied its platform: the chooser's shared state is what the test controls.
    QTest::mouseClick(button("browseButton"), Qt::LeftButton);
    EXPECT_EQ(field("parentField")->text(), dir.path() + QStringLiteral("/chosen"));
    *platform->nextChosenFolder = QString();
    QTest::mouseClick(button("browseButton"), Qt::LeftButton);
    EXPECT_EQ(field("parentField")->text(), dir.path() + QStringLiteral("/chosen"));
}

TEST_F(CreateWebsiteSheetTest, LockedWhileCreatingAndKeptOnFailure)
{
    LoopbackHttpServer::Reply slow{200, {}, WebsiteFixtures::wordpressArchive()};
    slow.delayMs = 1500;
    server.setReply("/latest.zip", slow);
    server.setReply("/secret-key/1.1/salt/", LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));

    QTest::mouseClick(button("wordpressSegment"), Qt::LeftButton);
    QTest::keyClicks(field("nameField"), QStringLiteral("My Blog"));
    retype(field("portField"), QStringLiteral("8090"));
    QTest::mouseClick(button("createButton"), Qt::LeftButton);

    ASSERT_TRUE(model->isCreatingWebsite());
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return text("progressText") == QStringLiteral("Downloading WordPress..."); }));
    EXPECT_TRUE(shown("progressRow"));
    EXPECT_TRUE(child<Spinner>("spinner")->isSpinning()) << "a small indeterminate spinner, not a bar";
    EXPECT_LE(child<Spinner>("spinner")->width(), Theme::points(20));
    EXPECT_FALSE(button("cancelButton")->isEnabled());
    EXPECT_FALSE(button("createButton")->isEnabled());
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    sheet->close();
    EXPECT_TRUE(sheet->isVisible());
    // Fields stay editable; the edit does not reach the running creation.
    EXPECT_TRUE(field("nameField")->isEnabled());

    const QString folder = qEnvironmentVariable("KOVANI_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        EXPECT_TRUE(sheet->grab().save(folder + QStringLiteral("/create-website-sheet-creating.png")));
    }

    // The database step fails (nothing listens on the port): the sheet stays with every value.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !model->isCreatingWebsite(); }, 60000));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_FALSE(shown("progressRow"));
    EXPECT_TRUE(button("cancelButton")->isEnabled());
    EXPECT_TRUE(button("createButton")->isEnabled());
    EXPECT_EQ(sheet->websiteTemplate(), WebsiteTemplate::wordpress);
    EXPECT_EQ(field("nameField")->text(), QStringLiteral("My Blog"));
    EXPECT_EQ(field("portField")->text(), QStringLiteral("8090"));
    EXPECT_EQ(field("databaseField")->text(), QStringLiteral("my_blog"));
    EXPECT_EQ(field("parentField")->text(), model->sitesURL());
    EXPECT_TRUE(model->statusMessage().contains(QStringLiteral("my_blog"))) << model->statusMessage().toStdString();

    // Now Cancel closes it.
    QTest::mouseClick(button("cancelButton"), Qt::LeftButton);
    EXPECT_FALSE(sheet->isVisible());
}

TEST_F(CreateWebsiteSheetTest, OpensOnTheNameFieldAndReturnCreatesOnce)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
    EXPECT_EQ(QApplication::focusWidget(), field("nameField"));

    // Disabled: Return does nothing.
    model->setStatusMessage("untouched");
    QTest::keyClick(field("nameField"), Qt::Key_Return);
    EXPECT_FALSE(model->isCreatingWebsite());
    EXPECT_EQ(model->statusMessage(), QStringLiteral("untouched"));
    EXPECT_TRUE(sheet->isVisible());

    LoopbackHttpServer::Reply slow{200, {}, WebsiteFixtures::wordpressArchive()};
    slow.delayMs = 800;
    server.setReply("/latest.zip", slow);
    server.setReply("/secret-key/1.1/salt/", LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
    QTest::mouseClick(button("wordpressSegment"), Qt::LeftButton);
    field("nameField")->setFocus();
    QTest::keyClicks(field("nameField"), QStringLiteral("Return Blog"));
    retype(field("portField"), QStringLiteral("8091"));
    QTest::keyClick(field("portField"), Qt::Key_Return);
    EXPECT_TRUE(model->isCreatingWebsite());
    QTest::keyClick(field("portField"), Qt::Key_Return);
    QTest::keyClick(field("nameField"), Qt::Key_Enter);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !model->isCreatingWebsite(); }, 60000));
    EXPECT_EQ(server.requestCount("/latest.zip"), 1) << "one creation per press while enabled";
}

TEST_F(CreateWebsiteSheetTest, TheFocusedWebsiteTypeShowsARing)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
    for (const char* name : {"laravelSegment", "wordpressSegment"}) {
        QPushButton* segment = button(name);
        field("nameField")->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(Dispatch::drainForTesting());
        const QImage unfocused = segment->grab().toImage();
        segment->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(Dispatch::drainForTesting());
        EXPECT_NE(segment->grab().toImage(), unfocused) << name;
    }
}

TEST_F(CreateWebsiteSheetTest, RegisteredWithTheWindow)
{
    const SheetFactory factory = PageRegistry::sheet(SheetKind::createWebsite);
    ASSERT_TRUE(factory);
    QWidget window;
    QDialog* made = factory(*model, &window);
    EXPECT_NE(qobject_cast<CreateWebsiteSheet*>(made), nullptr);
    EXPECT_EQ(made->parentWidget(), &window);
    delete made;
}

TEST(CreateWebsiteSheetInWindow, CancelClearsTheFlagAndTheNextSheetStartsAfresh)
{
    QTemporaryDir dir;
    auto t = TestEnvironment::makePlatform(dir.path());
    ContentView window(t.platform);
    window.show();
    window.setSheetShown(SheetKind::createWebsite, true);
    auto* sheet = qobject_cast<CreateWebsiteSheet*>(window.presentedSheet(SheetKind::createWebsite));
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return sheet->isVisible(); }));
    QTest::keyClicks(sheet->findChild<QLineEdit*>(QStringLiteral("nameField")), QStringLiteral("Draft"));
    QTest::mouseClick(sheet->findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
    EXPECT_FALSE(window.showCreateWebsite());

    window.setSheetShown(SheetKind::createWebsite, true);
    auto* again = qobject_cast<CreateWebsiteSheet*>(window.presentedSheet(SheetKind::createWebsite));
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return again->isVisible(); }));
    EXPECT_EQ(again->findChild<QLineEdit*>(QStringLiteral("nameField"))->text(), QString());
    EXPECT_EQ(again->findChild<QLineEdit*>(QStringLiteral("parentField"))->text(), window.model().sitesURL());
    EXPECT_EQ(again->findChild<QLineEdit*>(QStringLiteral("portField"))->text(), QStringLiteral("8082"));
    // Escape dismisses it when nothing is being created.
    QTest::keyClick(again, Qt::Key_Escape);
    EXPECT_FALSE(window.showCreateWebsite());
}

// The create-website sheet closes when the model reports a created website, and a new sheet
// starts from its initial values with the port suggested at that moment.
#include "app/AppModel.h"
#include "services/CreateWebsiteSheet.h"
#include "support/LoopbackHttpServer.h"
#include "support/MariaDbFixture.h"
#include "support/TestEnvironment.h"
#include "support/WebsiteFixtures.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

TEST(CreateWebsiteSheetWithDatabase, ClosesOnSuccessAndReopensFresh)
{
    ASSERT_TRUE(MariaDbFixture::available()) << "the MariaDB fixture is not running";
    MariaDbFixture::resetRootPassword();
    MariaDbFixture::dropDatabase(QStringLiteral("sheet_blog"));

    QTemporaryDir dir;
    LoopbackHttpServer server;
    server.setReply("/latest.zip", {200, {}, WebsiteFixtures::wordpressArchive()});
    server.setReply("/secret-key/1.1/salt/", LoopbackHttpServer::Reply::text(WebsiteFixtures::saltReply()));
    auto t = TestEnvironment::makePlatform(dir.path());
    t.platform.wordpressDownloadURL = server.baseURL();
    t.platform.wordpressSaltURL = server.baseURL();
    AppModel model(t.platform);
    const QString php = BundledPhp::binary();
    model.setPhpVersions({PHPVersion{php, BundledPhp::version(), true}});
    model.modifyConfig([](AppConfig& c) {
        c.mysqlPort = MariaDbFixture::port();
        c.mysqlPassword = QString();
    });

    // A free port rather than the suggested 8082, which something else may hold on this machine.
    const quint16 port = TestEnvironment::freePort();
    {
        CreateWebsiteSheet sheet(model);
        sheet.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
        QTest::mouseClick(sheet.findChild<QPushButton*>(QStringLiteral("wordpressSegment")), Qt::LeftButton);
        QTest::keyClicks(sheet.findChild<QLineEdit*>(QStringLiteral("nameField")), QStringLiteral("Sheet Blog"));
        auto* portField = sheet.findChild<QLineEdit*>(QStringLiteral("portField"));
        portField->selectAll();
        QTest::keyClicks(portField, QString::number(port));
        QTest::mouseClick(sheet.findChild<QPushButton*>(QStringLiteral("createButton")), Qt::LeftButton);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !sheet.isVisible(); }, 60000)) << model.statusMessage().toStdString();
        EXPECT_EQ(sheet.result(), QDialog::Accepted);
        ASSERT_FALSE(model.config().projects.isEmpty());
        EXPECT_EQ(model.config().projects.last().id, QStringLiteral("sheet-blog"));
        EXPECT_TRUE(MariaDbFixture::databases().contains(QStringLiteral("sheet_blog")));
    }

    // A new presentation: Laravel, empty name and database, the Sites folder, the port suggested now.
    model.modifyConfig([](AppConfig& c) { c.projects.last().port = 8082; });
    CreateWebsiteSheet again(model);
    again.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    EXPECT_EQ(again.websiteTemplate(), WebsiteTemplate::laravel);
    EXPECT_EQ(again.findChild<QLineEdit*>(QStringLiteral("nameField"))->text(), QString());
    EXPECT_EQ(again.findChild<QLineEdit*>(QStringLiteral("databaseField"))->text(), QString());
    EXPECT_EQ(again.findChild<QLineEdit*>(QStringLiteral("parentField"))->text(), model.sitesURL());
    EXPECT_EQ(again.findChild<QLineEdit*>(QStringLiteral("portField"))->text(), QStringLiteral("8083"));
    model.shutdown();
}

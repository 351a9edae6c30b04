// The settings page, driven through its widgets on the offscreen platform, against real PHP
// runtimes and the private MariaDB fixture.

#include "services/MySQLTestKit.h"
#include "platform/Dispatch.h"
#include "support/MariaDbFixture.h"
#include "support/TestEnvironment.h"

#include "app/ElidedLabel.h"
#include "app/PageRegistry.h"
#include "app/PasswordField.h"
#include "app/StatusPill.h"
#include "app/Theme.h"
#include "services/SettingsPage.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace MySQLTestKit;
using TestEnvironment::waitUntil;

namespace {

QString debianPhpVersion()
{
    QProcess php;
    php.start(QStringLiteral("/usr/bin/php"), {QStringLiteral("-r"), QStringLiteral("echo PHP_VERSION;")});
    php.waitForFinished(20000);
    return QString::fromUtf8(php.readAllStandardOutput()).trimmed();
}

QStringList items(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

class SettingsPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Theme::install();
        t = TestEnvironment::makePlatform(dir.path());
        // The wrapper where Homebrew keeps PHP, and Debian's own PHP found through `which`.
        wrapper = std::make_unique<PhpWrapper>(t.platform.phpSearchPrefix + QStringLiteral("/opt/homebrew/bin"));
        t.platform.phpSearchWhich = true;
        t.platform.tools.mysql = {};
        t.platform.tools.mysqladmin = {};
        t.platform.tools.brew = {dir.path() + QStringLiteral("/no-brew")};
        if (MariaDbFixture::available())
            MariaDbFixture::resetRootPassword(QStringLiteral("kelp"));
    }
    void TearDown() override
    {
        if (MariaDbFixture::available())
            MariaDbFixture::resetRootPassword();
    }

    std::unique_ptr<AppModel> makeModel()
    {
        auto model = std::make_unique<AppModel>(t.platform);
        model->modifyConfig([&](AppConfig& c) {
            c.mysqlPort = MariaDbFixture::port();
            c.phpMyAdminPort = 18765;
        });
        model->saveConfig();
        return model;
    }

    void refresh(AppModel& model)
    {
        model.refreshPHPVersions();
        ASSERT_TRUE(waitUntil([&] { return model.statusMessage() != QStringLiteral("Checking installed PHP versions..."); },
                              20000));
    }

    QTemporaryDir dir;
    TestEnvironment::TestPlatform t;
    std::unique_ptr<PhpWrapper> wrapper;
};

} // namespace

TEST_F(SettingsPageTest, IsTheRegisteredSettingsPage)
{
    auto model = makeModel();
    const SettingsPageFactory factory = PageRegistry::settingsPage();
    ASSERT_TRUE(bool(factory));
    std::unique_ptr<QWidget> page(factory(*model));
    EXPECT_NE(qobject_cast<SettingsPage*>(page.get()), nullptr);
}

TEST_F(SettingsPageTest, PickerListsRuntimesChoosingSavesRefreshingDoesNot)
{
    auto model = makeModel();
    refresh(*model);
    const QString debian = debianPhpVersion();
    SettingsPage page(*model);
    page.show();

    const QString bundledEntry = BundledPhp::version() + QStringLiteral(" - ") + BundledPhp::binary();
    const QString wrapperEntry = QStringLiteral("8.5.1 - ") + wrapper->binary();
    const QString debianEntry = debian + QStringLiteral(" - /usr/bin/php (requires 8.5+)");
    EXPECT_EQ(items(page.phpPicker()), (QStringList{bundledEntry, wrapperEntry, debianEntry}));
    // The refresh picked the newest supported runtime, the bundle's own.
    EXPECT_EQ(page.phpPicker()->currentText(), bundledEntry);
    EXPECT_EQ(page.selectedPHPLabel()->text(), QStringLiteral("Selected PHP ") + BundledPhp::version());
    EXPECT_TRUE(page.builtInPHPLabel()->isVisibleTo(&page));

    // Choosing the unsupported runtime is allowed and saved.
    page.phpPicker()->setFocus();
    QTest::keyClick(page.phpPicker(), Qt::Key_Down);
    QTest::keyClick(page.phpPicker(), Qt::Key_Down);
    EXPECT_EQ(model->config().selectedPhp, QStringLiteral("/usr/bin/php"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("PHP version saved. Restart the active site to apply it."));
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    const std::optional<AppConfig> saved = ConfigCoding::decode(readBytes(model->configURL()));
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->selectedPhp, QStringLiteral("/usr/bin/php"));
    EXPECT_EQ(page.phpPicker()->currentText(), debianEntry);
    EXPECT_EQ(page.selectedPHPLabel()->text(), QStringLiteral("Selected PHP ") + debian);

    // Refresh refills the list without choosing anything.
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    const QByteArray before = readBytes(model->configURL());
    QTest::mouseClick(page.refreshPHPButton(), Qt::LeftButton);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Checking installed PHP versions..."));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() != QStringLiteral("Checking installed PHP versions..."); },
                          20000));
    EXPECT_NE(model->statusMessage(), QStringLiteral("PHP version saved. Restart the active site to apply it."));
    EXPECT_TRUE(TestEnvironment::configWritten(*model));
    EXPECT_EQ(readBytes(model->configURL()), before);
    EXPECT_EQ(page.phpPicker()->currentText(), debianEntry);
    EXPECT_EQ(items(page.phpPicker()).size(), 3);
}

TEST_F(SettingsPageTest, RuntimeLines)
{
    auto model = makeModel();
    SettingsPage page(*model);
    page.show();
    // No runtime at all.
    EXPECT_EQ(page.selectedPHPLabel()->text(), QStringLiteral("No PHP 8.5+ runtime found."));
    EXPECT_EQ(page.selectedPHPLabel()->palette().color(QPalette::WindowText), Theme::red());
    EXPECT_FALSE(page.builtInPHPLabel()->isVisibleTo(&page));
    EXPECT_EQ(page.phpPicker()->count(), 0);

    const QString builtIn = QStringLiteral("/Applications/Kovani.app/Contents/Resources/php85/bin/php");
    const QString homebrew = QStringLiteral("/opt/homebrew/bin/php");
    model->setPhpVersions({PHPVersion{builtIn, QStringLiteral("8.5.0"), true},
                           PHPVersion{homebrew, QStringLiteral("8.5.2"), true}});
    model->modifyConfig([&](AppConfig& c) { c.selectedPhp = builtIn; });
    EXPECT_EQ(page.selectedPHPLabel()->text(), QStringLiteral("Selected PHP 8.5.0"));
    EXPECT_TRUE(page.builtInPHPLabel()->isVisibleTo(&page));
    EXPECT_EQ(page.builtInPHPLabel()->text(),
              QStringLiteral("Built-in PHP 8.5 runtime. No Homebrew or system PHP installation is required."));
    EXPECT_EQ(page.builtInPHPLabel()->palette().color(QPalette::WindowText), Theme::green());

    model->modifyConfig([&](AppConfig& c) { c.selectedPhp = homebrew; });
    EXPECT_FALSE(page.builtInPHPLabel()->isVisibleTo(&page));
    EXPECT_EQ(page.phpPicker()->currentIndex(), 1);

    // A selection naming no listed runtime leaves the picker without an entry.
    model->modifyConfig([&](AppConfig& c) { c.selectedPhp = QStringLiteral("/nowhere/php"); });
    EXPECT_EQ(page.phpPicker()->currentIndex(), -1);
}

TEST_F(SettingsPageTest, DatabaseBoxAndCheckDatabase)
{
    ASSERT_TRUE(MariaDbFixture::available());
    auto model = makeModel();
    SettingsPage page(*model);
    page.resize(900, 700);
    page.show();
    EXPECT_EQ(page.databasePill()->text(), QStringLiteral("mySQL"));
    EXPECT_EQ(page.databasePill()->color(), Theme::green());
    EXPECT_EQ(page.databaseStatusLabel()->text(), QStringLiteral("Checking database..."));

    // The ping runs in the background; its answer shows when it arrives.
    QTest::mouseClick(page.checkDatabaseButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return page.databaseStatusLabel()->text() == QStringLiteral("Running"); }, 30000));
    EXPECT_EQ(model->databaseStatus(), QStringLiteral("Running"));

    // A stopped server: its own text, at most three lines; the pill stays green.
    model->modifyConfig([](AppConfig& c) { c.mysqlPort = TestEnvironment::freePort(); });
    QTest::mouseClick(page.checkDatabaseButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !model->isDatabaseRunning(); }, 30000));
    EXPECT_TRUE(page.databaseStatusLabel()->text().contains(QStringLiteral("Can't connect")));
    EXPECT_EQ(page.databasePill()->color(), Theme::green());
    // The tool's control characters (mysqladmin rings the bell) are kept in the model, not drawn.
    model->setDatabaseStatus(QStringLiteral("\amysqladmin: connect to server at '127.0.0.1' failed\r\n"));
    EXPECT_EQ(page.databaseStatusLabel()->text(), QStringLiteral("mysqladmin: connect to server at '127.0.0.1' failed\n"));
    EXPECT_TRUE(model->databaseStatus().startsWith(u'\a'));
    model->setDatabaseStatus(QStringLiteral("word ").repeated(400));
    EXPECT_LE(page.databaseStatusLabel()->displayedLines().size(), 3);
    EXPECT_TRUE(page.databaseStatusLabel()->isElided());
}

TEST_F(SettingsPageTest, GridShowsTheLoginAndTheInstalledLine)
{
    auto model = makeModel();
    model->modifyConfig([](AppConfig& c) {
        c.mysqlPassword = QString();
        c.mysqlHost = QStringLiteral("127.0.0.1");
        c.mysqlPort = 3307;
        c.mysqlUser = QStringLiteral("root");
        c.phpMyAdminRoot += QStringLiteral("/") + QStringLiteral("a-long-folder-name-").repeated(12);
    });
    SettingsPage page(*model);
    EXPECT_EQ(page.currentPasswordField()->text(), QString());
    page.resize(700, 700);
    page.show();
    EXPECT_EQ(page.urlValue()->text(), QStringLiteral("http://localhost:18765"));
    EXPECT_EQ(page.serverValue()->text(), QStringLiteral("127.0.0.1:3307"));
    EXPECT_EQ(page.usernameValue()->text(), QStringLiteral("root"));
    // An empty stored password reads as the default, also in the current-password field.
    EXPECT_EQ(page.passwordValue()->text(), QStringLiteral("kelp"));
    EXPECT_EQ(page.currentPasswordField()->text(), QStringLiteral("kelp"));
    EXPECT_EQ(page.newPasswordField()->text(), QStringLiteral("kelp"));
    EXPECT_FALSE(page.currentPasswordField()->isPasswordVisible());
    EXPECT_FALSE(page.newPasswordField()->isPasswordVisible());
    EXPECT_EQ(page.phpMyAdminRootLabel()->displayedLines().size(), 1);
    EXPECT_EQ(page.urlValue()->textFormat(), Qt::PlainText);

    EXPECT_EQ(page.installedLabel()->text(), QStringLiteral("Will auto-install on first open."));
    QDir().mkpath(model->config().phpMyAdminRoot);
    model->setStatusMessage(QStringLiteral("phpMyAdmin installed."));
    EXPECT_EQ(page.installedLabel()->text(), QStringLiteral("Installed and auto-started."));

    // Blanks only disable the change; the current password takes no part.
    EXPECT_TRUE(page.changePasswordButton()->isEnabled());
    page.newPasswordField()->lineEdit()->clear();
    QTest::keyClicks(page.newPasswordField()->lineEdit(), QStringLiteral("   "));
    EXPECT_FALSE(page.changePasswordButton()->isEnabled());
    page.currentPasswordField()->lineEdit()->clear();
    QTest::keyClicks(page.newPasswordField()->lineEdit(), QStringLiteral("x"));
    EXPECT_TRUE(page.changePasswordButton()->isEnabled());
    EXPECT_TRUE(page.openPhpMyAdminButton()->isEnabled());
}

TEST_F(SettingsPageTest, PasswordFormChangesTheServerAndTheGrid)
{
    ASSERT_TRUE(MariaDbFixture::available());
    auto model = makeModel();
    SettingsPage page(*model);
    page.show();
    ASSERT_EQ(page.currentPasswordField()->text(), QStringLiteral("kelp"));

    QLineEdit* newEntry = page.newPasswordField()->lineEdit();
    newEntry->selectAll();
    QTest::keyClicks(newEntry, QStringLiteral(" new 'pass\\word "));
    QTest::mouseClick(page.changePasswordButton(), Qt::LeftButton);
    // The current field holds the new text at once, as typed.
    EXPECT_EQ(page.currentPasswordField()->text(), QStringLiteral(" new 'pass\\word "));
    EXPECT_EQ(page.newPasswordField()->text(), QStringLiteral(" new 'pass\\word "));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() != QStringLiteral("Changing mySQL root password..."); }, 30000));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("mySQL password updated. phpAdmin login is now root/new 'pass\\word."));
    EXPECT_EQ(page.passwordValue()->text(), QStringLiteral("new 'pass\\word"));
    EXPECT_TRUE(waitUntil([&] { return page.databaseStatusLabel()->text() == QStringLiteral("Running"); }, 30000));
    EXPECT_TRUE(MariaDbFixture::canLogin(QStringLiteral("root"), QStringLiteral("new 'pass\\word")));

    // A failing change still moves the typed password into the current field.
    page.currentPasswordField()->lineEdit()->selectAll();
    QTest::keyClicks(page.currentPasswordField()->lineEdit(), QStringLiteral("wrong"));
    newEntry->selectAll();
    QTest::keyClicks(newEntry, QStringLiteral("other"));
    QTest::mouseClick(page.changePasswordButton(), Qt::LeftButton);
    EXPECT_EQ(page.currentPasswordField()->text(), QStringLiteral("other"));
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() != QStringLiteral("Changing mySQL root password..."); }, 30000));
    EXPECT_TRUE(model->statusMessage().startsWith(QStringLiteral("Could not change mySQL password: ")));
    EXPECT_EQ(page.passwordValue()->text(), QStringLiteral("new 'pass\\word"));
}

TEST_F(SettingsPageTest, OpenPhpAdminCallsTheModel)
{
    auto model = makeModel();
    SettingsPage page(*model);
    page.show();
    QTest::mouseClick(page.openPhpMyAdminButton(), Qt::LeftButton);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Installing phpMyAdmin..."));
    // The test platform's download location has nothing behind it.
    ASSERT_TRUE(waitUntil([&] { return model->statusMessage() != QStringLiteral("Installing phpMyAdmin..."); }, 20000));
    EXPECT_TRUE(model->statusMessage().startsWith(QStringLiteral("phpMyAdmin download failed: ")));
    EXPECT_EQ(page.installedLabel()->text(), QStringLiteral("Will auto-install on first open."));
}

TEST_F(SettingsPageTest, Screenshot)
{
    ASSERT_TRUE(MariaDbFixture::available());
    auto model = makeModel();
    refresh(*model);
    model->checkMySQL();
    ASSERT_TRUE(waitUntil([&] { return model->databaseStatus() == QStringLiteral("Running"); }, 30000));
    SettingsPage page(*model);
    page.resize(980, 760);
    page.show();
    ASSERT_TRUE(Dispatch::drainForTesting());
    const QString folder = qEnvironmentVariable("KOVANI_SCREENSHOT_DIR");
    ASSERT_FALSE(folder.isEmpty());
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/settings-page.png");
    ASSERT_TRUE(page.grab().save(path));
    EXPECT_GT(QFileInfo(path).size(), 1000);

    // The same page when things are missing: no supported runtime, no server, and phpMyAdmin
    // already in place.
    model->setPhpVersions({PHPVersion{QStringLiteral("/usr/bin/php"), debianPhpVersion(), false}});
    model->modifyConfig([](AppConfig& c) {
        c.selectedPhp = QStringLiteral("/usr/bin/php");
        c.mysqlPort = TestEnvironment::freePort();
    });
    model->setPhpVersions({PHPVersion{QStringLiteral("/usr/bin/php"), debianPhpVersion(), false}});
    model->checkMySQL();
    ASSERT_TRUE(waitUntil([&] { return !model->isDatabaseRunning(); }, 30000));
    QDir().mkpath(model->config().phpMyAdminRoot);
    model->setStatusMessage(QStringLiteral("phpMyAdmin installed."));
    ASSERT_TRUE(Dispatch::drainForTesting());
    ASSERT_TRUE(page.grab().save(folder + QStringLiteral("/settings-page-problems.png")));
}

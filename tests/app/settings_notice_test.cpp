// A config.json that cannot be used, seen through the window: the notice that names where the file
// went stays in the footer after the whole start-up has written its own status lines, until the
// user opens the folder or dismisses it.
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/ElidedLabel.h"
#include "app/Footer.h"
#include "app/NoticeBar.h"
#include "platform/Files.h"
#include "support/Screenshots.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

#include <sys/stat.h>

using TestEnvironment::waitUntil;

namespace {

struct BadFile {
    std::string name;
    std::function<void(const QString& config, const QString& storage)> make;
};
void PrintTo(const BadFile& c, std::ostream* os) { *os << c.name; }

QByteArray validFile(const QString& storage)
{
    AppConfig c = AppConfig::defaults(storage);
    c.projects.append(Project{QStringLiteral("blog"), QStringLiteral("Blog"), storage + QStringLiteral("/Sites/blog"),
                              9300, QStringLiteral("blog"), QStringLiteral("root"), QStringLiteral("kelp")});
    return ConfigCoding::encode(c);
}

class SettingsNotice : public ::testing::TestWithParam<BadFile> {
protected:
    void SetUp() override
    {
        t = TestEnvironment::makePlatform(dir.path());
        storage = t.platform.storageRoot;
        config = storage + QStringLiteral("/config.json");
        ASSERT_TRUE(Files::makePath(storage));
        GetParam().make(config, storage);

        // The whole start-up runs, and says when its last step has run.
        t.platform.runDeferredStartup = true;
        auto steps = this->steps;
        t.platform.startupTrace = [steps](const QString& step) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), [steps, step]() { steps->append(step); },
                                      Qt::QueuedConnection);
        };
    }

    void TearDown() override
    {
        // Work of the start-up may still refer to the model: a window whose start-up ran is kept.
        static auto* kept = new std::vector<std::unique_ptr<ContentView>>;
        if (window) {
            window->hide();
            kept->push_back(std::move(window));
        }
    }

    // The window, once its start-up has run to its end and its status lines have followed.
    void openWindowAndFinishStartUp()
    {
        window = std::make_unique<ContentView>(t.platform);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(waitUntil([&] { return steps->contains(QStringLiteral("autoStartPhpMyAdmin")); }, 60000))
            << steps->join(u',').toStdString();
        ASSERT_TRUE(TestEnvironment::configWritten(window->model()));
        QCoreApplication::processEvents();
    }

    QStringList asideFiles() const
    {
        return QDir(storage).entryList({QStringLiteral("config.json.unreadable-*")},
                                       QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    TestEnvironment::TestPlatform t;
    QString storage;
    QString config;
    std::shared_ptr<QStringList> steps = std::make_shared<QStringList>();
    std::unique_ptr<ContentView> window;
};

} // namespace

TEST_P(SettingsNotice, StaysAfterStartUpUntilTheFolderIsOpened)
{
    openWindowAndFinishStartUp();
    const QStringList aside = asideFiles();
    ASSERT_EQ(aside.size(), 1);
    const QString message = QStringLiteral("Settings could not be read; the file was kept as ") + aside[0];

    // Set aside, the defaults written in its place and used.
    EXPECT_EQ(window->model().config().projects.size(), 1);
    EXPECT_EQ(TestFiles::readBytes(config), ConfigCoding::encode(window->model().config()));

    NoticeBar* bar = window->footer()->modelNotice();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible()) << "status now: " << window->model().statusMessage().toStdString();
    EXPECT_EQ(bar->text()->text(), message);
    ASSERT_TRUE(window->model().notice());
    EXPECT_EQ(window->model().notice()->folder, storage);
    // Each control says what it acts on.
    EXPECT_EQ(bar->openFolderButton()->accessibleName(), QStringLiteral("Open folder ") + storage);
    EXPECT_EQ(bar->dismissButton()->accessibleName(), QStringLiteral("Dismiss notice: ") + message);
    QAccessibleInterface* text = QAccessible::queryAccessibleInterface(bar->text());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(QAccessible::Name), message);

    // A status line set later does not replace it.
    window->model().setStatusMessage(QStringLiteral("All websites stopped."));
    QCoreApplication::processEvents();
    EXPECT_TRUE(bar->isVisible());

    QTest::mouseClick(bar->openFolderButton(), Qt::LeftButton);
    EXPECT_EQ(*t.openedURLs, QStringList{QUrl::fromLocalFile(storage).toString()});
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(window->model().notice());
}

TEST_P(SettingsNotice, StaysAfterStartUpUntilDismissed)
{
    openWindowAndFinishStartUp();
    NoticeBar* bar = window->footer()->modelNotice();
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(bar->isVisible());
    EXPECT_TRUE(bar->text()->text().startsWith(QStringLiteral("Settings could not be read; the file was kept as ")));
    Screenshots::save(*window, QStringLiteral("settings-notice"));
    QTest::mouseClick(bar->dismissButton(), Qt::LeftButton);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(window->model().notice());
    EXPECT_TRUE(t.openedURLs->isEmpty());
    // The file stays where it was kept.
    EXPECT_EQ(asideFiles().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Config, SettingsNotice,
    ::testing::Values(
        BadFile{"Fifo",
                [](const QString& config, const QString&) {
                    ASSERT_EQ(::mkfifo(QFile::encodeName(config).constData(), 0600), 0);
                }},
        BadFile{"Truncated",
                [](const QString& config, const QString& storage) {
                    const QByteArray whole = validFile(storage);
                    TestFiles::writeFile(config, whole.left(whole.size() / 2));
                }},
        BadFile{"ProjectsTwice",
                [](const QString& config, const QString& storage) {
                    // The first list would be lost at the next save: the file is not used.
                    QByteArray text = validFile(storage);
                    text.replace(0, 1, "{\n    \"projects\": [],");
                    TestFiles::writeFile(config, text);
                }}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return info.param.name; });

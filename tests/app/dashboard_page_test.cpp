// The dashboard's fixed texts and its figures, built alone with the actions it is handed.
#include "app/AppModel.h"
#include "platform/Dispatch.h"
#include "app/DashboardPage.h"
#include "app/DravixInfoCard.h"
#include "app/GuideRow.h"
#include "app/StatCard.h"
#include "app/Theme.h"
#include "support/TestEnvironment.h"

#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

TEST(DashboardPage, TextsActionsAndPhpCard)
{
    QTemporaryDir dir;
    auto t = TestEnvironment::makePlatform(dir.path());
    AppModel model(t.platform);
    int projects = 0;
    int settings = 0;
    DashboardPage page(model, [&projects]() { ++projects; }, [&settings]() { ++settings; });
    page.show();

    QStringList titles;
    for (QGroupBox* box : page.findChildren<QGroupBox*>())
        titles << box->title();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Quick Actions"), QStringLiteral("About"), QStringLiteral("How to use"),
                                   QStringLiteral("Logs")}));
    EXPECT_EQ(page.findChildren<DravixInfoCard*>().size(), 1);
    EXPECT_EQ(page.databaseCard()->cardTitle(), QStringLiteral("Database"));
    EXPECT_EQ(page.activeSiteCard()->cardTitle(), QStringLiteral("Active site"));
    EXPECT_EQ(page.phpCard()->cardTitle(), QStringLiteral("PHP"));
    // The three cards share the width, once laid out.
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_LE(std::abs(page.databaseCard()->width() - page.phpCard()->width()), 1);
    EXPECT_LT(page.databaseCard()->geometry().right(), page.activeSiteCard()->geometry().left());

    const QList<GuideRow*> rows = page.findChildren<GuideRow*>();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0]->text(), QStringLiteral("Open the app. Database starts automatically when possible."));
    EXPECT_EQ(rows[3]->text(), QStringLiteral("Created websites are connected to shared mySQL automatically. Existing "
                                              "websites can copy config from their website card."));
    EXPECT_EQ(page.openPhpMyAdminButton()->text(), QStringLiteral("Open phpAdmin"));
    EXPECT_EQ(page.manageProjectsButton()->text(), QStringLiteral("Manage Projects"));
    EXPECT_EQ(page.settingsButton()->text(), QStringLiteral("Settings"));

    QTest::mouseClick(page.manageProjectsButton(), Qt::LeftButton);
    QTest::mouseClick(page.settingsButton(), Qt::LeftButton);
    EXPECT_EQ(projects, 1);
    EXPECT_EQ(settings, 1);

    // A selected runtime shows its version in blue; an unknown selection counts as none.
    model.setPhpVersions({PHPVersion{QStringLiteral("/opt/php/bin/php"), QStringLiteral("8.5.1"), true}});
    model.modifyConfig([](AppConfig& c) { c.selectedPhp = QStringLiteral("/opt/php/bin/php"); });
    EXPECT_EQ(model.selectedPHP().has_value(), true);
    EXPECT_EQ(page.phpCard()->value(), QStringLiteral("8.5.1"));
    EXPECT_EQ(page.phpCard()->color(), Theme::blue());
    model.setPhpVersions({});
    EXPECT_EQ(page.phpCard()->value(), QStringLiteral("Not found"));
    EXPECT_EQ(page.phpCard()->color(), Theme::red());

    // "Open phpAdmin" stays enabled whatever the model is doing.
    model.setIsCreatingWebsite(true);
    model.setIsDatabaseRunning(false);
    EXPECT_TRUE(page.openPhpMyAdminButton()->isEnabled());
}

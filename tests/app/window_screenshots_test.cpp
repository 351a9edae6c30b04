// Saves a screenshot of each page of the window under $KOVANI_SCREENSHOT_DIR, at the minimum
// size and enlarged, signed out and signed in.
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "support/Screenshots.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using Screenshots::save;

UserProfile signedInUser()
{
    UserProfile user;
    user.name = QStringLiteral("Linh Tran");
    user.email = QStringLiteral("linh.tran@example.com");
    user.avatarInitials = QStringLiteral("LT");
    return user;
}

} // namespace

TEST(WindowScreenshots, EveryPageAtMinimumSizeAndEnlarged)
{
    QTemporaryDir dir;
    auto t = TestEnvironment::makePlatform(dir.path());
    ContentView window(t.platform);
    window.model().setStatusMessage(QStringLiteral("Ready"));
    window.resize(1120, 760);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    save(window, QStringLiteral("dashboard"));
    // The pages other parts plug in, as the window shows them.
    window.setSection(AppSection::projects);
    save(window, QStringLiteral("projects"));
    window.setSection(AppSection::settings);
    save(window, QStringLiteral("settings"));
    window.setSection(AppSection::guide);
    save(window, QStringLiteral("guide"));
    window.setSection(AppSection::dravix);
    save(window, QStringLiteral("account-signed-out"));

    window.model().modifyConfig([](AppConfig& config) { config.user = signedInUser(); });
    save(window, QStringLiteral("account-signed-in"));
    window.model().setSelectedLog(QStringLiteral("[Thu Dec 10 10:00:00 2026] PHP 8.5.1 Development Server "
                                                 "(http://127.0.0.1:8082) started\n"
                                                 "[Thu Dec 10 10:00:02 2026] 127.0.0.1:51234 [200]: GET /"));
    window.setSection(AppSection::dashboard);
    save(window, QStringLiteral("dashboard-signed-in-with-log"));

    window.resize(1600, 1000);
    window.setSection(AppSection::dashboard);
    save(window, QStringLiteral("dashboard-enlarged"));
    window.setSection(AppSection::guide);
    save(window, QStringLiteral("guide-enlarged"));
}

// Test entry: gives the process its own temporary HOME and XDG folders (and, for keyring tests,
// its own session bus with an unlocked keyring; for xcb tests, its own X display), then runs the
// tests inside a QApplication on the offscreen platform, or on xcb inside the X display.
#include "support/KeyringSession.h"
#include "support/TestEnvironment.h"
#include "support/XDisplaySession.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    XDisplaySession::enterIfWanted(argc, argv);
    qputenv("QT_QPA_PLATFORM", XDisplaySession::platformName());
    KeyringSession::enterIfWanted(argc, argv);
    TestEnvironment::isolateProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kovani"));
    QApplication::setOrganizationName(QStringLiteral("Kovani"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

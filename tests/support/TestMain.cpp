// Test entry: gives the process its own temporary HOME and XDG folders (and, for keyring tests,
// its own session bus with an unlocked keyring; for xcb tests, its own X display and session bus),
// then runs the tests inside a QApplication on the offscreen platform (xcb for xcb tests).
#include "support/KeyringSession.h"
#include "support/TestEnvironment.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    XvfbSession::enterIfWanted(argc, argv);
    if (!XvfbSession::active())
        KeyringSession::enterIfWanted(argc, argv);
    TestEnvironment::isolateProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kovani"));
    QApplication::setOrganizationName(QStringLiteral("Kovani"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Test entry: gives the process its own temporary HOME and XDG folders (and, for keyring tests,
// its own session bus with an unlocked keyring), then runs the tests inside a QApplication on the
// offscreen platform.
#include "support/KeyringSession.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    KeyringSession::enterIfWanted(argc, argv);
    TestEnvironment::isolateProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kovani"));
    QApplication::setOrganizationName(QStringLiteral("Kovani"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

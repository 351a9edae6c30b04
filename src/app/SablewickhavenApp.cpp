#include "app/SablewickhavenApp.h"

#include "app/ContentView.h"
#include "app/TerminationSignals.h"
#include "app/Theme.h"

#include <QApplication>

int SablewickhavenApp::main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kovani"));
    QApplication::setOrganizationName(QStringLiteral("Kovani"));
    // The window ends the application when it closes, even while a sheet is open.
    QApplication::setQuitOnLastWindowClosed(false);
    Theme::install();
    QObject::connect(TerminationSignals::install(), &TerminationSignals::received, &app, &QCoreApplication::quit);

    ContentView window;
    window.show();
    return app.exec();
}

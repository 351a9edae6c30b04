#include "app/SablewickhavenApp.h"

#include "app/ContentView.h"
#include "app/TerminationSignals.h"
#include "app/Theme.h"

#include <QApplication>

void SablewickhavenApp::prepare(QApplication& app)
{
    // The window ends the application when it closes, even while a sheet is open.
    QApplication::setQuitOnLastWindowClosed(false);
    Theme::install();
    static bool connected = false;
    if (!connected) {
        connected = true;
        QObject::connect(TerminationSignals::install(), &TerminationSignals::received, &app,
                         []() { QCoreApplication::quit(); });
    }
}

int SablewickhavenApp::main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kovani"));
    QApplication::setOrganizationName(QStringLiteral("Kovani"));
    prepare(app);

    ContentView window;
    window.show();
    return app.exec();
}

#include "app/SablewickhavenApp.h"

#include "app/ContentView.h"
#include "app/TerminationSignals.h"
#include "app/Theme.h"
#include "platform/InstanceChannel.h"
#include "platform/WebAuthenticationSession.h"

#include <QApplication>

#include <cstdio>

void SablewickhavenApp::prepare(QApplication& app)
{
    // The window ends the application when it closes, even while a sheet is open.
    QApplication::setQuitOnLastWindowClosed(false);
    Theme::install();
    static bool connected = false;
    if (!connected) {
        connected = true;
        // exit(), not quit(): quit() first asks every window to close, and a sheet that refuses
        // (the create sheet while a website is being created) would swallow the signal.
        QObject::connect(TerminationSignals::install(), &TerminationSignals::received, &app,
                         []() { QCoreApplication::exit(0); });
    }
}

SablewickhavenApp::LaunchCommand SablewickhavenApp::launchCommand(const QStringList& arguments)
{
    // "--oauth-redirect <url>": the desktop hands a sign-in redirect to the running instance.
    const qsizetype redirect = arguments.indexOf(QStringLiteral("--oauth-redirect"));
    if (redirect > 0 && redirect + 1 < arguments.size())
        return {InstanceChannel::kOAuthRedirect, arguments.at(redirect + 1)};
    return {InstanceChannel::kRaise, QString()};
}

void SablewickhavenApp::bringToFront(QWidget& window)
{
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

void SablewickhavenApp::connectInstanceChannel(InstanceChannel& channel, QWidget& window)
{
    QObject::connect(&channel, &InstanceChannel::commandReceived, &window,
                     [&window](const QString& command, const QString& argument) {
                         if (command == InstanceChannel::kRaise)
                             bringToFront(window);
                         else if (command == InstanceChannel::kOAuthRedirect)
                             WebAuthenticationSession::deliverRedirect(QUrl(argument));
                     });
}

int SablewickhavenApp::main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kovani"));
    QApplication::setOrganizationName(QStringLiteral("Kovani"));
    // The installed launcher, kovani.desktop, whose icon the desktop shows for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("kovani"));

    // A second launch hands its command to the running instance and ends before any model
    // exists (a model's start-up would stop the running instance's websites).
    InstanceChannel channel;
    const LaunchCommand launch = launchCommand(QCoreApplication::arguments());
    if (launch.command == InstanceChannel::kOAuthRedirect && InstanceChannel::encode(launch.command, launch.argument).isEmpty()) {
        std::fputs("The sign-in redirect is too long or malformed.\n", stderr);
        return 1;
    }
    for (int attempt = 0;; ++attempt) {
        const InstanceChannel::Claim claim = channel.claim();
        if (claim != InstanceChannel::Claim::anotherInstance)
            break; // listening, or running alone when the socket cannot be made
        if (InstanceChannel::send(launch.command, launch.argument, 3000))
            return 0;
        if (attempt == 2) {
            std::fputs("Kovani is already running but does not answer.\n", stderr);
            return 1;
        }
    }

    // A redirect belongs to a sign-in of a running instance; a new instance has none waiting.
    if (launch.command == InstanceChannel::kOAuthRedirect) {
        std::fputs("No running Kovani is waiting for this sign-in.\n", stderr);
        return 1;
    }

    prepare(app);
    ContentView window;
    connectInstanceChannel(channel, window);
    window.show();
    return app.exec();
}

#include "app/SablewickhavenApp.h"

#include "app/ContentView.h"
#include "app/TerminationSignals.h"
#include "app/Theme.h"
#include "platform/InstanceChannel.h"
#include "platform/WebAuthenticationSession.h"

#include "platform/Platform.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QThread>

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

SablewickhavenApp::LaunchDecision SablewickhavenApp::decideLaunch(InstanceChannel& channel, const LaunchCommand& launch,
                                                                  int handOffTimeoutMs)
{
    const bool redirect = launch.command == InstanceChannel::kOAuthRedirect;
    if (redirect && InstanceChannel::encode(launch.command, launch.argument).isEmpty())
        return {1, true, QStringLiteral("The sign-in redirect is too long or malformed.")};
    // A redirect belongs to a sign-in of a running instance; a new instance has none waiting.
    const QString noSignIn = QStringLiteral("No running Kovani is waiting for this sign-in.");

    const QDeadlineTimer deadline(handOffTimeoutMs);
    for (;;) {
        switch (channel.claim()) {
        case InstanceChannel::Claim::listening:
            if (redirect)
                return {1, true, noSignIn};
            if (!channel.isListening()) {
                // Still the one instance; the channel keeps trying to set its socket up.
                return {std::nullopt, true,
                        QStringLiteral("Kovani cannot receive the requests of later launches yet (")
                            + channel.problem() + QStringLiteral(").")};
            }
            return {};
        case InstanceChannel::Claim::anotherInstance:
            // The holder may still be setting up its socket, or about to end (a redirect launch).
            if (channel.send(launch.command, launch.argument, int(qBound(qint64(0), deadline.remainingTime(), qint64(2000)))))
                return {0, true, QString()};
            if (deadline.hasExpired())
                return {1, true, QStringLiteral("Kovani is already running but does not answer.")};
            QThread::msleep(100);
            break;
        case InstanceChannel::Claim::undetermined: {
            // The socket is in a private folder, so whatever answers there is this user's instance.
            if (channel.send(launch.command, launch.argument, 2000))
                return {0, true, QString()};
            const QString reason = QStringLiteral("Kovani cannot tell whether another instance is running (")
                + channel.problem() + QStringLiteral(").");
            if (redirect)
                return {1, true, reason + u' ' + noSignIn};
            return {std::nullopt, false,
                    reason + QStringLiteral(" It starts without stopping servers left behind by an earlier run.")};
        }
        }
    }
}

int SablewickhavenApp::main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kovani"));
    QApplication::setOrganizationName(QStringLiteral("Kovani"));
    // The installed launcher, kovani.desktop, whose icon the desktop shows for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("kovani"));

    // A second launch hands its command to the running instance and ends before any model
    // exists; it never stops anything.
    Platform platform;
    InstanceChannel channel(platform.storageRoot, InstanceChannel::defaultRuntimeDir());
    const LaunchDecision decision = decideLaunch(channel, launchCommand(QCoreApplication::arguments()));
    if (!decision.message.isEmpty())
        std::fprintf(stderr, "%s\n", decision.message.toLocal8Bit().constData());
    if (decision.exitCode)
        return *decision.exitCode;
    platform.runOrphanCleanup = decision.runOrphanCleanup;
    // Not knowing whether another instance runs holds for the whole run: the footer keeps saying so.
    if (!decision.runOrphanCleanup)
        platform.launchNotice = decision.message;

    prepare(app);
    ContentView window(platform);
    connectInstanceChannel(channel, window);
    window.show();
    return app.exec();
}

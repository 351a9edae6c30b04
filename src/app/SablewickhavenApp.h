#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class ContentView;
class InstanceChannel;
class QApplication;
class QWidget;

// The application: starts Qt, shows the one window and runs the event loop.
class SablewickhavenApp {
public:
    static int main(int argc, char** argv);
    // Application-wide set-up before the window exists: the look, and quitting through the
    // event loop on SIGTERM, SIGINT and SIGHUP.
    static void prepare(QApplication& app);

    // What a launch asks of the instance that is already running, from its command line.
    struct LaunchCommand {
        QString command;
        QString argument;
    };
    static LaunchCommand launchCommand(const QStringList& arguments);

    // How a launch goes on, decided by the instance lock: it hands its command to the running
    // instance and ends, or it runs the window. A launch that cannot tell whether another
    // instance runs says so and runs without the start-up clean-up of servers left behind.
    struct LaunchDecision {
        std::optional<int> exitCode; // end now with this code; none: run the window
        bool runOrphanCleanup = true;
        QString message;             // for standard error; empty when there is nothing to say
    };
    static LaunchDecision decideLaunch(InstanceChannel& channel, const LaunchCommand& launch,
                                       int handOffTimeoutMs = 10000);
    // Carries out the commands later launches send to this instance's window.
    static void connectInstanceChannel(InstanceChannel& channel, QWidget& window);
    // Shows the window in front of the others, restored when minimised.
    static void bringToFront(QWidget& window);
};

#pragma once

#include <QString>
#include <QStringList>

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
    // Carries out the commands later launches send to this instance's window.
    static void connectInstanceChannel(InstanceChannel& channel, QWidget& window);
    // Shows the window in front of the others, restored when minimised.
    static void bringToFront(QWidget& window);
};

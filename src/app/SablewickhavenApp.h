#pragma once

class QApplication;

// The application: starts Qt, shows the one window and runs the event loop.
class SablewickhavenApp {
public:
    static int main(int argc, char** argv);
    // Application-wide set-up before the window exists: the look, and quitting through the
    // event loop on SIGTERM, SIGINT and SIGHUP.
    static void prepare(QApplication& app);
};

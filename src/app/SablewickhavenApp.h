#pragma once

// The application: starts Qt, shows the one window and runs the event loop.
class SablewickhavenApp {
public:
    static int main(int argc, char** argv);
};

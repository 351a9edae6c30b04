#pragma once

// A real X display with the accessibility bridge for the tests that opt in.
//
// A test file whose name ends in "_xcb_test.cpp" runs on its own X server (xvfb-run -a) inside a
// private D-Bus session bus (dbus-run-session), on Qt's xcb platform with the AT-SPI bridge
// forced on (the bus launcher of at-spi2-core is started by the session bus on demand). Window
// behaviour (the active window, modality, focus) is then the X server's, not the offscreen
// platform's, and every widget is exported to the accessibility bus as a screen reader sees it.
namespace XvfbSession {

// Called first by the test main. For an xcb test (and not while only listing the tests) it starts
// the executable again inside the display and the session and does not return; otherwise it
// returns at once.
void enterIfWanted(int argc, char** argv);

// Whether this process runs on the private display.
bool active();

} // namespace XvfbSession

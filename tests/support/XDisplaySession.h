#pragma once

// A real X display for the tests of window behaviour (which window is active, what is modal to
// what, where focus goes), which the offscreen platform does not model.
//
// A test file whose name ends in "_xcb_test.cpp" starts again under `xvfb-run -a` (a private
// Xvfb server on a free display number, removed with the test) and runs on the xcb platform;
// every other test runs offscreen. Listing the tests needs no display.
namespace XDisplaySession {

// Called first by the test main. For an xcb test (and not while only listing the tests) it starts
// the executable again under xvfb-run and does not return; otherwise it returns at once.
void enterIfWanted(int argc, char** argv);

// Whether this process runs on the private X display.
bool active();

// The Qt platform this process uses: "xcb" inside the session, else "offscreen".
const char* platformName();

} // namespace XDisplaySession

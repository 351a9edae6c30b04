#pragma once

// A real Secret Service for the tests that opt in, and none for the others.
//
// A test file whose name ends in "_keyring_test.cpp" runs inside a private D-Bus session bus
// (dbus-run-session) with gnome-keyring-daemon's secrets component, unlocked with a fixed
// non-empty password, keeping its keyrings under the test process's temporary home. Every test
// process gets its own bus and keyring, so parallel tests never see each other's items, and no
// test ever reaches the user's own keyring: all other tests get a session-bus address that leads
// nowhere.
namespace KeyringSession {

// Called first by the test main. For a keyring test (and not while only listing the tests) it
// starts the executable again inside the private session and does not return; otherwise it
// returns at once.
void enterIfWanted(int argc, char** argv);

// Whether this process runs with the private keyring.
bool active();

} // namespace KeyringSession

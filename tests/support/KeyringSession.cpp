#include "support/KeyringSession.h"

#include "support/SessionReexec.h"
#include "support/TestEnvironment.h"

#include <QByteArray>

#include <string>

namespace KeyringSession {
namespace {

constexpr const char* kMarker = "KOVANI_TEST_KEYRING";
constexpr const char* kPassword = "kovani-test-keyring";

} // namespace

bool active()
{
    return qgetenv(kMarker) == "active";
}

void enterIfWanted(int argc, char** argv)
{
    if (active())
        return;
    TestEnvironment::isolateProcess();
    if (!SessionReexec::wanted(argc, argv, "_keyring_test")) {
        const QByteArray nowhere = "unix:path=" + TestEnvironment::home().toLocal8Bit() + "/no-session-bus";
        qputenv("DBUS_SESSION_BUS_ADDRESS", nowhere);
        return;
    }

    qputenv(kMarker, "active");
    qputenv("KOVANI_TEST_ADOPT_HOME", TestEnvironment::home().toLocal8Bit());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    // The daemon forks away; its pid, the owner of the secrets name on this bus, is asked for
    // (which also waits until it serves) so that it is ended with the test, not left behind.
    const char* script =
        "printf %s \"$1\" | gnome-keyring-daemon --unlock --components=secrets >/dev/null || exit 97\n"
        "shift\n"
        "pid=\n"
        "for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do\n"
        "  pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
        "org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null "
        "| sed -n 's/.*uint32 //p')\n"
        "  [ -n \"$pid\" ] && break\n"
        "  sleep 0.1\n"
        "done\n"
        "[ -n \"$pid\" ] || { echo 'gnome-keyring-daemon does not serve the session bus' >&2; exit 97; }\n"
        "\"$@\"\n"
        "rc=$?\n"
        "kill \"$pid\" 2>/dev/null\n"
        "exit $rc\n";
    SessionReexec::exec({"dbus-run-session", "--", "/bin/sh", "-c", script, "sh", kPassword},
                        SessionReexec::selfExecutable(), argc, argv);
}

} // namespace KeyringSession

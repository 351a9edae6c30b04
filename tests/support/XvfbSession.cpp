#include "support/XvfbSession.h"

#include "support/SessionReexec.h"
#include "support/TestEnvironment.h"

#include <QByteArray>

#include <string>

namespace XvfbSession {
namespace {

constexpr const char* kMarker = "KOVANI_TEST_XVFB";

} // namespace

bool active()
{
    return qgetenv(kMarker) == "active";
}

void enterIfWanted(int argc, char** argv)
{
    if (active()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        return;
    }
    if (!SessionReexec::wanted(argc, argv, "_xcb_test"))
        return;

    TestEnvironment::isolateProcess();
    qputenv(kMarker, "active");
    qputenv("KOVANI_TEST_ADOPT_HOME", TestEnvironment::home().toLocal8Bit());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    // Qt's bridge attaches only to an accessibility bus that is already running, as on a desktop:
    // asking the session bus for its address starts it.
    const char* script =
        "dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null "
        "|| { echo 'no accessibility bus (at-spi2-core)' >&2; exit 97; }\n"
        "exec \"$@\"\n";
    SessionReexec::exec({"xvfb-run", "-a", "-s", "-screen 0 1920x1200x24 -nolisten tcp",
                                  "dbus-run-session", "--", "/bin/sh", "-c", script, "sh"},
                        SessionReexec::selfExecutable(), argc, argv);
}

} // namespace XvfbSession

#include "support/XvfbSession.h"

#include "support/TestEnvironment.h"

#include <QByteArray>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace XvfbSession {
namespace {

constexpr const char* kMarker = "KOVANI_TEST_XVFB";

std::string selfExecutable()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    buffer[n] = '\0';
    return buffer;
}

bool onlyListing(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return true;
    return false;
}

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
    const std::string exe = selfExecutable();
    const bool wanted = QFileInfo(QString::fromStdString(exe)).fileName().endsWith(QStringLiteral("_xcb_test"))
        && !onlyListing(argc, argv);
    if (!wanted)
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
    std::vector<std::string> args{"xvfb-run", "-a", "-s", "-screen 0 1920x1200x24 -nolisten tcp",
                                  "dbus-run-session", "--", "/bin/sh", "-c", script, "sh", exe};
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    std::vector<char*> raw;
    for (std::string& a : args)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    std::fflush(nullptr);
    ::execvp("xvfb-run", raw.data());
    std::perror("xvfb-run");
    std::_Exit(97);
}

} // namespace XvfbSession

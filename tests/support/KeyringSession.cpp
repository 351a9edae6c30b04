#include "support/KeyringSession.h"

#include "support/TestEnvironment.h"

#include <QByteArray>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace KeyringSession {
namespace {

constexpr const char* kMarker = "KOVANI_TEST_KEYRING";
constexpr const char* kPassword = "kovani-test-keyring";

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
    if (active())
        return;
    TestEnvironment::isolateProcess();
    const std::string exe = selfExecutable();
    const bool wanted = QFileInfo(QString::fromStdString(exe)).fileName().endsWith(QStringLiteral("_keyring_test"))
        && !onlyListing(argc, argv);
    if (!wanted) {
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
    std::vector<std::string> args{"dbus-run-session", "--", "/bin/sh", "-c", script, "sh", kPassword, exe};
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    std::vector<char*> raw;
    for (std::string& a : args)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    std::fflush(nullptr);
    ::execv("/usr/bin/dbus-run-session", raw.data());
    std::perror("dbus-run-session");
    std::_Exit(97);
}

} // namespace KeyringSession

#include "support/XDisplaySession.h"

#include "support/TestEnvironment.h"

#include <QByteArray>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace XDisplaySession {
namespace {

constexpr const char* kMarker = "KOVANI_TEST_XDISPLAY";

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

const char* platformName()
{
    return active() ? "xcb" : "offscreen";
}

void enterIfWanted(int argc, char** argv)
{
    if (active())
        return;
    const std::string exe = selfExecutable();
    const bool wanted = QFileInfo(QString::fromStdString(exe)).fileName().endsWith(QStringLiteral("_xcb_test"))
        && !onlyListing(argc, argv);
    if (!wanted)
        return;

    TestEnvironment::isolateProcess();
    qputenv(kMarker, "active");
    qputenv("KOVANI_TEST_ADOPT_HOME", TestEnvironment::home().toLocal8Bit());
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    // -a takes the first free display from the start number; starting from one of our own
    // makes two tests that start together unlikely to race for the same number.
    const std::string start = std::to_string(100 + ::getpid() % 800);
    std::vector<std::string> args{"xvfb-run", "-a", "-n", start, "-s", "-screen 0 1600x1200x24 -nolisten tcp", exe};
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    std::vector<char*> raw;
    for (std::string& a : args)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    std::fflush(nullptr);
    ::execv("/usr/bin/xvfb-run", raw.data());
    std::perror("xvfb-run");
    std::_Exit(97);
}

} // namespace XDisplaySession

#include "support/SessionReexec.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace SessionReexec {

std::string selfExecutable()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    buffer[n] = '\0';
    return buffer;
}

bool wanted(int argc, char** argv, const char* suffix)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return false;
    const std::string exe = selfExecutable();
    const std::string name = exe.substr(exe.rfind('/') + 1);
    const std::size_t length = std::strlen(suffix);
    return name.size() >= length && name.compare(name.size() - length, length, suffix) == 0;
}

void exec(std::vector<std::string> command, const std::string& exe, int argc, char** argv)
{
    command.push_back(exe);
    for (int i = 1; i < argc; ++i)
        command.emplace_back(argv[i]);
    std::vector<char*> raw;
    for (std::string& a : command)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    std::fflush(nullptr);
    ::execvp(raw.front(), raw.data());
    std::perror(raw.front());
    std::_Exit(97);
}

} // namespace SessionReexec

#pragma once

// What the test sessions (a private keyring, a private X display) share: a test executable whose
// name ends in a given suffix starts itself again inside a session of its own.
#include <string>
#include <vector>

namespace SessionReexec {

// The running test executable's path.
std::string selfExecutable();

// Whether the executable's name ends in `suffix` and it is not only listing its tests.
bool wanted(int argc, char** argv, const char* suffix);

// Runs `command` followed by `exe` and this process's arguments in place of this process; on
// failure reports it and exits with 97.
[[noreturn]] void exec(std::vector<std::string> command, const std::string& exe, int argc, char** argv);

} // namespace SessionReexec

#pragma once

#include "platform/Process.h"

#include <QString>
#include <memory>

// How many workers each website server forks (PHP_CLI_SERVER_WORKERS).
inline constexpr int kServerWorkers = 4;

// A started server: the child and the file that receives its output.
struct RunningProcess {
    std::shared_ptr<ChildProcess> process;
    QString logPath;
};

#pragma once

#include "platform/Process.h"

#include <QString>
#include <memory>

// A started server: the child and the file that receives its output.
struct RunningProcess {
    std::shared_ptr<ChildProcess> process;
    QString logPath;
};

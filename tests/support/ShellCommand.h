#pragma once

#include "platform/Process.h"

#include <QString>

namespace ShellCommand {

// `script` run by /bin/sh -c.
inline Process::Spec spec(const QString& script)
{
    Process::Spec spec;
    spec.program = QStringLiteral("/bin/sh");
    spec.arguments = {QStringLiteral("-c"), script};
    return spec;
}

} // namespace ShellCommand

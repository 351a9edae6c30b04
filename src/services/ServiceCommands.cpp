#include "services/ServiceCommands.h"

#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Text.h"

namespace ServiceCommands {

CommandResult capture(const QString& executable, const QStringList& arguments)
{
    Process::Spec spec;
    spec.program = executable;
    spec.arguments = arguments;
    const Process::Capture captured = Process::capture(spec);
    if (!captured.launched)
        return {-1, captured.error};
    return {captured.status, Text::decodeUtf8(captured.output).value_or(QString())};
}

std::optional<QString> lookUp(const QStringList& candidates, const QString& which, const QString& name)
{
    for (const QString& candidate : candidates) {
        if (Files::isExecutableFile(candidate))
            return candidate;
    }
    // `which` prints nothing and fails when the tool is not on the PATH; a launch failure's
    // description is never taken for a path.
    const CommandResult found = capture(which, {name});
    if (found.status != 0)
        return std::nullopt;
    const QString path = Text::trimmed(found.output);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

} // namespace ServiceCommands

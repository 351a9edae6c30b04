#include "app/AppModel.h"

#include "platform/Text.h"
#include "services/ServiceCommands.h"

QString AppModel::run(const QString& executable, const QStringList& arguments,
                      const std::optional<Process::Environment>& environment) const
{
    Process::Spec spec;
    spec.program = executable;
    spec.arguments = arguments;
    spec.environment = environment;
    const Process::Capture captured = Process::capture(spec);
    if (!captured.launched)
        return captured.error;
    return Text::decodeUtf8(captured.output).value_or(QString());
}

CommandResult AppModel::runCommand(const QString& executable, const QStringList& arguments,
                                   const std::optional<Process::Environment>& environment,
                                   const QString& currentDirectory) const
{
    // The one runner of logged commands; nobody cancels this one.
    return ServiceCommands::CancellableCommands(m_logsURL).run(executable, arguments, environment, currentDirectory);
}

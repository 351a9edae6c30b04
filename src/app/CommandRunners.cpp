#include "app/AppModel.h"

#include "platform/Text.h"
#include "services/ServiceCommands.h"

QString AppModel::run(const QString& executable, const QStringList& arguments,
                      const std::optional<Process::Environment>& environment) const
{
    // The same runner as the background jobs' captured commands; the status is dropped.
    return ServiceCommands::capture(executable, arguments, environment).output;
}

CommandResult AppModel::runCommand(const QString& executable, const QStringList& arguments,
                                   const std::optional<Process::Environment>& environment,
                                   const QString& currentDirectory) const
{
    // The one runner of logged commands; nobody cancels this one.
    return ServiceCommands::CancellableCommands(m_logsURL).run(executable, arguments, environment, currentDirectory);
}

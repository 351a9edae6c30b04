#pragma once

#include "app/AppConfig.h"
#include "app/CommandResult.h"
#include "platform/ToolPaths.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Commands of the shared services that run on background queues. They use nothing of the model,
// so a job that outlives it touches no freed state.
namespace ServiceCommands {

// Runs `executable` to completion with the inherited environment: its exit status (-1 when it
// did not launch) and its combined output (the launch error's description when it did not).
CommandResult capture(const QString& executable, const QStringList& arguments);

// The first executable of `candidates`; else what `which name` prints, trimmed, when it
// succeeds with a non-empty answer.
std::optional<QString> lookUp(const QStringList& candidates, const QString& which, const QString& name);

// Runs one command to completion: its exit status and combined output.
using Runner = std::function<CommandResult(const QString& executable, const QStringList& arguments)>;

// Creates database `name` (utf8mb4) on the server of `settings` with the mysql client found in
// `tools`, the client run by `run`: nothing on success, else the error text.
std::optional<QString> createDatabase(const ToolPaths& tools, const QString& name, const MySQLSettings& settings,
                                      const Runner& run);

} // namespace ServiceCommands

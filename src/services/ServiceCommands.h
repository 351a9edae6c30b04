#pragma once

#include "app/CommandResult.h"

#include <QString>
#include <QStringList>
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

} // namespace ServiceCommands

#pragma once

#include "app/AppConfig.h"
#include "app/CommandResult.h"
#include "app/StatusText.h"
#include "platform/Process.h"
#include "platform/ToolPaths.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <optional>

#include <sys/types.h>

class MySQLClient;

// Commands of the shared services that run on background queues. They use nothing of the model,
// so a job that outlives it touches no freed state.
namespace ServiceCommands {

// AppModel::run runs through this: runs `executable` to completion with `environment` (none:
// the inherited one), giving its exit status (-1 when it did not launch) and its combined output
// (the launch error's description when it did not).
CommandResult capture(const QString& executable, const QStringList& arguments,
                      const std::optional<Process::Environment>& environment = std::nullopt);

// The first executable of `candidates`; else what `which name` prints, trimmed, when it
// succeeds with a non-empty answer.
std::optional<QString> lookUp(const QStringList& candidates, const QString& which, const QString& name);

// Runs a job's commands one after another. Each child leads a process group of its own, so
// cancel() can end it with everything it started; after cancel() no further command starts.
class CancellableCommands {
public:
    explicit CancellableCommands(QString logsFolder) : m_logsFolder(std::move(logsFolder)) {}

    // AppModel::runCommand runs through this: the exit status (-1 when not launched, or cancelled) and the
    // combined output, collected through a temporary log in the Logs folder.
    CommandResult run(const QString& executable, const QStringList& arguments,
                      const std::optional<Process::Environment>& environment = std::nullopt,
                      const QString& currentDirectory = QString());
    // Any thread; returns at once. Kills the running command's process group.
    void cancel();
    bool isCancelled() const;

    // The job says it has ended (its clean-up done); anyone may wait for that, within a limit.
    void finish();
    // Whether the job ended within `timeoutMs`.
    bool waitUntilFinished(int timeoutMs);

    static QString cancelledMessage();

private:
    const QString m_logsFolder;
    Process::StopSignal m_stop; // raised by cancel()
    mutable std::mutex m_mutex;
    bool m_finished = false;
    std::condition_variable m_finishedChanged;
};

// Held by the model for a background job: cancels the job's commands when the model goes, so
// quitting never waits for them and leaves none of them running.
class CancelOnExit {
public:
    CancelOnExit() = default;
    ~CancelOnExit()
    {
        if (m_commands)
            m_commands->cancel();
    }
    CancelOnExit(const CancelOnExit&) = delete;
    CancelOnExit& operator=(const CancelOnExit&) = delete;

    // The commands of the job now under way (an earlier one has ended).
    void hold(std::shared_ptr<CancellableCommands> commands) { m_commands = std::move(commands); }

    // Cancels the job now under way and waits, at most `timeoutMs`, for it to end.
    void cancelAndWait(int timeoutMs)
    {
        if (!m_commands)
            return;
        m_commands->cancel();
        m_commands->waitUntilFinished(timeoutMs);
    }

private:
    std::shared_ptr<CancellableCommands> m_commands;
};

// curl options of every download: only curl's one-line reason on failure (no progress table),
// and failing once no byte has moved for `stallSeconds`.
QStringList downloadOptions(int stallSeconds);

// Creates database `name` (utf8mb4) on the server of `settings` with the mysql client found in
// `tools`, called through `mysql` within `timeoutMs`: nothing on success, else the error text
// (ending with the client's output when it printed why).
std::optional<StatusText> createDatabase(const ToolPaths& tools, const QString& name, const MySQLSettings& settings,
                                      const MySQLClient& mysql, int timeoutMs);

} // namespace ServiceCommands

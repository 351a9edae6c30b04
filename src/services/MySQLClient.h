#pragma once

#include "app/AppConfig.h"
#include "app/CommandResult.h"
#include "platform/Process.h"

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <memory>
#include <mutex>

// Calls of the MySQL client programs (mysql, mysqladmin). The password reaches the client in an
// option file of mode 0600, in a folder of mode 0700 made for the one call, named by the first
// argument "--defaults-file=" and removed when the call ends; the file includes the option files
// the client reads by default (so the user's own settings apply) before the password, which thus
// wins over one of theirs. The SQL goes to the client's
// standard input. Neither is ever an argument, which every local user can read. Every call has
// a time limit, after which the client is killed and the call counts as unanswered.
//
// One object serves all the calls of a model, from any thread; stopAll() ends them when the
// model goes.
class MySQLClient {
public:
    struct Outcome {
        CommandResult result; // status -1 and the reason when the client did not run
        bool timedOut = false;
        bool stopped = false;
        // Exit status 0, and nothing else, is success.
        bool succeeded() const { return !timedOut && !stopped && result.status == 0; }
    };

    MySQLClient() = default;
    MySQLClient(const MySQLClient&) = delete;
    MySQLClient& operator=(const MySQLClient&) = delete;

    // Blocking. The mysql client `client` logged in with "--host=", "--protocol=tcp", "--port="
    // and "--user=" of `login` and its password, `sql` on its standard input.
    Outcome query(const QString& client, const MySQLSettings& login, const QString& sql, int timeoutMs) const;
    // Blocking. The admin tool `tool` with "--host=", "--port=", "--user=" of `login`, its
    // password, then `command` (for instance "ping").
    Outcome admin(const QString& tool, const MySQLSettings& login, const QStringList& command, int timeoutMs) const;

    // Any thread; returns at once. Kills every client still running; no further one starts.
    void stopAll();
    // Whether every call under way ended, its option file removed, within `timeoutMs`.
    bool waitUntilIdle(int timeoutMs) const;

    // What an unanswered call reports: "mySQL did not answer within N seconds."
    static QString noAnswerText(int timeoutMs);
    // The option file's text for `password`: an "!include" line for each of `includes`, then a
    // [client] group with the password quoted and escaped, so that the client reads back exactly
    // the same text.
    static QByteArray optionFileText(const QString& password, const QStringList& includes = {});

private:
    Outcome run(const QString& program, const MySQLSettings& login, bool tcp, const QStringList& trailing,
                const QString& input, int timeoutMs) const;

    Process::StopSignal m_stop;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_idle;
    mutable int m_active = 0;
};

// Held by the model: when the model goes (the application quits), every MySQL client still
// running is killed and its option file removed before the model's destruction ends.
class MySQLClientsOnExit {
public:
    MySQLClientsOnExit() = default;
    ~MySQLClientsOnExit() { stop(); }
    MySQLClientsOnExit(const MySQLClientsOnExit&) = delete;
    MySQLClientsOnExit& operator=(const MySQLClientsOnExit&) = delete;

    // Shared with the background jobs that make the calls.
    const std::shared_ptr<MySQLClient>& client() const { return m_client; }
    // Stops the calls and waits, at most a second, for them to end.
    void stop()
    {
        m_client->stopAll();
        m_client->waitUntilIdle(1000);
    }

private:
    std::shared_ptr<MySQLClient> m_client = std::make_shared<MySQLClient>();
};

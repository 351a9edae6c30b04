#pragma once

#include "app/AppConfig.h"

#include <QString>

#include <functional>
#include <memory>

// Writes config.json off the main thread. Each save hands over a snapshot of the settings (cheap:
// the records share their data until changed); the encoding and the write run on a background
// queue, one write at a time, and saves that come while a write runs are coalesced into one write
// of the latest snapshot. Every write is whole and atomic, private (0600), in the folder it names.
class ConfigWriter {
public:
    // `failed` runs on the writer's thread with the reason of a write that failed.
    ConfigWriter(QString path, QString folder, std::function<void(const QString& reason)> failed);
    // Waits (a bounded time) for the last write.
    ~ConfigWriter();

    ConfigWriter(const ConfigWriter&) = delete;
    ConfigWriter& operator=(const ConfigWriter&) = delete;

    // Queues `snapshot` to be written; returns at once.
    void save(const AppConfig& snapshot);
    // Waits until every save handed over so far is on disk (or failed). False when `timeoutMs`
    // passed first.
    bool waitUntilWritten(int timeoutMs) const;

    // How long quitting waits for the last write.
    static constexpr int kQuitWaitMs = 10000;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

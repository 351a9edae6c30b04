#include "app/ConfigWriter.h"

#include "platform/Dispatch.h"
#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace {

const QFileDevice::Permissions kPrivateFolder = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

} // namespace

struct ConfigWriter::State {
    QString path;
    QString folder;
    std::function<void(const QString&)> failed;

    mutable std::mutex mutex;
    mutable std::condition_variable idle;
    // The latest snapshot not yet taken by a write.
    std::optional<AppConfig> pending;
    // A job runs on the background queue (it takes what is pending until nothing is).
    bool writing = false;

    void writeAll()
    {
        for (;;) {
            AppConfig snapshot;
            {
                std::lock_guard lock(mutex);
                if (!pending) {
                    writing = false;
                    idle.notify_all();
                    return;
                }
                snapshot = std::move(*pending);
                pending.reset();
            }
            write(snapshot);
        }
    }

    void write(const AppConfig& snapshot) const
    {
        if (!folder.isEmpty() && !QFileInfo(folder).isDir() && Files::makePath(folder))
            QFile::setPermissions(folder, kPrivateFolder);
        QString reason;
        if (!Files::writeWholeFile(path, ConfigCoding::encode(snapshot), /*privateFile=*/true, &reason) && failed)
            failed(reason);
    }
};

ConfigWriter::ConfigWriter(QString path, QString folder, std::function<void(const QString& reason)> failed)
    : m_state(std::make_shared<State>())
{
    m_state->path = std::move(path);
    m_state->folder = std::move(folder);
    m_state->failed = std::move(failed);
}

ConfigWriter::~ConfigWriter()
{
    waitUntilWritten(kQuitWaitMs);
}

void ConfigWriter::save(const AppConfig& snapshot)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->pending = snapshot;
        if (m_state->writing)
            return;
        m_state->writing = true;
    }
    // The job keeps the state alive however long it takes.
    Dispatch::utility([state = m_state]() { state->writeAll(); });
}

bool ConfigWriter::waitUntilWritten(int timeoutMs) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return !m_state->writing && !m_state->pending; });
}

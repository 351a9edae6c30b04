#pragma once

#include <QString>

class PrivateFolder;

// Which process is the running instance: the one that holds an exclusive flock on
// "Kovani.lock" in a private folder. The lock lasts as long as its descriptor, so the kernel
// releases it when the process ends, however it ends; the descriptor is close-on-exec, so
// servers the instance starts never hold it after the instance is gone.
class InstanceLock {
public:
    static inline const QString kFileName = QStringLiteral("Kovani.lock");

    enum class State {
        held,          // this object holds the lock
        heldElsewhere, // another open of the file (another process) holds it
        unknown,       // the lock file could not be opened or locked
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock without waiting; the reason for `unknown` goes to `problem`.
    State acquire(const PrivateFolder& folder, QString* problem = nullptr);
    bool isHeld() const { return m_fd >= 0; }
    void release();

private:
    int m_fd = -1;
};

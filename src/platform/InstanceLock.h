#pragma once

#include <QString>

class PrivateFolder;

// Which process is the running instance: the one that holds an exclusive flock on
// "Kovani.lock" in a private folder. The lock lasts as long as its descriptor, so the kernel
// releases it when the process ends, however it ends; the descriptor is close-on-exec, so
// servers the instance starts never hold it after the instance is gone.
//
// A flock stays on the file it was taken on: when the file at the path is deleted or replaced,
// another process can lock the new one. guards() tells whether the lock still holds the file at
// the path; acquire() then moves the lock onto the file now there.
class InstanceLock {
public:
    static inline const QString kFileName = QStringLiteral("Kovani.lock");

    enum class State {
        held,          // this object holds the lock on the file at the path
        heldElsewhere, // another open of the file (another process) holds it
        unknown,       // the lock file could not be opened or locked
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock on the file at the path without waiting; the reason for `unknown` goes to
    // `problem`. Holding a lock on a file no longer at the path, it takes the new file's lock and
    // drops the old one; when that fails it keeps the old one.
    State acquire(const PrivateFolder& folder, QString* problem = nullptr);
    // Whether this object holds a lock, on whichever file.
    bool isHeld() const { return m_fd >= 0; }
    // Whether the file at the lock's path in `folder` is the very file this object holds locked.
    bool guards(const PrivateFolder& folder) const;
    void release();

private:
    int m_fd = -1;
};

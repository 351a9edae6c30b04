#pragma once

#include <QByteArray>
#include <QString>

// A folder that only this user may enter: a folder (not a link) owned by the effective user,
// with no access for group or others. The object keeps the folder open (close-on-exec), so
// names inside it are reached through that descriptor, also when the folder's path is long.
class PrivateFolder {
public:
    PrivateFolder() = default;
    ~PrivateFolder();
    PrivateFolder(PrivateFolder&& other) noexcept;
    PrivateFolder& operator=(PrivateFolder&& other) noexcept;
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // An existing folder, followed through links, which must already be private; nothing is
    // changed. Invalid, with the reason in `problem`, otherwise.
    static PrivateFolder openExisting(const QString& path, QString* problem = nullptr);
    // The folder, created 0700 (with its parents) when missing; a folder of this user that is
    // open to others is made 0700. Invalid, with the reason in `problem`, when the name is a
    // link or anything but a folder of this user.
    static PrivateFolder make(const QString& path, QString* problem = nullptr);

    bool isValid() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    int descriptor() const { return m_fd; }

    // An address (sun_path) for the socket `name` in this folder: its plain path when that fits,
    // else "/proc/self/fd/<descriptor>/<name>", the same folder reached through this process's
    // open descriptor. Empty when neither fits or /proc does not lead to the folder.
    QByteArray socketAddress(const QString& name) const;

private:
    static PrivateFolder checked(int fd, const QString& path, bool makePrivate, QString* problem);

    int m_fd = -1;
    QString m_path;
};

#include "platform/InstanceLock.h"

#include "platform/PrivateFolder.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What stands at the lock's path when it is not a plain file, in words; empty for a plain file.
QString notAFile(mode_t mode)
{
    if (S_ISREG(mode))
        return QString();
    if (S_ISLNK(mode))
        return QStringLiteral("is a link, not a lock file");
    if (S_ISDIR(mode))
        return QStringLiteral("is a folder, not a lock file");
    if (S_ISFIFO(mode))
        return QStringLiteral("is a FIFO, not a lock file");
    return QStringLiteral("is not a regular file");
}

} // namespace

InstanceLock::~InstanceLock()
{
    release();
}

void InstanceLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool InstanceLock::guards(const PrivateFolder& folder) const
{
    if (m_fd < 0 || !folder.isValid())
        return false;
    struct stat locked {};
    struct stat atPath {};
    return ::fstat(m_fd, &locked) == 0
        && ::fstatat(folder.descriptor(), QFile::encodeName(kFileName).constData(), &atPath, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(atPath.st_mode) && locked.st_dev == atPath.st_dev && locked.st_ino == atPath.st_ino;
}

InstanceLock::State InstanceLock::acquire(const PrivateFolder& folder, QString* problem)
{
    if (guards(folder))
        return State::held;
    const QString path = folder.path() + u'/' + kFileName;
    const auto fail = [&](const QString& reason) {
        if (problem)
            *problem = path + QStringLiteral(": ") + reason;
        return State::unknown;
    };
    if (!folder.isValid())
        return fail(QStringLiteral("no private folder"));
    const QByteArray leaf = QFile::encodeName(kFileName);
    struct stat before {};
    if (::fstatat(folder.descriptor(), leaf.constData(), &before, AT_SYMLINK_NOFOLLOW) == 0) {
        if (const QString what = notAFile(before.st_mode); !what.isEmpty()) {
            if (problem)
                *problem = path + u' ' + what;
            return State::unknown;
        }
    }
    // O_NONBLOCK: a FIFO put in place after the look above never holds the launch.
    const int fd = ::openat(folder.descriptor(), leaf.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        if (problem)
            *problem = path + u' ' + notAFile(info.st_mode);
        return State::unknown;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return State::heldElsewhere;
        return fail(QString::fromLocal8Bit(std::strerror(error)));
    }
    release();
    m_fd = fd;
    return State::held;
}

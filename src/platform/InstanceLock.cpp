#include "platform/InstanceLock.h"

#include "platform/PrivateFolder.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

InstanceLock::State InstanceLock::acquire(const PrivateFolder& folder, QString* problem)
{
    if (m_fd >= 0)
        return State::held;
    const auto fail = [&](const QString& reason) {
        if (problem)
            *problem = folder.path() + u'/' + kFileName + QStringLiteral(": ") + reason;
        return State::unknown;
    };
    if (!folder.isValid())
        return fail(QStringLiteral("no private folder"));
    const int fd = ::openat(folder.descriptor(), QFile::encodeName(kFileName).constData(),
                            O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail(QStringLiteral("not a regular file"));
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
    m_fd = fd;
    return State::held;
}

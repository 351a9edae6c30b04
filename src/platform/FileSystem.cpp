#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileSystem {

namespace {

bool fail(QString* error, int code)
{
    if (error)
        *error = errorDescription(code);
    return false;
}

// Writes all of `size` bytes at `offset`; sets errno and returns false on failure.
bool writeAll(int fd, const char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, static_cast<size_t>(size), offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        size -= written;
        offset += written;
    }
    return true;
}

bool removeEntryAt(int parentFd, const QByteArray& name, QString* error)
{
    struct stat st {};
    if (::fstatat(parentFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(error, errno);
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(parentFd, name.constData(), 0) != 0)
            return fail(error, errno);
        return true;
    }
    const int fd = ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return fail(error, errno);
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int code = errno;
        ::close(fd);
        return fail(error, code);
    }
    // Names first: the folder is not changed while it is being read.
    QList<QByteArray> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0) {
                const int code = errno;
                ::closedir(dir);
                return fail(error, code);
            }
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        names.append(QByteArray(entry->d_name));
    }
    for (const QByteArray& child : names) {
        if (!removeEntryAt(::dirfd(dir), child, error)) {
            ::closedir(dir);
            return false;
        }
    }
    ::closedir(dir);
    if (::unlinkat(parentFd, name.constData(), AT_REMOVEDIR) != 0)
        return fail(error, errno);
    return true;
}

} // namespace

QString errorDescription(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

std::optional<QList<DirectoryEntry>> listDirectory(const QString& path)
{
    DIR* dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return std::nullopt;
    QList<DirectoryEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0) {
                ::closedir(dir);
                return std::nullopt;
            }
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        DirectoryEntry item;
        item.name = QFile::decodeName(name);
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        item.isDirectory = type == DT_DIR;
        item.isSymbolicLink = type == DT_LNK;
        entries.append(std::move(item));
    }
    ::closedir(dir);
    return entries;
}

QString resolvedPath(const QString& path)
{
    QString head = QDir::cleanPath(path);
    QString tail;
    for (;;) {
        char resolved[PATH_MAX];
        if (::realpath(QFile::encodeName(head).constData(), resolved)) {
            const QString base = QFile::decodeName(resolved);
            if (tail.isEmpty())
                return base;
            return base.endsWith(u'/') ? base + tail : base + u'/' + tail;
        }
        const qsizetype slash = head.lastIndexOf(u'/');
        if (slash < 0)
            return QDir::cleanPath(path);
        const QString last = head.mid(slash + 1);
        tail = tail.isEmpty() ? last : last + u'/' + tail;
        head = slash == 0 ? QStringLiteral("/") : head.left(slash);
    }
}

bool entryExists(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

std::optional<qint64> fileSize(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return static_cast<qint64>(st.st_size);
}

ReadResult readRegularFile(const QString& path, qint64 maxBytes)
{
    ReadResult result;
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    // Only a regular file is opened: opening a FIFO or a device could wait or have effects.
    if (::stat(name.constData(), &before) != 0 || !S_ISREG(before.st_mode))
        return result;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return result;
    struct stat st {};
    // The entry may have been replaced between the two looks.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_ino != before.st_ino || st.st_dev != before.st_dev) {
        ::close(fd);
        return result;
    }
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(std::min<qint64>(st.st_size, maxBytes) + 1));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return result;
        }
        if (got == 0)
            break;
        bytes.append(buffer, got);
        if (bytes.size() > maxBytes) {
            ::close(fd);
            result.outcome = ReadOutcome::tooLarge;
            return result;
        }
    }
    ::close(fd);
    result.outcome = ReadOutcome::ok;
    result.bytes = std::move(bytes);
    return result;
}

bool writeInPlace(const QString& path, const QByteArray& bytes, QString* error)
{
    // Non-blocking, so that a FIFO put in the file's place cannot hold the caller.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(error, errno);
    auto failClosing = [fd, error](int code) {
        ::close(fd);
        return fail(error, code);
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return failClosing(errno);
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("Not a regular file");
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    const qint64 oldSize = st.st_size;
    const qint64 newSize = bytes.size();

    // Past the process's file-size limit a write raises SIGXFSZ; refuse before writing instead.
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && static_cast<rlim_t>(newSize) > limit.rlim_cur)
        return failClosing(EFBIG);

    // Take the blocks first. File systems without preallocation fall through to the tail write,
    // which takes the new space before any old byte is touched.
    if (newSize > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, newSize) != 0) {
        const int code = errno;
        if (code != EOPNOTSUPP && code != ENOSYS && code != EINVAL)
            return failClosing(code);
    }
    if (newSize > oldSize) {
        if (!writeAll(fd, bytes.constData() + oldSize, newSize - oldSize, oldSize)) {
            const int code = errno;
            // Back to the old length; the old bytes were not touched.
            while (::ftruncate(fd, oldSize) != 0 && errno == EINTR) {
            }
            return failClosing(code);
        }
    }
    if (!writeAll(fd, bytes.constData(), std::min(oldSize, newSize), 0))
        return failClosing(errno);
    if (newSize < oldSize) {
        int r;
        while ((r = ::ftruncate(fd, newSize)) != 0 && errno == EINTR) {
        }
        if (r != 0)
            return failClosing(errno);
    }
    if (::fsync(fd) != 0)
        return failClosing(errno);
    if (::close(fd) != 0)
        return fail(error, errno);
    return true;
}

bool createDirectory(const QString& path, QString* error)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0)
        return fail(error, errno);
    return true;
}

bool createEmptyFile(const QString& path, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return fail(error, errno);
    if (::close(fd) != 0)
        return fail(error, errno);
    return true;
}

bool removeTree(const QString& path, QString* error)
{
    const QString cleaned = QDir::cleanPath(path);
    return removeEntryAt(AT_FDCWD, QFile::encodeName(cleaned), error);
}

} // namespace FileSystem

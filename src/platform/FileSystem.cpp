#include "platform/FileSystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <ctime>
#include <unistd.h>
#include <utility>

namespace FileSystem {

namespace {

bool fail(QString* error, int code)
{
    if (error)
        *error = errorDescription(code);
    return false;
}

FileStamp stampFrom(const struct stat& st)
{
    FileStamp stamp;
    stamp.device = static_cast<quint64>(st.st_dev);
    stamp.inode = static_cast<quint64>(st.st_ino);
    stamp.size = static_cast<qint64>(st.st_size);
    stamp.modified = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
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

std::optional<FileStamp> stampOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return stampFrom(st);
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
    result.stamp = stampFrom(st);
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

namespace {

constexpr char kTemporarySuffix[] = ".kovani-save-";
constexpr char kCopySuffix[] = ".kovani-copy";
constexpr int kMaxCopies = 100;

// Closes a descriptor on every way out.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int f) : fd(f) { }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

QByteArray shortHash(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(16);
}

// "." + `name` + `suffix`, within the file-name limit: a name too long keeps its start (cut at a
// character boundary) and a hash of the whole name, so the result is still its own.
QByteArray sideName(const QByteArray& name, const QByteArray& suffix)
{
    const qsizetype room = NAME_MAX - 1 - suffix.size();
    if (name.size() <= room)
        return '.' + name + suffix;
    const QByteArray hash = shortHash(name);
    qsizetype keep = room - 1 - hash.size();
    while (keep > 0 && (uchar(name.at(keep)) & 0xC0) == 0x80)
        --keep;
    return '.' + name.left(keep) + '~' + hash + suffix;
}

QByteArray copySuffix(int n)
{
    return n == 1 ? QByteArray(kCopySuffix) : QByteArray(kCopySuffix) + '-' + QByteArray::number(n);
}

// The name of the n-th copy of the file `name` in `folder` (its own folder, or `saveCopyFolder()`,
// where the copy also carries a hash of the file's whole path).
QByteArray copyName(const QByteArray& name, const QByteArray& resolvedPath, bool inOwnFolder, int n)
{
    return sideName(inOwnFolder ? name : shortHash(resolvedPath) + '-' + name, copySuffix(n));
}

bool syncFolder(int folderFd)
{
    // Some file systems refuse fsync on a folder; their entries are then as durable as they get.
    return ::fsync(folderFd) == 0 || errno == EINVAL || errno == EROFS;
}

bool isPermissionOrSpace(int code)
{
    return code == EACCES || code == EPERM || code == EROFS || code == ENOSPC || code == EDQUOT;
}

// Copies the extended attributes (access lists included) of one open file onto another.
bool copyExtendedAttributes(int from, int to)
{
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0)
        return errno == ENOTSUP;
    if (size == 0)
        return true;
    QByteArray names(size, '\0');
    size = ::flistxattr(from, names.data(), names.size());
    if (size < 0)
        return false;
    for (const QByteArray& name : names.left(size).split('\0')) {
        if (name.isEmpty())
            continue;
        const ssize_t length = ::fgetxattr(from, name.constData(), nullptr, 0);
        if (length < 0)
            return false;
        QByteArray value(length, '\0');
        const ssize_t got = ::fgetxattr(from, name.constData(), value.data(), value.size());
        if (got < 0 || ::fsetxattr(to, name.constData(), value.constData(), size_t(got), 0) != 0)
            return false;
    }
    return true;
}

// The temporary files of saves running in this process, by folder (device and inode) and name:
// a clean-up of stale temporary files leaves them alone.
QMutex& claimsMutex()
{
    static QMutex mutex;
    return mutex;
}

QSet<QByteArray>& claims()
{
    static QSet<QByteArray> names;
    return names;
}

QByteArray claimKey(const struct stat& folder, const QByteArray& name)
{
    return QByteArray::number(quint64(folder.st_dev)) + ':' + QByteArray::number(quint64(folder.st_ino)) + '/' + name;
}

// Holds one temporary name as a running save's own until it goes out of scope.
class TemporaryClaim {
public:
    TemporaryClaim() = default;
    TemporaryClaim(const TemporaryClaim&) = delete;
    TemporaryClaim& operator=(const TemporaryClaim&) = delete;
    ~TemporaryClaim() { release(); }

    bool take(int folderFd, const QByteArray& name)
    {
        release();
        struct stat folder {};
        if (::fstat(folderFd, &folder) != 0)
            return false;
        m_key = claimKey(folder, name);
        const QMutexLocker lock(&claimsMutex());
        claims().insert(m_key);
        return true;
    }

    void release()
    {
        if (m_key.isEmpty())
            return;
        const QMutexLocker lock(&claimsMutex());
        claims().remove(m_key);
        m_key.clear();
    }

private:
    QByteArray m_key;
};

// Writes `bytes` whole into the new file `name` in `folderFd`, synced; the entry is removed again
// when anything fails. Returns 0 or the errno value of the failure.
int createWhole(int folderFd, const QByteArray& name, const QByteArray& bytes, mode_t mode, int* fdOut = nullptr)
{
    const int fd = ::openat(folderFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0)
        return errno;
    int code = 0;
    if (!bytes.isEmpty() && ::fallocate(fd, 0, 0, bytes.size()) != 0 && errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL)
        code = errno;
    if (code == 0 && !writeAll(fd, bytes.constData(), bytes.size(), 0))
        code = errno;
    if (code == 0 && ::fsync(fd) != 0)
        code = errno;
    if (code != 0) {
        ::close(fd);
        ::unlinkat(folderFd, name.constData(), 0);
        return code;
    }
    if (fdOut)
        *fdOut = fd;
    else
        ::close(fd);
    return 0;
}

QByteArray temporarySuffix(const QByteArray& random)
{
    return QByteArray(kTemporarySuffix) + random;
}

// Writes `bytes` whole and synced into a new temporary file in `folderFd` named after `name`,
// claimed by `claim` from before it exists. Returns 0 or the errno value of the failure; nothing
// is left behind on failure.
int writeTemporary(int folderFd, const QByteArray& name, const QByteArray& bytes, QByteArray* temporary,
                   TemporaryClaim& claim, int* fdOut = nullptr)
{
    int code = EEXIST;
    for (int attempt = 0; attempt < 100 && code == EEXIST; ++attempt) {
        const quint64 random = QRandomGenerator::system()->generate64();
        *temporary = sideName(name, temporarySuffix(QByteArray::number(random, 36)));
        if (!claim.take(folderFd, *temporary))
            return errno;
        code = createWhole(folderFd, *temporary, bytes, 0600, fdOut);
    }
    return code;
}

// Gives the file `from` the name `to` in the same folder unless `to` exists.
int renameWithoutReplacing(int folderFd, const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(folderFd, from.constData(), folderFd, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // File systems without the flag: a second name, then the first one goes.
    if (::linkat(folderFd, from.constData(), folderFd, to.constData(), 0) != 0)
        return errno;
    ::unlinkat(folderFd, from.constData(), 0);
    return 0;
}

// Whether the open file still has the size and modification time it had when the save began:
// another program may have written to it meanwhile. ESTALE when not, else 0 or an errno value.
int unchangedSince(int fd, const struct stat& st)
{
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return errno;
    return stampFrom(now) == stampFrom(st) ? 0 : ESTALE;
}

// How far ahead of now a copy's modification time is set before the file is overwritten in
// place: every write of the overwrite starts well within it, so a torn file is never newer than
// its copy, while a change another program makes later is.
constexpr qint64 kCopyLeadNs = 3000000000;

void setModifiedAhead(int folderFd, const QByteArray& name)
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 ahead = qint64(now.tv_sec) * 1000000000 + now.tv_nsec + kCopyLeadNs;
    struct timespec times[2] {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(ahead / 1000000000);
    times[1].tv_nsec = long(ahead % 1000000000);
    ::utimensat(folderFd, name.constData(), times, AT_SYMLINK_NOFOLLOW);
}

// Overwrites the open regular file in place: the space is taken first, so a full disk or a size
// limit fails before any old byte is overwritten; then the file is written, cut to length and
// synced. `touched` tells whether old bytes may have been overwritten. Returns 0 or an errno value.
int overwrite(int fd, qint64 oldSize, const QByteArray& bytes, bool* touched)
{
    *touched = false;
    const qint64 newSize = bytes.size();
    // Take the blocks first. File systems without preallocation fall through to the tail write,
    // which takes the new space before any old byte is touched.
    if (newSize > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, newSize) != 0) {
        const int code = errno;
        if (code != EOPNOTSUPP && code != ENOSYS && code != EINVAL)
            return code;
    }
    if (newSize > oldSize) {
        if (!writeAll(fd, bytes.constData() + oldSize, newSize - oldSize, oldSize)) {
            const int code = errno;
            // Back to the old length; the old bytes were not touched.
            while (::ftruncate(fd, oldSize) != 0 && errno == EINTR) {
            }
            return code;
        }
    }
    *touched = true;
    if (!writeAll(fd, bytes.constData(), std::min(oldSize, newSize), 0))
        return errno;
    if (newSize < oldSize) {
        int r;
        while ((r = ::ftruncate(fd, newSize)) != 0 && errno == EINTR) {
        }
        if (r != 0)
            return errno;
    }
    if (::fsync(fd) != 0)
        return errno;
    return 0;
}

enum class Replaced { yes, notHere, failed };

// Writes the new text to a temporary file in the file's folder and renames it over the file.
// `notHere` when the result would not be the same file to its user (owner, group or attributes
// that cannot be given, a folder that takes no new entries, no room for a second copy); nothing
// is left behind then. ESTALE: the file was changed or replaced meanwhile.
Replaced replaceByRename(int fd, const struct stat& st, int folderFd, const QByteArray& name, const QByteArray& bytes,
                         int* code, FileStamp* written)
{
    QByteArray temporary;
    TemporaryClaim claim;
    int tempFd = -1;
    *code = writeTemporary(folderFd, name, bytes, &temporary, claim, &tempFd);
    if (*code != 0)
        return isPermissionOrSpace(*code) ? Replaced::notHere : Replaced::failed;
    Descriptor temp(tempFd);
    auto giveUp = [&](Replaced outcome, int failure) {
        ::unlinkat(folderFd, temporary.constData(), 0);
        *code = failure;
        return outcome;
    };

    struct stat made {};
    if (::fstat(temp.fd, &made) != 0)
        return giveUp(Replaced::failed, errno);
    if ((made.st_uid != st.st_uid || made.st_gid != st.st_gid) && ::fchown(temp.fd, st.st_uid, st.st_gid) != 0)
        return giveUp(Replaced::notHere, errno);
    if (::fchmod(temp.fd, st.st_mode & 07777) != 0)
        return giveUp(Replaced::notHere, errno);
    if (!copyExtendedAttributes(fd, temp.fd))
        return giveUp(Replaced::notHere, errno);
    if (::fsync(temp.fd) != 0)
        return giveUp(Replaced::failed, errno);
    if (::fstat(temp.fd, &made) != 0)
        return giveUp(Replaced::failed, errno);
    if (::close(temp.release()) != 0)
        return giveUp(Replaced::failed, errno);

    // The name must still be the file that was opened, as it was: a file deleted or replaced
    // meanwhile is not created again, and a change written to it meanwhile is not written over.
    struct stat current {};
    if (::fstatat(folderFd, name.constData(), &current, AT_SYMLINK_NOFOLLOW) != 0)
        return giveUp(Replaced::failed, errno);
    if (current.st_ino != st.st_ino || current.st_dev != st.st_dev)
        return giveUp(Replaced::failed, ESTALE);
    if (const int changed = unchangedSince(fd, st))
        return giveUp(Replaced::failed, changed);
    if (::renameat(folderFd, temporary.constData(), folderFd, name.constData()) != 0) {
        const int failure = errno;
        // A sticky folder lets only the owner replace the file.
        return giveUp(failure == EPERM || failure == EACCES ? Replaced::notHere : Replaced::failed, failure);
    }
    *written = stampFrom(made);
    if (!syncFolder(folderFd)) {
        *code = errno;
        return Replaced::failed;
    }
    *code = 0;
    return Replaced::yes;
}

// Overwrites the file in place after writing a complete copy of the new text, in the file's
// folder or else in `saveCopyFolder()`; the copy goes once the file is synced. Where no copy can
// be made for want of room or permission, the file is overwritten as it is.
int replaceInPlace(int fd, const struct stat& st, int folderFd, const QByteArray& name, const QByteArray& resolved,
                   const QByteArray& bytes, FileStamp* written)
{
    int copyFolderFd = -1;
    Descriptor fallback;
    QByteArray copy;
    int code = 0;
    for (bool inOwnFolder : {true, false}) {
        int into = folderFd;
        if (!inOwnFolder) {
            const QString folder = saveCopyFolder();
            if (folder.isEmpty() || !QDir().mkpath(folder))
                break;
            fallback.fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fallback.fd < 0)
                break;
            ::fchmod(fallback.fd, 0700);
            into = fallback.fd;
        }
        // Written under a temporary name and renamed once whole: a copy is never torn.
        QByteArray temporary;
        TemporaryClaim claim;
        code = writeTemporary(into, copyName(name, resolved, inOwnFolder, 1), bytes, &temporary, claim);
        if (code == 0) {
            for (int n = 1; n <= kMaxCopies; ++n) {
                copy = copyName(name, resolved, inOwnFolder, n);
                code = renameWithoutReplacing(into, temporary, copy);
                if (code != EEXIST)
                    break;
            }
            if (code != 0)
                ::unlinkat(into, temporary.constData(), 0);
        }
        if (code == 0) {
            if (!syncFolder(into)) {
                const int failure = errno;
                ::unlinkat(into, copy.constData(), 0);
                return failure;
            }
            copyFolderFd = into;
            break;
        }
        if (!isPermissionOrSpace(code))
            return code;
    }

    // A change written to the file while the copy was made is not written over.
    if (const int changed = unchangedSince(fd, st)) {
        if (copyFolderFd >= 0)
            ::unlinkat(copyFolderFd, copy.constData(), 0);
        return changed;
    }
    if (copyFolderFd >= 0)
        setModifiedAhead(copyFolderFd, copy);
    bool touched = false;
    code = overwrite(fd, st.st_size, bytes, &touched);
    // A failed write that touched the file keeps the copy: it is the only whole new text on disk.
    if (copyFolderFd >= 0 && (code == 0 || !touched))
        ::unlinkat(copyFolderFd, copy.constData(), 0);
    if (code == 0) {
        struct stat now {};
        if (::fstat(fd, &now) != 0)
            return errno;
        *written = stampFrom(now);
    }
    return code;
}

bool isLowerBase36(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

// The resolved path of `path` split into its folder and its name; false when it cannot be resolved.
bool resolvedParts(const QString& path, QByteArray* resolvedPath, QByteArray* folder, QByteArray* name)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return false;
    *resolvedPath = QByteArray(resolved);
    const qsizetype slash = resolvedPath->lastIndexOf('/');
    *folder = slash <= 0 ? QByteArray("/") : resolvedPath->left(slash);
    *name = resolvedPath->mid(slash + 1);
    return true;
}

} // namespace

bool saveExistingFile(const QString& path, const QByteArray& bytes, QString* error, SaveCheck* check)
{
    // Non-blocking, so that a FIFO put in the file's place cannot hold the caller; opening for
    // writing also checks that the file exists and may be written.
    const QByteArray encoded = QFile::encodeName(path);
    Descriptor file(::open(encoded.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.fd < 0)
        return fail(error, errno);
    struct stat st {};
    if (::fstat(file.fd, &st) != 0)
        return fail(error, errno);
    if (!S_ISREG(st.st_mode)) {
        if (error)
            *error = QStringLiteral("Not a regular file");
        return false;
    }
    // Changed by another program since it was last read or written: not written over.
    auto changedOnDisk = [&]() {
        if (check)
            check->changedOnDisk = true;
        return fail(error, ESTALE);
    };
    if (check && check->expected && stampFrom(st) != *check->expected)
        return changedOnDisk();
    const int flags = ::fcntl(file.fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK);

    // Past the process's file-size limit a write raises SIGXFSZ; refuse before writing instead.
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
        && static_cast<rlim_t>(bytes.size()) > limit.rlim_cur)
        return fail(error, EFBIG);

    // Links are followed: the file they lead to is replaced in its own folder.
    QByteArray resolvedPath;
    QByteArray folder;
    QByteArray name;
    if (!resolvedParts(path, &resolvedPath, &folder, &name))
        return fail(error, errno);
    Descriptor folderFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.fd < 0)
        return fail(error, errno);

    FileStamp written;
    if (st.st_nlink == 1) {
        int code = 0;
        switch (replaceByRename(file.fd, st, folderFd.fd, name, bytes, &code, &written)) {
        case Replaced::yes:
            if (::close(file.release()) != 0)
                return fail(error, errno);
            if (check)
                check->written = written;
            return true;
        case Replaced::failed:
            return code == ESTALE ? changedOnDisk() : fail(error, code);
        case Replaced::notHere:
            break;
        }
    }
    if (const int code = replaceInPlace(file.fd, st, folderFd.fd, name, resolvedPath, bytes, &written))
        return code == ESTALE ? changedOnDisk() : fail(error, code);
    if (::close(file.release()) != 0)
        return fail(error, errno);
    if (check)
        check->written = written;
    return true;
}

QString saveCopyFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return QString();
    return QDir::cleanPath(data) + QStringLiteral("/Kovani/Save copies");
}

QList<LeftCopy> leftSaveCopies(const QString& path)
{
    QList<LeftCopy> copies;
    QByteArray resolvedPath;
    QByteArray folder;
    QByteArray name;
    if (!resolvedParts(path, &resolvedPath, &folder, &name))
        return copies;
    const QByteArray fallback = QFile::encodeName(saveCopyFolder());
    for (bool inOwnFolder : {true, false}) {
        if (!inOwnFolder && fallback.isEmpty())
            break;
        const QByteArray where = inOwnFolder ? folder : fallback;
        // Copies take the first free number: the first one missing ends the search.
        for (int n = 1; n <= kMaxCopies; ++n) {
            const QByteArray candidate = where + '/' + copyName(name, resolvedPath, inOwnFolder, n);
            struct stat st {};
            if (::lstat(candidate.constData(), &st) != 0)
                break;
            if (S_ISREG(st.st_mode))
                copies.append({QFile::decodeName(candidate), stampFrom(st).modified});
        }
    }
    return copies;
}

void removeStaleTemporaries(const QString& path)
{
    QByteArray resolvedPath;
    QByteArray folder;
    QByteArray name;
    if (!resolvedParts(path, &resolvedPath, &folder, &name))
        return;
    const QByteArray fallback = QFile::encodeName(saveCopyFolder());
    for (bool inOwnFolder : {true, false}) {
        if (!inOwnFolder && fallback.isEmpty())
            break;
        const QByteArray where = inOwnFolder ? folder : fallback;
        Descriptor folderFd(::open(where.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folderFd.fd < 0)
            continue;
        struct stat folderStat {};
        if (::fstat(folderFd.fd, &folderStat) != 0)
            continue;
        DIR* dir = ::fdopendir(::dup(folderFd.fd));
        if (!dir)
            continue;
        // The temporary files of a save of this file: beside it, its own, and, beside it or in
        // the folder of copies, those of its copy.
        const QByteArray firstCopy = copyName(name, resolvedPath, inOwnFolder, 1);
        QList<QByteArray> stale;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray entryName(entry->d_name);
            const qsizetype mark = entryName.lastIndexOf(kTemporarySuffix);
            if (mark <= 0 || !isLowerBase36(QByteArrayView(entryName).sliced(mark + qsizetype(sizeof kTemporarySuffix) - 1)))
                continue;
            const QByteArray suffix = entryName.mid(mark);
            if ((inOwnFolder && entryName == sideName(name, suffix)) || entryName == sideName(firstCopy, suffix))
                stale.append(entryName);
        }
        ::closedir(dir);
        const QMutexLocker lock(&claimsMutex());
        for (const QByteArray& entryName : stale) {
            struct stat st {};
            if (claims().contains(claimKey(folderStat, entryName))
                || ::fstatat(folderFd.fd, entryName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
                continue;
            ::unlinkat(folderFd.fd, entryName.constData(), 0);
        }
    }
}

bool isSideFileName(const QString& name)
{
    if (!name.startsWith(u'.'))
        return false;
    const QByteArray bytes = QFile::encodeName(name);
    const qsizetype temporary = bytes.lastIndexOf(kTemporarySuffix);
    if (temporary > 0 && isLowerBase36(QByteArrayView(bytes).sliced(temporary + qsizetype(sizeof kTemporarySuffix) - 1)))
        return true;
    const qsizetype copy = bytes.lastIndexOf(kCopySuffix);
    if (copy <= 0)
        return false;
    const QByteArrayView rest = QByteArrayView(bytes).sliced(copy + qsizetype(sizeof kCopySuffix) - 1);
    if (rest.isEmpty())
        return true;
    if (!rest.startsWith('-') || rest.size() < 2)
        return false;
    for (char c : rest.sliced(1)) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

std::optional<QString> writeNewFile(const QString& folder, const QString& name, const QByteArray& bytes, QString* error)
{
    if (folder.isEmpty()) {
        fail(error, ENOENT);
        return std::nullopt;
    }
    QDir().mkpath(folder);
    Descriptor folderFd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.fd < 0) {
        fail(error, errno);
        return std::nullopt;
    }
    ::fchmod(folderFd.fd, 0700);
    QByteArray temporary;
    TemporaryClaim claim;
    const QByteArray encoded = QFile::encodeName(name);
    int code = writeTemporary(folderFd.fd, encoded, bytes, &temporary, claim);
    if (code != 0) {
        fail(error, code);
        return std::nullopt;
    }
    const QFileInfo info(name);
    const QString base = info.completeBaseName().isEmpty() ? name : info.completeBaseName();
    const QString extension = info.completeBaseName().isEmpty() || info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    QByteArray chosen = encoded;
    for (int n = 1; n <= kMaxCopies; ++n) {
        if (n > 1)
            chosen = QFile::encodeName(base + u' ' + QString::number(n) + extension);
        code = chosen.size() > NAME_MAX ? ENAMETOOLONG : renameWithoutReplacing(folderFd.fd, temporary, chosen);
        if (code != EEXIST)
            break;
    }
    if (code == 0 && !syncFolder(folderFd.fd)) {
        code = errno;
        ::unlinkat(folderFd.fd, chosen.constData(), 0);
    } else if (code != 0) {
        ::unlinkat(folderFd.fd, temporary.constData(), 0);
    }
    if (code != 0) {
        fail(error, code);
        return std::nullopt;
    }
    return QDir::cleanPath(folder) + u'/' + QFile::decodeName(chosen);
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

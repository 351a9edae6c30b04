#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// POSIX file operations of the code workspace: folder listing with link flags, symbolic-link
// resolution of partly existing paths, reading only regular files, crash-safe saving, creating
// and removing entries without following links. Every failure carries the system's
// description of the error.
namespace FileSystem {

struct DirectoryEntry {
    QString name;
    // Both false when the entry's type could not be read.
    bool isDirectory = false;
    bool isSymbolicLink = false;
};

// The direct entries of `path` (hidden ones included, "." and ".." not), in the order the
// system lists them; nothing when the folder cannot be listed.
std::optional<QList<DirectoryEntry>> listDirectory(const QString& path);

// `path` (absolute) with "." and ".." removed and the symbolic links of its longest existing
// leading part resolved; the rest is appended as it is.
QString resolvedPath(const QString& path);

// Whether an entry of any kind exists at `path` (a dangling link counts).
bool entryExists(const QString& path);

// The size of the entry at `path` (links followed).
std::optional<qint64> fileSize(const QString& path);

// One version of a file: the file itself (device and inode), its size and its modification time.
// Another program's change, written in place or by putting a new file at the path, changes it.
struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the regular file at `path` (links followed); nothing for a missing entry or for
// anything but a regular file.
std::optional<FileStamp> stampOf(const QString& path);

enum class ReadOutcome { ok, tooLarge, failed };
struct ReadResult {
    ReadOutcome outcome = ReadOutcome::failed;
    QByteArray bytes;
    // The file as it was opened, before its first byte was read.
    FileStamp stamp;
};
// Reads a regular file whole. Anything else (a folder, FIFO, socket or device) is refused without
// waiting on it. A file that has grown past `maxBytes` is `tooLarge`.
ReadResult readRegularFile(const QString& path, qint64 maxBytes);

// What a save is to check and tells back.
struct SaveCheck {
    // When set, the file is written only while it still has this stamp.
    std::optional<FileStamp> expected;
    // The file had another stamp (or got one while the new text was written): nothing was written.
    bool changedOnDisk = false;
    // The stamp of the file as written.
    FileStamp written;
};

// The workspace's crash-safe save. Replaces the content of the existing regular file at `path`
// (links followed) with `bytes` so that a crash or a power loss at any moment leaves either the
// old or the new bytes. The new text goes to a temporary file in the same folder, which is
// synced, given the file's mode, owner, group and extended attributes, and renamed over it. Where that would change the file itself
// (several hard links, a folder that takes no new entries, an owner that cannot be given), the
// file is overwritten in place, with a complete copy of the new text written first and removed
// once the file is synced; see `leftSaveCopies`. A missing file is an error; it is never created.
// A failure leaves the old bytes and no temporary file behind. The copy's modification time is
// set a little ahead of the overwrite, so that a file torn by it is not newer than its copy.
bool saveExistingFile(const QString& path, const QByteArray& bytes, QString* error, SaveCheck* check = nullptr);

struct LeftCopy {
    QString path;
    qint64 modified = 0; // nanoseconds since the epoch
};
// The copies of the new text that in-place saves of `path` interrupted by a crash left behind,
// beside the file and in `saveCopyFolder()` (when the file's folder takes no new entries).
QList<LeftCopy> leftSaveCopies(const QString& path);

// Removes the temporary files that interrupted saves of `path` left behind, beside it and in
// `saveCopyFolder()`, except those of saves of this process still running.
void removeStaleTemporaries(const QString& path);

// Whether `name` is one of the side files saves make: a temporary file or a copy.
bool isSideFileName(const QString& name);

// Where in-place saves keep their copies when the file's own folder takes no new entries, and
// where the workspace keeps a text it set aside.
QString saveCopyFolder();

// Writes `bytes` whole into a new file of mode 0600 named `name` in `folder` (made, private, when
// missing), or, when that name is taken, `name` with " 2", " 3"... before its extension. Never a
// part of the bytes: written under a temporary name and renamed once synced. The path, or nothing
// with `error` set.
std::optional<QString> writeNewFile(const QString& folder, const QString& name, const QByteArray& bytes, QString* error);

// A folder, without creating missing parents.
bool createDirectory(const QString& path, QString* error);
// An empty file; fails when anything exists at `path`.
bool createEmptyFile(const QString& path, QString* error);

// Removes the entry at `path` and, for a folder, everything below it. Symbolic links are removed
// themselves, never followed.
bool removeTree(const QString& path, QString* error);

// The system's description of an errno value.
QString errorDescription(int error);

} // namespace FileSystem

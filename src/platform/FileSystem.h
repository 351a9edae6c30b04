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

enum class ReadOutcome { ok, tooLarge, failed };
struct ReadResult {
    ReadOutcome outcome = ReadOutcome::failed;
    QByteArray bytes;
};
// Reads a regular file whole. Anything else (a folder, FIFO, socket or device) is refused without
// waiting on it. A file that has grown past `maxBytes` is `tooLarge`.
ReadResult readRegularFile(const QString& path, qint64 maxBytes);

// Replaces the content of the existing regular file at `path` (links followed) with `bytes` so
// that a crash or a power loss at any moment leaves either the old or the new bytes. The new text
// goes to a temporary file in the same folder, which is synced, given the file's mode, owner,
// group and extended attributes, and renamed over it. Where that would change the file itself
// (several hard links, a folder that takes no new entries, an owner that cannot be given), the
// file is overwritten in place, with a complete copy of the new text written first and removed
// once the file is synced; see `leftSaveCopy`. A missing file is an error; it is never created.
// A failure leaves the old bytes and no temporary file behind.
bool saveFile(const QString& path, const QByteArray& bytes, QString* error);

// The copy of the new text that an in-place save of `path` interrupted by a crash left behind:
// beside the file, or in `saveCopyFolder()` when the file's folder takes no new entries.
std::optional<QString> leftSaveCopy(const QString& path);

// Where in-place saves keep their copies when the file's own folder takes no new entries.
QString saveCopyFolder();

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

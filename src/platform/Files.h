#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace Files {

// Settings-style write: `bytes` become the whole file at `path`, created or replaced by a new
// file (temporary file, then rename), so a reader sees the old text or the new one. The new file
// has its own mode: 0600 with `privateFile`, else the default. Returns false on any failure (its
// description in `error` when given); the old file then stays as it was. The workspace's save of
// an existing file, which keeps the file itself, is FileSystem::saveExistingFile.
bool writeWholeFile(const QString& path, const QByteArray& bytes, bool privateFile = false, QString* error = nullptr);

// Creates a folder with its intermediates; returns whether it exists afterwards.
bool makePath(const QString& path);

// Whether `path` names a regular file (after links) that may be executed.
bool isExecutableFile(const QString& path);

} // namespace Files

#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace Files {

// Writes `bytes` whole and atomically (temporary file, then rename). With `privateFile` the file
// is 0600. Returns false on any failure (its description in `error` when given); the old file
// then stays as it was.
bool writeAtomically(const QString& path, const QByteArray& bytes, bool privateFile = false, QString* error = nullptr);

// Creates a folder with its intermediates; returns whether it exists afterwards.
bool makePath(const QString& path);

// Whether `path` names a regular file (after links) that may be executed.
bool isExecutableFile(const QString& path);

} // namespace Files

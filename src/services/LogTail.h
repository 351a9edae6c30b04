#pragma once

#include <QString>
#include <optional>

// The end of a server log as shown in the log box: the whole file when it is small, else its
// last `limit` bytes starting at a line start, under one line saying that earlier output was left
// out. Blocking file I/O: call it off the main thread.
namespace LogTail {

constexpr qint64 kDefaultLimit = 1024 * 1024;

// The first line shown above a shortened log.
QString omittedNotice();

// Nothing when the file is missing or cannot be read. Bytes that are not UTF-8 are shown as
// replacement characters.
std::optional<QString> read(const QString& path, qint64 limit = kDefaultLimit);

} // namespace LogTail

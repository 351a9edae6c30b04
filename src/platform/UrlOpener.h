#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// Opening an address (a web page, a folder) with a program of the desktop: the program is run
// with the address as its one argument and left running; when it ends with a failure within
// kWaitMs (xdg-open when nothing is set up to open the address), that is reported. A program
// still running by then is taken to have opened it (xdg-open may wait for the browser it started).
namespace UrlOpener {

constexpr int kWaitMs = 10000;

// Why the address did not open, in words for the status line ("no application is set up to open
// it (xdg-open exit status 3)"); called on the main thread.
using Failed = std::function<void(const QString& reason)>;

// Starts `program` with the URL. Returns why it could not be started (nothing runs then, and
// `failed` is never called); otherwise nothing, and `failed` runs later if the program fails.
std::optional<QString> openWith(const QString& program, const QUrl& url, Failed failed);

// With the desktop's default handler, xdg-open.
std::optional<QString> open(const QUrl& url, Failed failed);

} // namespace UrlOpener

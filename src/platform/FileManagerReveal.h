#pragma once

#include "platform/UrlOpener.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// Shows an item selected in the desktop's file manager: org.freedesktop.FileManager1.ShowItems
// on the session bus (through dbus-send), else the item opened with the default handler (a
// folder opens in the file manager). Returns at once; the bus call runs in the background.
namespace FileManagerReveal {

// Why nothing showed the item, in words for the status line; called on the main thread.
using Failed = std::function<void(const QString& reason)>;
// Opens an address the way UrlOpener::open does.
using Opener = std::function<std::optional<QString>(const QUrl&, UrlOpener::Failed)>;

void reveal(const QString& path, Failed failed = {});

// `reveal` with its parts given: the dbus-send program and the opener of the fallback, which
// runs on the main thread. `done`, when set, runs on the main thread once the bus call is
// decided (true: the file manager answered).
void revealWith(const QString& dbusSend, const QString& path, Opener open, Failed failed,
                std::function<void(bool shown)> done = {});

// Replaces what reveal() does in this process (tests); an empty handler puts the real one back.
void setHandler(std::function<void(const QString& path)> handler);

} // namespace FileManagerReveal

#pragma once

#include <QString>
#include <QUrl>
#include <functional>

// Shows an item selected in the desktop's file manager: org.freedesktop.FileManager1.ShowItems
// on the session bus (through dbus-send), else the item opened with the default handler (a
// folder opens in the file manager). Returns at once; the bus call runs in the background.
namespace FileManagerReveal {

void reveal(const QString& path);

// `reveal` with its parts given: the dbus-send program and the opener of the fallback, which
// runs on the main thread. `done`, when set, runs on the main thread once it is decided
// (true: the file manager answered).
void revealWith(const QString& dbusSend, const QString& path, std::function<void(const QUrl&)> openURL,
                std::function<void(bool shown)> done = {});

// Replaces what reveal() does in this process (tests); an empty handler puts the real one back.
void setHandler(std::function<void(const QString& path)> handler);

} // namespace FileManagerReveal

#include "platform/FileManagerReveal.h"

#include "platform/Dispatch.h"
#include "platform/Process.h"
#include "platform/ToolPaths.h"

#include <QDesktopServices>

namespace FileManagerReveal {

namespace {

std::function<void(const QString&)>& handler()
{
    static std::function<void(const QString&)> instance;
    return instance;
}

} // namespace

void setHandler(std::function<void(const QString& path)> replacement)
{
    handler() = std::move(replacement);
}

void reveal(const QString& path)
{
    if (handler()) {
        handler()(path);
        return;
    }
    revealWith(ToolPaths().dbusSend, path, [](const QUrl& url) { QDesktopServices::openUrl(url); });
}

void revealWith(const QString& dbusSend, const QString& path, std::function<void(const QUrl&)> openURL,
                std::function<void(bool shown)> done)
{
    const QUrl url = QUrl::fromLocalFile(path);
    Process::Spec spec;
    spec.program = dbusSend;
    spec.arguments = {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--reply-timeout=5000"),
                      QStringLiteral("--dest=org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
                      QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
                      // dbus-send splits array items at commas: a path holding one is encoded.
                      QStringLiteral("array:string:") + QString::fromUtf8(url.toEncoded()).replace(u',', QStringLiteral("%2C")),
                      QStringLiteral("string:")};
    Dispatch::userInitiated([spec, url, openURL = std::move(openURL), done = std::move(done)]() {
        const Process::Capture result = Process::capture(spec, 8000);
        const bool shown = result.launched && !result.timedOut && result.status == 0;
        Dispatch::main([shown, url, openURL, done]() {
            if (!shown && openURL)
                openURL(url);
            if (done)
                done(shown);
        });
    });
}

} // namespace FileManagerReveal

#include "platform/FileManagerReveal.h"

#include "platform/Dispatch.h"
#include "platform/Process.h"
#include "platform/ToolPaths.h"

namespace FileManagerReveal {

namespace {

std::function<void(const QString&)>& handler()
{
    static std::function<void(const QString&)> instance;
    return instance;
}

// Why the file manager did not show the item, from what dbus-send did.
QString busReason(const Process::Capture& result)
{
    if (!result.launched)
        return QStringLiteral("dbus-send could not be started: ") + result.error;
    if (result.timedOut)
        return QStringLiteral("the file manager did not answer");
    const QString output = QString::fromLocal8Bit(result.output).trimmed();
    if (output.contains(QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")))
        return QStringLiteral("no file manager is registered on the session bus");
    if (output.contains(QLatin1String("Failed to open connection")) || output.contains(QLatin1String("Unable to autolaunch")))
        return QStringLiteral("there is no session bus");
    const QString line = output.section(u'\n', 0, 0).trimmed().left(160);
    return line.isEmpty() ? QStringLiteral("dbus-send ended with status %1").arg(result.status) : line;
}

} // namespace

void setHandler(std::function<void(const QString& path)> replacement)
{
    handler() = std::move(replacement);
}

void reveal(const QString& path, Failed failed)
{
    if (handler()) {
        handler()(path);
        return;
    }
    revealWith(ToolPaths().dbusSend, path, &UrlOpener::open, std::move(failed));
}

void revealWith(const QString& dbusSend, const QString& path, Opener open, Failed failed,
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
    Dispatch::userInitiated([spec, url, open = std::move(open), failed = std::move(failed), done = std::move(done)]() {
        const Process::Capture result = Process::capture(spec, 8000);
        const bool shown = result.launched && !result.timedOut && result.status == 0;
        const QString bus = shown ? QString() : busReason(result);
        Dispatch::main([shown, bus, url, open, failed, done]() {
            if (!shown && open) {
                const UrlOpener::Failed notOpened = [bus, failed](const QString& reason) {
                    if (failed)
                        failed(QStringLiteral("no file manager answered (%1), and opening it with the default handler failed: %2").arg(bus, reason));
                };
                if (const std::optional<QString> reason = open(url, notOpened))
                    notOpened(*reason);
            }
            if (done)
                done(shown);
        });
    });
}

} // namespace FileManagerReveal

#include "platform/UrlOpener.h"

#include "platform/Dispatch.h"
#include "platform/Process.h"
#include "platform/ToolPaths.h"

#include <QFileInfo>

#include <chrono>

namespace UrlOpener {

namespace {

// xdg-open's exit statuses, in the user's words.
QString xdgOpenReason(int status)
{
    switch (status) {
    case 1: return QStringLiteral("xdg-open could not read the address");
    case 2: return QStringLiteral("it does not exist");
    case 3: return QStringLiteral("no application is set up to open it");
    case 4: return QStringLiteral("the application set up to open it failed");
    default: return {};
    }
}

} // namespace

std::optional<QString> openWith(const QString& program, const QUrl& url, Failed failed)
{
    if (!QFileInfo(program).isFile())
        return QStringLiteral("%1 is not installed").arg(program);
    Process::Spec spec;
    spec.program = program;
    spec.arguments = {url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)};
    // Its own group: a signal meant for Kovani's terminal never reaches the browser it starts.
    spec.newProcessGroup = true;
    const QString name = QFileInfo(program).fileName();
    const bool xdgOpen = name == u"xdg-open";
    const auto started = std::chrono::steady_clock::now();
    QString error;
    const auto child = ChildProcess::launch(
        spec,
        [failed = std::move(failed), name, xdgOpen, started](int status) {
            const bool soon = std::chrono::steady_clock::now() - started <= std::chrono::milliseconds(kWaitMs);
            if (status == 0 || !soon || !failed)
                return;
            const QString meaning = xdgOpen ? xdgOpenReason(status) : QString();
            const QString reason = meaning.isEmpty() ? QStringLiteral("%1 ended with status %2").arg(name).arg(status)
                                                     : QStringLiteral("%1 (%2 exit status %3)").arg(meaning, name).arg(status);
            Dispatch::main([failed, reason]() { failed(reason); });
        },
        &error);
    if (!child)
        return QStringLiteral("%1 could not be started: %2").arg(program, error);
    return std::nullopt;
}

std::optional<QString> open(const QUrl& url, Failed failed)
{
    return openWith(ToolPaths().xdgOpen, url, std::move(failed));
}

} // namespace UrlOpener

#include "app/AppModel.h"

#include "platform/Text.h"
#include "services/ServiceCommands.h"

#include <unicode/ubrk.h>

QString AppModel::run(const QString& executable, const QStringList& arguments,
                      const std::optional<Process::Environment>& environment) const
{
    // The same runner as the background jobs' captured commands; the status is dropped.
    return ServiceCommands::capture(executable, arguments, environment).output;
}

CommandResult AppModel::runCommand(const QString& executable, const QStringList& arguments,
                                   const std::optional<Process::Environment>& environment,
                                   const QString& currentDirectory) const
{
    // The one runner of logged commands; nobody cancels this one.
    return ServiceCommands::CancellableCommands(m_logsURL).run(executable, arguments, environment, currentDirectory);
}

QString AppModel::shortOutput(const QString& output)
{
    constexpr int kLimit = 1200; // user-perceived characters
    const QString text = Text::trimmed(output);
    if (text.isEmpty())
        return QStringLiteral("Unknown command error.");
    // Fewer code units than the limit means fewer characters, too.
    if (text.size() <= kLimit)
        return text;
    UErrorCode error = U_ZERO_ERROR;
    UBreakIterator* characters = ubrk_open(UBRK_CHARACTER, "", reinterpret_cast<const UChar*>(text.utf16()),
                                           static_cast<int32_t>(text.size()), &error);
    if (U_FAILURE(error))
        return text.right(kLimit);
    int32_t start = ubrk_last(characters);
    for (int count = 0; count < kLimit && start > 0; ++count)
        start = ubrk_previous(characters);
    ubrk_close(characters);
    return start <= 0 ? text : text.mid(start);
}

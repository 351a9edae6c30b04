// The text of a command's output that a status message shows.
#include "app/AppModel.h"

#include "platform/Text.h"

#include <unicode/ubrk.h>

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

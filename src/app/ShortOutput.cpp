// The text of a command's output that a status message shows.
#include "app/AppModel.h"

#include "platform/Graphemes.h"
#include "platform/Text.h"

QString AppModel::shortOutput(const QString& output)
{
    constexpr int kLimit = 1200; // user-perceived characters
    const QString text = Text::trimmed(output);
    if (text.isEmpty())
        return QStringLiteral("Unknown command error.");
    // Fewer code units than the limit means fewer characters, too.
    if (text.size() <= kLimit)
        return text;
    return Graphemes::right(text, kLimit);
}

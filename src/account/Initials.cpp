// The initials of a user's name shown in the avatar.
#include "app/AppModel.h"

#include "platform/Graphemes.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

QString AppModel::initials(const QString& name)
{
    QString taken;
    int words = 0;
    for (const QString& word : name.split(u' ', Qt::SkipEmptyParts)) {
        if (words++ == 2)
            break;
        taken += Graphemes::split(word).value(0);
    }
    if (taken.isEmpty())
        return QStringLiteral("U");
    icu::UnicodeString u(reinterpret_cast<const char16_t*>(taken.utf16()), static_cast<int32_t>(taken.size()));
    u.toUpper(icu::Locale::getRoot());
    return QString(reinterpret_cast<const QChar*>(u.getBuffer()), u.length());
}

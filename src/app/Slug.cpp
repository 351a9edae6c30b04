// The slug of a name: the one rule for project ids and website folder names.
#include "app/AppModel.h"

#include "platform/Graphemes.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

QString AppModel::slug(const QString& text)
{
    // Root (locale-independent) lower-case mapping.
    icu::UnicodeString lower(reinterpret_cast<const UChar*>(text.utf16()), static_cast<int32_t>(text.size()));
    lower.toLower(icu::Locale::getRoot());

    QString out;
    const QString lowered(reinterpret_cast<const QChar*>(lower.getBuffer()), lower.length());
    for (const QString& character : Graphemes::split(lowered)) {
        // A character stays when its first scalar is alphabetic or numeric.
        const char32_t first = character.size() > 1 && character.at(0).isHighSurrogate() && character.at(1).isLowSurrogate()
            ? QChar::surrogateToUcs4(character.at(0), character.at(1))
            : character.at(0).unicode();
        if (u_hasBinaryProperty(first, UCHAR_ALPHABETIC) || u_getIntPropertyValue(first, UCHAR_NUMERIC_TYPE) != U_NT_NONE)
            out += character;
        else
            out += u'-';
    }

    // Collapse runs of "-" and trim them at both ends.
    QString collapsed;
    collapsed.reserve(out.size());
    for (QChar c : out) {
        if (c == u'-' && (collapsed.isEmpty() || collapsed.back() == u'-'))
            continue;
        collapsed += c;
    }
    while (collapsed.endsWith(u'-'))
        collapsed.chop(1);
    return collapsed;
}

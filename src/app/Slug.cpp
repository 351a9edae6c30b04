// The slug of a name: the one rule for project ids and website folder names.
#include "app/AppModel.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>

QString AppModel::slug(const QString& text)
{
    // Root (locale-independent) lower-case mapping.
    icu::UnicodeString lower(reinterpret_cast<const UChar*>(text.utf16()), static_cast<int32_t>(text.size()));
    lower.toLower(icu::Locale::getRoot());

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> graphemes(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    QString out;
    auto keep = [](UChar32 c) {
        return u_hasBinaryProperty(c, UCHAR_ALPHABETIC)
            || u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
    };
    auto append = [&](int32_t start, int32_t end) {
        if (keep(lower.char32At(start)))
            out += QString(reinterpret_cast<const QChar*>(lower.getBuffer() + start), end - start);
        else
            out += u'-';
    };
    if (U_SUCCESS(status)) {
        graphemes->setText(lower);
        int32_t start = graphemes->first();
        for (int32_t end = graphemes->next(); end != icu::BreakIterator::DONE; start = end, end = graphemes->next())
            append(start, end);
    } else {
        for (int32_t i = 0; i < lower.length(); i = lower.moveIndex32(i, 1))
            append(i, lower.moveIndex32(i, 1));
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

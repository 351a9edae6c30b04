#include "account/Graphemes.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>

namespace Graphemes {

QStringList split(const QString& text)
{
    QStringList result;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status))
        return text.isEmpty() ? QStringList() : QStringList{text};
    const icu::UnicodeString u(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<int32_t>(text.size()));
    it->setText(u);
    int32_t start = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next())
        result << text.mid(start, end - start);
    return result;
}

qsizetype count(const QString& text)
{
    return split(text).size();
}

} // namespace Graphemes

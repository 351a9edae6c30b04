// The check of an e-mail address's form.
#include "app/AppModel.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <memory>

bool AppModel::isValidEmail(const QString& trimmedEmail)
{
    // ICU, as the pattern is written for it; the whole text must match.
    static const std::unique_ptr<icu::RegexPattern> pattern = [] {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError;
        std::unique_ptr<icu::RegexPattern> p(icu::RegexPattern::compile(
            icu::UnicodeString(u"^[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,}$"), UREGEX_CASE_INSENSITIVE, parseError, status));
        return U_SUCCESS(status) ? std::move(p) : nullptr;
    }();
    if (!pattern)
        return false;
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input(reinterpret_cast<const char16_t*>(trimmedEmail.utf16()),
                                   static_cast<int32_t>(trimmedEmail.size()));
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
    if (U_FAILURE(status))
        return false;
    const bool found = matcher->find(status);
    return U_SUCCESS(status) && found;
}

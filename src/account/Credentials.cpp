// The small credential helpers: password rules, local password hash, avatar initials, e-mail check.
#include "app/AppModel.h"

#include "account/Graphemes.h"

#include <QCryptographicHash>

#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>

namespace {

icu::UnicodeString toICU(const QString& text)
{
    return icu::UnicodeString(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<int32_t>(text.size()));
}

QString fromICU(const icu::UnicodeString& text)
{
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

bool isSpecial(char32_t c)
{
    static const QString kSpecials = QStringLiteral("!@#$%^&*()_+-=[]{}|;:'\",.<>?/`~\\");
    return c < 0x80 && kSpecials.contains(QChar(static_cast<char16_t>(c)));
}

bool isSpaceOrLineBreak(char32_t c)
{
    if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85)
        return true;
    const int8_t type = u_charType(static_cast<UChar32>(c));
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

} // namespace

std::optional<QString> AppModel::passwordValidationError(const QString& password)
{
    if (Graphemes::count(password) < 12)
        return QStringLiteral("Password must be at least 12 characters.");
    bool upper = false;
    bool lower = false;
    bool digit = false;
    bool special = false;
    bool space = false;
    for (const char32_t c : password.toUcs4()) {
        const int8_t type = u_charType(static_cast<UChar32>(c));
        upper = upper || type == U_UPPERCASE_LETTER || type == U_TITLECASE_LETTER;
        lower = lower || type == U_LOWERCASE_LETTER;
        digit = digit || type == U_DECIMAL_DIGIT_NUMBER;
        special = special || isSpecial(c);
        space = space || isSpaceOrLineBreak(c);
    }
    if (!upper)
        return QStringLiteral("Password must include an uppercase letter.");
    if (!lower)
        return QStringLiteral("Password must include a lowercase letter.");
    if (!digit)
        return QStringLiteral("Password must include a number.");
    if (!special)
        return QStringLiteral("Password must include a special character.");
    if (space)
        return QStringLiteral("Password must not contain spaces.");
    return std::nullopt;
}

QString AppModel::hash(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

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
    icu::UnicodeString u = toICU(taken);
    u.toUpper(icu::Locale::getRoot());
    return fromICU(u);
}

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
    const icu::UnicodeString input = toICU(trimmedEmail);
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
    if (U_FAILURE(status))
        return false;
    const bool found = matcher->find(status);
    return U_SUCCESS(status) && found;
}

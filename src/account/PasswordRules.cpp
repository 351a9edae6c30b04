// The rules a new password must meet.
#include "app/AppModel.h"

#include "platform/Graphemes.h"

#include <QString>

#include <unicode/uchar.h>

namespace {

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

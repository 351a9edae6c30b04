#include "platform/Collation.h"

#include <QLocale>

#include <unicode/ucol.h>

namespace {

QByteArray localeName()
{
    const QLocale locale;
    if (locale.language() == QLocale::C)
        return QByteArray("root");
    return locale.name().toUtf8();
}

} // namespace

CaseInsensitiveCollation::CaseInsensitiveCollation()
{
    UErrorCode status = U_ZERO_ERROR;
    m_collator = ucol_open(localeName().constData(), &status);
    if (U_FAILURE(status)) {
        status = U_ZERO_ERROR;
        m_collator = ucol_open("root", &status);
    }
    if (m_collator)
        ucol_setStrength(m_collator, UCOL_SECONDARY);
}

CaseInsensitiveCollation::~CaseInsensitiveCollation()
{
    if (m_collator)
        ucol_close(m_collator);
}

int CaseInsensitiveCollation::compare(const QString& a, const QString& b) const
{
    if (!m_collator)
        return a.compare(b, Qt::CaseInsensitive);
    return ucol_strcoll(m_collator, reinterpret_cast<const UChar*>(a.utf16()), static_cast<int32_t>(a.size()),
                        reinterpret_cast<const UChar*>(b.utf16()), static_cast<int32_t>(b.size()));
}

QByteArray CaseInsensitiveCollation::sortKey(const QString& text) const
{
    if (!m_collator)
        return text.toCaseFolded().toUtf8();
    const auto* chars = reinterpret_cast<const UChar*>(text.utf16());
    const auto length = static_cast<int32_t>(text.size());
    QByteArray key(64, Qt::Uninitialized);
    int32_t needed = ucol_getSortKey(m_collator, chars, length, reinterpret_cast<uint8_t*>(key.data()),
                                     static_cast<int32_t>(key.size()));
    if (needed > key.size()) {
        key.resize(needed);
        needed = ucol_getSortKey(m_collator, chars, length, reinterpret_cast<uint8_t*>(key.data()), needed);
    }
    // The key ends with a zero byte that is not part of it.
    key.resize(needed > 0 ? needed - 1 : 0);
    return key;
}

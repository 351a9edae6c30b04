#pragma once

#include <QByteArray>
#include <QString>

struct UCollator;

// The current locale's case-insensitive order of names (ICU collation at secondary strength:
// letter case is ignored, accents are not). The POSIX "C" locale uses the root collation.
class CaseInsensitiveCollation {
public:
    CaseInsensitiveCollation();
    ~CaseInsensitiveCollation();
    CaseInsensitiveCollation(const CaseInsensitiveCollation&) = delete;
    CaseInsensitiveCollation& operator=(const CaseInsensitiveCollation&) = delete;

    // Negative, zero or positive as a sorts before, with or after b.
    int compare(const QString& a, const QString& b) const;
    // A key whose byte order is the collation's order (compare with memcmp / QByteArray's <).
    QByteArray sortKey(const QString& text) const;

private:
    UCollator* m_collator = nullptr;
};

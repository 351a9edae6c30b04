#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// One token of the signed-in user; immutable.
class SignInToken {
public:
    SignInToken(std::optional<QString> tokenString, std::optional<QDateTime> expirationDate)
        : m_tokenString(std::move(tokenString)), m_expirationDate(std::move(expirationDate))
    {
    }

    const std::optional<QString>& tokenString() const { return m_tokenString; }
    const std::optional<QDateTime>& expirationDate() const { return m_expirationDate; }

    // Same text (none equals none) and the same expiry: both none, or less than a second apart.
    bool isEqualToToken(const SignInToken* other) const
    {
        if (!other)
            return false;
        if (m_tokenString.value_or(QString()) != other->m_tokenString.value_or(QString())
            || m_tokenString.has_value() != other->m_tokenString.has_value())
            return false;
        if (m_expirationDate.has_value() != other->m_expirationDate.has_value())
            return false;
        if (!m_expirationDate)
            return true;
        return std::abs(m_expirationDate->msecsTo(*other->m_expirationDate)) < 1000;
    }

private:
    std::optional<QString> m_tokenString;
    std::optional<QDateTime> m_expirationDate;
};

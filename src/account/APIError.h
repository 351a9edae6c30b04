#pragma once

#include <QString>

#include <optional>
#include <utility>

// An error value: a domain, an integer code and the text shown to the user.
struct APIError {
    QString domain;
    qint64 code = 0;
    QString localizedDescription;
    // Detail for logs and tests (for a decoding failure: which key and why).
    QString debugDescription;
};

namespace APIErrors {
inline const QString kDomain = QStringLiteral("Kovani.API");
// Transport failures (no connection, time-out, TLS, refused redirect); the code is Qt's
// QNetworkReply::NetworkError.
inline const QString kNetworkDomain = QStringLiteral("Kovani.Network");
// Request bodies that cannot be written and replies that cannot be read.
inline const QString kEncodingDomain = QStringLiteral("Kovani.JSONEncoding");
inline const QString kDecodingDomain = QStringLiteral("Kovani.JSONDecoding");
} // namespace APIErrors

// Either the decoded reply or the error; exactly one is present.
template <typename T>
class APIResult {
public:
    APIResult(T value)
        : m_value(std::move(value))
    {
    }
    APIResult(APIError error)
        : m_error(std::move(error))
    {
    }

    bool succeeded() const { return m_value.has_value(); }
    const T& value() const { return *m_value; }
    const APIError& error() const { return m_error; }

private:
    std::optional<T> m_value;
    APIError m_error;
};

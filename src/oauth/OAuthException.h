#pragma once

#include <QString>
#include <exception>
#include <string>

// Raised for misuse and packaging faults of the OAuth client (never for network, provider or user
// failures, which come back as error values through completions).
class OAuthException : public std::exception {
public:
    OAuthException(QString name, QString reason)
        : m_name(std::move(name)), m_reason(std::move(reason)), m_what(m_reason.toStdString())
    {
    }
    const QString& name() const { return m_name; }
    const QString& reason() const { return m_reason; }
    const char* what() const noexcept override { return m_what.c_str(); }

    static inline const QString InternalInconsistency = QStringLiteral("InternalInconsistencyException");

private:
    QString m_name;
    QString m_reason;
    std::string m_what;
};

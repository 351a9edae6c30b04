#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <functional>
#include <optional>

// Random values, base64url, SHA-256, redaction and form encoding for the OAuth client.
namespace OAuthTokenUtilities {

// `size` bytes from the system's secure random source, base64url-encoded without padding;
// nothing when the source fails.
std::optional<QString> randomURLSafeStringWithSize(std::size_t size);

// Base64 with "-" and "_" in place of "+" and "/", and no "=".
QString encodeBase64urlNoPadding(const QByteArray& bytes);

// Strict inverse of encodeBase64urlNoPadding: any character outside the base64url alphabet
// (including "=") or a length of one more than a multiple of four gives nothing.
std::optional<QByteArray> decodeBase64urlNoPadding(const QString& text);

// The SHA-256 digest of the text's UTF-8 bytes.
QByteArray sha256(const QString& text);

// For description texts: nothing stays nothing, "" stays "", 1-8 characters become
// "[redacted]", longer texts keep their first six characters followed by "...[redacted]".
std::optional<QString> redact(const std::optional<QString>& text);

// Form encoding of a client credential: every character but " *-._", digits and ASCII letters is
// percent-encoded, then spaces become "+".
QString formUrlEncode(const QString& text);

// Replaces the secure random source (tests only); the function fills the buffer and answers
// whether it could. An empty function restores the system's source.
void setRandomSourceForTesting(std::function<bool(void* buffer, std::size_t size)> source);

} // namespace OAuthTokenUtilities

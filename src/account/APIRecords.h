#pragma once

#include "account/APIError.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <variant>

// The records of the account service on the wire. Requests are only encoded: compact JSON, keys
// in snake case in the order of the fields, absent optionals left out. Replies are only decoded:
// keys are matched after conversion from snake case, unknown keys are ignored, null counts as
// absent for an optional field, and a missing or null required key or a value of the wrong JSON
// type fails the whole reply.

// Body encoding: the JSON bytes, or the error when a text cannot be written as UTF-8 (an unpaired
// surrogate).
using EncodedBody = std::variant<QByteArray, APIError>;

struct AuthRequest {
    std::optional<QString> name;
    QString email;
    QString password;
    QString deviceId;
    QString platform;
    QString appId;
    EncodedBody encode() const;
};

struct ChangePasswordRequest {
    std::optional<QString> currentPassword;
    QString password;
    EncodedBody encode() const;
};

struct PasswordResetRequest {
    QString email;
    QString appId;
    EncodedBody encode() const;
};

struct UpdateProfileRequest {
    QString name;
    EncodedBody encode() const;
};

// The body of "auth/google": the ID token of a Google sign-in; "name" only when known.
struct GoogleRequest {
    QString idToken;
    QString deviceId;
    QString platform;
    QString appId;
    std::optional<QString> name;
    EncodedBody encode() const;
};

struct EmptyRequest {
    EncodedBody encode() const;
};

struct APIUser {
    std::optional<qint64> id;
    QString name;
    QString email;
    std::optional<QString> status;
    bool operator==(const APIUser&) const = default;
};

struct AuthResponse {
    std::optional<QString> tokenType;
    std::optional<QString> accessToken;
    std::optional<QString> token;
    APIUser user;
    bool operator==(const AuthResponse&) const = default;
    static std::variant<AuthResponse, APIError> decode(const QByteArray& bytes);
};

struct MeResponse {
    APIUser user;
    bool operator==(const MeResponse&) const = default;
    static std::variant<MeResponse, APIError> decode(const QByteArray& bytes);
};

struct APIMessageResponse {
    QString message;
    bool operator==(const APIMessageResponse&) const = default;
    static std::variant<APIMessageResponse, APIError> decode(const QByteArray& bytes);
};

namespace WireCoding {

// "access_token" -> "accessToken": split at inner underscores; the first word lower-cased, the
// others capitalised, joined; leading and trailing underscores kept; a key without inner
// underscores stays as it is.
QString fromSnakeCase(const QString& key);

// The reply date rule: a JSON string in ISO 8601 internet date-time with fractional seconds,
// else without them; anything else fails with "Invalid ISO8601 date: " and the text.
std::variant<QDateTime, APIError> decodeDate(const nlohmann::json& value);

// Objects and arrays nested deeper than this fail a reply at once, unread: a small answer can
// nest millions of levels, which would take the main thread seconds to build and tear down.
constexpr int kMaxJSONDepth = 64;

// The text an error reply gives for people: the JSON object's "message", else its "error" (a
// non-empty text either way). None for any other body.
std::optional<QString> errorMessage(const QByteArray& body);

// The decoder's error texts.
APIError missingKey(const QString& key);       // a required key absent
APIError missingValue(const QString& key);     // a required key null
APIError typeMismatch(const QString& key, const QString& expected);
APIError corrupted(const QString& debugDescription);

} // namespace WireCoding

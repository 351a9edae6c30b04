#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// The application's own check of an ID token before it goes to the account service: payload
// readable, audience, expiry. Nothing when the token passes, else the status text.
namespace GoogleTokenCheck {

inline const QString kUnreadable = QStringLiteral("Google returned an unreadable ID token.");
inline const QString kAudienceMismatch = QStringLiteral("Google token audience does not match the configured backend client ID.");
inline const QString kExpired = QStringLiteral("Google ID token has expired. Please sign in again.");

std::optional<QString> failure(const QString& idToken, const QString& expectedAudience, const QDateTime& now);

} // namespace GoogleTokenCheck

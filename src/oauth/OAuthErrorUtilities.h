#pragma once

#include "platform/DomainError.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>

// Error domains of the OAuth client.
inline const QString OAuthGeneralErrorDomain = QStringLiteral("Kovani.OAuth.general");
inline const QString OAuthAuthorizationErrorDomain = QStringLiteral("Kovani.OAuth.oauth_authorization");
inline const QString OAuthTokenErrorDomain = QStringLiteral("Kovani.OAuth.oauth_token");
inline const QString OAuthRegistrationErrorDomain = QStringLiteral("Kovani.OAuth.oauth_registration");
inline const QString OAuthHTTPErrorDomain = QStringLiteral("Kovani.OAuth.remote-http");

// User-information key of an OAuth error: the whole error response (a QJsonObject).
inline const QString OAuthErrorResponseErrorKey = QStringLiteral("OAuthErrorResponseErrorKey");

// Codes of the general domain.
enum OAuthErrorCode : qint64 {
    OAuthErrorCodeSecureRandomFailed = -1, // a request could not get its random values
    OAuthErrorCodeUserAgentEnded = -3,
    OAuthErrorCodeNetworkError = -5,
    OAuthErrorCodeServerError = -6,
    OAuthErrorCodeJSONDeserializationError = -7,
    OAuthErrorCodeTokenResponseConstructionError = -8,
    OAuthErrorCodeSafariOpenError = -9,
    OAuthErrorCodeBrowserOpenError = -10,
    OAuthErrorCodeIDTokenParsingError = -14,
    OAuthErrorCodeIDTokenFailedValidationError = -15,
    OAuthErrorCodeRedirectURIMismatch = -16,
    OAuthErrorCodeNoPendingFlow = -17,
};

// Codes of the authorization, token and registration domains.
enum OAuthErrorCodeOAuth : qint64 {
    OAuthErrorCodeOAuthInvalidRequest = -2,
    OAuthErrorCodeOAuthUnauthorizedClient = -3,
    OAuthErrorCodeOAuthAccessDenied = -4,
    OAuthErrorCodeOAuthUnsupportedResponseType = -5,
    OAuthErrorCodeOAuthInvalidScope = -6,
    OAuthErrorCodeOAuthServerError = -7,
    OAuthErrorCodeOAuthTemporarilyUnavailable = -8,
    OAuthErrorCodeOAuthInvalidClient = -9,
    OAuthErrorCodeOAuthInvalidGrant = -10,
    OAuthErrorCodeOAuthUnsupportedGrantType = -11,
    OAuthErrorCodeOAuthClientError = -61439,
    OAuthErrorCodeOAuthOther = -61440,
};

namespace OAuthErrorUtilities {

// An error of the general domain.
DomainError errorWithCode(qint64 code, const std::optional<DomainError>& underlying,
                         const std::optional<QString>& description);

bool isOAuthErrorDomain(const QString& domain);

// The OAuth error for an error response (the redirect's parameters or the token endpoint's JSON
// object) in one of the OAuth domains; general error -5 when there is no usable response.
DomainError OAuthErrorWithDomain(const QString& domain, const std::optional<QJsonObject>& response,
                                const std::optional<DomainError>& underlying);

// Domain "Kovani.OAuth.remote-http", the status as code, the body as description when it is UTF-8.
DomainError HTTPErrorWithHTTPResponse(int statusCode, const QByteArray& data);

qint64 OAuthErrorCodeFromString(const QString& errorCode);

// Throws an OAuthException whose name and reason are `message`.
[[noreturn]] void raiseException(const QString& message);
[[noreturn]] void raiseException(const QString& name, const QString& message);

} // namespace OAuthErrorUtilities

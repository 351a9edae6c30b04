#pragma once

#include "oauth/KeyedArchive.h"
#include "oauth/OAuthAuthorizationResponse.h"
#include "oauth/OAuthTokenResponse.h"
#include "platform/DomainError.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>

class OAuthState;

// Told after every change of an OAuthState.
class OAuthStateChangeDelegate {
public:
    virtual ~OAuthStateChangeDelegate() = default;
    virtual void didChangeState(OAuthState* state) = 0;
};

// The running record of one user's OAuth session. Used on the main thread; not locked.
class OAuthState : public ArchivableObject {
public:
    static inline const QString ArchiveClassName = QStringLiteral("OAuthState");

    explicit OAuthState(OAuthAuthorizationResponsePtr authorizationResponse,
                        OAuthTokenResponsePtr tokenResponse = nullptr);

    void updateWithAuthorizationResponse(const OAuthAuthorizationResponsePtr& response,
                                         const std::optional<DomainError>& error);
    void updateWithTokenResponse(const OAuthTokenResponsePtr& response, const std::optional<DomainError>& error);
    void updateWithAuthorizationError(const DomainError& error);

    // Throws OAuthException when no refresh token is stored.
    OAuthTokenRequestPtr tokenRefreshRequestWithAdditionalParameters(
        const std::optional<OAuthTokenRequest::StringMap>& additionalParameters) const;

    // Absent while an authorization error is recorded; else from the last token response when
    // there is one, else from the last authorization response.
    std::optional<QString> accessToken() const;
    std::optional<QDateTime> accessTokenExpirationDate() const;
    std::optional<QString> idToken() const;
    bool isAuthorized() const;

    bool needsTokenRefresh() const { return m_needsTokenRefresh; }
    const std::optional<QString>& refreshToken() const { return m_refreshToken; }
    const std::optional<QString>& scope() const { return m_scope; }
    const OAuthAuthorizationResponsePtr& lastAuthorizationResponse() const { return m_lastAuthorizationResponse; }
    const OAuthTokenResponsePtr& lastTokenResponse() const { return m_lastTokenResponse; }
    const std::optional<DomainError>& authorizationError() const { return m_authorizationError; }

    // Held weakly.
    void setStateChangeDelegate(std::weak_ptr<OAuthStateChangeDelegate> delegate) { m_delegate = std::move(delegate); }
    std::shared_ptr<OAuthStateChangeDelegate> stateChangeDelegate() const { return m_delegate.lock(); }

    QString archiveClassName() const override { return ArchiveClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    static std::shared_ptr<OAuthState> initWithCoder(KeyedUnarchiver& coder);

private:
    OAuthState() = default;
    void didChangeState();

    bool m_needsTokenRefresh = false;
    std::optional<QString> m_refreshToken;
    std::optional<QString> m_scope;
    OAuthAuthorizationResponsePtr m_lastAuthorizationResponse;
    OAuthTokenResponsePtr m_lastTokenResponse;
    std::optional<DomainError> m_authorizationError;
    std::weak_ptr<OAuthStateChangeDelegate> m_delegate;
};

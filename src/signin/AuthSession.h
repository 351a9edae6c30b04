#pragma once

#include "oauth/KeyedArchive.h"
#include "oauth/OAuthState.h"

#include <QString>

#include <memory>
#include <optional>

// One OAuth state with the identity of its user, as kept in the keychain.
class AuthSession : public ArchivableObject {
public:
    static inline const QString ArchiveClassName = QStringLiteral("AuthSession");
    // The class name the keychain archive records for a session.
    static inline const QString StoredClassName = QStringLiteral("OAuthFetcherAuthorization");

    explicit AuthSession(std::shared_ptr<OAuthState> authState);
    // The ID token's "sub", "email" and "email_verified" (when texts) take precedence over the
    // given identity.
    AuthSession(std::shared_ptr<OAuthState> authState, std::optional<QString> serviceProvider,
                std::optional<QString> userID, std::optional<QString> userEmail,
                std::optional<QString> userEmailIsVerified);

    const std::shared_ptr<OAuthState>& authState() const { return m_authState; }
    const std::optional<QString>& serviceProvider() const { return m_serviceProvider; }
    const std::optional<QString>& userID() const { return m_userID; }
    const std::optional<QString>& userEmail() const { return m_userEmail; }
    const std::optional<QString>& userEmailIsVerified() const { return m_userEmailIsVerified; }
    bool shouldAuthorizeAllRequests() const { return false; }

    QString archiveClassName() const override { return ArchiveClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    // Nothing without an "authState".
    static std::shared_ptr<AuthSession> initWithCoder(KeyedUnarchiver& coder);

private:
    std::shared_ptr<OAuthState> m_authState;
    std::optional<QString> m_serviceProvider;
    std::optional<QString> m_userID;
    std::optional<QString> m_userEmail;
    std::optional<QString> m_userEmailIsVerified;
};

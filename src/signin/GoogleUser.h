#pragma once

#include "oauth/OAuthState.h"
#include "signin/AuthSession.h"
#include "signin/ProfileData.h"
#include "signin/SignInToken.h"

#include <functional>
#include <memory>
#include <vector>

// The signed-in Google user: profile and tokens, which follow every change of its OAuth state.
// Make it with create(): the state keeps the user as its (weak) change delegate.
class GoogleUser : public OAuthStateChangeDelegate, public std::enable_shared_from_this<GoogleUser> {
public:
    static std::shared_ptr<GoogleUser> create(std::shared_ptr<OAuthState> authState,
                                              std::shared_ptr<const ProfileData> profileData);

    const std::shared_ptr<const ProfileData>& profile() const { return m_profile; }
    const std::shared_ptr<const SignInToken>& accessToken() const { return m_accessToken; }
    const std::shared_ptr<const SignInToken>& refreshToken() const { return m_refreshToken; }
    const std::shared_ptr<const SignInToken>& idToken() const { return m_idToken; }
    const std::shared_ptr<AuthSession>& fetcherAuthorizer() const { return m_fetcherAuthorizer; }

    void updateTokensWithAuthState(const OAuthState& authState);
    void didChangeState(OAuthState* state) override;

private:
    GoogleUser() = default;

    std::vector<std::function<void()>> m_tokenRefreshHandlerQueue;
    std::shared_ptr<const ProfileData> m_profile;
    std::shared_ptr<const SignInToken> m_accessToken;
    std::shared_ptr<const SignInToken> m_refreshToken;
    std::shared_ptr<const SignInToken> m_idToken;
    std::shared_ptr<AuthSession> m_fetcherAuthorizer;
};

// The outcome of one sign-in.
struct SignInResult {
    std::shared_ptr<GoogleUser> user;
    std::optional<QString> serverAuthCode;
};

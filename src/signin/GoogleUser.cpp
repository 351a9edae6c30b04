#include "signin/GoogleUser.h"

#include "oauth/OAuthIDToken.h"

namespace {

// Replaces `stored` unless the new token equals it (an absent stored token never does).
void replaceUnlessEqual(std::shared_ptr<const SignInToken>& stored, std::shared_ptr<const SignInToken> fresh)
{
    if (stored && stored->isEqualToToken(fresh.get()))
        return;
    stored = std::move(fresh);
}

} // namespace

std::shared_ptr<GoogleUser> GoogleUser::create(std::shared_ptr<OAuthState> authState,
                                               std::shared_ptr<const ProfileData> profileData)
{
    std::shared_ptr<GoogleUser> user(new GoogleUser());
    user->m_profile = std::move(profileData);
    user->m_fetcherAuthorizer = std::make_shared<AuthSession>(authState);
    if (authState) {
        authState->setStateChangeDelegate(user);
        user->updateTokensWithAuthState(*authState);
    }
    return user;
}

void GoogleUser::updateTokensWithAuthState(const OAuthState& authState)
{
    const OAuthTokenResponsePtr& response = authState.lastTokenResponse();
    replaceUnlessEqual(m_accessToken,
                       std::make_shared<const SignInToken>(response ? response->accessToken() : std::nullopt,
                                                           response ? response->accessTokenExpirationDate() : std::nullopt));

    std::optional<QDateTime> refreshExpiry;
    if (response) {
        const QJsonValue expiresIn = response->additionalParameters().value(QStringLiteral("refresh_token_expires_in"));
        if (expiresIn.isDouble())
            refreshExpiry = QDateTime::currentDateTimeUtc().addMSecs(qint64(expiresIn.toDouble() * 1000.0));
    }
    replaceUnlessEqual(m_refreshToken, std::make_shared<const SignInToken>(authState.refreshToken(), refreshExpiry));

    std::shared_ptr<const SignInToken> idToken;
    if (response && response->idToken()) {
        std::optional<QDateTime> expiry;
        if (const OAuthIDTokenPtr parsed = OAuthIDToken::initWithIDTokenString(*response->idToken()))
            expiry = parsed->expiresAt();
        idToken = std::make_shared<const SignInToken>(response->idToken(), expiry);
    }
    if (!m_idToken && !idToken)
        return;
    if (m_idToken && idToken && m_idToken->isEqualToToken(idToken.get()))
        return;
    m_idToken = std::move(idToken);
}

void GoogleUser::didChangeState(OAuthState* state)
{
    if (state)
        updateTokensWithAuthState(*state);
}

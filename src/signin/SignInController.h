#pragma once

#include "oauth/OAuthAuthorizationRequest.h"
#include "oauth/OAuthAuthorizationResponse.h"
#include "oauth/OAuthServiceConfiguration.h"
#include "oauth/OAuthState.h"
#include "oauth/OAuthTokenRequest.h"
#include "oauth/OAuthTokenResponse.h"
#include "platform/DomainError.h"
#include "signin/GoogleUser.h"
#include "signin/KeychainStore.h"
#include "signin/SignInCallbackQueue.h"
#include "signin/SignInConfiguration.h"
#include "signin/SignInPreferences.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

class UserDefaults;

inline const QString kSignInErrorDomain = QStringLiteral("Kovani.SignIn");

enum SignInErrorCode : qint64 {
    kSignInErrorCodeUnknown = -1,
    kSignInErrorCodeKeychain = -2,
    kSignInErrorCodeHasNoAuthInKeychain = -4,
    kSignInErrorCodeCanceled = -5,
};

// A packaging or programming fault found before a sign-in starts (no configuration, no client
// ID, no window, redirect scheme not registered). Nothing is shown and no completion is called.
class SignInException : public std::invalid_argument {
public:
    explicit SignInException(const QString& reason)
        : std::invalid_argument(reason.toStdString()), m_reason(reason)
    {
    }
    const QString& reason() const { return m_reason; }

private:
    QString m_reason;
};

// The state of one sign-in after the browser step.
class SignInAuthFlow : public SignInCallbackQueue {
public:
    std::shared_ptr<OAuthState> authState;
    std::optional<DomainError> error;
    std::optional<QString> emmSupport;
    std::shared_ptr<const ProfileData> profileData;
};

// The process-wide Google sign-in: one interactive authorization-code flow with PKCE, the
// profile from the ID token or the user-information endpoint, the OAuth session kept in the
// keychain, and the result on the main thread. Main thread only.
class SignInController {
public:
    using Completion = std::function<void(const std::optional<SignInResult>& result, const std::optional<DomainError>& error)>;
    using AuthorizationCallback = std::function<void(OAuthAuthorizationResponsePtr, std::optional<DomainError>)>;
    using TokenCallback = std::function<void(OAuthTokenResponsePtr, std::optional<DomainError>)>;

    // Where the controller finds its bundle, defaults, keychain and provider.
    struct Environment {
        QString infoPlistPath;        // the bundle's Contents/Info.plist
        QString userDefaultsFile;
        SignInPreferences preferences;
        std::shared_ptr<KeychainStore> keychainStore;
        // The browser step and the code exchange (the OAuth client's).
        std::function<std::shared_ptr<void>(OAuthAuthorizationRequestPtr, QWidget*, AuthorizationCallback)> presentAuthorizationRequest;
        std::function<void(OAuthTokenRequestPtr, OAuthAuthorizationResponsePtr, TokenCallback)> performTokenRequest;

        // The application's: this bundle, the standard defaults, item "auth", the provider's
        // hosts (or their environment overrides).
        static Environment standard();
    };

    static SignInController& sharedInstance();

    explicit SignInController(Environment environment);
    ~SignInController();
    SignInController(const SignInController&) = delete;
    SignInController& operator=(const SignInController&) = delete;

    std::shared_ptr<const SignInConfiguration> configuration() const { return m_configuration; }
    void setConfiguration(std::shared_ptr<const SignInConfiguration> configuration) { m_configuration = std::move(configuration); }
    std::shared_ptr<GoogleUser> currentUser() const { return m_currentUser; }
    void setCurrentUser(std::shared_ptr<GoogleUser> user) { m_currentUser = std::move(user); }

    // Throws SignInException for the packaging faults above; otherwise the completion is
    // called once, later, on the main thread.
    void signInWithPresentingWindow(QWidget* window, Completion completion);
    // Forgets the current user and deletes the stored session (its outcome is not reported).
    void signOut();

    // ---- Parts of the flow, exposed for their tests ----------------------------------------
    const OAuthServiceConfigurationPtr& oauthConfiguration() const { return m_oauthConfiguration; }
    QUrl redirectURL(const SignInConfiguration& configuration) const;
    OAuthAuthorizationRequest::StringMap additionalParameters(const SignInConfiguration& configuration) const;
    OAuthTokenRequest::StringMap tokenParameters(const SignInConfiguration& configuration) const;
    static std::shared_ptr<const ProfileData> profileDataWithIDToken(const QString& idToken);
    static DomainError errorWithString(const std::optional<QString>& text, qint64 code);
    // Runs after every keychain job of this controller so far has ended (tests).
    void whenKeychainIdle(std::function<void()> done);

private:
    struct Options {
        bool interactive = true;
        std::shared_ptr<const SignInConfiguration> configuration;
        QPointer<QWidget> presentingWindow;
        Completion completion;
        QStringList scopes;
        std::optional<QString> loginHint;
        std::optional<QString> nonce;
        std::optional<QString> claimsAsJSON;
        std::optional<QMap<QString, QString>> extraParams;
    };

    bool isFreshInstall();
    void removeAllKeychainEntries();
    void signInWithOptions(const std::shared_ptr<Options>& options);
    void assertValidParameters(const Options& options) const;
    void authenticateInteractively(const std::shared_ptr<Options>& options);
    void processAuthorizationResponse(const OAuthAuthorizationResponsePtr& response, const std::optional<DomainError>& error);
    void maybeFetchToken(const std::shared_ptr<SignInAuthFlow>& flow);
    void addDecodeIdTokenCallback(const std::shared_ptr<SignInAuthFlow>& flow);
    void addSaveAuthCallback(const std::shared_ptr<SignInAuthFlow>& flow);
    void addCompletionCallback(const std::shared_ptr<SignInAuthFlow>& flow);
    void runOnKeychainQueue(std::function<void()> work);

    Environment m_environment;
    std::unique_ptr<UserDefaults> m_userDefaults;
    std::shared_ptr<Options> m_currentOptions;
    OAuthServiceConfigurationPtr m_oauthConfiguration;
    std::shared_ptr<void> m_currentAuthorizationFlow;
    std::shared_ptr<KeychainStore> m_keychainStore;
    std::shared_ptr<GoogleUser> m_currentUser;
    std::shared_ptr<const SignInConfiguration> m_configuration;
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
};

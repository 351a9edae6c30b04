#include "app/AppModel.h"

#include "account/APIClient.h"
#include "account/APIRecords.h"
#include "platform/Dispatch.h"
#include "oauth/OAuthException.h"
#include "signin/GoogleOAuthConfig.h"
#include "signin/GoogleTokenCheck.h"
#include "signin/SignInController.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace {

const QString kKeychainText =
    QStringLiteral("Google could not save its secure session in Keychain. Please update Kovani and try again.");
const QString kNoSessionText = QStringLiteral("No previous Google session exists on this Mac. Please select an account.");
const QString kCancelledText = QStringLiteral("Google login was cancelled.");

QString describe(const DomainError& error)
{
    if (!error.localizedDescription.isEmpty())
        return error.localizedDescription;
    return QStringLiteral("The operation couldn't be completed. (%1 error %2.)").arg(error.domain).arg(error.code);
}

QString signInErrorText(const DomainError& error)
{
    if (error.domain == kSignInErrorDomain) {
        switch (error.code) {
        case kSignInErrorCodeKeychain:
            return kKeychainText;
        case kSignInErrorCodeHasNoAuthInKeychain:
            return kNoSessionText;
        case kSignInErrorCodeCanceled:
            return kCancelledText;
        default:
            break;
        }
    }
    return QStringLiteral("Google sign-in error (%1): %2").arg(error.code).arg(describe(error));
}

// The application window a window belongs to: a sheet or panel gives the window it is over.
QWidget* applicationWindow(QWidget* window)
{
    while (window && window->parentWidget())
        window = window->parentWidget()->window();
    return window;
}

// The key window, else the first window, else none; always the application's own window, never
// a sheet over it (the login sheet is dismissed, and deleted, as soon as its button is pressed,
// and would take the browser panel with it).
QWidget* presentingWindow()
{
    if (QWidget* active = QApplication::activeWindow())
        return applicationWindow(active);
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isWindow() && widget->isVisible())
            return applicationWindow(widget);
    return nullptr;
}

} // namespace

std::optional<GoogleOAuthConfig> AppModel::googleOAuthConfig() const
{
    return GoogleOAuthConfig::fromResources(m_platform.resourcesDir);
}

void AppModel::continueWithGoogle()
{
    const std::optional<GoogleOAuthConfig> config = googleOAuthConfig();
    if (!config) {
        setStatusMessage(QStringLiteral("GoogleService-Info.plist is missing CLIENT_ID / REVERSED_CLIENT_ID. "
                                        "Download the iOS OAuth plist for bundle %1.")
                             .arg(APIClient::bundleIdentifier()));
        return;
    }
    QWidget* window = presentingWindow();
    if (!window) {
        setStatusMessage(QStringLiteral("Google login could not find the Kovani window. Close and reopen the login form."));
        return;
    }
    SignInController& controller = SignInController::sharedInstance();
    if (const std::optional<QString> server = config->usableServerClientId())
        controller.setConfiguration(std::make_shared<const SignInConfiguration>(config->clientId, server));
    else
        controller.setConfiguration(std::make_shared<const SignInConfiguration>(config->clientId));
    setStatusMessage(QStringLiteral("Opening Google login..."));

    QPointer<AppModel> model(this);
    const GoogleOAuthConfig kept = *config;
    try {
        controller.signInWithPresentingWindow(window, [model, kept](const std::optional<SignInResult>& result,
                                                                    const std::optional<DomainError>& error) {
            Dispatch::main([model, kept, result, error]() {
                if (model)
                    model->applyGoogleSignInResult(kept, result, error);
            });
        });
    } catch (const SignInException& e) {
        // A packaging fault: reported, never thrown into the event loop.
        setStatusMessage(QStringLiteral("Google sign-in error: ") + e.reason());
    } catch (const OAuthException& e) {
        setStatusMessage(QStringLiteral("Google sign-in error: ") + e.reason());
    }
}

void AppModel::applyGoogleSignInResult(const GoogleOAuthConfig& config, const std::optional<SignInResult>& result,
                                       const std::optional<DomainError>& error)
{
    if (error) {
        setStatusMessage(signInErrorText(*error));
        return;
    }
    const std::shared_ptr<GoogleUser> user = result ? result->user : nullptr;
    const std::shared_ptr<const SignInToken> idToken = user ? user->idToken() : nullptr;
    const QString token = idToken ? idToken->tokenString().value_or(QString()) : QString();
    if (token.isEmpty()) {
        setStatusMessage(QStringLiteral("Google sign-in did not return an ID token. Check the OAuth client configuration in Google Cloud."));
        return;
    }
    if (!validateGoogleTokenForBackend(token, config.expectedAudience()))
        return;
    const std::optional<QString> name = user->profile() ? user->profile()->name() : std::nullopt;
    setStatusMessage(QStringLiteral("Signing in with backend..."));
    loginWithGoogleIdToken(token, name);
}

bool AppModel::validateGoogleTokenForBackend(const QString& idToken, const QString& expectedAudience)
{
    if (const std::optional<QString> failure =
            GoogleTokenCheck::failure(idToken, expectedAudience, QDateTime::currentDateTimeUtc())) {
        setStatusMessage(*failure);
        return false;
    }
    return true;
}

void AppModel::loginWithGoogleIdToken(const QString& idToken, const std::optional<QString>& name)
{
    GoogleRequest request{idToken, deviceId(), QStringLiteral("macos"), APIClient::bundleIdentifier(), name};
    QPointer<AppModel> model(this);
    const quint64 generation = m_signOutGeneration;
    accountAPI().post<AuthResponse>(
        QStringLiteral("auth/google"), std::nullopt, request, [model, generation](const APIResult<AuthResponse>& result) {
            Dispatch::main([model, generation, result]() {
                // A reply to a request made before a logout changes nothing.
                if (!model || model->m_signOutGeneration != generation)
                    return;
                if (result.succeeded()) {
                    model->applyAuth(result.value(), QStringLiteral("google"));
                    model->setStatusMessage(QStringLiteral("Signed in with Google."));
                } else {
                    model->setStatusMessage(QStringLiteral("Google API error: ") + result.error().localizedDescription);
                }
            });
        });
}

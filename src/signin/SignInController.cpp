#include "signin/SignInController.h"

#include "account/GoogleSignOut.h"
#include "oauth/OAuthAuthorizationService.h"
#include "oauth/OAuthIDToken.h"
#include "oauth/OAuthURLQueryComponent.h"
#include "platform/Dispatch.h"
#include "platform/Platform.h"
#include "platform/UserDefaults.h"
#include "signin/PropertyList.h"
#include "signin/SessionFetcher.h"
#include "signin/SignInCallbackSchemes.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QThreadPool>

namespace {

const QString kAppHasRunBeforeKey = QStringLiteral("SignIn_AppHasRunBefore");
const QString kDataProtectedMigrationKey = QStringLiteral("SignIn_DataProtectedMigrationCheckPerformed");
const QString kCallbackPath = QStringLiteral("/oauth2callback");
const QString kUserCanceledText = QStringLiteral("The user canceled the sign-in flow.");
// Seconds of validity below which a stored access token is fetched again.
constexpr qint64 kMinimumTokenLifetime = 600;

// One keychain job after the other, off the main thread; never destroyed.
QThreadPool* keychainQueue()
{
    static QThreadPool* pool = []() {
        auto* p = new QThreadPool();
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
        return p;
    }();
    return pool;
}

QVariantMap infoDictionary(const QString& path)
{
    const std::optional<QVariant> plist = PropertyList::readFile(path);
    return plist && plist->typeId() == QMetaType::QVariantMap ? plist->toMap() : QVariantMap();
}

std::optional<QString> textValue(const QVariantMap& map, const QString& key)
{
    const QVariant value = map.value(key);
    return value.typeId() == QMetaType::QString ? std::optional<QString>(value.toString()) : std::nullopt;
}

std::optional<QString> jsonText(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

std::optional<QUrl> jsonURL(const QJsonObject& object, const char* key)
{
    const std::optional<QString> text = jsonText(object, key);
    if (!text)
        return std::nullopt;
    const QUrl url(*text);
    return url.isValid() ? std::optional<QUrl>(url) : std::nullopt;
}

bool nonEmpty(const std::optional<QString>& text)
{
    return text && !text->isEmpty();
}

} // namespace

// ---- Creation ------------------------------------------------------------------------------

SignInController::Environment SignInController::Environment::standard()
{
    Environment environment;
    environment.infoPlistPath = Platform::defaultResourcesDir() + QStringLiteral("/../Info.plist");
    environment.userDefaultsFile = Platform().userDefaultsFile;
    environment.preferences = SignInPreferences::fromEnvironment();
    environment.keychainStore = std::make_shared<KeychainStore>(
        QStringLiteral("auth"), KeychainAttributes{KeychainAttribute::useFileBasedKeychain()});
    environment.presentAuthorizationRequest = [](OAuthAuthorizationRequestPtr request, QWidget* window,
                                                 AuthorizationCallback callback) -> std::shared_ptr<void> {
        return OAuthAuthorizationService::presentAuthorizationRequest(
            request, window, [callback](const OAuthAuthorizationResponsePtr& response, const std::optional<DomainError>& error) {
                callback(response, error);
            });
    };
    environment.performTokenRequest = [](OAuthTokenRequestPtr request, OAuthAuthorizationResponsePtr original,
                                         TokenCallback callback) {
        OAuthAuthorizationService::performTokenRequest(
            request, original, [callback](const OAuthTokenResponsePtr& response, const std::optional<DomainError>& error) {
                callback(response, error);
            });
    };
    return environment;
}

SignInController& SignInController::sharedInstance()
{
    static SignInController* shared = new SignInController(Environment::standard());
    return *shared;
}

SignInController::SignInController(Environment environment)
    : m_environment(std::move(environment)),
      m_userDefaults(std::make_unique<UserDefaults>(m_environment.userDefaultsFile)),
      m_keychainStore(m_environment.keychainStore)
{
    const QVariantMap info = infoDictionary(m_environment.infoPlistPath);
    if (const std::optional<QString> clientID = textValue(info, QStringLiteral("SignInClientID")))
        m_configuration = std::make_shared<const SignInConfiguration>(
            *clientID, textValue(info, QStringLiteral("SignInServerClientID")),
            textValue(info, QStringLiteral("SignInHostedDomain")), textValue(info, QStringLiteral("SignInOpenIDRealm")));

    // An item left by an earlier installation is never kept.
    if (isFreshInstall())
        removeAllKeychainEntries();

    m_oauthConfiguration = std::make_shared<const OAuthServiceConfiguration>(
        m_environment.preferences.authorizationEndpoint(), m_environment.preferences.tokenEndpoint());

    // Nothing in the keychain needs moving here; the check is recorded as done.
    m_userDefaults->set(kDataProtectedMigrationKey, true);
}

SignInController::~SignInController() = default;

bool SignInController::isFreshInstall()
{
    if (m_userDefaults->boolean(kAppHasRunBeforeKey))
        return false;
    m_userDefaults->set(kAppHasRunBeforeKey, true);
    return true;
}

void SignInController::runOnKeychainQueue(std::function<void()> work)
{
    keychainQueue()->start(std::move(work));
}

void SignInController::removeAllKeychainEntries()
{
    std::shared_ptr<KeychainStore> store = m_keychainStore;
    if (!store)
        return;
    runOnKeychainQueue([store]() {
        DomainError ignored;
        store->removeAuthSession(&ignored);
    });
}

void SignInController::whenKeychainIdle(std::function<void()> done)
{
    std::weak_ptr<const bool> alive = m_alive;
    runOnKeychainQueue([alive, done = std::move(done)]() {
        Dispatch::main([alive, done]() {
            if (alive.lock())
                done();
        });
    });
}

// ---- Sign-in -------------------------------------------------------------------------------

void SignInController::signInWithPresentingWindow(QWidget* window, Completion completion)
{
    auto options = std::make_shared<Options>();
    options->interactive = true;
    options->configuration = m_configuration;
    options->presentingWindow = window;
    options->completion = std::move(completion);
    options->scopes = SignInScopes::scopesWithBasicProfile({});
    signInWithOptions(options);
}

void SignInController::signInWithOptions(const std::shared_ptr<Options>& options)
{
    m_currentOptions = options;
    assertValidParameters(*options);
    // No claims are ever requested, so there is no claims text to validate.
    authenticateInteractively(options);
}

void SignInController::assertValidParameters(const Options& options) const
{
    if (!m_configuration)
        throw SignInException(QStringLiteral("No active configuration. Make sure SignInClientID is set in Info.plist."));
    if (!options.configuration || options.configuration->clientID().isEmpty())
        throw SignInException(QStringLiteral("You must specify |clientID| in |SignInConfiguration|"));
    if (!options.presentingWindow)
        throw SignInException(QStringLiteral("|presentingViewController| must be set."));
    const SignInCallbackSchemes schemes(options.configuration->clientID());
    const QStringList missing = schemes.unsupportedSchemes(infoDictionary(m_environment.infoPlistPath));
    if (!missing.isEmpty())
        throw SignInException(QStringLiteral("Your app is missing support for the following URL schemes: %1")
                                  .arg(missing.join(QStringLiteral(", "))));
}

QUrl SignInController::redirectURL(const SignInConfiguration& configuration) const
{
    const SignInCallbackSchemes schemes(configuration.clientID());
    return QUrl(schemes.clientIdentifierScheme() + QLatin1Char(':') + kCallbackPath);
}

OAuthAuthorizationRequest::StringMap SignInController::additionalParameters(const SignInConfiguration& configuration) const
{
    OAuthAuthorizationRequest::StringMap parameters;
    parameters.insert(QStringLiteral("include_granted_scopes"), QStringLiteral("true"));
    if (nonEmpty(configuration.serverClientID()))
        parameters.insert(QStringLiteral("audience"), *configuration.serverClientID());
    if (m_currentOptions && m_currentOptions->loginHint)
        parameters.insert(QStringLiteral("login_hint"), *m_currentOptions->loginHint);
    if (nonEmpty(configuration.hostedDomain()))
        parameters.insert(QStringLiteral("hd"), *configuration.hostedDomain());
    if (m_currentOptions && m_currentOptions->claimsAsJSON)
        parameters.insert(QStringLiteral("claims"), *m_currentOptions->claimsAsJSON);
    if (m_currentOptions && m_currentOptions->extraParams)
        for (auto it = m_currentOptions->extraParams->cbegin(); it != m_currentOptions->extraParams->cend(); ++it)
            parameters.insert(it.key(), it.value());
    parameters.insert(QStringLiteral("gpsdk"), SignInVersion());
    parameters.insert(QStringLiteral("gidenv"), SignInEnvironment());
    return parameters;
}

OAuthTokenRequest::StringMap SignInController::tokenParameters(const SignInConfiguration& configuration) const
{
    OAuthTokenRequest::StringMap parameters;
    if (nonEmpty(configuration.serverClientID()))
        parameters.insert(QStringLiteral("audience"), *configuration.serverClientID());
    if (nonEmpty(configuration.openIDRealm()))
        parameters.insert(QStringLiteral("openid.realm"), *configuration.openIDRealm());
    parameters.insert(QStringLiteral("gpsdk"), SignInVersion());
    parameters.insert(QStringLiteral("gidenv"), SignInEnvironment());
    return parameters;
}

void SignInController::authenticateInteractively(const std::shared_ptr<Options>& options)
{
    const SignInConfiguration& configuration = *options->configuration;
    DomainError requestError;
    OAuthAuthorizationRequestPtr request;
    if (options->nonce)
        request = OAuthAuthorizationRequest::createWithNonce(m_oauthConfiguration, configuration.clientID(),
                                                             options->scopes, redirectURL(configuration),
                                                             QStringLiteral("code"), options->nonce,
                                                             additionalParameters(configuration), &requestError);
    else
        request = OAuthAuthorizationRequest::create(m_oauthConfiguration, configuration.clientID(), options->scopes,
                                                    redirectURL(configuration), QStringLiteral("code"),
                                                    additionalParameters(configuration), &requestError);
    if (!request) {
        // No secure random values: nothing is sent.
        processAuthorizationResponse(nullptr, requestError);
        return;
    }
    std::weak_ptr<const bool> alive = m_alive;
    if (!m_environment.presentAuthorizationRequest) {
        processAuthorizationResponse(nullptr, DomainError(QStringLiteral("Kovani.OAuth.general"), -10,
                                                          QStringLiteral("Unable to open the browser.")));
        return;
    }
    m_currentAuthorizationFlow = m_environment.presentAuthorizationRequest(
        request, options->presentingWindow.data(),
        [this, alive](OAuthAuthorizationResponsePtr response, std::optional<DomainError> error) {
            if (alive.lock())
                processAuthorizationResponse(response, error);
        });
}

DomainError SignInController::errorWithString(const std::optional<QString>& text, qint64 code)
{
    return DomainError(kSignInErrorDomain, code, text.value_or(QStringLiteral("Unknown error")));
}

void SignInController::processAuthorizationResponse(const OAuthAuthorizationResponsePtr& response,
                                                    const std::optional<DomainError>& error)
{
    auto flow = std::make_shared<SignInAuthFlow>();
    if (response && nonEmpty(response->authorizationCode())) {
        flow->authState = std::make_shared<OAuthState>(response);
        maybeFetchToken(flow);
    } else if (response) {
        const std::optional<QString> errorText = jsonText(response->additionalParameters(), "error");
        flow->error = errorWithString(errorText, errorText == QStringLiteral("access_denied") ? kSignInErrorCodeCanceled
                                                                                              : kSignInErrorCodeUnknown);
    } else if (error) {
        // Compared without the domain: the flow's own cancel codes and the provider's refusals.
        if (error->code == -3 || error->code == -4)
            flow->error = errorWithString(kUserCanceledText, kSignInErrorCodeCanceled);
        else
            flow->error = errorWithString(error->localizedDescription, kSignInErrorCodeUnknown);
    } else {
        flow->error = errorWithString(std::nullopt, kSignInErrorCodeUnknown);
    }
    addDecodeIdTokenCallback(flow);
    addSaveAuthCallback(flow);
    addCompletionCallback(flow);
}

void SignInController::maybeFetchToken(const std::shared_ptr<SignInAuthFlow>& flow)
{
    if (flow->error || !flow->authState)
        return;
    const OAuthTokenResponsePtr& last = flow->authState->lastTokenResponse();
    if (last && last->accessToken() && last->accessTokenExpirationDate()
        && QDateTime::currentDateTimeUtc().secsTo(*last->accessTokenExpirationDate()) > kMinimumTokenLifetime)
        return;
    const OAuthAuthorizationResponsePtr authorization = flow->authState->lastAuthorizationResponse();
    const std::shared_ptr<const SignInConfiguration> configuration =
        m_currentOptions && m_currentOptions->configuration ? m_currentOptions->configuration : m_configuration;
    const OAuthTokenRequestPtr request =
        authorization->tokenExchangeRequestWithAdditionalParameters(tokenParameters(*configuration));
    if (!m_environment.performTokenRequest) {
        flow->error = DomainError(QStringLiteral("Kovani.OAuth.general"), -5, QStringLiteral("No token endpoint client."));
        return;
    }
    flow->wait();
    m_environment.performTokenRequest(request, authorization,
                                      [flow](OAuthTokenResponsePtr response, std::optional<DomainError> error) {
                                          flow->authState->updateWithTokenResponse(response, error);
                                          flow->error = error;
                                          flow->next();
                                      });
}

std::shared_ptr<const ProfileData> SignInController::profileDataWithIDToken(const QString& idToken)
{
    const OAuthIDTokenPtr token = OAuthIDToken::initWithIDTokenString(idToken);
    if (!token)
        return nullptr;
    const QJsonObject& claims = token->claims();
    for (const char* key : {"picture", "name", "given_name", "family_name"})
        if (!claims.contains(QLatin1String(key)))
            return nullptr;
    return std::make_shared<const ProfileData>(jsonText(claims, "email"), jsonText(claims, "name"),
                                               jsonText(claims, "given_name"), jsonText(claims, "family_name"),
                                               jsonURL(claims, "picture"));
}

void SignInController::addDecodeIdTokenCallback(const std::shared_ptr<SignInAuthFlow>& flow)
{
    std::weak_ptr<SignInAuthFlow> weakFlow = flow;
    const QUrl userInfoEndpoint = m_environment.preferences.userInfoEndpoint();
    flow->addCallback([weakFlow, userInfoEndpoint]() {
        std::shared_ptr<SignInAuthFlow> flow = weakFlow.lock();
        if (!flow || !flow->authState || flow->error)
            return;
        const OAuthTokenResponsePtr& response = flow->authState->lastTokenResponse();
        const std::optional<QString> idTokenText = response ? response->idToken() : std::nullopt;
        OAuthIDTokenPtr idToken = idTokenText ? OAuthIDToken::initWithIDTokenString(*idTokenText) : nullptr;
        if (idToken)
            flow->profileData = profileDataWithIDToken(*idTokenText);
        if (flow->profileData)
            return;

        flow->wait();
        OAuthURLQueryComponent query;
        query.addParameter(QStringLiteral("access_token"), flow->authState->accessToken().value_or(QString()));
        auto fetcher = SessionFetcher::fetcherWithRequest(QNetworkRequest(query.URLByReplacingQueryInURL(userInfoEndpoint)));
        fetcher->setRetryEnabled(true);
        fetcher->setMaxRetryInterval(15.0);
        fetcher->setComment(QStringLiteral("SignInController: fetch basic profile info"));
        const std::optional<QString> email = idToken ? jsonText(idToken->claims(), "email") : std::nullopt;
        fetcher->beginFetchWithCompletionHandler(
            [flow, email](const std::optional<QByteArray>& data, const std::optional<DomainError>& error) {
                if (error) {
                    flow->error = error;
                } else if (data) {
                    const QJsonDocument document = QJsonDocument::fromJson(*data);
                    if (document.isObject()) {
                        const QJsonObject object = document.object();
                        flow->profileData = std::make_shared<const ProfileData>(
                            email, jsonText(object, "name"), jsonText(object, "given_name"),
                            jsonText(object, "family_name"), jsonURL(object, "picture"));
                    }
                }
                flow->next();
            });
    });
}

void SignInController::addSaveAuthCallback(const std::shared_ptr<SignInAuthFlow>& flow)
{
    std::weak_ptr<SignInAuthFlow> weakFlow = flow;
    std::weak_ptr<const bool> alive = m_alive;
    flow->addCallback([this, weakFlow, alive]() {
        std::shared_ptr<SignInAuthFlow> flow = weakFlow.lock();
        if (!flow || !flow->authState || flow->error)
            return;
        // The keychain blocks: the save runs on the keychain queue, the flow waits for it.
        flow->wait();
        auto session = std::make_shared<AuthSession>(flow->authState);
        std::shared_ptr<KeychainStore> store = m_keychainStore;
        runOnKeychainQueue([this, alive, flow, session, store]() {
            DomainError error;
            const bool saved = store && store->saveAuthSession(*session, &error);
            Dispatch::main([this, alive, flow, saved]() {
                if (!saved)
                    flow->error = errorWithString(QStringLiteral("keychain error"), kSignInErrorCodeKeychain);
                else if (alive.lock())
                    m_currentUser = GoogleUser::create(flow->authState, flow->profileData);
                flow->next();
            });
        });
    });
}

void SignInController::addCompletionCallback(const std::shared_ptr<SignInAuthFlow>& flow)
{
    std::weak_ptr<SignInAuthFlow> weakFlow = flow;
    std::weak_ptr<const bool> alive = m_alive;
    flow->addCallback([this, weakFlow, alive]() {
        std::shared_ptr<SignInAuthFlow> flow = weakFlow.lock();
        if (!flow || !alive.lock() || !m_currentOptions || !m_currentOptions->completion)
            return;
        Completion completion = std::move(m_currentOptions->completion);
        m_currentOptions.reset();
        if (flow->error) {
            const DomainError error = *flow->error;
            Dispatch::main([completion, error]() { completion(std::nullopt, error); });
            return;
        }
        SignInResult result;
        result.user = m_currentUser;
        if (flow->authState && flow->authState->lastTokenResponse()) {
            const QJsonValue code = flow->authState->lastTokenResponse()->additionalParameters().value(QStringLiteral("server_code"));
            if (code.isString())
                result.serverAuthCode = code.toString();
        }
        Dispatch::main([completion, result]() { completion(result, std::nullopt); });
    });
}

// ---- Sign-out ------------------------------------------------------------------------------

void SignInController::signOut()
{
    if (m_currentUser)
        m_currentUser.reset();
    removeAllKeychainEntries();
}

// Signing out of the account signs out of Google too.
namespace {
const bool kSignOutInstalled = GoogleSignOut::install([] { SignInController::sharedInstance().signOut(); });
} // namespace

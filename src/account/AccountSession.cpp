// Registration, e-mail login, the stored session (settings and keychain) and its restore.
#include "app/AppModel.h"

#include "platform/Dispatch.h"
#include "platform/Text.h"
#include "platform/UserDefaults.h"

#include <QPointer>
#include <QUuid>

namespace {

const QString kKeychainService = QStringLiteral("Kovani");
const QString kKeychainAccount = QStringLiteral("access_token");
const QString kDeviceIdKey = QStringLiteral("KovaniDeviceId");

void trace(const Platform& platform, const QString& step)
{
    if (platform.startupTrace)
        platform.startupTrace(step);
}

// accessToken when present (even empty), else token, else empty.
QString sessionToken(const AuthResponse& response)
{
    if (response.accessToken)
        return *response.accessToken;
    if (response.token)
        return *response.token;
    return QString();
}

} // namespace

APIClient& AppModel::accountAPI()
{
    APIClient& client = APIClient::shared();
    client.setBaseURL(m_platform.accountApiBaseURL);
    return client;
}

void AppModel::login(const QString& name, const QString& email, const QString& password, const QString& mode)
{
    const QString trimmedName = Text::trimmed(name);
    const QString trimmedEmail = Text::trimmed(email);
    const bool registering = mode == u"register";
    if (!isValidEmail(trimmedEmail)) {
        setStatusMessage(QStringLiteral("Email is not valid."));
        return;
    }
    if (registering && trimmedName.isEmpty()) {
        setStatusMessage(QStringLiteral("Full name is required."));
        return;
    }
    if (const std::optional<QString> problem = passwordValidationError(password)) {
        setStatusMessage(*problem);
        return;
    }
    setStatusMessage(registering ? QStringLiteral("Creating account...") : QStringLiteral("Signing in..."));

    AuthRequest request;
    if (registering)
        request.name = trimmedName;
    request.email = trimmedEmail;
    request.password = password;
    request.deviceId = deviceId();
    request.platform = QStringLiteral("macos");
    request.appId = APIClient::bundleIdentifier();

    QPointer<AppModel> weak(this);
    const quint64 generation = m_signOutGeneration;
    accountAPI().post<AuthResponse>(
        registering ? QStringLiteral("auth/register") : QStringLiteral("auth/login"), std::nullopt, request,
        [weak, generation, password, registering](const APIResult<AuthResponse>& result) {
            Dispatch::main([weak, generation, password, registering, result]() {
                AppModel* model = weak.data();
                if (!model || model->m_signOutGeneration != generation)
                    return;
                if (!result.succeeded()) {
                    model->setStatusMessage(QStringLiteral("API error: ") + result.error().localizedDescription);
                    return;
                }
                model->applyAuth(result.value(), QStringLiteral("email"));
                if (model->m_config.user) {
                    model->modifyConfig([&](AppConfig& c) { c.user->passwordHash = hash(password); });
                    model->saveConfig();
                }
                model->setStatusMessage(registering ? QStringLiteral("Account created.") : QStringLiteral("Signed in."));
            });
        });
}

void AppModel::applyAuth(const AuthResponse& response, const QString& provider)
{
    const QString token = sessionToken(response);
    UserProfile profile;
    profile.name = response.user.name;
    profile.email = response.user.email;
    profile.avatarInitials = initials(profile.name);
    profile.passwordHash = QString();
    profile.provider = provider;
    profile.apiToken = token;
    ++m_sessionGeneration;
    modifyConfig([&](AppConfig& c) { c.user = profile; });
    saveConfig();
    if (!token.isEmpty())
        writeSecureToken(token);
    autoStartPhpMyAdmin();
}

void AppModel::applyMe(const MeResponse& response, const QString& token, const QString& provider)
{
    UserProfile profile;
    profile.name = response.user.name;
    profile.email = response.user.email;
    profile.avatarInitials = initials(profile.name);
    profile.passwordHash = m_config.user ? m_config.user->passwordHash : QString();
    profile.provider = provider;
    profile.apiToken = token;
    modifyConfig([&](AppConfig& c) { c.user = profile; });
    saveConfig();
    autoStartPhpMyAdmin();
}

void AppModel::restoreSessionFromSecureToken()
{
    // Any sign-in or sign-out after this point makes the restore's outcome stale.
    const quint64 generation = m_sessionGeneration;
    trace(m_platform, QStringLiteral("readSecureToken"));
    if (m_platform.sessionToken) {
        restoreWithToken(m_platform.sessionToken(), generation);
        return;
    }
    QPointer<AppModel> weak(this);
    readSecureToken([weak, generation](const std::optional<QString>& token) {
        if (AppModel* model = weak.data())
            model->restoreWithToken(token, generation);
    });
}

void AppModel::restoreWithToken(const std::optional<QString>& token, quint64 generation)
{
    if (generation != m_sessionGeneration || !token || token->isEmpty())
        return;
    trace(m_platform, QStringLiteral("restoreSessionFromSecureToken"));
    QPointer<AppModel> weak(this);
    const QString sent = *token;
    accountAPI().get<MeResponse>(QStringLiteral("me"), sent, {}, [weak, generation, sent](const APIResult<MeResponse>& result) {
        Dispatch::main([weak, generation, sent, result]() {
            AppModel* model = weak.data();
            if (!model || model->m_sessionGeneration != generation)
                return;
            if (result.succeeded()) {
                const QString provider = model->m_config.user ? model->m_config.user->provider : QStringLiteral("email");
                model->applyMe(result.value(), sent, provider);
                model->setStatusMessage(QStringLiteral("Session restored."));
                return;
            }
            model->deleteSecureToken();
            model->modifyConfig([](AppConfig& c) { c.user.reset(); });
            model->saveConfig();
            model->setStatusMessage(QStringLiteral("Session expired. Please login again."));
        });
    });
}

// ---- Keychain item of the session token -------------------------------------------------------

void AppModel::readSecureToken(std::function<void(const std::optional<QString>&)> done)
{
    const quint64 generation = m_signOutGeneration;
    Keychain::read(kKeychainService, kKeychainAccount, this, [this, generation, done](const Keychain::Result& r) {
        if (r.status != Keychain::Status::ok) {
            if (r.status != Keychain::Status::notFound)
                reportKeychainFailure(QStringLiteral("Could not read the session token from the keychain: "), r, generation);
            done(std::nullopt);
            return;
        }
        done(Text::decodeUtf8(r.data));
    });
}

void AppModel::writeSecureToken(const QString& token)
{
    const quint64 generation = m_signOutGeneration;
    // At most one item: the old one goes first (a missing one is no failure).
    Keychain::remove(kKeychainService, kKeychainAccount, this);
    Keychain::write(kKeychainService, kKeychainAccount, token.toUtf8(), this, [this, generation](const Keychain::Result& r) {
        if (r.status != Keychain::Status::ok)
            reportKeychainFailure(QStringLiteral("Could not save the session token in the keychain: "), r, generation);
    });
}

void AppModel::deleteSecureToken()
{
    const quint64 generation = m_signOutGeneration;
    Keychain::remove(kKeychainService, kKeychainAccount, this, [this, generation](const Keychain::Result& r) {
        if (r.status != Keychain::Status::ok && r.status != Keychain::Status::notFound)
            reportKeychainFailure(QStringLiteral("Could not remove the session token from the keychain: "), r, generation);
    });
}

void AppModel::reportKeychainFailure(const QString& prefix, const Keychain::Result& result, quint64 generation)
{
    if (generation == m_signOutGeneration)
        setStatusMessage(prefix + result.error);
}

QString AppModel::deviceId()
{
    if (m_userDefaults->contains(kDeviceIdKey))
        return m_userDefaults->string(kDeviceIdKey);
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m_userDefaults->set(kDeviceIdKey, id);
    return id;
}

// Profile update, password change or set-up, and the password-reset e-mail.
#include "app/AppModel.h"

#include "platform/Dispatch.h"
#include "platform/Graphemes.h"
#include "platform/Text.h"

#include <QPointer>

void AppModel::updateUser(const QString& name, const QString& /*email: not sent*/)
{
    if (!m_config.user)
        return;
    const UserProfile copy = *m_config.user;
    UpdateProfileRequest request;
    request.name = name;
    QPointer<AppModel> weak(this);
    const quint64 generation = m_signOutGeneration;
    accountAPI().put<AuthResponse>(QStringLiteral("me"), copy.apiToken, request,
                                   [weak, generation, provider = copy.provider](const APIResult<AuthResponse>& result) {
        Dispatch::main([weak, generation, provider, result]() {
            AppModel* model = weak.data();
            if (!model || model->m_signOutGeneration != generation)
                return;
            if (!result.succeeded()) {
                model->setStatusMessage(QStringLiteral("Profile API error: ") + result.error().localizedDescription);
                return;
            }
            model->applyAuth(result.value(), provider);
            model->setStatusMessage(QStringLiteral("Profile updated."));
        });
    });
}

void AppModel::changePassword(const QString& currentPassword, const QString& newPassword)
{
    if (!m_config.user)
        return;
    const UserProfile& user = *m_config.user;
    const bool setup = user.provider == u"google" && user.passwordHash.isEmpty();
    if (!setup) {
        if (currentPassword.isEmpty()) {
            setStatusMessage(QStringLiteral("Current password is required."));
            return;
        }
        if (!user.passwordHash.isEmpty() && user.passwordHash != hash(currentPassword)) {
            setStatusMessage(QStringLiteral("Current password is incorrect."));
            return;
        }
    }
    // Characters as the user sees them.
    if (Graphemes::count(newPassword) < 6) {
        setStatusMessage(QStringLiteral("Password must be at least 6 characters."));
        return;
    }
    ChangePasswordRequest request;
    if (!setup)
        request.currentPassword = currentPassword;
    request.password = newPassword;
    QPointer<AppModel> weak(this);
    const quint64 generation = m_signOutGeneration;
    accountAPI().post<APIMessageResponse>(QStringLiteral("me/change-password"), user.apiToken, request,
                                          [weak, generation, setup, newPassword](const APIResult<APIMessageResponse>& result) {
        Dispatch::main([weak, generation, setup, newPassword, result]() {
            AppModel* model = weak.data();
            if (!model || model->m_signOutGeneration != generation)
                return;
            if (!result.succeeded()) {
                model->setStatusMessage(QStringLiteral("Password API error: ") + result.error().localizedDescription);
                return;
            }
            if (model->m_config.user) {
                model->modifyConfig([&](AppConfig& c) {
                    c.user->passwordHash = hash(newPassword);
                    c.user->provider = QStringLiteral("email");
                });
            }
            model->saveConfig();
            model->setStatusMessage(setup ? QStringLiteral("Password set up.") : QStringLiteral("Password changed."));
        });
    });
}

void AppModel::sendPasswordReset(const QString& email)
{
    const QString trimmed = Text::trimmed(email);
    if (!isValidEmail(trimmed)) {
        setStatusMessage(QStringLiteral("Enter a valid email before requesting password reset."));
        return;
    }
    setStatusMessage(QStringLiteral("Sending password reset email..."));
    PasswordResetRequest request;
    request.email = trimmed;
    request.appId = APIClient::bundleIdentifier();
    QPointer<AppModel> weak(this);
    accountAPI().post<APIMessageResponse>(QStringLiteral("password/email"), std::nullopt, request,
                                          [weak](const APIResult<APIMessageResponse>& result) {
        Dispatch::main([weak, result]() {
            AppModel* model = weak.data();
            if (!model)
                return;
            if (result.succeeded())
                model->setStatusMessage(result.value().message);
            else
                model->setStatusMessage(QStringLiteral("Password reset API error: ") + result.error().localizedDescription);
        });
    });
}

#pragma once

#include "app/AppConfig.h"

#include <QWidget>

#include <functional>
#include <optional>

class AppModel;
class Avatar;
class PasswordField;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class StatusPill;

// The account section's page: the signed-in profile (name, e-mail, provider, name and password
// changes, logout) or, for nobody, the guest box with "Login / Register". Every button calls one
// model operation; outcomes show in the footer.
class UserPage : public QWidget {
    Q_OBJECT

public:
    UserPage(AppModel& model, std::function<void()> showLogin, QWidget* parent = nullptr);

    // The page's own text states.
    const QString& name() const { return m_name; }
    const QString& email() const { return m_email; }
    const QString& currentPassword() const { return m_currentPassword; }
    const QString& password() const { return m_password; }

    // Widgets of the layout shown (null when not shown).
    QGroupBox* profileBox() const { return m_profileBox; }
    QGroupBox* guestBox() const { return m_guestBox; }
    QLineEdit* nameField() const { return m_nameField; }
    QLineEdit* emailField() const { return m_emailField; }
    PasswordField* currentPasswordField() const { return m_currentField; }
    PasswordField* newPasswordField() const { return m_newField; }
    QPushButton* updateButton() const { return m_updateButton; }
    QPushButton* passwordButton() const { return m_passwordButton; }
    QPushButton* logoutButton() const { return m_logoutButton; }
    QPushButton* loginButton() const { return m_loginButton; }
    StatusPill* providerPill() const { return m_pill; }
    QLabel* nameLabel() const { return m_nameLabel; }
    QLabel* emailLabel() const { return m_emailLabel; }

    // A Google user who has no local password yet.
    static bool isSetupMode(const UserProfile& user);

private:
    void sync();
    void buildProfile(const UserProfile& user);
    void buildGuest();
    void buildActionRow(const UserProfile& user);
    void refreshProfile(const UserProfile& user);
    void clearTop();

    AppModel& m_model;
    std::function<void()> m_showLogin;
    QString m_name;
    QString m_email;
    QString m_currentPassword;
    QString m_password;

    QVBoxLayout* m_layout = nullptr;
    QVBoxLayout* m_top = nullptr;
    std::optional<bool> m_shownSetupMode; // of the action row built
    bool m_showingProfile = false;
    bool m_built = false;

    QGroupBox* m_profileBox = nullptr;
    QGroupBox* m_guestBox = nullptr;
    Avatar* m_avatar = nullptr;
    QLabel* m_nameLabel = nullptr;
    QLabel* m_emailLabel = nullptr;
    StatusPill* m_pill = nullptr;
    QLineEdit* m_nameField = nullptr;
    QLineEdit* m_emailField = nullptr;
    QHBoxLayout* m_actionRow = nullptr;
    PasswordField* m_currentField = nullptr;
    PasswordField* m_newField = nullptr;
    QPushButton* m_updateButton = nullptr;
    QPushButton* m_passwordButton = nullptr;
    QPushButton* m_logoutButton = nullptr;
    QPushButton* m_loginButton = nullptr;
};

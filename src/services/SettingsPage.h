#pragma once

#include <QWidget>

class AppModel;
class ElidedLabel;
class PasswordField;
class QComboBox;
class QLabel;
class QPushButton;
class StatusPill;

// The settings page: the PHP runtime, the shared MySQL server and phpMyAdmin with its login.
// Every change goes through the model; the page keeps only the two password fields.
class SettingsPage : public QWidget {
    Q_OBJECT

public:
    explicit SettingsPage(AppModel& model, QWidget* parent = nullptr);

    QComboBox* phpPicker() const { return m_picker; }
    QPushButton* refreshPHPButton() const { return m_refreshPHP; }
    QLabel* selectedPHPLabel() const { return m_selectedPHP; }
    QLabel* builtInPHPLabel() const { return m_builtInPHP; }
    StatusPill* databasePill() const { return m_pill; }
    ElidedLabel* databaseStatusLabel() const { return m_databaseStatus; }
    QPushButton* checkDatabaseButton() const { return m_checkDatabase; }
    ElidedLabel* phpMyAdminRootLabel() const { return m_phpMyAdminRoot; }
    QLabel* urlValue() const { return m_url; }
    QLabel* serverValue() const { return m_server; }
    QLabel* usernameValue() const { return m_username; }
    QLabel* passwordValue() const { return m_password; }
    PasswordField* currentPasswordField() const { return m_currentPassword; }
    PasswordField* newPasswordField() const { return m_newPassword; }
    QPushButton* changePasswordButton() const { return m_changePassword; }
    QPushButton* openPhpMyAdminButton() const { return m_openPhpMyAdmin; }
    QLabel* installedLabel() const { return m_installed; }

    QString currentMySQLPassword() const { return m_currentMySQLPassword; }
    QString newMySQLPassword() const { return m_newMySQLPassword; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshPHP();
    void refreshDatabase();
    void refreshPhpMyAdmin();
    void refreshChangeButton();
    void changePassword();

    AppModel& m_model;
    QString m_currentMySQLPassword;
    QString m_newMySQLPassword;

    QComboBox* m_picker = nullptr;
    QPushButton* m_refreshPHP = nullptr;
    QLabel* m_selectedPHP = nullptr;
    QLabel* m_builtInPHP = nullptr;
    StatusPill* m_pill = nullptr;
    ElidedLabel* m_databaseStatus = nullptr;
    QPushButton* m_checkDatabase = nullptr;
    ElidedLabel* m_phpMyAdminRoot = nullptr;
    QLabel* m_url = nullptr;
    QLabel* m_server = nullptr;
    QLabel* m_username = nullptr;
    QLabel* m_password = nullptr;
    PasswordField* m_currentPassword = nullptr;
    PasswordField* m_newPassword = nullptr;
    QPushButton* m_changePassword = nullptr;
    QPushButton* m_openPhpMyAdmin = nullptr;
    QLabel* m_installed = nullptr;
};

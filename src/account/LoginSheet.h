#pragma once

#include <QDialog>

class AppModel;
class PasswordField;
class QLabel;
class QLineEdit;
class QPushButton;

// The sheet for logging in and registering, asking for a reset e-mail and starting the Google
// sign-in. It validates nothing itself and disables no button; confirming and "Continue with
// Google" close it at once, and the outcome shows in the footer. A new sheet opens in login mode
// with empty fields.
class LoginSheet : public QDialog {
    Q_OBJECT

public:
    explicit LoginSheet(AppModel& model, QWidget* parent = nullptr);

    bool isRegister() const { return m_isRegister; }
    void setRegister(bool isRegister);

    const QString& name() const { return m_name; }
    const QString& email() const { return m_email; }
    const QString& password() const { return m_password; }

    QLabel* titleLabel() const { return m_title; }
    QLineEdit* nameField() const { return m_nameField; }
    QLineEdit* emailField() const { return m_emailField; }
    PasswordField* passwordField() const { return m_passwordField; }
    QPushButton* switchButton() const { return m_switch; }
    QPushButton* forgotButton() const { return m_forgot; }
    QPushButton* googleButton() const { return m_google; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* confirmButton() const { return m_confirm; }

    // The name given to the model: the name field when not empty, else the e-mail up to its
    // first at sign (all of it without one).
    static QString nameToSend(const QString& name, const QString& email);

private:
    void confirm();
    void refreshMode();

    AppModel& m_model;
    bool m_isRegister = false;
    QString m_name;
    QString m_email;
    QString m_password;

    QLabel* m_title = nullptr;
    QLineEdit* m_nameField = nullptr;
    QLineEdit* m_emailField = nullptr;
    PasswordField* m_passwordField = nullptr;
    QPushButton* m_switch = nullptr;
    QPushButton* m_forgot = nullptr;
    QPushButton* m_google = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_confirm = nullptr;
};

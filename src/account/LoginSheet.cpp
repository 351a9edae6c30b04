#include "account/LoginSheet.h"

#include "app/AppModel.h"
#include "app/PageRegistry.h"
#include "app/PasswordField.h"
#include "app/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const bool registered = PageRegistry::setSheet(SheetKind::login, [](AppModel& model, QWidget* parent) -> QDialog* {
    return new LoginSheet(model, parent);
});

QPushButton* button(const QString& title = QString())
{
    auto* b = new QPushButton(title);
    b->setAutoDefault(false);
    return b;
}

QLineEdit* textField(const QString& title)
{
    auto* field = new QLineEdit;
    field->setPlaceholderText(title);
    field->setAccessibleName(title);
    return field;
}

} // namespace

QString LoginSheet::nameToSend(const QString& name, const QString& email)
{
    if (!name.isEmpty())
        return name;
    const qsizetype at = email.indexOf(u'@');
    return at < 0 ? email : email.left(at);
}

LoginSheet::LoginSheet(AppModel& model, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
{
    setWindowTitle(QStringLiteral("Login"));
    setFixedWidth(Theme::points(520));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);

    m_title = new QLabel;
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(Theme::font(Theme::TextStyle::title, QFont::Bold));
    layout->addWidget(m_title);

    auto* hint = new QLabel(QStringLiteral("Use email and password, or continue with Google. Password needs 12+ chars, "
                                           "upper/lowercase, number and special character."));
    hint->setTextFormat(Qt::PlainText);
    hint->setWordWrap(true);
    Theme::setForeground(hint, Theme::secondary());
    layout->addWidget(hint);

    m_nameField = textField(QStringLiteral("Full name"));
    connect(m_nameField, &QLineEdit::textChanged, this, [this](const QString& t) { m_name = t; });
    layout->addWidget(m_nameField);
    m_emailField = textField(QStringLiteral("Email"));
    connect(m_emailField, &QLineEdit::textChanged, this, [this](const QString& t) { m_email = t; });
    layout->addWidget(m_emailField);
    m_passwordField = new PasswordField(QStringLiteral("Password"));
    connect(m_passwordField, &PasswordField::textChanged, this, [this](const QString& t) { m_password = t; });
    layout->addWidget(m_passwordField);

    auto* links = new QHBoxLayout;
    m_switch = button();
    connect(m_switch, &QPushButton::clicked, this, [this]() { setRegister(!m_isRegister); });
    links->addWidget(m_switch, 0, Qt::AlignVCenter);
    m_forgot = button(QStringLiteral("Forgot Password"));
    m_forgot->setAccessibleName(QStringLiteral("Forgot Password"));
    connect(m_forgot, &QPushButton::clicked, this, [this]() { m_model.sendPasswordReset(m_email); });
    links->addWidget(m_forgot, 0, Qt::AlignVCenter);
    links->addStretch(1);
    m_google = button(QStringLiteral("Continue with Google"));
    m_google->setAccessibleName(QStringLiteral("Continue with Google"));
    connect(m_google, &QPushButton::clicked, this, [this]() {
        m_model.continueWithGoogle();
        accept();
    });
    links->addWidget(m_google, 0, Qt::AlignVCenter);
    layout->addLayout(links);

    auto* actions = new QHBoxLayout;
    actions->addStretch(1);
    m_cancel = button(QStringLiteral("Cancel"));
    m_cancel->setAccessibleName(QStringLiteral("Cancel"));
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    actions->addWidget(m_cancel, 0, Qt::AlignVCenter);
    m_confirm = button();
    Theme::makeProminent(m_confirm);
    // Return in a field confirms, once.
    m_confirm->setDefault(true);
    connect(m_confirm, &QPushButton::clicked, this, &LoginSheet::confirm);
    actions->addWidget(m_confirm, 0, Qt::AlignVCenter);
    layout->addLayout(actions);

    refreshMode();
    m_emailField->setFocus();
}

void LoginSheet::setRegister(bool isRegister)
{
    if (m_isRegister == isRegister)
        return;
    m_isRegister = isRegister;
    refreshMode();
}

void LoginSheet::refreshMode()
{
    const QString title = m_isRegister ? QStringLiteral("Create Account") : QStringLiteral("Login");
    m_title->setText(title);
    setWindowTitle(title);
    m_nameField->setVisible(m_isRegister);
    m_forgot->setVisible(!m_isRegister);
    m_switch->setText(m_isRegister ? QStringLiteral("Have an account? Login") : QStringLiteral("New here? Register"));
    m_switch->setAccessibleName(m_switch->text());
    m_confirm->setText(m_isRegister ? QStringLiteral("Register") : QStringLiteral("Login"));
    m_confirm->setAccessibleName(m_confirm->text());
    adjustSize();
}

void LoginSheet::confirm()
{
    m_model.login(nameToSend(m_name, m_email), m_email, m_password,
                  m_isRegister ? QStringLiteral("register") : QStringLiteral("login"));
    accept();
}

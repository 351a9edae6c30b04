#include "account/UserPage.h"

#include "app/AppModel.h"
#include "app/Avatar.h"
#include "app/DravixInfoCard.h"
#include "app/PageRegistry.h"
#include "app/PasswordField.h"
#include "app/StatusPill.h"
#include "app/Theme.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const bool registered = PageRegistry::setUserPage([](AppModel& model, std::function<void()> showLogin) -> QWidget* {
    return new UserPage(model, std::move(showLogin));
});

QLabel* plainText(const QString& text)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLineEdit* textField(const QString& title)
{
    auto* field = new QLineEdit;
    field->setPlaceholderText(title);
    field->setAccessibleName(title);
    return field;
}

QPushButton* button(const QString& title)
{
    auto* b = new QPushButton(title);
    b->setAccessibleName(title);
    return b;
}

} // namespace

bool UserPage::isSetupMode(const UserProfile& user)
{
    return user.provider == u"google" && user.passwordHash.isEmpty();
}

UserPage::UserPage(AppModel& model, std::function<void()> showLogin, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_showLogin(std::move(showLogin))
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(18);
    m_top = new QVBoxLayout;
    m_top->setContentsMargins(0, 0, 0, 0);
    m_top->setSpacing(18);
    m_layout->addLayout(m_top);
    m_layout->addWidget(new DravixInfoCard([this](const QUrl& url) { m_model.openURL(url); }));
    m_layout->addStretch(1);

    connect(&m_model, &AppModel::configChanged, this, &UserPage::sync);
    sync();
}

void UserPage::clearTop()
{
    while (QLayoutItem* item = m_top->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    m_profileBox = nullptr;
    m_guestBox = nullptr;
    m_avatar = nullptr;
    m_nameLabel = m_emailLabel = nullptr;
    m_pill = nullptr;
    m_nameField = m_emailField = nullptr;
    m_actionRow = nullptr;
    m_currentField = m_newField = nullptr;
    m_updateButton = m_passwordButton = m_logoutButton = m_loginButton = nullptr;
    m_shownSetupMode.reset();
}

void UserPage::sync()
{
    const std::optional<UserProfile>& user = m_model.config().user;
    if (m_built && user.has_value() == m_showingProfile) {
        if (user)
            refreshProfile(*user);
        return;
    }
    m_built = true;
    m_showingProfile = user.has_value();
    clearTop();
    if (user)
        buildProfile(*user);
    else
        buildGuest();
}

void UserPage::buildProfile(const UserProfile& user)
{
    m_profileBox = new QGroupBox(QStringLiteral("Profile"));
    auto* box = new QVBoxLayout(m_profileBox);
    box->setContentsMargins(8, 8, 8, 8);
    box->setSpacing(14);

    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    m_avatar = new Avatar(user, 64);
    header->addWidget(m_avatar, 0, Qt::AlignVCenter);
    auto* identity = new QVBoxLayout;
    identity->setSpacing(4);
    m_nameLabel = plainText(QString());
    m_nameLabel->setFont(Theme::font(Theme::TextStyle::title2, QFont::Bold));
    m_emailLabel = plainText(QString());
    Theme::setForeground(m_emailLabel, Theme::secondary());
    identity->addWidget(m_nameLabel);
    identity->addWidget(m_emailLabel);
    auto* pillRow = new QHBoxLayout;
    m_pill = new StatusPill(QString(), Theme::blue());
    pillRow->addWidget(m_pill);
    pillRow->addStretch(1);
    identity->addLayout(pillRow);
    header->addLayout(identity);
    header->addStretch(1);
    box->addLayout(header);

    // Editing starts from the stored values each time the profile is shown.
    m_name = user.name;
    m_email = user.email;
    m_nameField = textField(QStringLiteral("Name"));
    m_nameField->setText(m_name);
    connect(m_nameField, &QLineEdit::textChanged, this, [this](const QString& text) { m_name = text; });
    box->addWidget(m_nameField);
    m_emailField = textField(QStringLiteral("Email"));
    m_emailField->setText(m_email);
    connect(m_emailField, &QLineEdit::textChanged, this, [this](const QString& text) { m_email = text; });
    box->addWidget(m_emailField);

    m_actionRow = new QHBoxLayout;
    m_actionRow->setAlignment(Qt::AlignTop);
    box->addLayout(m_actionRow);
    m_top->addWidget(m_profileBox);

    m_logoutButton = button(QStringLiteral("Logout"));
    connect(m_logoutButton, &QPushButton::clicked, this, [this]() { m_model.logout(); });
    m_top->addWidget(m_logoutButton, 0, Qt::AlignLeft);

    refreshProfile(user);
}

void UserPage::refreshProfile(const UserProfile& user)
{
    m_avatar->setUser(user);
    m_nameLabel->setText(user.name);
    m_emailLabel->setText(user.email);
    m_pill->setText(user.provider == u"google" ? QStringLiteral("Google") : QStringLiteral("Email"));
    if (m_shownSetupMode != isSetupMode(user))
        buildActionRow(user);
}

void UserPage::buildActionRow(const UserProfile& user)
{
    while (QLayoutItem* item = m_actionRow->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    const bool setup = isSetupMode(user);
    m_shownSetupMode = setup;

    m_updateButton = button(QStringLiteral("Update Profile"));
    connect(m_updateButton, &QPushButton::clicked, this, [this]() {
        const std::optional<UserProfile>& stored = m_model.config().user;
        if (!stored)
            return;
        m_model.updateUser(m_name.isEmpty() ? stored->name : m_name, m_email.isEmpty() ? stored->email : m_email);
    });
    m_actionRow->addWidget(m_updateButton, 0, Qt::AlignTop);

    m_currentField = nullptr;
    if (!setup) {
        m_currentField = new PasswordField(QStringLiteral("Current password"));
        m_currentField->setMaximumWidth(Theme::points(190));
        m_currentField->setText(m_currentPassword);
        connect(m_currentField, &PasswordField::textChanged, this, [this](const QString& text) { m_currentPassword = text; });
        m_actionRow->addWidget(m_currentField, 1, Qt::AlignTop);
    }
    m_newField = new PasswordField(setup ? QStringLiteral("Password") : QStringLiteral("New password"));
    m_newField->setMaximumWidth(Theme::points(190));
    m_newField->setText(m_password);
    connect(m_newField, &PasswordField::textChanged, this, [this](const QString& text) { m_password = text; });
    m_actionRow->addWidget(m_newField, 1, Qt::AlignTop);

    m_passwordButton = button(setup ? QStringLiteral("Setup Password") : QStringLiteral("Change Password"));
    connect(m_passwordButton, &QPushButton::clicked, this, [this]() {
        const QString current = m_currentPassword;
        const QString next = m_password;
        m_model.changePassword(current, next);
        // Emptied whatever the outcome.
        m_currentPassword.clear();
        m_password.clear();
        if (m_currentField)
            m_currentField->setText(QString());
        if (m_newField)
            m_newField->setText(QString());
    });
    m_actionRow->addWidget(m_passwordButton, 0, Qt::AlignTop);
    m_actionRow->addStretch(1);
}

void UserPage::buildGuest()
{
    m_guestBox = new QGroupBox(QStringLiteral("Guest"));
    auto* row = new QHBoxLayout(m_guestBox);
    row->setContentsMargins(8, 8, 8, 8);
    row->setSpacing(12);
    row->addWidget(new Avatar(std::nullopt, 64), 0, Qt::AlignVCenter);
    auto* text = new QVBoxLayout;
    text->setSpacing(5);
    auto* guest = plainText(QStringLiteral("You are using Guest mode"));
    guest->setFont(Theme::font(Theme::TextStyle::title2, QFont::Bold));
    text->addWidget(guest);
    row->addLayout(text);
    row->addStretch(1);
    m_loginButton = button(QStringLiteral("Login / Register"));
    Theme::makeProminent(m_loginButton);
    connect(m_loginButton, &QPushButton::clicked, this, [this]() {
        if (m_showLogin)
            m_showLogin();
    });
    row->addWidget(m_loginButton, 0, Qt::AlignVCenter);
    m_top->addWidget(m_guestBox);
}

#include "app/TopBar.h"

#include "app/AppModel.h"
#include "app/Avatar.h"
#include "app/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TopBar::TopBar(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_title(new QLabel)
    , m_subtitle(new QLabel)
    , m_avatar(new Avatar(std::nullopt, 42))
    , m_userName(new QLabel)
    , m_login(new QPushButton(QStringLiteral("Login")))
{
    for (QLabel* label : {m_title, m_subtitle, m_userName})
        label->setTextFormat(Qt::PlainText);
    Theme::setTextStyle(m_title, Theme::TextStyle::largeTitle, QFont::Bold);
    Theme::setForeground(m_subtitle, Theme::secondary());
    Theme::setTextStyle(m_userName, Theme::TextStyle::callout, QFont::DemiBold);

    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->addLayout(titles);
    layout->addStretch(1);
    layout->addWidget(m_avatar, 0, Qt::AlignVCenter);
    layout->addWidget(m_userName, 0, Qt::AlignVCenter);
    layout->addWidget(m_login, 0, Qt::AlignVCenter);

    connect(m_login, &QPushButton::clicked, this, &TopBar::loginPressed);
    connect(&m_model, &AppModel::configChanged, this, &TopBar::refreshUser);
    refreshUser();
    setSection(AppSection::dashboard);
}

void TopBar::setSection(AppSection section)
{
    m_title->setText(AppSections::rawValue(section));
    m_subtitle->setText(AppSections::subtitle(section));
}

QString TopBar::title() const { return m_title->text(); }
QString TopBar::subtitle() const { return m_subtitle->text(); }

void TopBar::refreshUser()
{
    const std::optional<UserProfile>& user = m_model.config().user;
    m_avatar->setUser(user);
    m_userName->setText(user ? user->name : QString());
    m_avatar->setVisible(user.has_value());
    m_userName->setVisible(user.has_value());
    m_login->setVisible(!user.has_value());
}

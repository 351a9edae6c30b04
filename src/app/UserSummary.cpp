#include "app/UserSummary.h"

#include "app/Avatar.h"
#include "app/ElidedLabel.h"
#include "app/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTextDocument>
#include <QVBoxLayout>

UserSummary::UserSummary(QWidget* parent)
    : QAbstractButton(parent)
    , m_avatar(new Avatar(std::nullopt, 42))
    , m_name(new ElidedLabel(QString(), 1))
    , m_email(new ElidedLabel(QString(), 1))
{
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    Theme::setTextStyle(m_name, Theme::TextStyle::callout, QFont::DemiBold);
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Theme::setTextStyle(m_email, Theme::TextStyle::caption);
    Theme::setForeground(m_email, Theme::secondary());
    m_email->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    for (QWidget* child : std::initializer_list<QWidget*>{m_avatar, m_name, m_email})
        child->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->addWidget(m_name);
    texts->addWidget(m_email);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(10);
    layout->addWidget(m_avatar, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);
    setUser(std::nullopt);
}

void UserSummary::setUser(const std::optional<UserProfile>& user)
{
    m_avatar->setUser(user);
    m_name->setText(user ? user->name : QStringLiteral("Guest"));
    m_email->setText(user ? user->email : QStringLiteral("Click to login"));
    // Tooltips detect markup on their own: the address is escaped so it shows as typed.
    setToolTip(user ? Qt::convertFromPlainText(user->email, Qt::WhiteSpaceNoWrap) : QString());
    // Assistive technology reads the button as the two lines it shows (the tooltip's markup is not
    // its description).
    setAccessibleName(m_name->text() + QStringLiteral(", ") + m_email->text());
    setAccessibleDescription(user ? user->email : QString());
}

QString UserSummary::nameText() const { return m_name->text(); }
QString UserSummary::emailText() const { return m_email->text(); }

QSize UserSummary::sizeHint() const { return layout()->sizeHint(); }

void UserSummary::paintEvent(QPaintEvent*)
{
    if (!underMouse() && !isDown())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(shape, Theme::withOpacity(palette().color(QPalette::WindowText), isDown() ? 0.10 : 0.05));
}

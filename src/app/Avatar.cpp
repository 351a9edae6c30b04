#include "app/Avatar.h"

#include "app/Theme.h"

#include <QPainter>
#include <cmath>

Avatar::Avatar(const std::optional<UserProfile>& user, qreal size, QWidget* parent)
    : QWidget(parent)
    , m_user(user)
    , m_size(size)
{
    const int side = int(std::ceil(size));
    setFixedSize(side, side);
}

void Avatar::setUser(const std::optional<UserProfile>& user)
{
    if (m_user == user)
        return;
    m_user = user;
    update();
}

QString Avatar::initials() const { return m_user ? m_user->avatarInitials : QStringLiteral("G"); }

QColor Avatar::fillColor() const
{
    return Theme::withOpacity(m_user ? Theme::accent() : Theme::secondary(), 0.18);
}

QColor Avatar::textColor() const { return m_user ? Theme::accent() : Theme::secondary(); }

QSize Avatar::sizeHint() const
{
    const int side = int(std::ceil(m_size));
    return QSize(side, side);
}

void Avatar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fillColor());
    const QRectF circle(0, 0, m_size, m_size);
    painter.drawEllipse(circle);
    QFont font = Theme::font(Theme::TextStyle::body, QFont::Bold);
    // Design points are this screen's logical pixels.
    font.setPointSizeF(std::max(1.0, fontSize() * 72.0 / logicalDpiY()));
    painter.setFont(font);
    painter.setPen(textColor());
    painter.drawText(circle, Qt::AlignCenter | Qt::TextSingleLine, initials());
}

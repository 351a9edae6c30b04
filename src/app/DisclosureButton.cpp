#include "app/DisclosureButton.h"

#include "app/Theme.h"

#include <QPainter>
#include <QPainterPath>

DisclosureButton::DisclosureButton(const QString& title, QWidget* parent)
    : QAbstractButton(parent)
{
    setText(title);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

int DisclosureButton::chevronSide() const
{
    return std::max(8, fontMetrics().height() / 2 + 2);
}

QSize DisclosureButton::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    // Room for the focus ring on every side.
    return QSize(4 + chevronSide() + 6 + metrics.horizontalAdvance(text()) + 4, metrics.height() + 6);
}

void DisclosureButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor textColor = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);

    // The chevron: ">" collapsed, "v" expanded.
    const qreal side = chevronSide();
    const QRectF box(4, (height() - side) / 2.0, side, side);
    QPen pen(Theme::withOpacity(textColor, 0.75), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    const qreal inset = side * 0.28;
    QPainterPath chevron;
    if (isChecked()) {
        chevron.moveTo(box.left() + inset * 0.6, box.top() + inset + side * 0.05);
        chevron.lineTo(box.center().x(), box.bottom() - inset);
        chevron.lineTo(box.right() - inset * 0.6, box.top() + inset + side * 0.05);
    } else {
        chevron.moveTo(box.left() + inset + side * 0.05, box.top() + inset * 0.6);
        chevron.lineTo(box.right() - inset, box.center().y());
        chevron.lineTo(box.left() + inset + side * 0.05, box.bottom() - inset * 0.6);
    }
    painter.drawPath(chevron);

    painter.setPen(textColor);
    const QRect textRect(int(box.right()) + 6, 0, width() - int(box.right()) - 6, height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());

    if (hasFocus()) {
        painter.setPen(QPen(Theme::focusRing(), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
    }
}

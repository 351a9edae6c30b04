#include "app/StatusPill.h"

#include "app/Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int kHorizontalPadding = 9;
constexpr int kVerticalPadding = 5;
} // namespace

StatusPill::StatusPill(const QString& text, const QColor& color, QWidget* parent)
    : QWidget(parent)
    , m_text(text)
    , m_color(color)
{
    Theme::setTextStyle(this, Theme::TextStyle::caption, QFont::Bold);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QColor StatusPill::backgroundColor() const { return Theme::withOpacity(m_color, 0.14); }

void StatusPill::setText(const QString& text)
{
    m_text = text;
    updateGeometry();
    update();
}

QSize StatusPill::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(m_text) + 2 * kHorizontalPadding, metrics.height() + 2 * kVerticalPadding);
}

void StatusPill::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = area.height() / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(area, radius, radius);
    painter.fillPath(capsule, backgroundColor());
    painter.setPen(m_color);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, m_text);
}

#include "app/DrawnIconEngine.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>

DrawnIconEngine::DrawnIconEngine(Drawing draw, QColor color, FallbackColor fallback)
    : m_draw(std::move(draw))
    , m_color(std::move(color))
    , m_fallback(fallback)
{
}

void DrawnIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(rect.width(), rect.height());
    painter->translate(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0);
    painter->scale(side / 24.0, side / 24.0);
    QColor color = m_color.isValid() ? m_color : m_fallback();
    if (mode == QIcon::Disabled)
        color.setAlphaF(color.alphaF() * 0.4);
    painter->setPen(QPen(color, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::NoBrush);
    m_draw(*painter, color);
    painter->restore();
}

QPixmap DrawnIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state)
{
    QPixmap result(size);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return result;
}

QPixmap DrawnIconEngine::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale)
{
    QPixmap result = pixmap(size * scale, mode, state);
    result.setDevicePixelRatio(scale);
    return result;
}

QIconEngine* DrawnIconEngine::clone() const { return new DrawnIconEngine(m_draw, m_color, m_fallback); }

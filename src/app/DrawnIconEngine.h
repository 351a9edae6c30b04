#pragma once

#include <QColor>
#include <QIconEngine>

#include <functional>

class QPainter;

// Draws a symbol on a 24-unit square with a 1.8-unit round-capped pen in `color` (at 40 % alpha
// when disabled). Without a valid colour, `fallback` gives it each time the icon is painted.
class DrawnIconEngine : public QIconEngine {
public:
    using Drawing = std::function<void(QPainter&, const QColor&)>;
    using FallbackColor = QColor (*)();

    DrawnIconEngine(Drawing draw, QColor color, FallbackColor fallback);

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override;
    QIconEngine* clone() const override;

private:
    Drawing m_draw;
    QColor m_color;
    FallbackColor m_fallback;
};

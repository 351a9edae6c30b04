#include "app/Spinner.h"

#include "app/Theme.h"

#include <QPainter>

#include <cmath>

namespace {

constexpr int kSpokes = 12;

} // namespace

Spinner::Spinner(int side, QWidget* parent)
    : QWidget(parent)
    , m_side(Theme::points(side))
{
    setFixedSize(sizeHint());
    setAccessibleName(QStringLiteral("In progress"));
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this]() {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
}

QSize Spinner::sizeHint() const
{
    return QSize(m_side, m_side);
}

void Spinner::showEvent(QShowEvent* event)
{
    m_timer.start();
    QWidget::showEvent(event);
}

void Spinner::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    const qreal outer = side / 2.0;
    const qreal inner = outer * 0.45;
    const QColor base = palette().color(QPalette::WindowText);
    QPen pen(base, std::max(1.5, side / 9.0), Qt::SolidLine, Qt::RoundCap);
    painter.translate(width() / 2.0, height() / 2.0);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the current step is darkest; the ones behind it fade out.
        const int age = (m_step - i + kSpokes) % kSpokes;
        QColor color = base;
        color.setAlphaF(1.0 - 0.75 * age / (kSpokes - 1));
        pen.setColor(color);
        painter.setPen(pen);
        const qreal angle = 2 * M_PI * i / kSpokes - M_PI / 2;
        const qreal c = std::cos(angle), s = std::sin(angle);
        painter.drawLine(QPointF(c * inner, s * inner), QPointF(c * (outer - pen.widthF() / 2), s * (outer - pen.widthF() / 2)));
    }
}

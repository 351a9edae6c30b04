#include "app/AppLogo.h"

#include "app/Theme.h"
#include "platform/Platform.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

AppLogo::AppLogo(qreal size, QWidget* parent)
    : AppLogo(size, Platform::defaultResourcesDir(), parent)
{
}

AppLogo::AppLogo(qreal size, const QString& resourcesDir, QWidget* parent)
    : QWidget(parent)
    , m_size(size)
{
    QImageReader reader(resourcesDir + QStringLiteral("/AppIcon1024.png"));
    reader.setFormat("png");
    const QImage image = reader.read();
    if (!image.isNull()) {
        // Kept at the size drawn (times the screen's pixel ratio), aspect ratio kept.
        const qreal ratio = devicePixelRatioF();
        const int side = std::max(1, int(std::ceil(size * ratio)));
        m_image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        m_image.setDevicePixelRatio(ratio);
    }
    const int side = int(std::ceil(size));
    setFixedSize(side, side);
}

QSize AppLogo::sizeHint() const
{
    const int side = int(std::ceil(m_size));
    return QSize(side, side);
}

void AppLogo::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF frame(0, 0, m_size, m_size);
    QPainterPath shape;
    shape.addRoundedRect(frame, cornerRadius(), cornerRadius());
    if (hasImage()) {
        painter.setClipPath(shape);
        const QSizeF drawn = QSizeF(m_image.size()) / m_image.devicePixelRatio();
        const QSizeF fitted = drawn.scaled(frame.size(), Qt::KeepAspectRatio);
        const QRectF target(frame.center().x() - fitted.width() / 2, frame.center().y() - fitted.height() / 2,
                            fitted.width(), fitted.height());
        painter.drawImage(target, m_image);
        return;
    }
    painter.fillPath(shape, Theme::accent());
    painter.setFont(Theme::font(Theme::TextStyle::headline, QFont::Bold));
    painter.setPen(Qt::white);
    painter.drawText(frame, Qt::AlignCenter, QStringLiteral("P"));
}

#include "app/AppLogo.h"

#include "app/Theme.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

// The image read from `path`, scaled to the drawn size (aspect ratio kept); null when the file
// is missing or not an image. Decoding the full-size artwork is slow, so the decoded artwork and
// each size drawn are kept for as long as the file is unchanged.
QImage logoImage(const QString& path, qreal size, qreal ratio)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return QImage();
    const int side = std::max(1, int(std::ceil(size * ratio)));
    const QString source = path + u'|' + QString::number(info.lastModified().toMSecsSinceEpoch()) + u'|'
        + QString::number(info.size());
    const QString key = source + u'|' + QString::number(side) + u'|' + QString::number(ratio);
    static QHash<QString, QImage> decoded;
    static QHash<QString, QImage> scaled;
    if (const auto it = scaled.constFind(key); it != scaled.constEnd())
        return *it;
    auto original = decoded.constFind(source);
    if (original == decoded.constEnd()) {
        QImageReader reader(path);
        reader.setFormat("png");
        QImage image = reader.read();
        if (!image.isNull())
            image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        decoded.clear();
        original = decoded.insert(source, image);
    }
    QImage image = original->isNull()
        ? QImage()
        : original->scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!image.isNull())
        image.setDevicePixelRatio(ratio);
    scaled.insert(key, image);
    return image;
}

} // namespace

AppLogo::AppLogo(qreal size, QWidget* parent)
    : AppLogo(size, Platform::defaultResourcesDir(), parent)
{
}

AppLogo::AppLogo(qreal size, const QString& resourcesDir, QWidget* parent)
    : QWidget(parent)
    , m_size(size)
{
    m_image = logoImage(resourcesDir + QStringLiteral("/AppIcon1024.png"), size, devicePixelRatioF());
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

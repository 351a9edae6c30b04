#include "app/AppLogo.h"

#include "app/Theme.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

QImage readImage(const QString& path)
{
    QImageReader reader(path);
    reader.setFormat("png");
    return reader.read();
}

// The image read from `path`, scaled to the drawn size (aspect ratio kept); null when the file
// is missing or not an image. The copy made at build time for that size is used when it is
// there and not older than the artwork; else the artwork is decoded (once while it is unchanged)
// and scaled. Each size drawn is kept.
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
    QImage image;
    const QFileInfo copy(info.dir().filePath(AppLogo::scaledCopyName(side)));
    if (copy.isFile() && copy.lastModified() >= info.lastModified()) {
        image = readImage(copy.filePath());
        if (!image.isNull())
            image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    if (image.isNull()) {
        auto original = decoded.constFind(source);
        if (original == decoded.constEnd()) {
            decoded.clear();
            original = decoded.insert(source, readImage(path));
        }
        if (!original->isNull())
            image = AppLogo::scaledArtwork(*original, side);
    }
    if (!image.isNull())
        image.setDevicePixelRatio(ratio);
    scaled.insert(key, image);
    return image;
}

} // namespace

QImage AppLogo::scaledArtwork(const QImage& artwork, int side)
{
    return artwork.convertToFormat(QImage::Format_ARGB32_Premultiplied)
        .scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QString AppLogo::scaledCopyName(int side)
{
    return QStringLiteral("AppIcon1024-%1.png").arg(side);
}

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

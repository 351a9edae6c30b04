#pragma once

#include <QImage>
#include <QWidget>

// The application logo: the bundle's "AppIcon1024.png" in a rounded square, or, when that image
// is missing or unreadable, an accent-coloured rounded square with a white "P". The sizes the
// window draws come from small copies made at build time, so the large artwork is decoded only
// for another size.
class AppLogo : public QWidget {
    Q_OBJECT

public:
    // Looks in the bundle's resources folder.
    explicit AppLogo(qreal size, QWidget* parent = nullptr);
    AppLogo(qreal size, const QString& resourcesDir, QWidget* parent = nullptr);

    qreal logoSize() const { return m_size; }
    qreal cornerRadius() const { return m_size * 0.22; }
    bool hasImage() const { return !m_image.isNull(); }

    QSize sizeHint() const override;

    // The artwork scaled to a square of `side` pixels (aspect ratio kept), as drawn.
    static QImage scaledArtwork(const QImage& artwork, int side);
    // The file name of the copy of "AppIcon1024.png" made at build time for one drawn size.
    static QString scaledCopyName(int side);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_size;
    QImage m_image;
};

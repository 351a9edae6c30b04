#pragma once

#include <QImage>
#include <QWidget>

// The application logo: the bundle's "AppIcon1024.png" in a rounded square, or, when that image
// is missing or unreadable, an accent-coloured rounded square with a white "P".
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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_size;
    QImage m_image;
};

#pragma once

#include <QColor>
#include <QWidget>

// A short label in `color` on a pale capsule of the same colour.
class StatusPill : public QWidget {
    Q_OBJECT

public:
    StatusPill(const QString& text, const QColor& color, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    QColor color() const { return m_color; }
    QColor backgroundColor() const;
    void setText(const QString& text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QColor m_color;
};

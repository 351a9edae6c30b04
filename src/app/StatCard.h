#pragma once

#include <QColor>
#include <QFrame>

class ElidedLabel;
class QLabel;

// A titled figure: the title in the secondary colour above the value, bold, in `color`, on one
// line (cut with an ellipsis when too long).
class StatCard : public QFrame {
    Q_OBJECT

public:
    StatCard(const QString& title, const QString& value, const QColor& color, QWidget* parent = nullptr);

    QString cardTitle() const;
    QString value() const;
    QColor color() const { return m_color; }
    void setValue(const QString& value, const QColor& color);

    ElidedLabel* valueLabel() const { return m_value; }

private:
    QLabel* m_title;
    ElidedLabel* m_value;
    QColor m_color;
};

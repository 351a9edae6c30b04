#pragma once

#include <QWidget>

class QLabel;

// A numbered help line: the number in a small accent circle, then the text, wrapping.
class GuideRow : public QWidget {
    Q_OBJECT

public:
    GuideRow(const QString& number, const QString& text, QWidget* parent = nullptr);

    QString number() const;
    QString text() const;
    QLabel* badge() const { return m_badge; }
    QLabel* textLabel() const { return m_text; }

private:
    QLabel* m_badge;
    QLabel* m_text;
};

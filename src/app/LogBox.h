#pragma once

#include <QGroupBox>

class QPlainTextEdit;

// The "Logs" box: the whole text, monospaced and selectable, in a scrolling area at least 150
// points high. Setting the text it already shows costs nothing: the view's document is never
// copied out to compare.
class LogBox : public QGroupBox {
    Q_OBJECT

public:
    explicit LogBox(const QString& text, QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    QPlainTextEdit* textView() const { return m_view; }

private:
    QPlainTextEdit* m_view;
    QString m_text;
};

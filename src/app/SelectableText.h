#pragma once

#include <QTextEdit>

// Selectable plain text without a frame or scroll bars that wraps at the available width, also
// inside a long word, and is exactly as high as its lines.
class SelectableText : public QTextEdit {
    Q_OBJECT

public:
    explicit SelectableText(QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_text;
};

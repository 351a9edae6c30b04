#pragma once

#include <QAccessible>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <optional>

// Plain text wrapped onto at most `maxLines` lines; what does not fit ends in an ellipsis on the
// last line. The text is never interpreted as markup. When it is cut, its tooltip is the whole
// text; assistive technology always reads the whole text.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = QString(), int maxLines = 1, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    int maxLines() const { return m_maxLines; }
    // What assistive technology takes it for: static text unless told otherwise (a status bar).
    QAccessible::Role accessibleRole() const { return m_accessibleRole; }
    void setAccessibleRole(QAccessible::Role role) { m_accessibleRole = role; }

    // The lines shown at the given width (the current width when none is given).
    QStringList displayedLines(int width = -1) const;
    bool isElided(int width = -1) const;
    // The tooltip shown at the current width: the whole text when it is cut, else none.
    QString toolTipText() const;
    // The whole text of which this label's text is a shortened form (empty: the label's own text):
    // the tooltip shows it whenever the label's text is cut or differs from it.
    QString wholeText() const { return m_wholeText.isEmpty() ? m_text : m_wholeText; }
    void setWholeText(const QString& whole) { m_wholeText = whole; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_maxLines > 1; }
    int heightForWidth(int width) const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Layout {
        int width;
        QStringList lines;
        bool elided;
    };
    const Layout& layoutAt(int width) const;

    QString m_text;
    QString m_wholeText;
    int m_maxLines;
    QAccessible::Role m_accessibleRole = QAccessible::StaticText;
    mutable std::array<std::optional<Layout>, 2> m_cache;
};

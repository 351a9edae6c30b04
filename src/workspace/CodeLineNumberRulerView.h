#pragma once

// The gutter beside the code editor's text: one number per logical line (a line ends at a line
// feed; a wrapped line is numbered once, on its first visual line), right-aligned, with a
// separator on the right edge. Line numbers come from a table of line starts searched by
// bisection. The text view hands every edit to the table, which follows it in proportion to the
// edit; the whole text is scanned only when the text is replaced or an edit could not be followed.

#include "workspace/CodeOffsetTable.h"

#include <QHash>
#include <QPointer>
#include <QStaticText>
#include <QWidget>
#include <vector>

class CodeEditorTextView;

class CodeLineNumberRulerView : public QWidget {
    Q_OBJECT
public:
    struct LineLabel {
        int number; // 1-based
        qreal y;    // the label's top in ruler coordinates
        bool operator==(const LineLabel&) const = default;
    };

    static constexpr int initialThickness = 48;

    explicit CodeLineNumberRulerView(CodeEditorTextView* textView);

    // Brings lineStarts up to date with the text: rebuilds it unless it followed every edit.
    void ensureLineCache();
    // Rebuilds the table from the text.
    void rebuildLineStarts();
    // The text's range [start, start + removed) became `inserted`, making text revision
    // `revision`. Followed only when the table was current for the revision before.
    void followEdit(qsizetype start, qsizetype removed, QStringView inserted, quint64 revision);
    // The table for a text of `length` found by the text view itself, current for `revision`.
    void adoptLineStarts(std::vector<int> starts, qsizetype length, quint64 revision);
    std::vector<LineLabel> visibleLineLabels() const;

    // The thickness for a table of `lineStartCount` starts.
    static int thicknessFor(qsizetype lineStartCount);
    int ruleThickness() const { return m_ruleThickness; }
    void setRuleThickness(int thickness);

    // The 1-based line holding the UTF-16 offset `c` of the text.
    int lineNumberAt(int c) const;

    std::vector<int> lineStarts() const { return m_lineStarts.toVector(); }
    qsizetype lineStartCount() const { return qsizetype(m_lineStarts.size()); }
    qsizetype cachedStringLength() const { return m_cachedStringLength; }
    qsizetype cachedNewlineCount() const { return m_cachedNewlineCount; }

    std::vector<LineLabel> preparedLabels;

    QSize sizeHint() const override;

signals:
    void ruleThicknessChanged(int thickness);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void resetWithoutText();

    QPointer<CodeEditorTextView> m_textView;
    CodeOffsetTable m_lineStarts {{0}};
    qsizetype m_cachedStringLength = -1;
    qsizetype m_cachedNewlineCount = -1;
    // The text revision the table is current for.
    quint64 m_checkedRevision = ~quint64(0);
    int m_ruleThickness = initialThickness;
    // The digits laid out once, for fonts whose numbers are their digits side by side (their
    // width, 0 otherwise); other fonts' numbers are laid out once each and drawn from then on,
    // dropped when many.
    void prepareDigits();
    QStaticText m_digits[10];
    qreal m_digitWidth = 0;
    bool m_digitsPrepared = false;
    QHash<int, QStaticText> m_numberTexts;
    QFont m_numberTextsFont;
};

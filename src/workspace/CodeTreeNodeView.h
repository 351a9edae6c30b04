#pragma once

#include "workspace/CodeFileItem.h"

#include <QColor>
#include <QRect>
#include <QString>
#include <memory>
#include <vector>

class CodeIDEModel;

// One row of the file tree together with the rows of its expanded children: the row's own state
// (expanded, the last listing of its folder) and its rules (tap, highlight, icon). The file tree
// (CodeFileTree) shows the rows; a row starts collapsed with no children.
class CodeTreeNodeView {
public:
    CodeTreeNodeView(CodeIDEModel& model, CodeFileItem item, int depth);

    const CodeFileItem& item() const { return m_item; }
    int depth() const { return m_depth; }
    bool isExpanded() const { return m_isExpanded; }
    // The folder's last listing; kept, hidden, while collapsed.
    const std::vector<std::unique_ptr<CodeTreeNodeView>>& children() const { return m_children; }

    // A file opens; a folder becomes the target for new items and is expanded or collapsed, its
    // entries listed afresh at every expansion.
    void tap();
    // Expands the folder, listing it afresh, or collapses it, without making it the target.
    void setExpanded(bool expanded);
    // The child showing `path`, or null.
    CodeTreeNodeView* child(const QString& path) const;
    // Puts an entry new in the folder into its listing, in the listing's order; its index there.
    size_t insertChild(const CodeFileItem& item);

    // The open file, or the folder where new items go.
    bool isSelected() const;
    QString iconName() const { return iconName(m_item, m_isExpanded); }
    QColor iconColor() const { return iconColor(m_item); }
    QString disclosureName() const;

    static QString iconName(const CodeFileItem& item, bool expanded);
    static QColor iconColor(const CodeFileItem& item);

    // Row geometry in design points: height, leading padding for a depth, and where the
    // disclosure mark, icon and name go in a row rectangle.
    static constexpr qreal rowHeight = 25;
    static qreal leadingPadding(int depth) { return depth * 14 + 8; }
    struct Layout {
        QRect disclosure;
        QRect icon;
        QRect name;
    };
    static Layout layout(const QRect& row, int depth);

private:
    CodeIDEModel& m_model;
    CodeFileItem m_item;
    int m_depth;
    bool m_isExpanded = false;
    std::vector<std::unique_ptr<CodeTreeNodeView>> m_children;
};

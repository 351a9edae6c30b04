#include "workspace/CodeDocumentLayout.h"

#include <QTextBlock>
#include <QTextDocument>
#include <utility>

CodeDocumentLayout::CodeDocumentLayout(QTextDocument* document)
    : QPlainTextDocumentLayout(document)
{
}

void CodeDocumentLayout::expectColorsOnly(int from, int length) { m_expected = {Kind::colors, from, length, length}; }

void CodeDocumentLayout::expectEdit(int position, int removed, int added)
{
    m_expected = {Kind::edit, position, removed, added};
}

void CodeDocumentLayout::documentChanged(int from, int removed, int added)
{
    const Expected e = std::exchange(m_expected, Expected {});
    if (e.kind == Kind::colors && from == e.position && removed == e.removed && added == e.added) {
        // The blocks' lines went with their old formats; they are laid out again when shown.
        return;
    }
    // The report holds the edit, and the colours of its own blocks around it.
    const bool holdsEdit = e.kind == Kind::edit && from <= e.position
        && e.position + e.removed <= from + removed && added - removed == e.added - e.removed;
    if (!holdsEdit) {
        QPlainTextDocumentLayout::documentChanged(from, removed, added);
        return;
    }
    // The edit's block had lost its lines with its old colours, so the layout does not see its
    // height change; a change of its line count still changes the document's size, which has the
    // view repaint what moved.
    QPlainTextDocumentLayout::documentChanged(e.position, e.removed, e.added);
}

#pragma once

// The code editor's document layout. Colours are given to a block's layout as formats, and the
// document then reports the block as changed over twice its length: the layout would drop the
// laid-out lines of the blocks after it and repaint the whole view at every recolouring and every
// keystroke. The text view says beforehand what the next report covers, and it is laid out as
// that alone: colours only (nothing moved; the view repaints what is in view), or a text edit
// whose own blocks took new colours (laid out as the edit alone would be). Any other report is
// laid out as it comes.

#include <QPlainTextDocumentLayout>

class CodeDocumentLayout : public QPlainTextDocumentLayout {
    Q_OBJECT
public:
    explicit CodeDocumentLayout(QTextDocument* document);

    // The next report follows new colours of the blocks in [from, from + length), text unchanged.
    void expectColorsOnly(int from, int length);
    // The next report follows the text edit that replaced [position, position + removed) by
    // `added` characters.
    void expectEdit(int position, int removed, int added);

protected:
    void documentChanged(int from, int removed, int added) override;

private:
    enum class Kind { none, colors, edit };
    struct Expected {
        Kind kind = Kind::none;
        int position = 0;
        int removed = 0;
        int added = 0;
    } m_expected;
};

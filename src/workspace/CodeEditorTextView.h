#pragma once

// The code editor's text view: a plain-text edit that keeps the file's text byte for byte (see
// CodeEditorText.h), carries the highlighter's colours per block, and routes Control+Space,
// Return and the typed characters ">", "<" and "@" to the completion and editing helpers.
// Positions in its interface are UTF-16 offsets into the file's text, unless they say
// "document".

#include "workspace/CodeEditorText.h"
#include "workspace/CodeGapBuffer.h"
#include "workspace/CodeOffsetTable.h"
#include "workspace/CodeShapedBlocks.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QStringList>
#include <QTextBlock>
#include <memory>
#include <vector>

class CodeDocumentLayout;
class CodeDocumentWords;
class CodeLineNumberRulerView;
class QCompleter;
class QStringListModel;
class QTimer;

class CodeEditorTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int horizontalInset = 66;
    static constexpr int verticalInset = 10;

    explicit CodeEditorTextView(QWidget* parent = nullptr);

    QString fileName;

    // The file's text, exactly. Edits keep it with a gap where they are; this closes the gap, so
    // code that runs at every edit reads textLength() and textStretch() instead.
    const QString& text() const;
    qsizetype textLength() const;
    // text()[start, start + length) in one piece, valid until the next edit or read.
    QStringView textStretch(qsizetype start, qsizetype length) const;
    // The text before and after `offset`, each in one piece, valid until the next edit or read.
    std::pair<QStringView, QStringView> textAround(qsizetype offset) const;
    // How often text() gathered the text edited since into one piece.
    quint64 textGatherings() const { return m_text.gatherings(); }
    // The file's text rebuilt from the whole document, bypassing the cache kept up to date by edits.
    QString textFromDocument() const;
    // Counts every change of the document's text.
    quint64 revision() const { return m_revision; }

    // Replaces the whole text with the base look: no undo step, not a user edit.
    void replaceEditorText(const QString& text);
    bool isReplacingText() const { return m_programmatic > 0; }
    // Inserts `text` over the selection as a user edit, keeping its own line ends, then applies
    // the typed-character rules (a closing tag after ">", the completion list after "<" or "@").
    void insertText(const QString& text);

    // Selection in file-text offsets: location and length.
    struct Range {
        int location = 0;
        int length = 0;
        bool operator==(const Range&) const = default;
    };
    Range selectedRange() const;
    void setSelectedRange(Range range);

    int toDocumentPosition(int offset) const;
    int toTextOffset(int documentPosition) const;
    qsizetype modelStartOfBlock(const QTextBlock& block) const;

    // Colours: one CodeEditorTheme::Role per UTF-16 unit of text(), as the highlighter gives them.
    // Only blocks whose colours differ from what they show are touched.
    void applyColors(const QByteArray& textColors);
    // The colours of text()[textBegin, textBegin + textColors.size()), the rest kept.
    void applyColorRange(int textBegin, const QByteArray& textColors);
    // Counts the colourings applied (either way above).
    quint64 colorsGeneration() const { return m_colorsGeneration; }
    // `own` holds the text exactly as the view's text at `revision`, in a buffer of its own with
    // room to grow, made off the main thread: the view takes it when its text still shares its
    // buffer with another holder, so that the first edit copies nothing.
    void adoptOwnText(QString own, quint64 revision);
    // The colour shown at a text offset.
    QColor foregroundAt(int offset) const;
    // How many blocks the last applyColors() re-coloured, counting those it left to idle time.
    int lastRecoloredBlockCount() const { return m_lastRecolored; }
    // The blocks keeping their shaped glyphs between paints.
    const CodeShapedBlocks& shapedBlocks() const { return m_shaped; }
    // Colours of the last applyColors() still being given to blocks out of view, at idle time.
    bool isRecolorPending() const { return m_pendingRecolor >= 0; }

    // Completion list.
    void complete();
    bool isCompletionListVisible() const;
    QStringList completionList() const;
    QCompleter* completer() const { return m_completer; }
    // The list for the partial word [start, end) of the text; `index` gets the selected entry.
    QStringList completions(int start, int end, int* index) const;
    // The document's words for the partial word [start, end), read from the whole text (what the
    // kept counts give, the slow way).
    QStringList scanDocumentWords(const QString& partial, int start, int end) const;
    // The document's words are counted (after a new text, off the main thread).
    bool areWordsCounted() const { return m_words != nullptr; }

    CodeLineNumberRulerView* ruler() const { return m_ruler; }
    // The insertion point's colour: the desktop's accent.
    QColor caretColor() const { return m_caretColor; }
    void setRulerThickness(int thickness);

    // Layout access for the ruler.
    QTextBlock firstVisibleTextBlock() const { return firstVisibleBlock(); }
    QPointF visibleContentOffset() const { return contentOffset(); }
    // The block's height and its first line's top within it, laid out on demand. Blocks in view
    // follow one another down from firstVisibleTextBlock() at visibleContentOffset().
    qreal blockHeight(const QTextBlock& block) const;
    static qreal firstLineTop(const QTextBlock& block);

signals:
    // After every user edit.
    void userEdited();
    // A user edit replaced text()[start, start + removed) by `added` characters.
    void textSpliced(int start, int removed, int added);
    // A user edit the text cache could not follow: text() was rebuilt from the document.
    void textReset();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    bool event(QEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void onContentsChange(int position, int removed, int added);
    void rebuildTextCache() const;
    // The text cache is current: rebuilt from the document when an edit could not be followed.
    void ensureTextCache() const;
    void adoptText(const QString& text, const QString& documentText, const std::vector<CodeEditorText::LineEnd>& ends);
    bool updateTextCache(int position, int removed, int added);
    CodeEditorText::LineEnd lineEndOfBlock(const QTextBlock& block) const;
    void insertWithLineEnds(QTextCursor& cursor, const QString& text);
    void afterTypedText(const QString& typed);
    // Gives the blocks in [first, last] whose colours changed their new formats; the document range
    // [from, to) of those blocks, from < 0 when none changed.
    std::pair<int, int> recolorBlocks(const QTextBlock& first, const QTextBlock& last);
    bool recolorBlock(const QTextBlock& block);
    // Tells the document's layout that the blocks in [from, to) changed colour alone.
    void markColorsChanged(int from, int to);
    // Whether a block numbered in [first, last] may be in view.
    bool mayBeInView(int first, int last) const;
    // The blocks in view keep their shaped glyphs for the next paint.
    void keepShapedBlocksInView();
    // Blocks in view (and a screen around), coloured at once when many blocks change colour.
    void recolorVisibleBlocks();
    // One slice of the colouring left to idle time, from block m_pendingRecolor on.
    void recolorPendingSlice();
    void updateMargins();
    void refreshCompletion();
    void acceptCompletion(const QString& word);
    QStringList documentWords(const QString& partial, int start, int end) const;
    void forgetWords();
    void startCountingWords(const QString& snapshot);

    CodeDocumentLayout* m_layout = nullptr;
    CodeLineNumberRulerView* m_ruler = nullptr;
    QCompleter* m_completer = nullptr;
    QStringListModel* m_completionModel = nullptr;
    int m_completionStart = 0; // text offset of the partial word

    mutable CodeGapBuffer<QString> m_text;
    mutable CodeOffsetTable m_blockStarts;    // text offset of each block
    mutable CodeOffsetTable m_blockPositions; // document position of each block
    mutable int m_rawLength = 0;
    mutable bool m_textValid = false;
    mutable QHash<int, CodeEditorText::LineEnd> m_lineEndByFormat;
    // The words of the text, kept up to date by the edits; null while being counted.
    std::shared_ptr<CodeDocumentWords> m_words;
    struct WordEdit {
        QString removed;
        QString added;
    };
    // Edits made while the words are being counted.
    std::vector<WordEdit> m_wordEdits;
    bool m_wordsBuilding = false;
    quint64 m_wordsSerial = 0;
    quint64 m_revision = 0;
    struct Splice {
        int start = 0;
        int removed = 0;
        int added = 0;
    } m_lastSplice;
    int m_programmatic = 0;
    // Colour per document position (a separator counts once).
    CodeGapBuffer<QByteArray> m_colors;
    int m_lastRecolored = 0;
    CodeShapedBlocks m_shaped;
    quint64 m_colorsGeneration = 0;
    // The block number the idle-time colouring goes on from; -1 when none is left.
    int m_pendingRecolor = -1;
    QTimer* m_recolorTimer = nullptr;
    // The insertion point, drawn here in the accent colour.
    QColor m_caretColor;
    QTimer* m_caretBlink = nullptr;
    bool m_caretOn = true;
    QRect m_caretRect;
    void restartCaretBlink();
};

#include "workspace/CodeEditorTextView.h"

#include "workspace/CodeCompletionProvider.h"
#include "workspace/CodeDocumentLayout.h"
#include "workspace/CodeDocumentWords.h"
#include "workspace/CodeEditingAssistant.h"
#include "workspace/CodeEditorTheme.h"
#include "workspace/CodeLineNumberRulerView.h"
#include "workspace/CodeWorkerQueue.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QStyleHints>
#include <QCompleter>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QStringListModel>
#include <QTextDocument>
#include <QTextLayout>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QElapsedTimer>
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

using CodeEditorText::LineEnd;

namespace {

// How long the colouring of blocks out of view waits after an edit typed by the user.
constexpr int kRecolorPauseWhileTypingMs = 100;
// The work one turn of the event loop gives that colouring.
constexpr qint64 kRecolorSliceNs = 2'000'000;

// The colour runs a block shows, kept with the block so that re-colouring can skip it.
struct ColorRun {
    int start;
    int length;
    unsigned char role;
    bool operator==(const ColorRun&) const = default;
};

class BlockColors : public QTextBlockUserData {
public:
    std::vector<ColorRun> runs;
    CodeShapedBlocks::Member shaped;
};

const QTextCharFormat& roleFormat(unsigned char role)
{
    static const std::vector<QTextCharFormat> formats = [] {
        std::vector<QTextCharFormat> list;
        for (int i = 0; i < CodeEditorTheme::roleCount; ++i) {
            QTextCharFormat format;
            format.setForeground(CodeEditorTheme::color(CodeEditorTheme::Role(i)));
            list.push_back(format);
        }
        return list;
    }();
    return formats[std::min<size_t>(role, formats.size() - 1)];
}

bool isWordCharacter(QChar c) { return CodeDocumentWords::isWordCharacter(c); }

// Counts the words of a newly set text off the main thread (see CodeWorkerQueue.h).
QThreadPool* wordsPool()
{
    static QThreadPool* pool = CodeWorkerQueue::create();
    return pool;
}

QFont editorFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(13);
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace

CodeEditorTextView::CodeEditorTextView(QWidget* parent)
    : QPlainTextEdit(parent)
{
    // A document of its own, laid out by a layout that knows a change of colours from one of text.
    auto* doc = new QTextDocument(this);
    m_layout = new CodeDocumentLayout(doc);
    doc->setDocumentLayout(m_layout);
    setDocument(doc);
    setObjectName(QStringLiteral("codeTextView"));
    setAccessibleName(QStringLiteral("Code editor"));
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setUndoRedoEnabled(true);
    setTabChangesFocus(false);
    setCenterOnScroll(false);

    const QFont font = editorFont();
    setFont(font);
    document()->setDefaultFont(font);
    document()->setDocumentMargin(verticalInset);
    setTabStopDistance(28);

    // Light editor colours whatever the desktop theme.
    QPalette pal = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, CodeEditorTheme::background());
        pal.setColor(group, QPalette::Window, CodeEditorTheme::background());
        pal.setColor(group, QPalette::Text, CodeEditorTheme::base());
        pal.setColor(group, QPalette::WindowText, CodeEditorTheme::base());
        pal.setColor(group, QPalette::Highlight, QColor(0xB3, 0xD7, 0xFF));
        pal.setColor(group, QPalette::HighlightedText, CodeEditorTheme::base());
    }
    m_caretColor = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    setPalette(pal);
    setAutoFillBackground(true);
    // Qt's own insertion point takes the text colour; this one is drawn in paintEvent().
    setCursorWidth(0);
    m_recolorTimer = new QTimer(this);
    m_recolorTimer->setSingleShot(true);
    connect(m_recolorTimer, &QTimer::timeout, this, [this] { recolorPendingSlice(); });
    m_caretBlink = new QTimer(this);
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    m_caretBlink->setInterval(flash > 0 ? flash / 2 : 500);
    connect(m_caretBlink, &QTimer::timeout, this, [this] {
        m_caretOn = !m_caretOn;
        viewport()->update(m_caretRect.adjusted(-2, -1, 2, 1));
    });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] { restartCaretBlink(); });

    m_ruler = new CodeLineNumberRulerView(this);
    connect(m_ruler, &CodeLineNumberRulerView::ruleThicknessChanged, this, [this] { updateMargins(); });
    updateMargins();

    m_colors = CodeGapBuffer<QByteArray>(QByteArray(document()->characterCount(), 0));
    connect(document(), &QTextDocument::contentsChange, this, &CodeEditorTextView::onContentsChange);
    connect(document(), &QTextDocument::contentsChanged, this, [this] {
        if (m_programmatic == 0)
            emit userEdited();
    });

    m_completionModel = new QStringListModel(this);
    m_completer = new QCompleter(m_completionModel, this);
    m_completer->setWidget(this);
    m_completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    m_completer->setCaseSensitivity(Qt::CaseSensitive);
    m_completer->setMaxVisibleItems(10);
    m_completer->popup()->setObjectName(QStringLiteral("completionList"));
    m_completer->popup()->setAccessibleName(QStringLiteral("Completions"));
    QPalette listPalette = pal;
    listPalette.setColor(QPalette::Highlight, m_caretColor);
    listPalette.setColor(QPalette::HighlightedText, Qt::white);
    m_completer->popup()->setPalette(listPalette);
    connect(m_completer, qOverload<const QString&>(&QCompleter::activated), this,
            [this](const QString& word) { acceptCompletion(word); });
}

// ---- The file's text ------------------------------------------------------------------------

LineEnd CodeEditorTextView::lineEndOfBlock(const QTextBlock& block) const
{
    const int index = block.charFormatIndex();
    const auto found = m_lineEndByFormat.constFind(index);
    if (found != m_lineEndByFormat.constEnd())
        return *found;
    const LineEnd end = CodeEditorText::lineEndOf(block.charFormat());
    m_lineEndByFormat.insert(index, end);
    return end;
}

void CodeEditorTextView::rebuildTextCache() const
{
    const QString raw = document()->toRawText();
    QString out;
    out.reserve(raw.size() + raw.size() / 32 + 16);
    std::vector<int> blockStarts;
    std::vector<int> blockPositions;
    blockStarts.reserve(size_t(document()->blockCount()));
    blockPositions.reserve(size_t(document()->blockCount()));
    blockStarts.push_back(0);
    blockPositions.push_back(0);
    QTextBlock block = document()->begin();
    qsizetype runStart = 0;
    const QChar* data = raw.constData();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (data[i].unicode() != 0x2029)
            continue;
        out.append(QStringView(raw).mid(runStart, i - runStart));
        block = block.next();
        out.append(CodeEditorText::terminator(block.isValid() ? lineEndOfBlock(block) : LineEnd::lf));
        blockStarts.push_back(int(out.size()));
        blockPositions.push_back(int(i + 1));
        runStart = i + 1;
    }
    out.append(QStringView(raw).mid(runStart));
    m_text = CodeGapBuffer<QString>(std::move(out));
    m_blockStarts = CodeOffsetTable(std::move(blockStarts));
    m_blockPositions = CodeOffsetTable(std::move(blockPositions));
    m_rawLength = int(raw.size());
    m_textValid = true;
}

QString CodeEditorTextView::textFromDocument() const
{
    const bool valid = m_textValid;
    const CodeGapBuffer<QString> text = m_text;
    const CodeOffsetTable starts = m_blockStarts;
    const CodeOffsetTable positions = m_blockPositions;
    const int rawLength = m_rawLength;
    rebuildTextCache();
    QString rebuilt = m_text.whole();
    m_textValid = valid;
    m_text = text;
    m_blockStarts = starts;
    m_blockPositions = positions;
    m_rawLength = rawLength;
    return rebuilt;
}

// Brings the cached text up to date after the document range [position, position + removed)
// became [position, position + added); false when the cache cannot follow.
bool CodeEditorTextView::updateTextCache(int position, int removed, int added)
{
    const int newRawLength = document()->characterCount() - 1;
    if (position < 0 || position > m_rawLength || m_blockStarts.empty())
        return false;
    // Ranges may count the document's closing separator, which is not part of the text.
    const int oldEnd = std::min(position + std::max(removed, 0), m_rawLength);
    const int newEnd = std::min(position + std::max(added, 0), newRawLength);
    if (m_rawLength - (oldEnd - position) + (newEnd - position) != newRawLength)
        return false;

    auto oldBlockAt = [&](int documentPosition) { return m_blockPositions.upperBound(documentPosition) - 1; };
    const size_t first = oldBlockAt(position);
    const size_t last = oldBlockAt(oldEnd);
    const int oldStart = m_blockStarts[first] + (position - m_blockPositions[first]);
    const int oldStop = m_blockStarts[last] + (oldEnd - m_blockPositions[last]);

    // The new text of the range, and the blocks that start inside it.
    QString segment;
    std::vector<int> newStarts;
    std::vector<int> newPositions;
    QTextBlock block = document()->findBlock(position);
    int p = position;
    while (block.isValid() && p < newEnd) {
        const int separator = block.position() + block.length() - 1;
        const int take = std::min(newEnd, separator) - p;
        if (take > 0) {
            segment += block.text().mid(p - block.position(), take);
            p += take;
        }
        if (p >= newEnd)
            break;
        block = block.next();
        if (!block.isValid())
            return false;
        segment += CodeEditorText::terminator(lineEndOfBlock(block));
        newStarts.push_back(oldStart + int(segment.size()));
        newPositions.push_back(block.position());
        p = block.position();
    }
    if (p != newEnd)
        return false;

    // The words that touch the edit, before and after it.
    const bool countWords = m_words || m_wordsBuilding;
    qsizetype wordsFrom = oldStart;
    qsizetype wordsTo = oldStop;
    QString removedWords;
    if (countWords) {
        while (wordsFrom > 0 && isWordCharacter(m_text.at(wordsFrom - 1)))
            --wordsFrom;
        while (wordsTo < m_text.size() && isWordCharacter(m_text.at(wordsTo)))
            ++wordsTo;
        const qsizetype length = wordsTo - wordsFrom;
        if (m_words)
            m_words->remove(QStringView(m_text.constData(wordsFrom, length), length));
        else
            removedWords = m_text.mid(wordsFrom, length);
    }
    m_text.replace(oldStart, oldStop - oldStart, segment);
    const int modelDelta = int(segment.size()) - (oldStop - oldStart);
    if (countWords) {
        const qsizetype length = wordsTo - wordsFrom + modelDelta;
        const QStringView added(m_text.constData(wordsFrom, length), length);
        if (m_words)
            m_words->add(added);
        else
            m_wordEdits.push_back({std::move(removedWords), added.toString()});
    }
    const int documentDelta = (newEnd - position) - (oldEnd - position);
    // The blocks after the edit move by its change of length, as they are next looked at.
    m_blockStarts.replace(first + 1, last + 1, newStarts);
    m_blockStarts.shift(first + 1 + newStarts.size(), modelDelta);
    m_blockPositions.replace(first + 1, last + 1, newPositions);
    m_blockPositions.shift(first + 1 + newPositions.size(), documentDelta);
    m_rawLength = newRawLength;
    if (m_blockStarts.size() != size_t(document()->blockCount()))
        return false;
    m_ruler->followEdit(oldStart, oldStop - oldStart, segment, m_revision);
    m_lastSplice = {oldStart, oldStop - oldStart, int(segment.size())};
    return true;
}

void CodeEditorTextView::ensureTextCache() const
{
    if (!m_textValid)
        rebuildTextCache();
}

const QString& CodeEditorTextView::text() const
{
    ensureTextCache();
    return m_text.whole();
}

qsizetype CodeEditorTextView::textLength() const
{
    ensureTextCache();
    return m_text.size();
}

QStringView CodeEditorTextView::textStretch(qsizetype start, qsizetype length) const
{
    ensureTextCache();
    start = std::clamp<qsizetype>(start, 0, m_text.size());
    length = std::clamp<qsizetype>(length, 0, m_text.size() - start);
    return QStringView(m_text.constData(start, length), length);
}

std::pair<QStringView, QStringView> CodeEditorTextView::textAround(qsizetype offset) const
{
    ensureTextCache();
    return m_text.around(std::clamp<qsizetype>(offset, 0, m_text.size()));
}

qsizetype CodeEditorTextView::modelStartOfBlock(const QTextBlock& block) const
{
    ensureTextCache();
    const int number = block.blockNumber();
    if (number < 0 || size_t(number) >= m_blockStarts.size())
        return m_text.size();
    return m_blockStarts[size_t(number)];
}

int CodeEditorTextView::toTextOffset(int documentPosition) const
{
    ensureTextCache();
    const QTextBlock block = document()->findBlock(std::max(documentPosition, 0));
    if (!block.isValid())
        return int(m_text.size());
    const int within = std::clamp(documentPosition - block.position(), 0, std::max(block.length() - 1, 0));
    return int(std::min<qsizetype>(modelStartOfBlock(block) + within, m_text.size()));
}

int CodeEditorTextView::toDocumentPosition(int offset) const
{
    ensureTextCache();
    const int clamped = int(std::clamp<qsizetype>(offset, 0, m_text.size()));
    const int number = int(m_blockStarts.upperBound(clamped)) - 1;
    const QTextBlock block = document()->findBlockByNumber(std::max(number, 0));
    if (!block.isValid())
        return std::max(document()->characterCount() - 1, 0);
    const int within = std::min(clamped - m_blockStarts[size_t(std::max(number, 0))], block.length() - 1);
    return block.position() + std::max(within, 0);
}

CodeEditorTextView::Range CodeEditorTextView::selectedRange() const
{
    const QTextCursor cursor = textCursor();
    const int start = toTextOffset(cursor.selectionStart());
    const int end = toTextOffset(cursor.selectionEnd());
    return {start, end - start};
}

void CodeEditorTextView::setSelectedRange(Range range)
{
    QTextCursor cursor(document());
    cursor.setPosition(toDocumentPosition(range.location));
    if (range.length > 0)
        cursor.setPosition(toDocumentPosition(range.location + range.length), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

void CodeEditorTextView::replaceEditorText(const QString& text)
{
    std::vector<LineEnd> ends;
    const QString documentText = CodeEditorText::toDocumentText(text, &ends);
    std::map<LineEnd, qsizetype> counts;
    for (LineEnd end : ends)
        ++counts[end];
    LineEnd dominant = LineEnd::lf;
    qsizetype most = 0;
    for (const auto& [end, count] : counts) {
        if (count > most) {
            most = count;
            dominant = end;
        }
    }

    m_completer->popup()->hide();
    forgetWords();
    ++m_programmatic;
    // The gutter takes its width for the new line count before the text goes in: a change of
    // width lays the whole text out again.
    const qsizetype lineFeeds = std::count_if(ends.begin(), ends.end(), [](LineEnd end) {
        return end == LineEnd::lf || end == LineEnd::crlf;
    });
    setRulerThickness(CodeLineNumberRulerView::thicknessFor(lineFeeds + 1));
    QTextDocument* doc = document();
    doc->setUndoRedoEnabled(false);
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    cursor.insertText(documentText, CodeEditorText::separatorFormat(dominant));
    if (counts.size() > 1) {
        QTextBlock block = doc->begin().next();
        for (size_t i = 0; i < ends.size() && block.isValid(); ++i, block = block.next()) {
            if (ends[i] == dominant)
                continue;
            QTextCursor separator(doc);
            separator.setPosition(block.position() - 1);
            separator.setPosition(block.position(), QTextCursor::KeepAnchor);
            separator.setCharFormat(CodeEditorText::separatorFormat(ends[i]));
        }
    }
    cursor.endEditBlock();
    doc->setUndoRedoEnabled(true);
    // The first block outlives the replacement: drop its old colours.
    QTextBlock first = doc->begin();
    first.setUserData(nullptr);
    first.layout()->clearFormats();
    document()->markContentsDirty(first.position(), first.length());
    m_colors = CodeGapBuffer<QByteArray>(QByteArray(doc->characterCount(), 0));
    // A pass over the text that was replaced has nothing left to do.
    m_pendingRecolor = -1;
    m_recolorTimer->stop();
    adoptText(text, documentText, ends);
    --m_programmatic;
    viewport()->update();
}

// The text cache and the ruler's line table for a document just made from `text`, found from the
// separators instead of read back from the whole document.
void CodeEditorTextView::adoptText(const QString& text, const QString& documentText, const std::vector<LineEnd>& ends)
{
    m_textValid = false;
    if (document()->characterCount() - 1 != documentText.size() || size_t(document()->blockCount()) != ends.size() + 1)
        return;
    std::vector<int> blockStarts {0};
    std::vector<int> blockPositions {0};
    std::vector<int> lineStarts {0};
    blockStarts.reserve(ends.size() + 1);
    blockPositions.reserve(ends.size() + 1);
    qsizetype separator = -1;
    int longer = 0; // the CR LF pairs so far: two characters in the text, one in the document
    for (LineEnd end : ends) {
        separator = documentText.indexOf(QChar(0x2029), separator + 1);
        if (separator < 0)
            return;
        if (end == LineEnd::crlf)
            ++longer;
        const int position = int(separator + 1);
        blockPositions.push_back(position);
        blockStarts.push_back(position + longer);
        if (end == LineEnd::lf || end == LineEnd::crlf)
            lineStarts.push_back(position + longer);
    }
    m_text = CodeGapBuffer<QString>(text);
    m_blockStarts = CodeOffsetTable(std::move(blockStarts));
    m_blockPositions = CodeOffsetTable(std::move(blockPositions));
    m_rawLength = int(documentText.size());
    m_textValid = true;
    m_ruler->adoptLineStarts(std::move(lineStarts), text.size(), m_revision);
    startCountingWords(text);
}

void CodeEditorTextView::forgetWords()
{
    m_words.reset();
    m_wordEdits.clear();
    m_wordsBuilding = false;
    ++m_wordsSerial;
}

void CodeEditorTextView::startCountingWords(const QString& snapshot)
{
    forgetWords();
    m_wordsBuilding = true;
    const quint64 serial = m_wordsSerial;
    QPointer<CodeEditorTextView> self(this);
    wordsPool()->start([self, serial, snapshot] {
        auto words = std::make_shared<CodeDocumentWords>(QStringView(snapshot));
        QMetaObject::invokeMethod(
            qApp,
            [self, serial, words] {
                if (!self || serial != self->m_wordsSerial)
                    return;
                // The edits made meanwhile.
                for (const WordEdit& edit : self->m_wordEdits) {
                    words->remove(edit.removed);
                    words->add(edit.added);
                }
                self->m_wordEdits.clear();
                self->m_words = words;
                self->m_wordsBuilding = false;
            },
            Qt::QueuedConnection);
    });
}

void CodeEditorTextView::onContentsChange(int position, int removed, int added)
{
    ++m_revision;
    const bool followed = m_textValid && m_programmatic == 0 && updateTextCache(position, removed, added);
    m_textValid = followed;
    if (m_programmatic == 0) {
        if (followed) {
            emit textSpliced(m_lastSplice.start, m_lastSplice.removed, m_lastSplice.added);
        } else {
            forgetWords();
            emit textReset();
        }
    }
    // Colours follow the text: inserted characters take the colour before them until the next
    // highlight.
    const int count = document()->characterCount();
    position = std::clamp(position, 0, int(m_colors.size()));
    removed = std::clamp(removed, 0, int(m_colors.size()) - position);
    char fill = 0;
    if (position > 0)
        fill = m_colors.at(position - 1);
    else if (position + removed < m_colors.size())
        fill = m_colors.at(position + removed);
    m_colors.replace(position, removed, QByteArray(std::max(added, 0), fill));
    if (m_colors.size() != count)
        m_colors = CodeGapBuffer<QByteArray>(QByteArray(count, 0));
    // Lines removed before the block the idle-time colouring goes on from move it up.
    if (m_pendingRecolor >= 0) {
        m_pendingRecolor = std::min(m_pendingRecolor, document()->findBlock(position).blockNumber());
        // While the user types, the blocks out of view wait: keys come first.
        if (m_programmatic == 0)
            m_recolorTimer->start(kRecolorPauseWhileTypingMs);
    }
    if (m_programmatic == 0) {
        // The edit's own blocks are laid out and repainted with the edit; a block past them that
        // took new colours is repainted here.
        m_layout->expectEdit(position, removed, std::max(added, 0));
        const QTextBlock first = document()->findBlock(position);
        const auto [from, to] = recolorBlocks(first, document()->findBlock(position + std::max(added, 0)));
        const int editEnd = std::max(0, position + std::max(removed, 0) + std::max(added, 0) - 1);
        if (from >= 0 && document()->findBlock(to - 1).blockNumber() > document()->findBlock(editEnd).blockNumber())
            viewport()->update();
    }
}

void CodeEditorTextView::insertWithLineEnds(QTextCursor& cursor, const QString& text)
{
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size();) {
        LineEnd end;
        const int length = CodeEditorText::terminatorAt(text, i, &end);
        if (length == 0) {
            ++i;
            continue;
        }
        if (i > runStart)
            cursor.insertText(text.mid(runStart, i - runStart), QTextCharFormat());
        cursor.insertBlock(cursor.blockFormat(), CodeEditorText::separatorFormat(end));
        i += length;
        runStart = i;
    }
    if (runStart < text.size())
        cursor.insertText(text.mid(runStart), QTextCharFormat());
}

void CodeEditorTextView::insertText(const QString& text)
{
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    if (cursor.hasSelection())
        cursor.removeSelectedText();
    insertWithLineEnds(cursor, text);
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
    afterTypedText(text);
}

void CodeEditorTextView::afterTypedText(const QString& typed)
{
    if (typed == QLatin1String(">")) {
        const Range caret = selectedRange();
        const auto [before, after] = textAround(caret.location);
        const std::optional<QString> closing = CodeEditingAssistant::autoClosingTag(fileName, before, after);
        if (closing) {
            insertText(*closing);
            setSelectedRange({caret.location, 0});
        }
        return;
    }
    if (typed == QLatin1String("<") || typed == QLatin1String("@")) {
        QPointer<CodeEditorTextView> self(this);
        QTimer::singleShot(0, this, [self] {
            if (self)
                self->complete();
        });
    }
}

QMimeData* CodeEditorTextView::createMimeDataFromSelection() const
{
    const Range range = selectedRange();
    auto* data = new QMimeData;
    data->setText(textStretch(range.location, range.length).toString());
    return data;
}

void CodeEditorTextView::insertFromMimeData(const QMimeData* source)
{
    if (!source || !source->hasText())
        return;
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    if (cursor.hasSelection())
        cursor.removeSelectedText();
    insertWithLineEnds(cursor, source->text());
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

// ---- Keys -----------------------------------------------------------------------------------

bool CodeEditorTextView::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool controlSpace = key->key() == Qt::Key_Space && (key->modifiers() & Qt::ControlModifier);
        if ((key->key() == Qt::Key_Escape && isCompletionListVisible()) || controlSpace) {
            event->accept();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

void CodeEditorTextView::keyPressEvent(QKeyEvent* event)
{
    if (isCompletionListVisible()) {
        QAbstractItemView* popup = m_completer->popup();
        const int rows = m_completionModel->rowCount();
        const int row = popup->currentIndex().isValid() ? popup->currentIndex().row() : 0;
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown: {
            const int step = event->key() == Qt::Key_Up ? -1 : event->key() == Qt::Key_Down ? 1
                           : event->key() == Qt::Key_PageUp ? -m_completer->maxVisibleItems()
                                                            : m_completer->maxVisibleItems();
            popup->setCurrentIndex(m_completionModel->index(std::clamp(row + step, 0, std::max(rows - 1, 0)), 0));
            event->accept();
            return;
        }
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
            if (row < rows)
                acceptCompletion(m_completionModel->index(row, 0).data().toString());
            else
                popup->hide();
            event->accept();
            return;
        case Qt::Key_Escape:
        case Qt::Key_Backtab:
            popup->hide();
            event->accept();
            return;
        default:
            break;
        }
    }

    if (event->key() == Qt::Key_Space && (event->modifiers() & Qt::ControlModifier)) {
        complete();
        event->accept();
        return;
    }

    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        const Range selection = selectedRange();
        const auto [before, after] = textAround(selection.location);
        const std::optional<CodeEditingAssistant::Edit> edit = CodeEditingAssistant::smartNewline(fileName, before, after);
        if (edit) {
            insertText(edit->text);
            setSelectedRange({selection.location + edit->caretOffset, 0});
        } else {
            // Every modifier gives a line feed (Shift+Return would insert U+2028).
            insertText(QStringLiteral("\n"));
        }
        event->accept();
        return;
    }

    const quint64 before = m_revision;
    QPlainTextEdit::keyPressEvent(event);
    if (m_revision != before && event->text().size() == 1)
        afterTypedText(event->text());
    if (isCompletionListVisible())
        refreshCompletion();
}

void CodeEditorTextView::inputMethodEvent(QInputMethodEvent* event)
{
    const quint64 before = m_revision;
    const QString commit = event->commitString();
    QPlainTextEdit::inputMethodEvent(event);
    if (m_revision != before && commit.size() == 1)
        afterTypedText(commit);
}

// ---- Colours --------------------------------------------------------------------------------

bool CodeEditorTextView::recolorBlock(const QTextBlock& constBlock)
{
    QTextBlock block = constBlock;
    const int start = block.position();
    const int length = std::max(block.length() - 1, 0);
    std::vector<ColorRun> runs;
    const int available = std::clamp(int(m_colors.size()) - start, 0, length);
    const char* colors = m_colors.constData(start, available);
    for (int i = 0; i < available;) {
        const unsigned char role = static_cast<unsigned char>(colors[i]);
        int j = i + 1;
        while (j < available && static_cast<unsigned char>(colors[j]) == role)
            ++j;
        if (role != 0)
            runs.push_back({i, j - i, role});
        i = j;
    }
    auto* stored = static_cast<BlockColors*>(block.userData());
    if (stored && stored->runs == runs)
        return false;
    QList<QTextLayout::FormatRange> ranges;
    ranges.reserve(qsizetype(runs.size()));
    for (const ColorRun& run : runs)
        ranges.append({run.start, run.length, roleFormat(run.role)});
    block.layout()->setFormats(ranges);
    if (!stored) {
        stored = new BlockColors;
        block.setUserData(stored);
    }
    stored->runs = std::move(runs);
    return true;
}

std::pair<int, int> CodeEditorTextView::recolorBlocks(const QTextBlock& first, const QTextBlock& last)
{
    int from = -1;
    int to = -1;
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        if (recolorBlock(block)) {
            if (from < 0)
                from = block.position();
            to = block.position() + block.length();
        }
        if (block == last)
            break;
    }
    return {from, to};
}

void CodeEditorTextView::markColorsChanged(int from, int to)
{
    m_layout->expectColorsOnly(from, to - from);
    document()->markContentsDirty(from, to - from);
}

bool CodeEditorTextView::mayBeInView(int first, int last) const
{
    // Every block takes a line at least.
    const int top = firstVisibleBlock().blockNumber();
    const int lines = viewport()->height() / std::max(1, fontMetrics().lineSpacing()) + 2;
    return last >= top && first <= top + lines;
}

void CodeEditorTextView::adoptOwnText(QString own, quint64 revision)
{
    if (!m_textValid || revision != m_revision || own.size() != m_text.size()
        || (!m_text.isShared() && m_text.room() > 0))
        return;
    m_text = CodeGapBuffer<QString>(std::move(own));
}

void CodeEditorTextView::applyColors(const QByteArray& textColors)
{
    if (textColors.size() != textLength())
        return;
    applyColorRange(0, textColors);
}

void CodeEditorTextView::applyColorRange(int textBegin, const QByteArray& textColors)
{
    const qsizetype textSize = textLength();
    if (textBegin < 0 || textBegin + textColors.size() > textSize)
        return;
    ++m_colorsGeneration;
    const qsizetype count = document()->characterCount();
    const bool whole = textBegin == 0 && textColors.size() == textSize;
    // Colours that no longer fit the document (none applied yet) are replaced whole, with room to
    // grow: a keystroke inserts into them without moving them to a new buffer.
    bool comparable = m_colors.size() == count;
    if (!comparable) {
        if (!whole)
            return;
        QByteArray colors;
        colors.reserve(count + count / 32 + 16);
        colors.resize(count);
        colors.fill(0);
        m_colors = CodeGapBuffer<QByteArray>(std::move(colors));
    }
    // The range's colours by document position: a CR LF pair is one separator in the document.
    const int first = toDocumentPosition(textBegin);
    QByteArray fresh;
    fresh.reserve(textColors.size());
    const char* in = textColors.constData();
    const qsizetype size = textColors.size();
    const qsizetype total = textSize - textBegin;
    // One character past the range tells a CR LF pair at its end.
    const QChar* chars = m_text.constData(textBegin, std::min(size + 1, total));
    for (qsizetype i = 0; i < size; ++i) {
        if (chars[i] == u'\r' && i + 1 < total && chars[i + 1] == u'\n')
            continue;
        fresh.append(in[i]);
    }
    if (first + fresh.size() > m_colors.size())
        fresh.truncate(std::max<qsizetype>(m_colors.size() - first, 0));

    // Every block shows the colours m_colors holds for it, so only blocks where the new colours
    // differ need a look: found before the new colours go in.
    std::vector<int> changedAt;
    if (comparable) {
        const char* before = m_colors.constData(first, fresh.size());
        const char* after = fresh.constData();
        const qsizetype length = fresh.size();
        qsizetype i = 0;
        while (i < length) {
            const qsizetype chunk = std::min<qsizetype>(4096, length - i);
            if (std::memcmp(before + i, after + i, size_t(chunk)) == 0) {
                i += chunk;
                continue;
            }
            while (i < length && before[i] == after[i])
                ++i;
            if (i >= length)
                break;
            const QTextBlock block = document()->findBlock(int(first + i));
            if (!block.isValid())
                break;
            changedAt.push_back(block.position());
            i = std::max<qsizetype>(i + 1, block.position() + block.length() - first);
        }
    }
    if (!fresh.isEmpty())
        std::memcpy(m_colors.data(first, fresh.size()), fresh.constData(), size_t(fresh.size()));

    // Many blocks changing colour at once (a new text's first colours) are coloured in view at
    // once and the rest in slices at idle time, so that the main thread is not held for all of
    // them in one turn.
    constexpr int kSyncBlocks = 400;
    int recolored = 0;
    int deferFrom = comparable ? -1 : 0;
    for (int position : changedAt) {
        const QTextBlock block = document()->findBlock(position);
        if (recolored >= kSyncBlocks) {
            deferFrom = block.blockNumber();
            break;
        }
        if (!recolorBlock(block))
            continue;
        ++recolored;
        // Marked at once: the document joins the blocks given formats before a mark into one
        // range, and blocks far apart would have every block in between laid out again.
        markColorsChanged(block.position(), block.position() + block.length());
    }
    // Blocks an earlier pass has not reached yet still need their look, changed or not.
    if (m_pendingRecolor >= 0)
        deferFrom = deferFrom < 0 ? m_pendingRecolor : std::min(deferFrom, m_pendingRecolor);
    m_pendingRecolor = deferFrom;
    if (deferFrom >= 0) {
        recolorVisibleBlocks();
        m_recolorTimer->start(0);
    } else {
        m_recolorTimer->stop();
    }
    m_lastRecolored = recolored;
    if (recolored > 0 || deferFrom >= 0)
        viewport()->update();
}

void CodeEditorTextView::recolorVisibleBlocks()
{
    QTextBlock block = firstVisibleBlock();
    // A screen above and below as well.
    const int lines = std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing()));
    for (int i = 0; i < lines && block.previous().isValid(); ++i)
        block = block.previous();
    QTextBlock last = block;
    for (int i = 0; i < 3 * lines && last.next().isValid(); ++i)
        last = last.next();
    if (const auto [from, to] = recolorBlocks(block, last); from >= 0) {
        markColorsChanged(from, to);
        viewport()->update();
    }
}

void CodeEditorTextView::recolorPendingSlice()
{
    if (m_pendingRecolor < 0) {
        m_recolorTimer->stop();
        return;
    }
    QElapsedTimer slice;
    slice.start();
    int from = -1;
    int to = -1;
    QTextBlock block = document()->findBlockByNumber(m_pendingRecolor);
    for (int n = 0; block.isValid(); block = block.next(), ++n) {
        if (n % 32 == 0 && slice.nsecsElapsed() >= kRecolorSliceNs)
            break;
        if (!recolorBlock(block))
            continue;
        ++m_lastRecolored;
        if (from < 0)
            from = block.position();
        to = block.position() + block.length();
    }
    if (from >= 0) {
        markColorsChanged(from, to);
        const QTextDocument* doc = document();
        if (mayBeInView(doc->findBlock(from).blockNumber(), doc->findBlock(to - 1).blockNumber()))
            viewport()->update();
    }
    if (block.isValid()) {
        m_pendingRecolor = block.blockNumber();
        m_recolorTimer->start(0);
    } else {
        m_pendingRecolor = -1;
    }
}

QColor CodeEditorTextView::foregroundAt(int offset) const
{
    const int position = toDocumentPosition(offset);
    const QTextBlock block = document()->findBlock(position);
    if (!block.isValid() || !block.layout())
        return CodeEditorTheme::base();
    const int within = position - block.position();
    const QList<QTextLayout::FormatRange> ranges = block.layout()->formats();
    for (const QTextLayout::FormatRange& range : ranges) {
        if (within >= range.start && within < range.start + range.length)
            return range.format.foreground().color();
    }
    return CodeEditorTheme::base();
}

// ---- Completion -----------------------------------------------------------------------------

QStringList CodeEditorTextView::scanDocumentWords(const QString& partial, int start, int end) const
{
    if (partial.isEmpty())
        return {};
    const QString& source = text();
    std::set<QString> seen;
    QStringList words;
    CodeDocumentWords::forEachWord(source, [&](qsizetype i, qsizetype j) {
        const bool beingTyped = i <= start && j >= end;
        if (!beingTyped && j - i > partial.size()) {
            const QString word = source.mid(i, j - i);
            if (word.toLower().startsWith(partial) && seen.insert(word).second)
                words << word;
        }
    });
    std::stable_sort(words.begin(), words.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    return words;
}

QStringList CodeEditorTextView::documentWords(const QString& partial, int start, int end) const
{
    if (partial.isEmpty())
        return {};
    if (!m_words) {
        // Not counted yet (or no longer): read the text this once, and count it for the next time.
        if (!m_wordsBuilding)
            const_cast<CodeEditorTextView*>(this)->startCountingWords(text());
        return scanDocumentWords(partial, start, end);
    }
    const QString& source = text();
    const qsizetype size = source.size();
    start = int(std::clamp<qsizetype>(start, 0, size));
    end = int(std::clamp<qsizetype>(end, start, size));
    // The word being typed: the run of word characters holding the whole partial word.
    qsizetype typedStart = -1;
    QString typed;
    if (start < end
        && std::all_of(source.constData() + start, source.constData() + end, [](QChar c) { return isWordCharacter(c); })) {
        qsizetype i = start;
        qsizetype j = end;
        while (i > 0 && isWordCharacter(source.at(i - 1)))
            --i;
        while (j < size && isWordCharacter(source.at(j)))
            ++j;
        typedStart = i;
        typed = source.mid(i, j - i);
    }
    QStringList words = m_words->candidates(partial, typed);
    // In case-insensitive order; words that differ only in case in the order they first appear.
    QHash<QString, qsizetype> firstSeen;
    const auto firstOccurrence = [&](const QString& word) {
        const auto known = firstSeen.constFind(word);
        if (known != firstSeen.constEnd())
            return *known;
        qsizetype found = size;
        for (qsizetype at = source.indexOf(word); at >= 0; at = source.indexOf(word, at + 1)) {
            const bool whole = (at == 0 || !isWordCharacter(source.at(at - 1)))
                && (at + word.size() == size || !isWordCharacter(source.at(at + word.size())));
            if (whole && !(at == typedStart && word == typed)) {
                found = at;
                break;
            }
        }
        firstSeen.insert(word, found);
        return found;
    };
    std::sort(words.begin(), words.end(), [&](const QString& a, const QString& b) {
        const int order = QString::compare(a, b, Qt::CaseInsensitive);
        if (order != 0)
            return order < 0;
        return firstOccurrence(a) < firstOccurrence(b);
    });
    return words;
}

QStringList CodeEditorTextView::completions(int start, int end, int* index) const
{
    const qsizetype size = textLength();
    start = int(std::clamp<qsizetype>(start, 0, size));
    end = int(std::clamp<qsizetype>(end, start, size));
    const QString partial = textStretch(start, end - start).toString().toLower();
    *index = 0;
    // The text before the caret, where the last edit left the gap: read in place.
    QStringList list = CodeCompletionProvider::suggestions(fileName, textStretch(0, end), partial);
    if (list.isEmpty())
        list = documentWords(partial, start, end);
    return list;
}

void CodeEditorTextView::complete()
{
    const Range selection = selectedRange();
    const int caret = selection.location + selection.length;
    int start = int(std::min<qsizetype>(caret, textLength()));
    while (start > 0 && isWordCharacter(m_text.at(start - 1)))
        --start;
    int index = 0;
    const QStringList list = completions(start, caret, &index);
    if (list.isEmpty()) {
        m_completer->popup()->hide();
        return;
    }
    m_completionStart = start;
    m_completionModel->setStringList(list);
    m_completer->setCompletionPrefix(QString());
    QRect rect = cursorRect();
    rect.translate(viewportMargins().left(), viewportMargins().top());
    QAbstractItemView* popup = m_completer->popup();
    rect.setWidth(std::max(200, popup->sizeHintForColumn(0) + popup->verticalScrollBar()->sizeHint().width() + 8));
    m_completer->complete(rect);
    popup->setCurrentIndex(m_completionModel->index(index, 0));
}

void CodeEditorTextView::refreshCompletion()
{
    const Range selection = selectedRange();
    const int caret = selection.location + selection.length;
    if (selection.length != 0 || caret < m_completionStart || caret > textLength()) {
        m_completer->popup()->hide();
        return;
    }
    for (int i = m_completionStart; i < caret; ++i) {
        if (!isWordCharacter(m_text.at(i))) {
            m_completer->popup()->hide();
            return;
        }
    }
    int index = 0;
    const QStringList list = completions(m_completionStart, caret, &index);
    if (list.isEmpty()) {
        m_completer->popup()->hide();
        return;
    }
    m_completionModel->setStringList(list);
    m_completer->popup()->setCurrentIndex(m_completionModel->index(index, 0));
}

void CodeEditorTextView::acceptCompletion(const QString& word)
{
    m_completer->popup()->hide();
    const Range selection = selectedRange();
    const int caret = selection.location + selection.length;
    if (m_completionStart > caret)
        return;
    QTextCursor cursor(document());
    cursor.setPosition(toDocumentPosition(m_completionStart));
    cursor.setPosition(toDocumentPosition(caret), QTextCursor::KeepAnchor);
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    insertWithLineEnds(cursor, word);
    cursor.endEditBlock();
    setTextCursor(cursor);
}

bool CodeEditorTextView::isCompletionListVisible() const { return m_completer->popup()->isVisible(); }

QStringList CodeEditorTextView::completionList() const
{
    return isCompletionListVisible() ? m_completionModel->stringList() : QStringList();
}

// ---- Geometry -------------------------------------------------------------------------------

void CodeEditorTextView::restartCaretBlink()
{
    m_caretOn = true;
    if (hasFocus() && QGuiApplication::styleHints()->cursorFlashTime() > 0)
        m_caretBlink->start();
    viewport()->update(m_caretRect.adjusted(-2, -1, 2, 1));
    viewport()->update(cursorRect().adjusted(-2, -1, 2, 1));
}

void CodeEditorTextView::focusInEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusInEvent(event);
    restartCaretBlink();
}

void CodeEditorTextView::focusOutEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusOutEvent(event);
    m_caretBlink->stop();
    viewport()->update(m_caretRect.adjusted(-2, -1, 2, 1));
}

void CodeEditorTextView::paintEvent(QPaintEvent* event)
{
    // Blocks coming into view before the idle-time colouring reached them.
    if (m_pendingRecolor >= 0)
        recolorVisibleBlocks();
    keepShapedBlocksInView();
    QPlainTextEdit::paintEvent(event);
    m_shaped.trim();
    if (!hasFocus() || !m_caretOn || isReadOnly())
        return;
    const QRect caret = cursorRect();
    m_caretRect = QRect(caret.left(), caret.top(), 1, caret.height());
    QPainter painter(viewport());
    painter.fillRect(m_caretRect, m_caretColor);
}

void CodeEditorTextView::keepShapedBlocksInView()
{
    m_shaped.beginPaint();
    const qreal bottom = viewport()->height();
    qreal y = contentOffset().y();
    for (QTextBlock block = firstVisibleBlock(); block.isValid() && y <= bottom; block = block.next()) {
        y += blockHeight(block);
        auto* data = static_cast<BlockColors*>(block.userData());
        if (!data) {
            data = new BlockColors;
            block.setUserData(data);
        }
        m_shaped.keep(block, data->shaped);
    }
}

void CodeEditorTextView::setRulerThickness(int thickness) { m_ruler->setRuleThickness(thickness); }

void CodeEditorTextView::updateMargins()
{
    const int inset = horizontalInset - verticalInset;
    setViewportMargins(m_ruler->ruleThickness() + inset, 0, inset, 0);
    const QRect area = contentsRect();
    m_ruler->setGeometry(area.left(), area.top(), m_ruler->ruleThickness(), area.height());
}

void CodeEditorTextView::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    const QRect area = contentsRect();
    m_ruler->setGeometry(area.left(), area.top(), m_ruler->ruleThickness(), area.height());
}

qreal CodeEditorTextView::blockHeight(const QTextBlock& block) const { return blockBoundingRect(block).height(); }

qreal CodeEditorTextView::firstLineTop(const QTextBlock& block)
{
    const QTextLayout* layout = block.layout();
    return layout && layout->lineCount() > 0 ? layout->lineAt(0).y() : 0;
}

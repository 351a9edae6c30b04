#include "workspace/CodeTextEditor.h"

#include "workspace/CodeEditorFindBar.h"
#include "workspace/CodeLineNumberRulerView.h"
#include "workspace/CodeSyntaxHighlighter.h"
#include "workspace/CodeWorkerQueue.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QShortcut>
#include <QThreadPool>
#include <QVBoxLayout>

namespace {

// Characters an edit may have matched again on the main thread, over all rules, before the
// colouring goes back to a whole-text pass off it.
constexpr qsizetype kIncrementalBudget = qsizetype(1) << 18;

// The highlights' own queue (see CodeWorkerQueue.h).
QThreadPool* highlightPool()
{
    static QThreadPool* pool = CodeWorkerQueue::create();
    return pool;
}

// Receives finished highlights on the main thread; lives as long as the process, so a highlight
// finishing after its editor (or at exit) has somewhere to land.
QObject* highlightReceiver()
{
    static QObject* receiver = new QObject;
    return receiver;
}

} // namespace

CodeTextEditor::~CodeTextEditor()
{
    // A highlight still queued for this editor has nothing to do.
    m_latestHighlight->store(~quint64(0));
}

CodeTextEditor::CodeTextEditor(QWidget* parent)
    : QWidget(parent)
    , m_textView(new CodeEditorTextView(this))
    , m_findBar(new CodeEditorFindBar(this))
{
    setObjectName(QStringLiteral("codeTextEditor"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_findBar);
    layout->addWidget(m_textView, 1);
    m_findBar->hide();
    setFocusProxy(m_textView);
    highlightReceiver();

    m_highlightTimer.setSingleShot(true);
    m_highlightTimer.setInterval(80);
    connect(&m_highlightTimer, &QTimer::timeout, this, &CodeTextEditor::startBackgroundHighlight);

    connect(m_textView, &CodeEditorTextView::userEdited, this, &CodeTextEditor::textDidChange);
    connect(m_textView, &CodeEditorTextView::textSpliced, this, &CodeTextEditor::textSpliced);
    connect(m_textView, &CodeEditorTextView::textReset, this, [this] {
        // What changed is not known: the kept matches, and any being made, describe nothing.
        m_state.reset();
        m_edited = {};
        if (m_stateBuilding) {
            m_stateBuilding = false;
            m_latestHighlight->store(++m_highlightSerial);
        }
    });
    connect(m_textView, &QPlainTextEdit::cursorPositionChanged, this, &CodeTextEditor::textViewDidChangeSelection);
    connect(m_textView, &QPlainTextEdit::selectionChanged, this, &CodeTextEditor::textViewDidChangeSelection);
    connect(m_textView->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { refreshRuler(true); });
    connect(m_textView, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        // A text being replaced is not looked at half-way; the replacement refreshes the ruler.
        if (!m_textView->isReplacingText())
            refreshRuler(dy != 0 || rect.width() >= m_textView->viewport()->width());
    });

    auto* findShortcut = new QShortcut(QKeySequence::Find, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(findShortcut, &QShortcut::activated, this, &CodeTextEditor::showFindBar);
    connect(m_findBar, &CodeEditorFindBar::findNext, this, [this] { find(false); });
    connect(m_findBar, &CodeEditorFindBar::findPrevious, this, [this] { find(true); });
    connect(m_findBar, &CodeEditorFindBar::closeRequested, this, &CodeTextEditor::closeFindBar);

    finishDocumentUpdate(true, true);
}

CodeLineNumberRulerView* CodeTextEditor::ruler() const { return m_textView->ruler(); }

const QString& CodeTextEditor::text() const { return m_textView->text(); }

QList<CodeTextEditor::Range> CodeTextEditor::safeSelections(const QList<Range>& ranges, int textLength)
{
    const int length = std::max(textLength, 0);
    for (const Range& range : ranges) {
        if (range.location == notFound || range.location < 0)
            continue;
        const int location = std::min(length, range.location);
        return {Range {location, std::min(std::max(length - location, 0), std::max(range.length, 0))}};
    }
    return {Range {length, 0}};
}

void CodeTextEditor::setContent(const QString& text, const QString& fileName, const QString& documentID)
{
    m_textView->fileName = fileName;
    const bool sameFile = m_fileName == fileName;
    const bool sameDocument = m_documentID.has_value() && *m_documentID == documentID;
    m_fileName = fileName;
    m_documentID = documentID;

    if (sameDocument && m_textView->text() == text) {
        if (!sameFile) {
            applyHighlighting();
            finishDocumentUpdate(false, false);
        }
        ruler()->update();
        return;
    }

    const QString content = text; // `text` may be this editor's own, which is replaced below
    const Range selection = sameDocument ? safeSelections({m_textView->selectedRange()}, int(content.size())).first()
                                         : Range {0, 0};
    const int scroll = m_textView->verticalScrollBar()->value();
    // The first highlight: its matching runs off the main thread while the text goes in, and its
    // colours land on a later turn. A text with room to grow is handed over for editing as it is;
    // any other would be copied whole by the first keystroke, so a copy with room is made off the
    // main thread as well.
    m_state.reset();
    startHighlight(content, true, content.capacity() <= content.size());
    replaceEditorText(content);
    m_highlightRevision = m_textView->revision();
    m_textView->setSelectedRange(selection);
    if (sameDocument)
        m_textView->verticalScrollBar()->setValue(scroll);
    finishDocumentUpdate(!sameDocument, true);
    ruler()->update();
}

void CodeTextEditor::replaceEditorText(const QString& text) { m_textView->replaceEditorText(text); }

void CodeTextEditor::finishDocumentUpdate(bool scrollToTop, bool rebuildLineCache)
{
    // The table is current unless the text changed in a way it did not follow.
    if (rebuildLineCache)
        ruler()->ensureLineCache();
    if (m_textView->horizontalScrollBar()->value() != 0)
        m_textView->horizontalScrollBar()->setValue(0);
    if (scrollToTop) {
        m_textView->verticalScrollBar()->setValue(0);
        m_textView->setSelectedRange({0, 0});
    }
    m_textView->viewport()->update();
    refreshRuler(true);
    if (scrollToTop) {
        // A second fit after the first layout pass.
        QPointer<CodeTextEditor> self(this);
        QTimer::singleShot(0, this, [self] {
            if (self)
                self->finishDocumentUpdate(false, false);
        });
    }
}

void CodeTextEditor::refreshRuler(bool labels)
{
    CodeLineNumberRulerView* gutter = ruler();
    gutter->ensureLineCache();
    const int thickness = gutter->ruleThickness();
    m_textView->setRulerThickness(CodeLineNumberRulerView::thicknessFor(gutter->lineStartCount()));
    bool changed = gutter->ruleThickness() != thickness;
    if (labels) {
        std::vector<CodeLineNumberRulerView::LineLabel> fresh = gutter->visibleLineLabels();
        if (fresh != gutter->preparedLabels) {
            gutter->preparedLabels = std::move(fresh);
            changed = true;
        }
    }
    // The gutter shows nothing but its labels: a keystroke that leaves them as they were costs no
    // repaint of it.
    if (changed)
        gutter->update();
}

void CodeTextEditor::textDidChange()
{
    if (m_isApplyingHighlight)
        return;
    emit textEdited();
    refreshRuler(true);
    scheduleHighlighting();
}

// The gutter draws nothing that depends on the selection.
void CodeTextEditor::textViewDidChangeSelection() {}

void CodeTextEditor::scheduleHighlighting() { m_highlightTimer.start(); }

bool CodeTextEditor::isHighlightPending() const
{
    return m_highlightTimer.isActive() || m_highlightsInFlight > 0 || m_textView->isRecolorPending();
}

void CodeTextEditor::startBackgroundHighlight()
{
    // Matches being made catch up with the edits when they land.
    if (m_stateBuilding || updateHighlightIncrementally())
        return;
    // A copy of its own, taken now: sharing the editor's text would make the next keystroke copy
    // the whole of it while the matching runs.
    m_state.reset();
    const QString& current = m_textView->text();
    startHighlight(QString(current.constData(), current.size()), false);
    m_highlightRevision = m_textView->revision();
}

void CodeTextEditor::textSpliced(int start, int removed, int added)
{
    // Merged with the earlier edits: outside [from, end) the text is the one the matches describe.
    EditedRange& e = m_edited;
    if (!e.any) {
        e = {true, start, qsizetype(start) + added, qsizetype(added) - removed};
        return;
    }
    qsizetype end;
    if (e.end <= start)
        end = start + added;
    else if (e.end >= start + removed)
        end = e.end + added - removed;
    else
        end = start + added;
    e.end = std::max<qsizetype>(end, start + added);
    e.from = std::min<qsizetype>(e.from, start);
    e.delta += added - removed;
}

bool CodeTextEditor::updateHighlightIncrementally()
{
    if (!m_state || !m_state->isUsable() || m_state->fileName() != m_fileName)
        return false;
    if (!m_edited.any)
        return true;
    const QString& current = m_textView->text();
    const EditedRange e = m_edited;
    m_edited = {};
    const std::optional<CodeHighlightState::Range> range =
        m_state->update(current, e.from, e.end - e.delta - e.from, e.end - e.from, kIncrementalBudget);
    if (!range) {
        m_state.reset();
        return false;
    }
    if (m_textView->colorsGeneration() != m_appliedColors)
        // Colours were given to the view from elsewhere: all of them again.
        applyColors(m_state->colors(current, {0, current.size()}));
    else if (range->end > range->begin)
        applyColorRange(range->begin, m_state->colors(current, *range));
    return true;
}

void CodeTextEditor::startHighlight(const QString& text, bool colorsFirst, bool copyForEditing)
{
    const quint64 serial = ++m_highlightSerial;
    const QString fileName = m_fileName;
    m_latestHighlight->store(serial);
    ++m_highlightsInFlight;
    m_stateBuilding = true;
    m_edited = {};
    QPointer<CodeTextEditor> self(this);
    std::shared_ptr<std::atomic<quint64>> latest = m_latestHighlight;
    highlightPool()->start([self, latest, serial, text, fileName, colorsFirst, copyForEditing] {
        // A later request makes this one moot.
        std::optional<QByteArray> colors;
        if (colorsFirst && latest->load() == serial) {
            colors = CodeSyntaxHighlighter::apply(text, fileName);
            QMetaObject::invokeMethod(
                highlightReceiver(),
                [self, serial, fileName, colors] {
                    // Only the latest request, for the text as it still is.
                    if (self && serial == self->m_highlightSerial
                        && self->m_highlightRevision == self->m_textView->revision() && fileName == self->m_fileName) {
                        self->applyColors(*colors);
                        self->m_colorsAppliedSerial = serial;
                    }
                },
                Qt::QueuedConnection);
        }
        // The copy with room to grow, made once the colours are on their way and taken if the text
        // is then still the same.
        if (copyForEditing && colors && latest->load() == serial) {
            QString own;
            own.reserve(text.size() + text.size() / 32 + 16);
            own.append(QStringView(text));
            QMetaObject::invokeMethod(
                highlightReceiver(),
                [self, serial, own = std::move(own)]() mutable {
                    if (self && serial == self->m_highlightSerial)
                        self->m_textView->adoptOwnText(std::move(own), self->m_highlightRevision);
                },
                Qt::QueuedConnection);
        }
        // The matches kept for edits; without colours first, the colours come from them.
        std::shared_ptr<CodeHighlightState> state;
        std::optional<QByteArray> late;
        if (latest->load() == serial) {
            state = std::make_shared<CodeHighlightState>(text, fileName);
            if (!colorsFirst)
                late = state->isUsable() ? state->colors(text, {0, text.size()})
                                         : CodeSyntaxHighlighter::apply(text, fileName);
        }
        QMetaObject::invokeMethod(
            highlightReceiver(),
            [self, serial, fileName, state = std::move(state), late = std::move(late)]() mutable {
                if (!self)
                    return;
                --self->m_highlightsInFlight;
                if (serial != self->m_highlightSerial)
                    return;
                self->m_stateBuilding = false;
                const bool unchanged =
                    self->m_highlightRevision == self->m_textView->revision() && fileName == self->m_fileName;
                if (late && unchanged) {
                    self->applyColors(*late);
                    self->m_colorsAppliedSerial = serial;
                }
                self->adoptState(std::move(state), self->m_colorsAppliedSerial == serial);
            },
            Qt::QueuedConnection);
    });
}

void CodeTextEditor::adoptState(std::shared_ptr<CodeHighlightState> state, bool colorsApplied)
{
    if (!state || !state->isUsable() || state->fileName() != m_fileName) {
        m_state.reset();
        // Edits made meanwhile get the whole-text pass of the next request.
        if (m_edited.any || !colorsApplied)
            scheduleHighlighting();
        m_edited = {};
        return;
    }
    m_state = std::move(state);
    if (colorsApplied) {
        if (!updateHighlightIncrementally())
            scheduleHighlighting();
        return;
    }
    // The colours of the text the matches were made from never landed: all of them, after the edits
    // made since.
    const QString& current = m_textView->text();
    const EditedRange e = m_edited;
    m_edited = {};
    if (e.any && !m_state->update(current, e.from, e.end - e.delta - e.from, e.end - e.from, kIncrementalBudget)) {
        m_state.reset();
        scheduleHighlighting();
        return;
    }
    applyColors(m_state->colors(current, {0, current.size()}));
}

void CodeTextEditor::applyHighlighting()
{
    applyColors(CodeSyntaxHighlighter::apply(m_textView->text(), m_fileName));
    // The matches kept for edits, for this text and name, made off the main thread.
    m_state.reset();
    const QString& current = m_textView->text();
    startHighlight(QString(current.constData(), current.size()), false);
    m_highlightRevision = m_textView->revision();
}

void CodeTextEditor::applyColors(const QByteArray& colors) { applyColorRange(-1, colors); }

void CodeTextEditor::applyColorRange(qsizetype begin, const QByteArray& colors)
{
    m_isApplyingHighlight = true;
    const Range selection =
        safeSelections({m_textView->selectedRange()}, int(m_textView->textLength())).first();
    const int scroll = m_textView->verticalScrollBar()->value();
    if (begin < 0)
        m_textView->applyColors(colors);
    else
        m_textView->applyColorRange(int(begin), colors);
    if (m_textView->selectedRange() != selection)
        m_textView->setSelectedRange(selection);
    if (m_textView->verticalScrollBar()->value() != scroll)
        m_textView->verticalScrollBar()->setValue(scroll);
    m_isApplyingHighlight = false;
    m_appliedColors = m_textView->colorsGeneration();
    finishDocumentUpdate(false, false);
}

void CodeTextEditor::showFindBar()
{
    const QString selected = m_textView->textCursor().selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar(0x2029)))
        m_findBar->field()->setText(selected);
    m_findBar->open();
}

void CodeTextEditor::closeFindBar()
{
    m_findBar->hide();
    m_textView->setFocus(Qt::OtherFocusReason);
}

void CodeTextEditor::find(bool backward)
{
    const QString needle = m_findBar->searchText();
    if (needle.isEmpty())
        return;
    QTextDocument::FindFlags flags;
    if (backward)
        flags |= QTextDocument::FindBackward;
    bool found = m_textView->find(needle, flags);
    if (!found) {
        const QTextCursor saved = m_textView->textCursor();
        QTextCursor wrap = saved;
        wrap.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
        m_textView->setTextCursor(wrap);
        found = m_textView->find(needle, flags);
        if (!found)
            m_textView->setTextCursor(saved);
    }
    m_findBar->setNotFound(!found);
}

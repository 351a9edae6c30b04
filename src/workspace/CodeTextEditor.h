#pragma once

// The editor host: the text view with its line-number ruler and find bar. The caller pushes its
// text, the open file's name and its document id (path) with setContent(); every user edit is
// told by textEdited(), and text() reads the text as it then is. Colours are applied after a new
// text is set and 0.08 s after the last edit; the matching runs off the main thread, so neither
// opening a file nor a keystroke waits for it.

#include "workspace/CodeEditorTextView.h"
#include "workspace/CodeHighlightState.h"

#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>

class CodeEditorFindBar;
class CodeLineNumberRulerView;

class CodeTextEditor : public QWidget {
    Q_OBJECT
public:
    using Range = CodeEditorTextView::Range;
    // A range location that stands for "no range".
    static constexpr int notFound = -1;

    explicit CodeTextEditor(QWidget* parent = nullptr);
    ~CodeTextEditor() override;

    // The binding's update: a new document id shows the text from its top with the caret at 0; the
    // same document with a new text keeps the (clamped) selection and the scroll position; the same
    // text under a new file name is re-highlighted at once. Emits nothing. A text with room to grow
    // (reserved capacity) becomes the editor's own without a copy: handed over with no other holder
    // left, the first keystroke copies nothing either.
    void setContent(const QString& text, const QString& fileName, const QString& documentID);
    // Exactly the file's text (raw, every byte kept). Reading it gathers the text into one piece
    // (see CodeEditorTextView::text()); textLength() does not.
    const QString& text() const;
    qsizetype textLength() const { return m_textView->textLength(); }

    QString fileName() const { return m_fileName; }
    QString documentID() const { return m_documentID.value_or(QString()); }

    CodeEditorTextView* textView() const { return m_textView; }
    CodeLineNumberRulerView* ruler() const;
    CodeEditorFindBar* findBar() const { return m_findBar; }

    // Exactly one range: the first usable one clamped to the text, else the empty range at the end.
    static QList<Range> safeSelections(const QList<Range>& ranges, int textLength);

    // Highlights now, on the main thread.
    void applyHighlighting();
    // The matches kept for re-colouring after edits; null while they are being made.
    const CodeHighlightState* highlightState() const { return m_state.get(); }
    // Highlights 0.08 s from now, replacing any pending request.
    void scheduleHighlighting();
    // A debounced highlight is waiting or running, or its colours are still being given to blocks
    // out of view.
    bool isHighlightPending() const;

    void showFindBar();
    void closeFindBar();

signals:
    // After every user edit.
    void textEdited();

private:
    void replaceEditorText(const QString& text);
    void finishDocumentUpdate(bool scrollToTop, bool rebuildLineCache);
    void textDidChange();
    void textViewDidChangeSelection();
    void refreshRuler(bool labels);
    void startBackgroundHighlight();
    // Matches `text` off the main thread. With `colorsFirst` its colours come first, applied if no
    // later request was made and the text is then still at m_highlightRevision, which the caller
    // sets; then the matches kept for edits, which catch up with the edits made meanwhile.
    // `copyForEditing`: then also gives the view a copy of `text` with room to grow, made on that
    // thread.
    void startHighlight(const QString& text, bool colorsFirst, bool copyForEditing = false);
    void adoptState(std::shared_ptr<CodeHighlightState> state, bool colorsApplied);
    // Re-colours what the edits since the kept matches can change; false when that is too much.
    bool updateHighlightIncrementally();
    void textSpliced(int start, int removed, int added);
    void applyColors(const QByteArray& colors);
    void applyColorRange(qsizetype begin, const QByteArray& colors);
    void find(bool backward);

    CodeEditorTextView* m_textView;
    CodeEditorFindBar* m_findBar;
    QString m_fileName;
    std::optional<QString> m_documentID;
    QTimer m_highlightTimer;
    bool m_isApplyingHighlight = false;
    int m_highlightsInFlight = 0;
    quint64 m_highlightSerial = 0;
    quint64 m_highlightRevision = 0;
    // The matches of the text as it was before the edits gathered in m_edited.
    std::shared_ptr<CodeHighlightState> m_state;
    // The edits since, merged: text()[from, end) replaced what was [from, end - delta).
    struct EditedRange {
        bool any = false;
        qsizetype from = 0;
        qsizetype end = 0;
        qsizetype delta = 0;
    } m_edited;
    bool m_stateBuilding = false;
    quint64 m_colorsAppliedSerial = 0;
    // The view's colouring count after this editor's last colouring.
    quint64 m_appliedColors = 0;
    // The latest request's serial, read by the matching thread.
    std::shared_ptr<std::atomic<quint64>> m_latestHighlight = std::make_shared<std::atomic<quint64>>(0);
};

// What the code editor shows after edits, recolourings and scrolling, read from the window's
// backing store (not painted afresh): it equals what an editor given the final text shows. And
// the work behind it: a change of colours, a keystroke and the highlight after edits all over the
// text keep the laid-out lines of the blocks around them; the blocks keeping their shaped glyphs
// stay within bounds; an edit is reported as itself after many blocks let theirs go.
#include "EditorTestKit.h"
#include "workspace/CodeEditorTheme.h"
#include "workspace/CodeShapedBlocks.h"

#include <QApplication>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextLayout>

using namespace EditorTestKit;

namespace {

QString rows(int count)
{
    QString text;
    for (int i = 0; i < count; ++i) {
        text += QStringLiteral("<div class=\"row\">Row %1 of <?php echo $items; ?> // note</div>\n").arg(i);
        if (i % 7 == 3)
            text += QStringLiteral("\n<?php /* block %1 */ ?>\n").arg(i);
    }
    return text;
}

// The editor's pixels as they stand in the window, after the pending paints.
QImage shown(CodeTextEditor& editor)
{
    QCoreApplication::processEvents();
    QWidget* viewport = editor.textView()->viewport();
    const QPoint at = viewport->mapTo(editor.window(), QPoint(0, 0));
    const QImage window = editor.window()->windowHandle()->screen()->grabWindow(editor.window()->winId()).toImage();
    return window.copy(QRect(at, viewport->size()));
}

std::unique_ptr<CodeTextEditor> settledEditor(const QString& text, const QString& id)
{
    auto editor = shownEditor(700, 500);
    editor->setContent(text, QStringLiteral("rows.blade.php"), id);
    settle(*editor);
    return editor;
}

void expectSameScreen(CodeTextEditor& edited, const QString& text)
{
    // Neither draws a caret: only the text and its colours are compared. The edited editor is
    // read first, before anything else repaints it.
    edited.textView()->clearFocus();
    const QImage a = shown(edited);
    const int scroll = edited.textView()->verticalScrollBar()->value();
    auto fresh = settledEditor(text, QStringLiteral("/fresh"));
    fresh->textView()->clearFocus();
    fresh->textView()->verticalScrollBar()->setValue(scroll);
    settle(*fresh);
    const QImage b = shown(*fresh);
    ASSERT_EQ(a.size(), b.size());
    int differing = 0;
    QRect where;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                ++differing;
                where |= QRect(x, y, 1, 1);
            }
        }
    }
    EXPECT_EQ(differing, 0) << "pixels differ from an editor given the same text, within (" << where.x() << ", "
                            << where.y() << ") " << where.width() << " x " << where.height();
    if (differing) {
        a.save(QStringLiteral("repaint-edited.png"));
        b.save(QStringLiteral("repaint-fresh.png"));
    }
}

// Whether the block holding `offset` and the `count` blocks after it still have laid-out lines.
bool linesKept(const CodeEditorTextView& view, int offset, int count)
{
    QTextBlock block = view.document()->findBlock(view.toDocumentPosition(offset));
    for (int i = 0; i <= count && block.isValid(); ++i, block = block.next()) {
        if (block.layout()->lineCount() == 0)
            return false;
    }
    return true;
}

} // namespace

TEST(CodeEditorRepaint, WhatIsShownAfterEditsEqualsAnEditorGivenTheText)
{
    const QString text = rows(200);
    auto editor = settledEditor(text, QStringLiteral("/rows"));
    CodeEditorTextView* view = editor->textView();
    ASSERT_FALSE(shown(*editor).isNull()) << "the window's pixels can be read";

    // A comment typed long enough to wrap onto more lines moves every line below it, shown at
    // once (the typed characters take the comment's colour before the highlight lands).
    const int third = int(text.indexOf(QStringLiteral("note"), text.indexOf(QStringLiteral("Row 3 "))) + 4);
    setCaret(*editor, third);
    QTest::keyClicks(view, QString(90, u'w') + QStringLiteral(" longer "));
    QCoreApplication::processEvents();
    expectSameScreen(*editor, editor->text());
    // Taken back by undo, one key at a time.
    view->setFocus();
    for (int i = 0; i < 98; ++i)
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    settle(*editor);
    EXPECT_EQ(editor->text(), text);
    expectSameScreen(*editor, text);

    // A quote that changes the colours of everything below, and a line feed and its removal.
    view->setFocus();
    setCaret(*editor, int(text.indexOf(QStringLiteral("Row 1 "))));
    QTest::keyClicks(view, QStringLiteral("\"x"));
    QTest::keyClick(view, Qt::Key_Return);
    QTest::keyClick(view, Qt::Key_Backspace);
    settle(*editor);
    expectSameScreen(*editor, editor->text());

    // Scrolled half-way, then edited there.
    view->setFocus();
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    view->setSelectedRange({view->toTextOffset(view->cursorForPosition(QPoint(5, 5)).position()), 0});
    QTest::keyClicks(view, QStringLiteral("<b>"));
    settle(*editor);
    expectSameScreen(*editor, editor->text());
}

TEST(CodeEditorRepaint, RecolouringAndTypingKeepTheLaidOutLinesAround)
{
    const QString text = rows(300);
    auto editor = settledEditor(text, QStringLiteral("/lines"));
    CodeEditorTextView* view = editor->textView();
    const int row = int(text.indexOf(QStringLiteral("Row 5 ")));
    setCaret(*editor, row);
    view->viewport()->repaint();
    ASSERT_TRUE(linesKept(*view, row, 12));

    // New colours for one line: the lines after it are not laid out again.
    const int lineStart = int(text.lastIndexOf(u'\n', row)) + 1;
    view->applyColorRange(lineStart, QByteArray(8, char(CodeEditorTheme::Role::keyword)));
    EXPECT_EQ(view->foregroundAt(lineStart), CodeEditorTheme::color(CodeEditorTheme::Role::keyword));
    EXPECT_TRUE(linesKept(*view, row + 200, 10));

    // A keystroke, and the highlight after it.
    QTest::keyClicks(view, QStringLiteral("q"));
    EXPECT_TRUE(linesKept(*view, row + 200, 10));
    settle(*editor);
    view->viewport()->repaint();
    EXPECT_TRUE(linesKept(*view, row + 200, 10));
    expectSameScreen(*editor, editor->text());
}

TEST(CodeEditorRepaint, TheHighlightAfterEditsAllOverKeepsTheLaidOutLinesBetween)
{
    const QString text = rows(3000);
    auto editor = settledEditor(text, QStringLiteral("/spread"));
    CodeEditorTextView* view = editor->textView();
    // A key typed at 20 places through the text, each shown; then the highlight lands for all.
    std::vector<int> places;
    for (int i = 1; i <= 20; ++i) {
        const int at = int(view->text().indexOf(QStringLiteral("Row "), view->text().size() * i / 21));
        setCaret(*editor, at);
        QTest::keyClicks(view, QStringLiteral("q"));
        view->viewport()->repaint();
        places.push_back(at);
    }
    // The lines shown above each place (the caret is scrolled into view at the bottom).
    for (int at : places)
        ASSERT_TRUE(linesKept(*view, at - 600, 6));
    settle(*editor);
    for (int at : places)
        EXPECT_TRUE(linesKept(*view, at - 600, 6)) << "the lines before the edit at " << at;
}

TEST(CodeEditorRepaint, KeptGlyphsStayWithinBoundsAndEditsStayTheirOwnSize)
{
    const QString text = rows(3000);
    auto editor = settledEditor(text, QStringLiteral("/scroll"));
    CodeEditorTextView* view = editor->textView();
    QScrollBar* bar = view->verticalScrollBar();
    // Through the whole text a screen at a time, and back up part of the way.
    const int page = std::max(1, bar->pageStep());
    size_t most = 0;
    for (int value = 0; value <= bar->maximum(); value += page) {
        bar->setValue(value);
        view->viewport()->repaint();
        most = std::max(most, view->shapedBlocks().keptCount());
        ASSERT_LE(view->shapedBlocks().keptCharacters(), CodeShapedBlocks::maxCharacters + CodeShapedBlocks::maxBlockLength * 200);
    }
    EXPECT_LE(most, size_t(CodeShapedBlocks::maxBlocks) + 200) << "bounded by the set and one screen";
    EXPECT_GT(most, 0u);
    for (int value = bar->maximum(); value > bar->maximum() / 2; value -= page) {
        bar->setValue(value);
        view->viewport()->repaint();
    }
    settle(*editor);
    expectSameScreen(*editor, text);

    // A keystroke after many blocks let their glyphs go is reported as one character.
    view->setFocus();
    view->setSelectedRange({view->toTextOffset(view->cursorForPosition(QPoint(5, 5)).position()), 0});
    const int caret = view->selectedRange().location;
    QSignalSpy spliced(view, &CodeEditorTextView::textSpliced);
    QTest::keyClicks(view, QStringLiteral("q"));
    ASSERT_EQ(spliced.count(), 1);
    EXPECT_EQ(spliced.at(0).at(0).toInt(), caret);
    EXPECT_EQ(spliced.at(0).at(1).toInt(), 0);
    EXPECT_EQ(spliced.at(0).at(2).toInt(), 1);
}

TEST(CodeShapedBlocks, ABlockGoingTakesItsPlaceInTheSet)
{
    QTextDocument document;
    document.setPlainText(QStringLiteral("one\ntwo\nthree"));
    CodeShapedBlocks blocks;
    auto member = std::make_unique<CodeShapedBlocks::Member>();
    auto other = std::make_unique<CodeShapedBlocks::Member>();
    blocks.beginPaint();
    blocks.keep(document.firstBlock(), *member);
    blocks.keep(document.lastBlock(), *other);
    EXPECT_EQ(blocks.keptCount(), 2u);
    EXPECT_EQ(blocks.keptCharacters(), 4 + 6);
    EXPECT_TRUE(document.firstBlock().layout()->cacheEnabled());
    member.reset();
    EXPECT_EQ(blocks.keptCount(), 1u);
    EXPECT_EQ(blocks.keptCharacters(), 6);
    // A block longer than the bound is never kept.
    document.setPlainText(QString(CodeShapedBlocks::maxBlockLength + 1, u'x'));
    CodeShapedBlocks::Member longOne;
    blocks.keep(document.firstBlock(), longOne);
    EXPECT_FALSE(longOne.isKept());
}

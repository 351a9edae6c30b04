// The line-number gutter: the thickness rule, the line-start table and its cache pair, one number
// per logical line (wrapped lines and lone CRs numbered once, CR LF counted by its line feed), the
// labels' places, and the numbers' right edge.
#include "EditorTestKit.h"
#include "workspace/CodeLineNumberRulerView.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QStaticText>

using namespace EditorTestKit;
using Label = CodeLineNumberRulerView::LineLabel;

namespace {

QString lines(int count, const QString& terminator = QStringLiteral("\n"))
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("line %1").arg(i + 1);
    return list.join(terminator);
}

std::vector<int> numbers(const std::vector<Label>& labels)
{
    std::vector<int> out;
    for (const Label& label : labels)
        out.push_back(label.number);
    return out;
}

} // namespace

TEST(CodeLineNumberRuler, ThicknessRule)
{
    const std::pair<qsizetype, int> cases[] = {
        {0, 44}, {1, 44}, {9, 44}, {999, 44}, {1000, 52}, {9999, 52}, {10000, 60}, {99999, 60}, {100000, 68},
    };
    for (const auto& [count, thickness] : cases)
        EXPECT_EQ(CodeLineNumberRulerView::thicknessFor(count), thickness) << count;

    CodeEditorTextView view;
    CodeLineNumberRulerView fresh(&view);
    EXPECT_EQ(fresh.ruleThickness(), 48) << "a new ruler, before its first update";
    EXPECT_EQ(fresh.cachedStringLength(), -1);
    EXPECT_EQ(fresh.cachedNewlineCount(), -1);

    auto editor = shownEditor();
    const std::pair<int, int> files[] = {{0, 44}, {999, 44}, {1000, 52}, {10000, 60}};
    for (const auto& [lineCount, thickness] : files) {
        editor->setContent(lines(lineCount), QStringLiteral("a.txt"), QStringLiteral("/lines%1").arg(lineCount));
        EXPECT_EQ(editor->ruler()->ruleThickness(), thickness) << lineCount << " lines";
        EXPECT_EQ(editor->ruler()->width(), thickness);
    }
    // Typing the thousandth line widens the gutter at once.
    editor->setContent(lines(999), QStringLiteral("a.txt"), QStringLiteral("/grow"));
    setCaret(*editor, int(editor->text().size()));
    QTest::keyClick(editor->textView(), Qt::Key_Return);
    EXPECT_EQ(editor->ruler()->ruleThickness(), 52);
}

TEST(CodeLineNumberRuler, LineStartTable)
{
    auto editor = shownEditor();
    CodeLineNumberRulerView* ruler = editor->ruler();
    struct Case {
        QString text;
        std::vector<int> starts;
    };
    const Case cases[] = {
        {QString(), {0}},
        {QStringLiteral("a"), {0}},
        {QStringLiteral("a\n"), {0, 2}},
        {QStringLiteral("a\r\nbc\r\n"), {0, 3, 7}},
        {QStringLiteral("\n\n"), {0, 1, 2}},
        {QStringLiteral("a\rb") + QChar(0x2028) + QStringLiteral("c\nd"), {0, 6}},
    };
    for (const Case& c : cases) {
        editor->setContent(c.text, QStringLiteral("a.txt"), QStringLiteral("/t") + c.text);
        EXPECT_EQ(ruler->lineStarts(), c.starts) << escaped(c.text);
        EXPECT_EQ(ruler->cachedStringLength(), c.text.size());
        EXPECT_EQ(ruler->cachedNewlineCount(), qsizetype(c.starts.size()) - 1);
        for (int offset = 0; offset <= c.text.size(); ++offset) {
            const int expected = int(c.text.left(offset).count(u'\n')) + 1;
            EXPECT_EQ(ruler->lineNumberAt(offset), expected) << escaped(c.text) << " @" << offset;
        }
    }
    // Edits keep the table current.
    editor->setContent(QStringLiteral("ab"), QStringLiteral("a.txt"), QStringLiteral("/edit"));
    setCaret(*editor, 1);
    QTest::keyClick(editor->textView(), Qt::Key_Return);
    EXPECT_EQ(ruler->lineStarts(), (std::vector<int> {0, 2}));
    QTest::keyClick(editor->textView(), Qt::Key_Backspace);
    EXPECT_EQ(ruler->lineStarts(), (std::vector<int> {0}));
    // A paste of the same length and line-feed count that moves a line feed.
    editor->setContent(QStringLiteral("a\nbc"), QStringLiteral("a.txt"), QStringLiteral("/moved"));
    editor->textView()->setSelectedRange({1, 2});
    QApplication::clipboard()->setText(QStringLiteral("b\n"));
    QTest::keyClick(editor->textView(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(escaped(editor->text()), "ab\\nc");
    EXPECT_EQ(ruler->lineStarts(), (std::vector<int> {0, 3}));
    EXPECT_EQ(ruler->lineNumberAt(2), 1);
    EXPECT_EQ(ruler->lineNumberAt(3), 2);
}

TEST(CodeLineNumberRuler, OneNumberPerLogicalLine)
{
    auto editor = shownEditor(500, 400);
    CodeLineNumberRulerView* ruler = editor->ruler();

    editor->setContent(QString(), QStringLiteral("a.txt"), QStringLiteral("/empty"));
    EXPECT_EQ(ruler->visibleLineLabels(), (std::vector<Label> {{1, 11}}));

    editor->setContent(QStringLiteral("a\r\nb\r\nc"), QStringLiteral("a.txt"), QStringLiteral("/crlf"));
    std::vector<Label> labels = ruler->visibleLineLabels();
    EXPECT_EQ(numbers(labels), (std::vector<int> {1, 2, 3}));
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[0].y, 11);
    const qreal lineHeight = labels[1].y - labels[0].y;
    EXPECT_GT(lineHeight, 10);
    EXPECT_DOUBLE_EQ(labels[2].y - labels[1].y, lineHeight);

    // Lone CRs and line separators end visual lines, not numbered ones.
    editor->setContent(QStringLiteral("a\rb") + QChar(0x2028) + QStringLiteral("c\nd"), QStringLiteral("a.txt"),
                       QStringLiteral("/cr"));
    labels = ruler->visibleLineLabels();
    EXPECT_EQ(numbers(labels), (std::vector<int> {1, 2}));
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_DOUBLE_EQ(labels[1].y - labels[0].y, 3 * lineHeight);

    // A line wrapped over several visual lines is numbered once, on its first.
    const QString longLine = QString(400, u'x');
    editor->setContent(QStringLiteral("first\n") + longLine + QStringLiteral("\nthird"), QStringLiteral("a.txt"),
                       QStringLiteral("/wrap"));
    labels = ruler->visibleLineLabels();
    EXPECT_EQ(numbers(labels), (std::vector<int> {1, 2, 3}));
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_DOUBLE_EQ(labels[1].y - labels[0].y, lineHeight);
    EXPECT_GE(labels[2].y - labels[1].y, 3 * lineHeight) << "the long line wraps over three lines or more";

    // Scrolled: the labels follow the visible lines.
    editor->setContent(lines(500), QStringLiteral("a.txt"), QStringLiteral("/long"));
    QScrollBar* bar = editor->textView()->verticalScrollBar();
    bar->setValue(100);
    labels = ruler->preparedLabels;
    ASSERT_FALSE(labels.empty());
    EXPECT_GT(labels.front().number, 50);
    EXPECT_LE(labels.front().y, lineHeight);
    for (size_t i = 1; i < labels.size(); ++i)
        EXPECT_EQ(labels[i].number, labels[i - 1].number + 1);

    // Typing a line shows its number without a scroll.
    editor->setContent(QStringLiteral("xy"), QStringLiteral("a.txt"), QStringLiteral("/type"));
    setCaret(*editor, 1);
    QTest::keyClick(editor->textView(), Qt::Key_Return);
    EXPECT_EQ(numbers(ruler->preparedLabels), (std::vector<int> {1, 2}));
    // The empty line after a final line feed holds no character, and gets no number.
    setCaret(*editor, int(editor->text().size()));
    QTest::keyClick(editor->textView(), Qt::Key_Return);
    EXPECT_EQ(escaped(editor->text()), "x\\ny\\n");
    EXPECT_EQ(numbers(ruler->preparedLabels), (std::vector<int> {1, 2}));
}

TEST(CodeLineNumberRuler, NumbersEndTenPixelsLeftOfTheEdge)
{
    auto editor = shownEditor(500, 400);
    for (const int count : {9, 10000}) {
        SCOPED_TRACE(count);
        editor->setContent(lines(count), QStringLiteral("a.txt"), QStringLiteral("/n%1").arg(count));
        QScrollBar* bar = editor->textView()->verticalScrollBar();
        bar->setValue(bar->maximum());
        QTest::qWait(1);
        CodeLineNumberRulerView* ruler = editor->ruler();
        const QImage image = ruler->grab().toImage();
        const int thickness = ruler->ruleThickness();
        int rightmost = -1;
        int leftmost = image.width();
        for (int x = 0; x < thickness - 1; ++x) {
            for (int y = 0; y < image.height(); ++y) {
                if (qGray(image.pixel(x, y)) < 200) {
                    rightmost = std::max(rightmost, x);
                    leftmost = std::min(leftmost, x);
                }
            }
        }
        ASSERT_GE(rightmost, 0) << "no digits drawn";
        EXPECT_LT(rightmost, thickness - 10);
        EXPECT_GE(rightmost, thickness - 13);
        EXPECT_GT(leftmost, 2) << "the widest number fits";
        // The separator on the right edge.
        EXPECT_LT(qGray(image.pixel(thickness - 1, image.height() / 2)), 255);
    }
}

// The numbers look exactly as when each is laid out whole, right-aligned ten pixels from the
// edge, wherever the text is scrolled to.
TEST(CodeLineNumberRuler, NumbersLookAsEachLaidOutWhole)
{
    auto editor = shownEditor(500, 400);
    editor->setContent(lines(12000), QStringLiteral("a.txt"), QStringLiteral("/whole"));
    CodeLineNumberRulerView* ruler = editor->ruler();
    QScrollBar* bar = editor->textView()->verticalScrollBar();
    for (const int percent : {0, 7, 50, 93, 100}) {
        SCOPED_TRACE(percent);
        bar->setValue(bar->maximum() * percent / 100);
        QTest::qWait(1);
        const QImage shown = ruler->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const std::vector<Label> labels = ruler->visibleLineLabels();
        ASSERT_FALSE(labels.empty());
        QImage expected(shown.size(), QImage::Format_ARGB32_Premultiplied);
        expected.fill(Qt::white);
        {
            QPainter painter(&expected);
            painter.setFont(ruler->font());
            painter.setPen(QColor(0, 0, 0, 128));
            for (const Label& label : labels) {
                QStaticText number(QString::number(label.number));
                number.setTextFormat(Qt::PlainText);
                number.prepare(QTransform(), ruler->font());
                painter.drawStaticText(
                    QPointF(ruler->ruleThickness() - number.size().width() - 10, label.y), number);
            }
            painter.fillRect(QRect(ruler->ruleThickness() - 1, 0, 1, expected.height()), QColor(0, 0, 0, 26));
        }
        EXPECT_TRUE(shown == expected) << "numbers from " << labels.front().number;
    }
}

#include "workspace/CodeLineNumberRulerView.h"

#include "workspace/CodeEditorTextView.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>
#include <algorithm>

namespace {

constexpr int kRightMargin = 10;

QColor gutterBackground() { return QColor(255, 255, 255); }
QColor numberColor() { return QColor(0, 0, 0, 128); }
QColor separatorColor() { return QColor(0, 0, 0, 26); }

QFont numberFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    return font;
}

// Fills `rect` in bands of a few dozen rows: the raster engine hands a taller fill to its worker
// threads, and waking them costs more than filling a gutter.
void fillInBands(QPainter& painter, const QRect& rect, const QColor& color)
{
    constexpr int kBand = 48;
    for (int top = rect.top(); top <= rect.bottom(); top += kBand)
        painter.fillRect(QRect(rect.left(), top, rect.width(), std::min(kBand, rect.bottom() + 1 - top)), color);
}

// `text` laid out once in `font`, to be drawn as it is from then on.
QStaticText preparedText(const QString& text, const QFont& font)
{
    QStaticText prepared(text);
    prepared.setTextFormat(Qt::PlainText);
    prepared.prepare(QTransform(), font);
    return prepared;
}

} // namespace

CodeLineNumberRulerView::CodeLineNumberRulerView(CodeEditorTextView* textView)
    : QWidget(textView)
    , m_textView(textView)
{
    setObjectName(QStringLiteral("lineNumberRuler"));
    setAccessibleName(QStringLiteral("Line numbers"));
    setFont(numberFont());
    setFixedWidth(m_ruleThickness);
}

QSize CodeLineNumberRulerView::sizeHint() const { return {m_ruleThickness, 0}; }

void CodeLineNumberRulerView::resetWithoutText()
{
    m_lineStarts = CodeOffsetTable({0});
    m_cachedStringLength = 0;
    m_cachedNewlineCount = 0;
    preparedLabels.clear();
}

void CodeLineNumberRulerView::rebuildLineStarts()
{
    if (!m_textView) {
        resetWithoutText();
        return;
    }
    const QString& text = m_textView->text();
    const qsizetype length = text.size();
    std::vector<int> starts {0};
    qsizetype position = 0;
    if (length >= 1) {
        do {
            const qsizetype found = text.indexOf(u'\n', position);
            if (found < 0)
                break;
            position = found + 1;
            starts.push_back(int(position));
        } while (position < length);
    }
    m_lineStarts = CodeOffsetTable(std::move(starts));
    m_checkedRevision = m_textView->revision();
    m_cachedStringLength = length;
    m_cachedNewlineCount = qsizetype(m_lineStarts.size()) - 1;
}

void CodeLineNumberRulerView::ensureLineCache()
{
    if (!m_textView) {
        resetWithoutText();
        return;
    }
    if (m_textView->revision() == m_checkedRevision)
        return;
    // A change the table did not follow: the length and the line-feed count alone cannot tell
    // whether a line feed moved, so the table is built again.
    rebuildLineStarts();
}

void CodeLineNumberRulerView::adoptLineStarts(std::vector<int> starts, qsizetype length, quint64 revision)
{
    m_lineStarts = CodeOffsetTable(std::move(starts));
    m_cachedStringLength = length;
    m_cachedNewlineCount = qsizetype(m_lineStarts.size()) - 1;
    m_checkedRevision = revision;
}

void CodeLineNumberRulerView::followEdit(qsizetype start, qsizetype removed, QStringView inserted, quint64 revision)
{
    if (!m_textView || m_checkedRevision + 1 != revision || start < 0 || removed < 0
        || start + removed > m_cachedStringLength) {
        return;
    }
    // Starts after a removed line feed go; later ones move by the change of length.
    const qsizetype end = start + removed;
    const size_t first = m_lineStarts.upperBound(int(start));
    const size_t last = std::max(first, m_lineStarts.upperBound(int(end)));
    const int delta = int(inserted.size() - removed);
    std::vector<int> added;
    for (qsizetype i = inserted.indexOf(u'\n'); i >= 0; i = inserted.indexOf(u'\n', i + 1))
        added.push_back(int(start + i + 1));
    m_lineStarts.replace(first, last, added);
    m_lineStarts.shift(first + added.size(), delta);
    m_cachedStringLength += delta;
    m_cachedNewlineCount = qsizetype(m_lineStarts.size()) - 1;
    m_checkedRevision = revision;
}

int CodeLineNumberRulerView::lineNumberAt(int c) const
{
    if (m_lineStarts.empty())
        return 1;
    return int(m_lineStarts.upperBound(c));
}

int CodeLineNumberRulerView::thicknessFor(qsizetype lineStartCount)
{
    int digits = 1;
    for (qsizetype n = std::max<qsizetype>(lineStartCount, 1); n >= 10; n /= 10)
        ++digits;
    return std::max(8 * digits + 20, 44);
}

void CodeLineNumberRulerView::setRuleThickness(int thickness)
{
    if (thickness == m_ruleThickness)
        return;
    m_ruleThickness = thickness;
    setFixedWidth(thickness);
    emit ruleThicknessChanged(thickness);
}

void CodeLineNumberRulerView::prepareDigits()
{
    m_digitWidth = 0;
    for (int d = 0; d < 10; ++d)
        m_digits[d] = preparedText(QString::number(d), font());
    // Drawn digit by digit only where that is how the font lays out a number: every digit as wide
    // as the others, with nothing between them.
    const qreal width = m_digits[0].size().width();
    const QStaticText all = preparedText(QStringLiteral("1234567890"), font());
    const bool uniform = std::all_of(std::begin(m_digits), std::end(m_digits),
                                     [&](const QStaticText& digit) { return digit.size().width() == width; });
    if (uniform && width > 0 && qAbs(all.size().width() - 10 * width) < 1e-6)
        m_digitWidth = width;
    m_digitsPrepared = true;
}

std::vector<CodeLineNumberRulerView::LineLabel> CodeLineNumberRulerView::visibleLineLabels() const
{
    std::vector<LineLabel> labels;
    CodeEditorTextView* view = m_textView;
    if (!view)
        return labels;
    const qsizetype length = view->textLength();
    QTextBlock block = view->firstVisibleTextBlock();
    if (!block.isValid())
        return labels;
    const QPointF offset = view->visibleContentOffset();
    const qreal visibleHeight = view->viewport()->height();
    // Each block's top is the one above's plus its height, as the text view paints them.
    qreal blockY = offset.y();
    if (length == 0) {
        view->blockHeight(block);
        labels.push_back({1, blockY + CodeEditorTextView::firstLineTop(block) + 1});
        return labels;
    }
    // The table belongs to the ruler; a const caller still sees an up-to-date one.
    const_cast<CodeLineNumberRulerView*>(this)->ensureLineCache();
    int lastNumber = 0;
    while (block.isValid()) {
        const qreal height = view->blockHeight(block);
        const qreal top = blockY + CodeEditorTextView::firstLineTop(block);
        blockY += height;
        if (top > visibleHeight)
            break;
        if (block.isVisible()) {
            const int c = int(std::min<qsizetype>(view->modelStartOfBlock(block), std::max<qsizetype>(length - 1, 0)));
            const int number = lineNumberAt(c);
            if (number != lastNumber) {
                lastNumber = number;
                const bool seen = std::any_of(labels.begin(), labels.end(),
                                              [&](const LineLabel& label) { return label.number == number; });
                if (!seen)
                    labels.push_back({number, top + 1});
            }
        }
        block = block.next();
    }
    return labels;
}

void CodeLineNumberRulerView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect r = event->rect();
    const QRect strip(0, r.top(), m_ruleThickness, r.height());
    fillInBands(painter, strip, gutterBackground());
    painter.save();
    painter.setClipRect(strip);
    const std::vector<LineLabel> labels = preparedLabels.empty() ? visibleLineLabels() : preparedLabels;
    painter.setFont(font());
    painter.setPen(numberColor());
    if (m_numberTexts.size() > 2048 || font() != m_numberTextsFont || !m_digitsPrepared) {
        m_numberTexts.clear();
        m_numberTextsFont = font();
        prepareDigits();
    }
    for (const LineLabel& label : labels) {
        if (m_digitWidth > 0) {
            // Digit by digit, right-aligned: each new number costs no layout of its own.
            const QString digits = QString::number(label.number);
            qreal x = m_ruleThickness - m_digitWidth * qreal(digits.size()) - kRightMargin;
            for (QChar digit : digits) {
                painter.drawStaticText(QPointF(x, label.y), m_digits[digit.unicode() - u'0']);
                x += m_digitWidth;
            }
            continue;
        }
        auto found = m_numberTexts.find(label.number);
        if (found == m_numberTexts.end())
            found = m_numberTexts.insert(label.number, preparedText(QString::number(label.number), font()));
        // A static text is placed by its top left; the line's top is its ascent above the baseline.
        painter.drawStaticText(QPointF(m_ruleThickness - found->size().width() - kRightMargin, label.y), *found);
    }
    painter.restore();
    fillInBands(painter, QRect(m_ruleThickness - 1, r.top(), 1, r.height()), separatorColor());
}

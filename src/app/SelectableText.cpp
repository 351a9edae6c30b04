#include "app/SelectableText.h"

#include <QAbstractTextDocumentLayout>
#include <QResizeEvent>
#include <QTextDocument>

#include <cmath>

SelectableText::SelectableText(QWidget* parent)
    : QTextEdit(parent)
{
    setReadOnly(true);
    setAcceptRichText(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void SelectableText::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setPlainText(text);
    updateGeometry();
}

int SelectableText::heightForWidth(int width) const
{
    QTextDocument copy;
    copy.setDefaultFont(font());
    copy.setDocumentMargin(0);
    QTextOption option = copy.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    copy.setDefaultTextOption(option);
    copy.setPlainText(m_text);
    const QMargins margins = contentsMargins();
    copy.setTextWidth(std::max(1, width - margins.left() - margins.right()));
    return int(std::ceil(copy.size().height())) + margins.top() + margins.bottom();
}

QSize SelectableText::sizeHint() const
{
    const int width = QTextEdit::sizeHint().width();
    return QSize(width, heightForWidth(width));
}

QSize SelectableText::minimumSizeHint() const
{
    return QSize(fontMetrics().averageCharWidth() * 4, fontMetrics().height());
}

void SelectableText::resizeEvent(QResizeEvent* event)
{
    QTextEdit::resizeEvent(event);
    const int wanted = heightForWidth(event->size().width());
    if (wanted != height())
        updateGeometry();
}

#include "app/LogBox.h"

#include "app/Theme.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

LogBox::LogBox(const QString& text, QWidget* parent)
    : QGroupBox(QStringLiteral("Logs"), parent)
    , m_view(new QPlainTextEdit)
{
    m_view->setReadOnly(true);
    m_view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_view->setFont(Theme::monospacedFont(Theme::TextStyle::caption));
    m_view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setMinimumHeight(150);
    Theme::showFocusRing(m_view);
    m_view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::MinimumExpanding);
    // Unlimited: the box shows the whole text it is given.
    m_view->setMaximumBlockCount(0);
    QPalette palette = m_view->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    m_view->setPalette(palette);
    m_view->viewport()->setAutoFillBackground(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 8, 14, 12);
    layout->addWidget(m_view);
    setText(text);
}

QString LogBox::text() const { return m_view->toPlainText(); }

void LogBox::setText(const QString& text)
{
    // Usually the same shared string handed back at a redraw: no comparison of its characters.
    if ((text.constData() == m_text.constData() && text.size() == m_text.size()) || text == m_text)
        return;
    m_text = text;
    m_view->setPlainText(text);
}

#include "workspace/CodeEditorFindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

CodeEditorFindBar::CodeEditorFindBar(QWidget* parent)
    : QWidget(parent)
    , m_field(new QLineEdit(this))
    , m_previous(new QToolButton(this))
    , m_next(new QToolButton(this))
    , m_status(new QLabel(this))
    , m_done(new QPushButton(tr("Done"), this))
{
    setObjectName(QStringLiteral("findBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(6);
    m_field->setPlaceholderText(tr("Find"));
    m_field->setAccessibleName(tr("Find"));
    m_field->setClearButtonEnabled(true);
    m_field->installEventFilter(this);
    m_previous->setArrowType(Qt::LeftArrow);
    m_previous->setToolTip(tr("Previous"));
    m_previous->setAccessibleName(tr("Previous"));
    m_next->setArrowType(Qt::RightArrow);
    m_next->setToolTip(tr("Next"));
    m_next->setAccessibleName(tr("Next"));
    m_status->setTextFormat(Qt::PlainText);
    m_done->setAccessibleName(tr("Done"));
    m_done->setAutoDefault(false);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_previous);
    layout->addWidget(m_next);
    layout->addWidget(m_status);
    layout->addWidget(m_done);

    connect(m_field, &QLineEdit::returnPressed, this, &CodeEditorFindBar::findNext);
    connect(m_field, &QLineEdit::textChanged, this, [this] { setNotFound(false); });
    connect(m_next, &QToolButton::clicked, this, &CodeEditorFindBar::findNext);
    connect(m_previous, &QToolButton::clicked, this, &CodeEditorFindBar::findPrevious);
    connect(m_done, &QPushButton::clicked, this, &CodeEditorFindBar::closeRequested);
}

QString CodeEditorFindBar::searchText() const { return m_field->text(); }

void CodeEditorFindBar::setNotFound(bool notFound) { m_status->setText(notFound ? tr("Not found") : QString()); }

void CodeEditorFindBar::open()
{
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

bool CodeEditorFindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_field && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            // Escape belongs to the find bar here, not to the window's shortcuts.
            event->accept();
            if (event->type() == QEvent::KeyPress)
                emit closeRequested();
            return true;
        }
        if (event->type() == QEvent::KeyPress && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && (key->modifiers() & Qt::ShiftModifier)) {
            emit findPrevious();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

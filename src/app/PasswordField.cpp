#include "app/PasswordField.h"

#include "app/SymbolIcons.h"
#include "app/Theme.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

PasswordField::PasswordField(const QString& placeholder, QWidget* parent)
    : QFrame(parent)
    , m_entry(new QLineEdit)
    , m_toggle(new QToolButton)
{
    setObjectName(QStringLiteral("PasswordField"));
    setStyleSheet(QStringLiteral("#PasswordField { background: %1; border: 1px solid %2; border-radius: 6px; }"
                                 "#PasswordField QLineEdit { background: transparent; border: none; }"
                                 "#PasswordField QToolButton { background: transparent; border: none; }")
                      .arg(Theme::textBackground().name(),
                           Theme::withOpacity(Theme::secondary(), 0.25).name(QColor::HexArgb)));

    m_entry->setPlaceholderText(placeholder);
    // The field reads as its placeholder, the icon-only toggle as its help text.
    m_entry->setAccessibleName(placeholder);
    m_entry->setFrame(false);
    m_entry->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_toggle->setAutoRaise(true);
    m_toggle->setCursor(Qt::PointingHandCursor);
    m_toggle->setFocusPolicy(Qt::TabFocus);
    m_toggle->setIconSize(QSize(16, 16));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 5, 8, 5);
    layout->setSpacing(6);
    layout->addWidget(m_entry, 1);
    layout->addWidget(m_toggle, 0, Qt::AlignVCenter);

    connect(m_entry, &QLineEdit::textChanged, this, &PasswordField::textChanged);
    connect(m_toggle, &QToolButton::clicked, this, [this]() { setPasswordVisible(!m_isVisible); });
    setPasswordVisible(false);
}

QString PasswordField::placeholder() const { return m_entry->placeholderText(); }
QString PasswordField::text() const { return m_entry->text(); }

void PasswordField::setText(const QString& text)
{
    if (m_entry->text() != text)
        m_entry->setText(text);
}

QString PasswordField::toggleSymbol() const
{
    return m_isVisible ? QStringLiteral("eye.slash") : QStringLiteral("eye");
}

void PasswordField::setPasswordVisible(bool visible)
{
    m_isVisible = visible;
    m_entry->setEchoMode(visible ? QLineEdit::Normal : QLineEdit::Password);
    m_toggle->setIcon(SymbolIcons::icon(toggleSymbol(), Theme::secondary()));
    const QString help = visible ? QStringLiteral("Hide password") : QStringLiteral("Show password");
    m_toggle->setToolTip(help);
    m_toggle->setAccessibleName(help);
}

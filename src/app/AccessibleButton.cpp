#include "app/AccessibleButton.h"

#include <QAbstractButton>

AccessibleButton::AccessibleButton(QAbstractButton* button, QAccessible::Role role)
    : QAccessibleWidget(button, role)
{
}

QAbstractButton* AccessibleButton::button() const
{
    return static_cast<QAbstractButton*>(widget());
}

QString AccessibleButton::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name) {
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? button()->text() : name;
    }
    return QAccessibleWidget::text(t);
}

QAccessible::State AccessibleButton::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    if (button()->isDown())
        state.pressed = true;
    if (button()->isCheckable()) {
        state.checkable = true;
        state.checked = button()->isChecked();
    }
    return state;
}

QStringList AccessibleButton::actionNames() const
{
    QStringList names;
    if (widget()->isEnabled())
        names << (button()->isCheckable() ? toggleAction() : pressAction());
    return names + QAccessibleWidget::actionNames();
}

void AccessibleButton::doAction(const QString& action)
{
    if (!widget()->isEnabled())
        return;
    if (action == pressAction() || action == toggleAction())
        button()->click();
    else
        QAccessibleWidget::doAction(action);
}

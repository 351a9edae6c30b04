#pragma once

#include <QAccessibleWidget>

class QAbstractButton;

// The accessible side of a button that stands for another kind of control than the one Qt would
// make of it (a link, a disclosure, a radio button, a tab): it reads as `role`, its name is its
// accessible name or else its text, Press clicks it, and a checkable one offers Toggle and says
// whether it is checked. Subclasses add the states of their kind.
class AccessibleButton : public QAccessibleWidget {
public:
    AccessibleButton(QAbstractButton* button, QAccessible::Role role);

    QAbstractButton* button() const;

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString& action) override;
};

#include "app/DisclosureButton.h"

#include "app/AccessibleButton.h"
#include "app/Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// A button that is expanded or collapsed (never a check box that is checked).
class DisclosureAccessible : public AccessibleButton {
public:
    explicit DisclosureAccessible(DisclosureButton* button)
        : AccessibleButton(button, QAccessible::Button)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = AccessibleButton::state();
        state.checkable = false;
        state.checked = false;
        state.expandable = true;
        state.expanded = button()->isChecked();
        state.collapsed = !button()->isChecked();
        return state;
    }

    QStringList actionNames() const override
    {
        QStringList names = AccessibleButton::actionNames();
        names.replaceInStrings(toggleAction(), pressAction());
        return names;
    }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("DisclosureButton") && object && object->isWidgetType())
        return new DisclosureAccessible(static_cast<DisclosureButton*>(object));
    return nullptr;
}

} // namespace

DisclosureButton::DisclosureButton(const QString& title, QWidget* parent)
    : QAbstractButton(parent)
{
    static const bool accessible = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)accessible;
    setText(title);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::toggled, this, [this]() {
        if (!QAccessible::isActive())
            return;
        QAccessible::State changed;
        changed.expanded = true;
        changed.collapsed = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    });
}

int DisclosureButton::chevronSide() const
{
    return std::max(8, fontMetrics().height() / 2 + 2);
}

QSize DisclosureButton::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    // Room for the focus ring on every side.
    return QSize(4 + chevronSide() + 6 + metrics.horizontalAdvance(text()) + 4, metrics.height() + 6);
}

void DisclosureButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor textColor = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);

    // The chevron: ">" collapsed, "v" expanded.
    const qreal side = chevronSide();
    const QRectF box(4, (height() - side) / 2.0, side, side);
    QPen pen(Theme::withOpacity(textColor, 0.75), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    const qreal inset = side * 0.28;
    QPainterPath chevron;
    if (isChecked()) {
        chevron.moveTo(box.left() + inset * 0.6, box.top() + inset + side * 0.05);
        chevron.lineTo(box.center().x(), box.bottom() - inset);
        chevron.lineTo(box.right() - inset * 0.6, box.top() + inset + side * 0.05);
    } else {
        chevron.moveTo(box.left() + inset + side * 0.05, box.top() + inset * 0.6);
        chevron.lineTo(box.right() - inset, box.center().y());
        chevron.lineTo(box.left() + inset + side * 0.05, box.bottom() - inset * 0.6);
    }
    painter.drawPath(chevron);

    painter.setPen(textColor);
    const QRect textRect(int(box.right()) + 6, 0, width() - int(box.right()) - 6, height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());

    if (hasFocus()) {
        painter.setPen(QPen(Theme::focusRing(), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
    }
}

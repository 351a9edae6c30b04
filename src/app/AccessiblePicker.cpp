#include "app/AccessiblePicker.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

namespace {

constexpr char kMarker[] = "kovaniAccessiblePicker";

class PickerAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit PickerAccessible(QComboBox* picker)
        : QAccessibleWidget(picker, QAccessible::ComboBox)
    {
    }

    QComboBox* picker() const { return static_cast<QComboBox*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return picker()->currentText();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = picker()->view()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }

    // The list that opens.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(picker()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == picker()->view() ? 0 : -1;
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override
    {
        if (action == showMenuAction() || action == pressAction()) {
            if (picker()->view()->isVisible())
                picker()->hidePopup();
            else
                picker()->showPopup();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

    // The text: the entry shown, read-only.
    QString text(int startOffset, int endOffset) const override { return value().mid(startOffset, endOffset - startOffset); }
    int characterCount() const override { return int(value().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = 0;
        *endOffset = std::max(offset, characterCount());
        return {};
    }

private:
    QString value() const { return picker()->currentText(); }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QComboBox") && object && object->property(kMarker).toBool())
        return new PickerAccessible(static_cast<QComboBox*>(object));
    return nullptr;
}

} // namespace

namespace AccessiblePicker {

void install(QComboBox* picker)
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)installed;
    picker->setProperty(kMarker, true);
    // An interface made before (Qt makes them as widgets are built) gives way to this one.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(picker); made && !dynamic_cast<PickerAccessible*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    // The entry shown changes the text (a screen reader reads the new value); Qt announces the
    // value itself.
    auto shown = std::make_shared<QString>(picker->currentText());
    QObject::connect(picker, &QComboBox::currentTextChanged, picker, [picker, shown](const QString& text) {
        const QString before = std::exchange(*shown, text);
        if (!QAccessible::isActive() || before == text)
            return;
        QAccessibleTextUpdateEvent event(picker, 0, before, text);
        QAccessible::updateAccessibility(&event);
    });
}

} // namespace AccessiblePicker

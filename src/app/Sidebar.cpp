#include "app/Sidebar.h"

#include "app/AccessibleButton.h"
#include "app/AppLogo.h"
#include "app/AppModel.h"
#include "app/SymbolIcons.h"
#include "app/Theme.h"
#include "app/UserSummary.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

// One section row: icon, title, and the accent highlight (opacity 0.12) when selected.
class SectionButton : public QAbstractButton {
public:
    SectionButton(AppSection section, const QString& resourcesDir)
        : m_section(section)
    {
        setText(AppSections::rawValue(section));
        setCursor(Qt::PointingHandCursor);
        setAttribute(Qt::WA_Hover);
        setFocusPolicy(Qt::TabFocus);
        setProperty("highlighted", false);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(12, 9, 12, 9);
        layout->setSpacing(8);
        QWidget* icon = nullptr;
        if (section == AppSection::dravix) {
            icon = new AppLogo(18, resourcesDir);
        } else {
            auto* symbol = new QLabel;
            symbol->setFixedSize(18, 18);
            symbol->setPixmap(SymbolIcons::icon(AppSections::iconName(section)).pixmap(QSize(18, 18), devicePixelRatioF()));
            icon = symbol;
        }
        auto* title = new QLabel(text());
        title->setTextFormat(Qt::PlainText);
        Theme::setTextStyle(title, Theme::TextStyle::body);
        for (QWidget* child : {icon, static_cast<QWidget*>(title)})
            child->setAttribute(Qt::WA_TransparentForMouseEvents);
        layout->addWidget(icon, 0, Qt::AlignVCenter);
        layout->addWidget(title, 0, Qt::AlignVCenter);
        layout->addStretch(1);
    }

    void setHighlighted(bool highlighted)
    {
        if (property("highlighted").toBool() == highlighted)
            return;
        setProperty("highlighted", highlighted);
        update();
        if (QAccessible::isActive()) {
            QAccessible::State changed;
            changed.selected = true;
            QAccessibleStateChangeEvent event(this, changed);
            QAccessible::updateAccessibility(&event);
        }
    }

    QSize sizeHint() const override { return layout()->sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QColor fill = Qt::transparent;
        if (property("highlighted").toBool())
            fill = Theme::withOpacity(Theme::accent(), 0.12);
        else if (isDown())
            fill = Theme::withOpacity(palette().color(QPalette::WindowText), 0.08);
        else if (underMouse())
            fill = Theme::withOpacity(palette().color(QPalette::WindowText), 0.04);
        if (fill.alpha() == 0 && !hasFocus())
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(shape, fill);
        // Keyboard focus (the rows take focus only from Tab): a ring inside the row.
        if (hasFocus()) {
            painter.setPen(QPen(Theme::focusRing(), 2));
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 7, 7);
        }
    }

private:
    AppSection m_section;
};

// The rows read as the tabs of the window's pages: the one whose page is shown is selected.
class SectionAccessible : public AccessibleButton {
public:
    explicit SectionAccessible(SectionButton* button)
        : AccessibleButton(button, QAccessible::PageTab)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = AccessibleButton::state();
        state.selectable = true;
        state.selected = button()->property("highlighted").toBool();
        return state;
    }
};

// The column of section rows.
class SectionList : public QWidget {
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QAbstractButton")) {
        if (auto* button = dynamic_cast<SectionButton*>(object))
            return new SectionAccessible(button);
    } else if (className == QLatin1String("QWidget")) {
        if (auto* list = dynamic_cast<SectionList*>(object))
            return new QAccessibleWidget(list, QAccessible::PageTabList);
    }
    return nullptr;
}

} // namespace

Sidebar::Sidebar(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_userSummary(new UserSummary)
{
    static const bool accessible = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)accessible;
    setFixedWidth(220);
    Theme::setBackground(this, Theme::controlBackground());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);

    // Header.
    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 18, 16, 0);
    header->setSpacing(10);
    header->addWidget(new AppLogo(38, model.platform().resourcesDir), 0, Qt::AlignVCenter);
    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    auto* appName = new QLabel(QStringLiteral("Kovani"));
    Theme::setTextStyle(appName, Theme::TextStyle::headline);
    auto* maker = new QLabel(QStringLiteral("Dravix"));
    Theme::setTextStyle(maker, Theme::TextStyle::caption);
    Theme::setForeground(maker, Theme::secondary());
    names->addWidget(appName);
    names->addWidget(maker);
    header->addLayout(names, 1);
    layout->addLayout(header);

    // Sections.
    auto* sectionList = new SectionList;
    sectionList->setAccessibleName(QStringLiteral("Sections"));
    auto* sections = new QVBoxLayout(sectionList);
    sections->setContentsMargins(10, 0, 10, 0);
    sections->setSpacing(6);
    for (const AppSection section : AppSections::allCases()) {
        auto* button = new SectionButton(section, model.platform().resourcesDir);
        connect(button, &QAbstractButton::clicked, this, [this, section]() { emit sectionPressed(section); });
        m_buttons.insert(section, button);
        sections->addWidget(button);
    }
    layout->addWidget(sectionList);
    layout->addStretch(1);

    auto* summary = new QVBoxLayout;
    summary->setContentsMargins(12, 12, 12, 12);
    summary->addWidget(m_userSummary);
    layout->addLayout(summary);

    connect(m_userSummary, &QAbstractButton::clicked, this, &Sidebar::userSummaryPressed);
    connect(&m_model, &AppModel::configChanged, this, [this]() { m_userSummary->setUser(m_model.config().user); });
    m_userSummary->setUser(m_model.config().user);
    setSection(AppSection::dashboard);
}

void Sidebar::setSection(AppSection section)
{
    for (auto it = m_buttons.cbegin(); it != m_buttons.cend(); ++it)
        static_cast<SectionButton*>(it.value())->setHighlighted(it.key() == section);
}

bool Sidebar::isHighlighted(AppSection section) const
{
    const QAbstractButton* button = m_buttons.value(section);
    return button && button->property("highlighted").toBool();
}

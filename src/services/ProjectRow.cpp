#include "services/ProjectRow.h"

#include "app/AppModel.h"
#include "app/DisclosureButton.h"
#include "app/ElidedLabel.h"
#include "app/SelectableText.h"
#include "app/Theme.h"

#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QLabel* plainLabel(Theme::TextStyle style, bool monospaced, bool secondary)
{
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setFont(monospaced ? Theme::monospacedFont(style) : Theme::font(style));
    if (secondary)
        Theme::setForeground(label, Theme::secondary());
    return label;
}

void setProminent(QPushButton* button, bool prominent)
{
    if (button->property("prominent").toBool() == prominent)
        return;
    if (prominent) {
        Theme::makeProminent(button);
    } else {
        button->setProperty("prominent", false);
    }
    button->style()->unpolish(button);
    button->style()->polish(button);
    button->update();
}

// A card reads as a group named after its website, its state as its description; the dot reads as
// that state.
QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("ProjectRow"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
    if (className == QLatin1String("StatusDot"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::StaticText);
    return nullptr;
}

void installAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)installed;
}

// What a control of the card acts on: its label and the website's name ("Start Corner Shop").
QString naming(const QString& label, const QString& website)
{
    return website.isEmpty() ? label : label + u' ' + website;
}

} // namespace

// ---- StatusDot ------------------------------------------------------------------------------

StatusDot::StatusDot(QWidget* parent)
    : QWidget(parent)
{
    installAccessibleFactory();
    setFixedSize(sizeHint());
}

void StatusDot::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    update();
}

QColor StatusDot::color() const
{
    return m_running ? Theme::green() : Theme::withOpacity(Theme::secondary(), 0.35);
}

QSize StatusDot::sizeHint() const
{
    const int side = Theme::points(11);
    return {side, side};
}

void StatusDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color());
    painter.drawEllipse(rect());
}

// ---- ProjectRow -----------------------------------------------------------------------------

ProjectRow::ProjectRow(AppModel& model, const Project& project, std::function<void()> openCodeIDE, QWidget* parent)
    : QFrame(parent)
    , m_model(model)
    , m_project(project)
    , m_openCodeIDE(std::move(openCodeIDE))
{
    installAccessibleFactory();
    Theme::makeCard(this);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 8, 8, 8);
    row->setSpacing(14);

    m_dot = new StatusDot;
    row->addWidget(m_dot, 0, Qt::AlignVCenter);

    auto* info = new QVBoxLayout;
    info->setSpacing(5);
    // Texts that may be long wrap or end in an ellipsis (their tooltip is then the whole text), so
    // they never push the buttons out of the card.
    m_name = new ElidedLabel(QString(), 1);
    m_name->setFont(Theme::font(Theme::TextStyle::headline, QFont::DemiBold));
    m_root = new ElidedLabel(QString(), 1);
    Theme::setForeground(m_root, Theme::secondary());
    m_port = plainLabel(Theme::TextStyle::caption, true, true);
    m_url = plainLabel(Theme::TextStyle::caption, true, false);
    m_alt = plainLabel(Theme::TextStyle::caption, true, false);
    m_database = new ElidedLabel(QString(), 1);
    m_database->setFont(Theme::monospacedFont(Theme::TextStyle::caption));
    Theme::setForeground(m_database, Theme::secondary());
    for (QWidget* w : {static_cast<QWidget*>(m_name), static_cast<QWidget*>(m_root), static_cast<QWidget*>(m_port),
                       static_cast<QWidget*>(m_url), static_cast<QWidget*>(m_alt), static_cast<QWidget*>(m_database)})
        info->addWidget(w);

    m_configToggle = new DisclosureButton(QStringLiteral("Website config"));
    m_configToggle->setChecked(false);
    info->addWidget(m_configToggle, 0, Qt::AlignLeft);
    // The configuration text is made when first asked for (a page may hold thousands of cards).
    m_info = info;
    row->addLayout(info, 1);

    row->addStretch(0);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(8);
    auto* first = new QHBoxLayout;
    first->setSpacing(8);
    auto* second = new QHBoxLayout;
    second->setSpacing(8);
    m_startStop = new QPushButton(QStringLiteral("Start"));
    m_open = new QPushButton(QStringLiteral("Open"));
    m_codeIDE = new QPushButton(QStringLiteral("Code IDE"));
    m_choosePath = new QPushButton(QStringLiteral("Choose Path"));
    m_logs = new QPushButton(QStringLiteral("Logs"));
    m_remove = new QPushButton(QStringLiteral("Remove"));
    for (QPushButton* b : {m_startStop, m_open, m_codeIDE})
        first->addWidget(b, 0, Qt::AlignVCenter);
    for (QPushButton* b : {m_choosePath, m_logs, m_remove})
        second->addWidget(b, 0, Qt::AlignVCenter);
    for (QPushButton* b : {m_startStop, m_open, m_codeIDE, m_choosePath, m_logs, m_remove})
        b->setAutoDefault(false);
    buttons->addLayout(first);
    buttons->addLayout(second);
    row->addLayout(buttons);
    row->setAlignment(buttons, Qt::AlignVCenter);
    row->setAlignment(info, Qt::AlignVCenter);
    buttons->setAlignment(first, Qt::AlignRight);
    buttons->setAlignment(second, Qt::AlignRight);

    connect(m_configToggle, &QAbstractButton::toggled, this, &ProjectRow::setConfigExpanded);
    connect(m_startStop, &QPushButton::clicked, this, &ProjectRow::startOrStop);
    connect(m_open, &QPushButton::clicked, this, [this]() {
        m_model.openURL(QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(m_project.port)));
    });
    connect(m_codeIDE, &QPushButton::clicked, this, [this]() {
        if (m_openCodeIDE)
            m_openCodeIDE();
    });
    connect(m_choosePath, &QPushButton::clicked, this, &ProjectRow::choosePath);
    connect(m_logs, &QPushButton::clicked, this, [this]() { m_model.showLog(m_project.id); });
    connect(m_remove, &QPushButton::clicked, this, &ProjectRow::remove);
    refresh();
}

void ProjectRow::setProject(const Project& project)
{
    m_project = project;
    refresh();
}

SelectableText* ProjectRow::configText()
{
    if (!m_configText) {
        m_configText = new SelectableText;
        // The text reads as the disclosure that shows it.
        m_configText->setAccessibleName(naming(QStringLiteral("Website config"), m_project.name));
        m_configText->setFont(Theme::monospacedFont(Theme::TextStyle::caption));
        // A ring while it has the keyboard focus; with the ring's room, 6 points above the text.
        Theme::showFocusRing(m_configText);
        m_configText->setStyleSheet(QStringLiteral("margin-top: 4px"));
        m_configText->setVisible(false);
        m_configText->setText(m_model.projectEnv(m_project));
        m_info->addWidget(m_configText);
        QWidget::setTabOrder(m_configToggle, m_configText);
    }
    return m_configText;
}

QList<QWidget*> ProjectRow::focusOrder() const
{
    QList<QWidget*> order{m_configToggle};
    if (m_configText)
        order << m_configText;
    for (QPushButton* b : {m_startStop, m_open, m_codeIDE, m_choosePath, m_logs, m_remove})
        order << b;
    return order;
}

bool ProjectRow::isConfigExpanded() const
{
    return m_configToggle->isChecked();
}

void ProjectRow::setConfigExpanded(bool expanded)
{
    if (expanded || m_configText)
        configText()->setVisible(expanded);
}

void ProjectRow::refresh()
{
    const AppConfig& config = m_model.config();
    const auto running = m_model.runningProjects().constFind(m_project.id);
    const bool isRunning = running != m_model.runningProjects().cend();
    // Nothing to redo when nothing the card shows has changed (the page redraws cards as it scrolls).
    // A stopped website's log still tells why it stopped.
    const bool hasLog = m_model.hasLog(m_project.id);
    Shown shown{m_project, isRunning ? std::optional<qint32>(running.value()) : std::nullopt, hasLog, config.mysqlHost,
                config.mysqlPort, config.mysqlUser, config.mysqlPassword};
    if (m_shown == shown)
        return;
    m_shown = std::move(shown);
    const QString port = QString::number(m_project.port);

    m_dot->setRunning(isRunning);
    m_name->setText(m_project.name);
    m_root->setText(m_project.root);
    m_port->setText(QStringLiteral("Port ") + port
                    + (isRunning ? QStringLiteral(" \u00B7 pid ") + QString::number(running.value()) : QString()));
    m_url->setText(QStringLiteral("URL: http://localhost:") + port);
    m_alt->setText(QStringLiteral("Alt: http://127.0.0.1:") + port);
    const QString databaseName = m_project.databaseName.isEmpty() ? AppModel::slug(m_project.name) : m_project.databaseName;
    const QString databaseUser = m_project.databaseUser.isEmpty() ? config.mysqlUser : m_project.databaseUser;
    m_database->setText(QStringLiteral("DB: ") + databaseName + QStringLiteral(" \u00B7 ") + databaseUser + u'@'
                        + config.mysqlHost + u':' + QString::number(config.mysqlPort));
    if (m_configText) {
        m_configText->setText(m_model.projectEnv(m_project));
        m_configText->setAccessibleName(naming(QStringLiteral("Website config"), m_project.name));
    }

    // What assistive technology reads: the card by its website and state, each control with the
    // website it acts on.
    const QString state = isRunning ? QStringLiteral("Running on port ") + port : QStringLiteral("Stopped");
    setAccessibleName(m_project.name);
    setAccessibleDescription(state);
    m_dot->setAccessibleName(state);
    m_configToggle->setAccessibleName(naming(m_configToggle->text(), m_project.name));

    m_startStop->setText(isRunning ? QStringLiteral("Stop") : QStringLiteral("Start"));
    for (QPushButton* b : {m_startStop, m_open, m_codeIDE, m_choosePath, m_logs, m_remove})
        b->setAccessibleName(naming(b->text(), m_project.name));
    setProminent(m_startStop, !isRunning);
    m_open->setEnabled(isRunning);
    m_choosePath->setEnabled(!isRunning);
    m_logs->setEnabled(isRunning || hasLog);
    m_remove->setEnabled(!isRunning);
}

void ProjectRow::startOrStop()
{
    if (m_model.runningProjects().contains(m_project.id)) {
        m_model.stopProcess(m_project.id);
        m_model.setStatusMessage(m_project.name + QStringLiteral(" stopped."));
        return;
    }
    m_model.startInternal(m_project);
}

void ProjectRow::choosePath()
{
    if (!m_model.platform().chooseFolder)
        return;
    const QString folder = m_model.platform().chooseFolder();
    if (folder.isEmpty())
        return;
    m_model.updateProjectPath(m_project, folder);
}

void ProjectRow::remove()
{
    // The copy: this row may be torn down as soon as the list changes.
    const Project project = m_project;
    AppModel& model = m_model;
    model.stopProcess(project.id);
    model.setStatusMessage(project.name + QStringLiteral(" stopped."));
    model.modifyConfig([&](AppConfig& config) {
        config.projects.removeIf([&](const Project& p) { return p.id == project.id; });
    });
    // Written whole and atomically, like every other save of the settings.
    model.saveConfig();
}

#include "app/DashboardPage.h"

#include "app/AppModel.h"
#include "app/DravixInfoCard.h"
#include "app/GuideRow.h"
#include "app/LogBox.h"
#include "app/StatCard.h"
#include "app/Theme.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

DashboardPage::DashboardPage(AppModel& model, std::function<void()> openProjects, std::function<void()> openSettings,
                             QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);

    // Three figures sharing the width equally.
    auto* stats = new QGridLayout;
    stats->setSpacing(14);
    m_database = new StatCard(QStringLiteral("Database"), QStringLiteral("mySQL"), Theme::green());
    m_activeSite = new StatCard(QStringLiteral("Active site"), QString(), Theme::secondary());
    m_php = new StatCard(QStringLiteral("PHP"), QString(), Theme::red());
    int column = 0;
    for (StatCard* card : {m_database, m_activeSite, m_php}) {
        card->setMinimumWidth(10);
        stats->addWidget(card, 0, column);
        stats->setColumnStretch(column, 1);
        ++column;
    }
    layout->addLayout(stats);

    auto* quick = new QGroupBox(QStringLiteral("Quick Actions"));
    auto* quickRow = new QHBoxLayout(quick);
    quickRow->setContentsMargins(14, 8, 14, 12);
    quickRow->setSpacing(12);
    m_openPhpMyAdmin = new QPushButton(QStringLiteral("Open phpAdmin"));
    Theme::makeProminent(m_openPhpMyAdmin);
    m_manageProjects = new QPushButton(QStringLiteral("Manage Projects"));
    m_settings = new QPushButton(QStringLiteral("Settings"));
    quickRow->addWidget(m_openPhpMyAdmin, 0, Qt::AlignVCenter);
    quickRow->addWidget(m_manageProjects, 0, Qt::AlignVCenter);
    quickRow->addWidget(m_settings, 0, Qt::AlignVCenter);
    quickRow->addStretch(1);
    layout->addWidget(quick);

    connect(m_openPhpMyAdmin, &QPushButton::clicked, this, [this]() { m_model.openPhpMyAdmin(); });
    connect(m_manageProjects, &QPushButton::clicked, this, [openProjects = std::move(openProjects)]() {
        if (openProjects)
            openProjects();
    });
    connect(m_settings, &QPushButton::clicked, this, [openSettings = std::move(openSettings)]() {
        if (openSettings)
            openSettings();
    });

    layout->addWidget(new DravixInfoCard([&model](const QUrl& url) { model.openURL(url); }));

    auto* howTo = new QGroupBox(QStringLiteral("How to use"));
    auto* howToRows = new QVBoxLayout(howTo);
    howToRows->setContentsMargins(14, 8, 14, 12);
    howToRows->setSpacing(10);
    const QStringList steps = {
        QStringLiteral("Open the app. Database starts automatically when possible."),
        QStringLiteral("Go to Projects. Create Website builds Laravel or WordPress automatically; Import Website "
                       "links an existing folder."),
        QStringLiteral("Use Open phpAdmin to manage databases. If phpAdmin is missing, Kovani installs and starts it "
                       "automatically."),
        QStringLiteral("Created websites are connected to shared mySQL automatically. Existing websites can copy "
                       "config from their website card."),
    };
    for (int i = 0; i < steps.size(); ++i)
        howToRows->addWidget(new GuideRow(QString::number(i + 1), steps[i]));
    layout->addWidget(howTo);

    m_logBox = new LogBox(QString());
    layout->addWidget(m_logBox);

    connect(&m_model, &AppModel::configChanged, this, &DashboardPage::refresh);
    connect(&m_model, &AppModel::runningProjectsChanged, this, &DashboardPage::refresh);
    connect(&m_model, &AppModel::phpVersionsChanged, this, &DashboardPage::refresh);
    connect(&m_model, &AppModel::selectedLogChanged, this, &DashboardPage::refresh);
    refresh();
}

void DashboardPage::refresh()
{
    if (const std::optional<Project> active = m_model.activeProject())
        m_activeSite->setValue(active->name, Theme::green());
    else
        m_activeSite->setValue(QStringLiteral("None"), Theme::secondary());

    if (const std::optional<PHPVersion> php = m_model.selectedPHP())
        m_php->setValue(php->version, Theme::blue());
    else
        m_php->setValue(QStringLiteral("Not found"), Theme::red());

    const QString& log = m_model.selectedLog();
    m_logBox->setText(log);
    m_logBox->setVisible(!log.isEmpty());
}

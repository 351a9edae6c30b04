#include "services/ProjectsPage.h"

#include "app/AppModel.h"
#include "app/LogBox.h"
#include "app/PageRegistry.h"
#include "app/Theme.h"
#include "services/ProjectRow.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const bool registered = PageRegistry::setProjectsPage(
    [](AppModel& model, std::function<void()> showCreateWebsite, std::function<void()> showAddProject,
       std::function<void(const Project&)> openCodeIDE) -> QWidget* {
        return new ProjectsPage(model, std::move(showCreateWebsite), std::move(showAddProject), std::move(openCodeIDE));
    });

} // namespace

ProjectsPage::ProjectsPage(AppModel& model, std::function<void()> showCreateWebsite, std::function<void()> showAddProject,
                           std::function<void(const Project&)> openCodeIDE, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_showCreateWebsite(std::move(showCreateWebsite))
    , m_showAddProject(std::move(showAddProject))
    , m_openCodeIDE(std::move(openCodeIDE))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);

    auto* header = new QHBoxLayout;
    m_title = new QLabel(QStringLiteral("Websites"));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(Theme::font(Theme::TextStyle::title2, QFont::Bold));
    header->addWidget(m_title, 0, Qt::AlignVCenter);
    header->addStretch(1);
    m_stopAll = new QPushButton(QStringLiteral("Stop All"));
    m_createWebsite = new QPushButton(QStringLiteral("Create Website"));
    Theme::makeProminent(m_createWebsite);
    m_importWebsite = new QPushButton(QStringLiteral("Import Website"));
    for (QPushButton* b : {m_stopAll, m_createWebsite, m_importWebsite}) {
        b->setAutoDefault(false);
        header->addWidget(b, 0, Qt::AlignVCenter);
    }
    layout->addLayout(header);

    m_progressBox = new QFrame;
    Theme::makeCard(m_progressBox);
    auto* progressRow = new QHBoxLayout(m_progressBox);
    progressRow->setContentsMargins(8, 8, 8, 8);
    progressRow->setSpacing(12);
    m_progress = new QProgressBar;
    m_progress->setRange(0, 0); // indeterminate
    m_progress->setTextVisible(false);
    m_progress->setFixedSize(Theme::points(60), Theme::points(8));
    m_progressLabel = new QLabel;
    m_progressLabel->setTextFormat(Qt::PlainText);
    m_progressLabel->setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    progressRow->addWidget(m_progress, 0, Qt::AlignVCenter);
    progressRow->addWidget(m_progressLabel, 0, Qt::AlignVCenter);
    progressRow->addStretch(1);
    layout->addWidget(m_progressBox);

    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(16);
    layout->addLayout(m_rowsLayout);

    m_logBox = new LogBox(QString());
    layout->addWidget(m_logBox);
    layout->addStretch(1);

    connect(m_stopAll, &QPushButton::clicked, this, [this]() { m_model.stopAllProjects(); });
    connect(m_createWebsite, &QPushButton::clicked, this, [this]() {
        if (m_showCreateWebsite)
            m_showCreateWebsite();
    });
    connect(m_importWebsite, &QPushButton::clicked, this, [this]() {
        if (m_showAddProject)
            m_showAddProject();
    });

    connect(&m_model, &AppModel::configChanged, this, &ProjectsPage::refresh);
    connect(&m_model, &AppModel::runningProjectsChanged, this, &ProjectsPage::refresh);
    connect(&m_model, &AppModel::selectedLogChanged, this, &ProjectsPage::refresh);
    connect(&m_model, &AppModel::isCreatingWebsiteChanged, this, &ProjectsPage::refresh);
    connect(&m_model, &AppModel::websiteCreationProgressChanged, this, &ProjectsPage::refresh);
    refresh();
}

QList<ProjectRow*> ProjectsPage::rows() const
{
    QList<ProjectRow*> result;
    for (const auto& entry : m_rows) {
        if (entry.second)
            result.append(entry.second.data());
    }
    return result;
}

ProjectRow* ProjectsPage::row(const QString& id) const
{
    for (const auto& entry : m_rows) {
        if (entry.first == id && entry.second)
            return entry.second.data();
    }
    return nullptr;
}

void ProjectsPage::syncRows()
{
    // Cards are matched to projects by id: a project keeps its card (and the card its open or
    // closed configuration section); a card whose project is gone is dropped.
    QList<QPair<QString, QPointer<ProjectRow>>> previous = m_rows;
    QList<QPair<QString, QPointer<ProjectRow>>> next;
    for (const Project& project : m_model.config().projects) {
        ProjectRow* card = nullptr;
        for (qsizetype i = 0; i < previous.size(); ++i) {
            if (previous[i].first == project.id && previous[i].second) {
                card = previous[i].second.data();
                previous.removeAt(i);
                break;
            }
        }
        if (card) {
            card->setProject(project);
        } else {
            auto self = std::make_shared<QPointer<ProjectRow>>();
            card = new ProjectRow(m_model, project, [this, self]() {
                if (m_openCodeIDE && *self)
                    m_openCodeIDE((*self)->project());
            });
            *self = card;
        }
        next.append({project.id, card});
    }
    for (const auto& gone : previous) {
        if (ProjectRow* card = gone.second.data()) {
            m_rowsLayout->removeWidget(card);
            card->hide();
            // It may be the card whose button is being handled right now.
            card->deleteLater();
        }
    }
    for (qsizetype i = 0; i < next.size(); ++i) {
        ProjectRow* card = next[i].second.data();
        if (m_rowsLayout->indexOf(card) != i) {
            m_rowsLayout->removeWidget(card);
            m_rowsLayout->insertWidget(static_cast<int>(i), card);
        }
        card->show();
    }
    m_rows = next;
}

void ProjectsPage::refresh()
{
    m_stopAll->setEnabled(m_model.hasRunningWebsites());
    const bool creating = m_model.isCreatingWebsite();
    m_createWebsite->setEnabled(!creating);
    m_importWebsite->setEnabled(!creating);
    m_progressBox->setVisible(creating);
    m_progressLabel->setText(m_model.websiteCreationProgress());

    syncRows();

    const QString& log = m_model.selectedLog();
    m_logBox->setText(log.isEmpty() ? QStringLiteral("Select Logs on a website to view output.") : log);
}

#include "services/ProjectsPage.h"

#include "app/AppModel.h"
#include "app/LogBox.h"
#include "app/ElidedLabel.h"
#include "app/PageRegistry.h"
#include "app/Spinner.h"
#include "app/Theme.h"
#include "services/ProjectRow.h"
#include "platform/Text.h"

#include <QFrame>
#include <QHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr qsizetype kRowsPerGroup = 32;
// Cards made by the first pass (more than a window shows) and by each later turn.
constexpr qsizetype kFirstCards = 24;
constexpr qsizetype kMoreCards = 48;

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
    m_moreCards.setSingleShot(true);
    m_moreCards.setInterval(0);
    connect(&m_moreCards, &QTimer::timeout, this, &ProjectsPage::syncRows);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    // The page grows as soon as cards are added, before it is laid out: a page that is laid out
    // smaller than it must be squeezes, and so moves, every card.
    layout->setSizeConstraint(QLayout::SetMinimumSize);

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
    m_progress = new Spinner(16);
    m_progressLabel = new ElidedLabel(QString(), 2);
    m_progressLabel->setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    progressRow->addWidget(m_progress, 0, Qt::AlignVCenter);
    progressRow->addWidget(m_progressLabel, 1, Qt::AlignVCenter);
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

    // The rows follow the settings and the running servers only.
    for (auto signal : {&AppModel::configChanged, &AppModel::runningProjectsChanged}) {
        connect(&m_model, signal, this, &ProjectsPage::refresh);
        connect(&m_model, signal, this, &ProjectsPage::syncRows);
    }
    connect(&m_model, &AppModel::selectedLogChanged, this, &ProjectsPage::refreshLog);
    connect(&m_model, &AppModel::isCreatingWebsiteChanged, this, &ProjectsPage::refresh);
    connect(&m_model, &AppModel::websiteCreationProgressChanged, this, &ProjectsPage::refresh);
    refresh();
    syncRows();
    refreshLog();
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
    // While the window shows another section the rows wait until the page is shown again.
    if (isHidden()) {
        m_rowsStale = true;
        return;
    }
    m_rowsStale = false;

    // Cards are matched to projects by id: a project keeps its card (and the card its open or
    // closed configuration section); a card whose project is gone is dropped. Linear in the
    // number of projects: one hash look-up per project, and the layout is reordered only when
    // the order changed.
    QHash<QString, QList<ProjectRow*>> previous;
    previous.reserve(m_rows.size());
    for (const auto& entry : std::as_const(m_rows)) {
        if (entry.second)
            previous[entry.first].append(entry.second.data());
    }
    // New cards are made a screenful at a time: the page shows at once, and the cards of a long
    // list follow in the next turns of the event loop, in list order.
    QList<QPair<QString, QPointer<ProjectRow>>> next;
    const QList<Project>& projects = m_model.config().projects;
    next.reserve(projects.size());
    qsizetype budget = m_rows.isEmpty() ? kFirstCards : kMoreCards;
    bool pending = false;
    for (const Project& project : projects) {
        ProjectRow* card = nullptr;
        const auto same = previous.find(project.id);
        if (same != previous.end() && !same->isEmpty()) {
            card = same->takeFirst();
            card->setProject(project);
        } else if (budget == 0) {
            pending = true;
            continue;
        } else {
            --budget;
            auto self = std::make_shared<QPointer<ProjectRow>>();
            card = new ProjectRow(m_model, project, [this, self]() {
                if (m_openCodeIDE && *self)
                    m_openCodeIDE((*self)->project());
            });
            *self = card;
        }
        next.append({project.id, card});
    }
    for (const QList<ProjectRow*>& gone : std::as_const(previous)) {
        for (ProjectRow* card : gone) {
            card->hide();
            // It may be the card whose button is being handled right now: out of its group,
            // which may go, and deleted once that handler returns.
            card->setParent(this);
            card->deleteLater();
        }
    }
    placeRows(next);
    m_rows = next;
    if (pending)
        m_moreCards.start();
}

void ProjectsPage::placeRows(const QList<QPair<QString, QPointer<ProjectRow>>>& rows)
{
    // The cards sit in groups of a few dozen: Qt's repaint bookkeeping walks all siblings of a
    // widget that moves, so thousands of sibling cards would make every layout pass quadratic.
    const qsizetype groups = (rows.size() + kRowsPerGroup - 1) / kRowsPerGroup;
    while (m_groups.size() < groups) {
        auto* group = new QWidget;
        // Exactly as high as its cards: a group never takes a share of spare height, so a change
        // elsewhere on the page leaves its cards where they are.
        group->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        auto* column = new QVBoxLayout(group);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(16);
        m_rowsLayout->addWidget(group);
        group->hide();
        m_groups.append(group);
    }
    for (qsizetype g = 0; g < groups; ++g) {
        QWidget* group = m_groups[g];
        auto* column = static_cast<QVBoxLayout*>(group->layout());
        const qsizetype first = g * kRowsPerGroup;
        const qsizetype count = std::min<qsizetype>(kRowsPerGroup, rows.size() - first);
        bool same = column->count() == count;
        for (qsizetype i = 0; same && i < count; ++i)
            same = column->itemAt(int(i))->widget() == rows[first + i].second.data();
        if (same && !group->isHidden())
            continue;
        // Filled while hidden: showing a card in a shown group would lay out the whole page
        // again, once per card.
        group->hide();
        if (!same) {
            // Taken from the back, so each take is constant time.
            while (column->count() > 0)
                delete column->takeAt(column->count() - 1);
            for (qsizetype i = 0; i < count; ++i)
                column->addWidget(rows[first + i].second.data());
        }
        for (qsizetype i = 0; i < count; ++i) {
            if (rows[first + i].second->isHidden())
                rows[first + i].second->show();
        }
        group->show();
    }
    // Every card left has been moved into an earlier group by now.
    while (m_groups.size() > groups)
        delete m_groups.takeLast();
}

void ProjectsPage::refresh()
{
    m_stopAll->setEnabled(m_model.hasRunningWebsites());
    const bool creating = m_model.isCreatingWebsite();
    m_createWebsite->setEnabled(!creating);
    m_importWebsite->setEnabled(!creating);
    m_progressBox->setVisible(creating);
    m_progressLabel->setText(Text::displayable(m_model.websiteCreationProgress()));
}

void ProjectsPage::showEvent(QShowEvent* event)
{
    if (m_rowsStale)
        syncRows();
    QWidget::showEvent(event);
}

void ProjectsPage::refreshLog()
{
    const QString& log = m_model.selectedLog();
    m_logBox->setText(log.isEmpty() ? QStringLiteral("Select Logs on a website to view output.") : log);
}

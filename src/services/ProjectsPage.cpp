#include "services/ProjectsPage.h"

#include "app/AppModel.h"
#include "app/LogBox.h"
#include "app/ElidedLabel.h"
#include "app/PageRegistry.h"
#include "app/Spinner.h"
#include "app/Theme.h"
#include "services/ProjectCards.h"
#include "services/ProjectRow.h"
#include "platform/Text.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
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

    m_cards = new ProjectCards(m_model, [this](const Project& project) {
        if (m_openCodeIDE)
            m_openCodeIDE(project);
    });
    layout->addWidget(m_cards);

    m_logBox = new LogBox(QString());
    layout->addWidget(m_logBox);
    layout->addStretch(1);
    // Tab goes from the header through the cards, in list order, to the log.
    m_cards->setTabNeighbours(m_importWebsite, m_logBox->textView());

    connect(m_stopAll, &QPushButton::clicked, this, [this]() { m_model.stopAllProjects(); });
    connect(m_createWebsite, &QPushButton::clicked, this, [this]() {
        if (m_showCreateWebsite)
            m_showCreateWebsite();
    });
    connect(m_importWebsite, &QPushButton::clicked, this, [this]() {
        if (m_showAddProject)
            m_showAddProject();
    });

    // The rows follow the settings; a start, a stop or a new log redraws only its website's card.
    connect(&m_model, &AppModel::configChanged, this, &ProjectsPage::refresh);
    connect(&m_model, &AppModel::configChanged, this, &ProjectsPage::syncRows);
    connect(&m_model, &AppModel::runningProjectsChanged, this, &ProjectsPage::refresh);
    connect(&m_model, &AppModel::projectChanged, m_cards, &ProjectCards::refreshProject);
    connect(&m_model, &AppModel::selectedLogChanged, this, &ProjectsPage::refreshLog);
    connect(&m_model, &AppModel::isCreatingWebsiteChanged, this, &ProjectsPage::refresh);
    connect(&m_model, &AppModel::websiteCreationProgressChanged, this, &ProjectsPage::refresh);
    refresh();
    syncRows();
    refreshLog();
}

QList<ProjectRow*> ProjectsPage::rows() const
{
    return m_cards->cards();
}

ProjectRow* ProjectsPage::row(const QString& id) const
{
    return m_cards->card(id);
}

ProjectRow* ProjectsPage::revealRow(const QString& id)
{
    return m_cards->reveal(id);
}

void ProjectsPage::syncRows()
{
    // Rows are matched to projects by id: a row in view keeps its card, and every row its open or
    // closed configuration section.
    m_cards->setProjects(m_model.config().projects);
}

void ProjectsPage::refresh()
{
    m_stopAll->setEnabled(m_model.hasRunningWebsites());
    const bool creating = m_model.isCreatingWebsite();
    if (creating)
        parkFocus();
    m_createWebsite->setEnabled(!creating);
    m_importWebsite->setEnabled(!creating);
    if (!creating)
        unparkFocus();
    m_progressBox->setVisible(creating);
    m_progressLabel->setText(Text::displayable(m_model.websiteCreationProgress()));
}

void ProjectsPage::parkFocus()
{
    QWidget* focus = window()->focusWidget();
    if (focus != m_createWebsite && focus != m_importWebsite)
        return;
    // Qt would hand it to the next control in the chain and scroll there.
    QWidget* park = nullptr;
    if (m_stopAll->isEnabled() && m_stopAll->isVisible()) {
        park = m_stopAll;
    } else {
        for (QWidget* w = m_importWebsite->nextInFocusChain(); w && w != m_importWebsite; w = w->nextInFocusChain()) {
            if (w->window() == window() && w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus)
                && w != m_createWebsite) {
                park = w;
                break;
            }
        }
    }
    if (!park)
        return;
    m_parkedFrom = focus;
    m_parkedAt = park;
    park->setFocus(Qt::OtherFocusReason);
}

void ProjectsPage::unparkFocus()
{
    if (m_parkedFrom && m_parkedAt && window()->focusWidget() == m_parkedAt && m_parkedFrom->isEnabled())
        m_parkedFrom->setFocus(Qt::OtherFocusReason);
    m_parkedFrom = nullptr;
    m_parkedAt = nullptr;
}

void ProjectsPage::refreshLog()
{
    const QString& log = m_model.selectedLog();
    m_logBox->setText(log.isEmpty() ? QStringLiteral("Select Logs on a website to view output.") : log);
}

#include "app/ContentView.h"

#include "app/AppModel.h"
#include "app/Footer.h"
#include "app/Sidebar.h"
#include "app/Theme.h"
#include "app/TopBar.h"
#include "app/UserSummary.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QKeyEvent>
#include <QKeySequence>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace {

// A one-point separator line.
QFrame* divider(QFrame::Shape shape)
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::NoFrame);
    if (shape == QFrame::VLine)
        line->setFixedWidth(1);
    else
        line->setFixedHeight(1);
    const QColor text = line->palette().color(QPalette::WindowText);
    Theme::setBackground(line, Theme::withOpacity(text, 0.14));
    return line;
}

// The platform's quit keys, and Ctrl+Q where the platform names none, quit from any window of
// the application, a sheet included (a shortcut of the window would be blocked by it).
class QuitKeys : public QObject {
public:
    explicit QuitKeys(QObject* parent)
        : QObject(parent)
        , m_keys(QKeySequence::keyBindings(QKeySequence::Quit))
    {
        if (!m_keys.contains(QKeySequence(Qt::CTRL | Qt::Key_Q)))
            m_keys << QKeySequence(Qt::CTRL | Qt::Key_Q);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (!key->isAutoRepeat() && m_keys.contains(QKeySequence(key->keyCombination()))) {
                // Not quit(): a sheet that refuses to close must not cancel quitting.
                QCoreApplication::exit(0);
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QList<QKeySequence> m_keys;
};

} // namespace

ContentView::ContentView(QWidget* parent)
    : ContentView(Platform(), parent)
{
}

ContentView::ContentView(const Platform& platform, QWidget* parent)
    : QWidget(parent)
    , m_model(std::make_unique<AppModel>(platform))
{
    Theme::install();
    m_terminationHandler = [this]() { m_model->shutdown(); };
    build();
    connect(qApp, &QCoreApplication::aboutToQuit, this, &ContentView::applicationWillTerminate);
}

ContentView::~ContentView()
{
    // Pages, sheets and the workspace (also those waiting for deletion) observe the model:
    // they go before it.
    const QList<QWidget*> children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    m_normal = nullptr;
    qDeleteAll(children);
}

void ContentView::build()
{
    setWindowTitle(QStringLiteral("Kovani"));
    setMinimumSize(1120, 760);
    resize(1120, 760);

    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);

    m_normal = new QWidget;
    auto* row = new QHBoxLayout(m_normal);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    m_sidebar = new Sidebar(*m_model);
    row->addWidget(m_sidebar);
    row->addWidget(divider(QFrame::VLine));

    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    column->setContentsMargins(0, 0, 0, 0);
    m_topBar = new TopBar(*m_model);
    column->addWidget(m_topBar);
    column->addWidget(divider(QFrame::HLine));

    m_pageArea = new QScrollArea;
    m_pageArea->setFrameShape(QFrame::NoFrame);
    m_pageArea->setWidgetResizable(true);
    m_pageArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pageArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // It takes the keyboard focus (arrows and Page Down scroll a page with no controls), and shows it.
    Theme::showFocusRing(m_pageArea);
    auto* pageHolder = new QWidget;
    m_pageLayout = new QVBoxLayout(pageHolder);
    m_pageLayout->setContentsMargins(24, 24, 24, 24);
    m_pageLayout->setSpacing(0);
    m_pageLayout->addStretch(1);
    m_pageArea->setWidget(pageHolder);
    column->addWidget(m_pageArea, 1);

    m_footer = new Footer(*m_model);
    column->addWidget(m_footer);
    row->addLayout(column, 1);

    m_stack->addWidget(m_normal);

    connect(m_sidebar, &Sidebar::sectionPressed, this, &ContentView::setSection);
    connect(m_sidebar, &Sidebar::userSummaryPressed, this, [this]() {
        setSection(AppSection::dravix);
        if (!m_model->config().user)
            setSheetShown(SheetKind::login, true);
    });
    connect(m_topBar, &TopBar::loginPressed, this, [this]() { setSheetShown(SheetKind::login, true); });

    qApp->installEventFilter(new QuitKeys(this));

    rebuildPage();
}

void ContentView::setSection(AppSection section)
{
    if (section == m_section)
        return;
    m_section = section;
    m_sidebar->setSection(section);
    m_topBar->setSection(section);
    rebuildPage();
    emit sectionChanged(section);
}

QWidget* ContentView::makePage(AppSection section)
{
    AppModel& model = *m_model;
    QWidget* page = nullptr;
    switch (section) {
    case AppSection::dashboard:
        if (const DashboardPageFactory factory = PageRegistry::dashboardPage())
            page = factory(model, [this]() { setSection(AppSection::projects); },
                           [this]() { setSection(AppSection::settings); });
        break;
    case AppSection::projects:
        if (const ProjectsPageFactory factory = PageRegistry::projectsPage())
            page = factory(model, [this]() { setSheetShown(SheetKind::createWebsite, true); },
                           [this]() { setSheetShown(SheetKind::addProject, true); },
                           [this](const Project& project) { setCodeIDEProject(project); });
        break;
    case AppSection::settings:
        if (const SettingsPageFactory factory = PageRegistry::settingsPage())
            page = factory(model);
        break;
    case AppSection::guide:
        if (const GuidePageFactory factory = PageRegistry::guidePage())
            page = factory(model);
        break;
    case AppSection::dravix:
        if (const UserPageFactory factory = PageRegistry::userPage())
            page = factory(model, [this]() { setSheetShown(SheetKind::login, true); });
        break;
    }
    if (!page)
        page = new QWidget;
    page->setObjectName(AppSections::rawValue(section) + QStringLiteral("Page"));
    return page;
}

void ContentView::rebuildPage()
{
    // A page may be replaced from one of its own handlers: it goes once that handler returns.
    // The projects page holds nothing of its own but its cards: it is kept for the next visit
    // instead of being built again.
    if (QWidget* old = m_page.data()) {
        m_pageLayout->removeWidget(old);
        old->hide();
        if (old != m_projectsPage.data())
            old->deleteLater();
    }
    if (m_section == AppSection::projects && m_projectsPage) {
        m_page = m_projectsPage;
    } else {
        m_page = makePage(m_section);
        if (m_section == AppSection::projects)
            m_projectsPage = m_page;
    }
    m_pageLayout->insertWidget(0, m_page);
    m_page->show();
    // Tab reaches the page's controls right after its scrolling area, before the footer (a page
    // is built after the footer, so its controls would come last).
    QList<QWidget*> controls;
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (m_page->isAncestorOf(w) && w->focusPolicy() != Qt::NoFocus)
            controls.append(w);
    }
    QWidget* previous = m_pageArea;
    for (QWidget* w : std::as_const(controls)) {
        QWidget::setTabOrder(previous, w);
        previous = w;
    }
    m_pageArea->verticalScrollBar()->setValue(0);
    // The scrolling area takes focus for the keyboard: it reads as the page it holds.
    m_pageArea->setAccessibleName(AppSections::rawValue(m_section));
}

void ContentView::setSheetShown(SheetKind kind, bool shown)
{
    if (isSheetShown(kind) == shown)
        return;
    m_sheetFlags[kind] = shown;

    if (!shown) {
        if (QDialog* sheet = m_sheets.take(kind).data()) {
            sheet->disconnect(this);
            sheet->hide();
            sheet->deleteLater();
        }
        return;
    }
    const SheetFactory factory = PageRegistry::sheet(kind);
    QDialog* sheet = factory ? factory(*m_model, this) : nullptr;
    if (!sheet)
        return;
    m_sheets.insert(kind, sheet);
    sheet->setWindowModality(Qt::WindowModal);
    connect(sheet, &QDialog::finished, this, [this, kind]() { setSheetShown(kind, false); });
    sheet->open();
}

void ContentView::setCodeIDEProject(const std::optional<Project>& project)
{
    if (!project) {
        if (!m_codeIDEProject)
            return;
        m_codeIDEProject.reset();
        m_stack->setCurrentWidget(m_normal);
        if (QWidget* old = m_workspace.data()) {
            m_stack->removeWidget(old);
            old->hide();
            // Usually closed from its own button: deleted once that handler returns.
            old->deleteLater();
        }
        m_workspace = nullptr;
        emit codeIDEProjectChanged();
        return;
    }
    if (m_codeIDEProject && m_codeIDEProject->id == project->id) {
        // Same identity: the open workspace stays.
        m_codeIDEProject = project;
        return;
    }
    const CodeIDEViewFactory factory = PageRegistry::codeIDEView();
    QWidget* workspace = factory ? factory(*project, [this]() { setCodeIDEProject(std::nullopt); }) : nullptr;
    if (!workspace)
        return;
    if (QWidget* old = m_workspace.data()) {
        m_stack->removeWidget(old);
        old->deleteLater();
    }
    m_workspace = workspace;
    m_codeIDEProject = project;
    m_stack->addWidget(workspace);
    m_stack->setCurrentWidget(workspace);
    emit codeIDEProjectChanged();
}

void ContentView::setTerminationHandler(std::function<void()> handler)
{
    m_terminationHandler = std::move(handler);
}

void ContentView::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    if (m_terminationHandler)
        m_terminationHandler();
}

void ContentView::keyPressEvent(QKeyEvent* event)
{
    // Return or Enter that no control took presses the focused button, as Space does (and as they
    // do in the sheets).
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (returnKey && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        auto* button = qobject_cast<QAbstractButton*>(focusWidget());
        if (button && button->isEnabled() && button->isVisible()) {
            if (!event->isAutoRepeat())
                button->click();
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void ContentView::closeEvent(QCloseEvent* event)
{
    event->accept();
    // Closing the window ends the application, even with a sheet open.
    QCoreApplication::exit(0);
}

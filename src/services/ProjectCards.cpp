#include "services/ProjectCards.h"

#include "app/DisclosureButton.h"
#include "services/ProjectRow.h"

#include <QApplication>
#include <QEvent>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>

#include <algorithm>

namespace {

// Space between cards.
constexpr int kSpacing = 16;
// Rows made beyond the view, above and below it: a few cards, at least half a view.
constexpr int kAheadRows = 3;

} // namespace

ProjectCards::ProjectCards(AppModel& model, std::function<void(const Project&)> openCodeIDE, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_openCodeIDE(std::move(openCodeIDE))
{
    // Exactly as high as its rows: it never takes a share of spare height.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // The rows beside the focused one get their cards before Tab leaves it.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now && isAncestorOf(now))
            layoutCards();
    });
}

void ProjectCards::setTabNeighbours(QWidget* before, QWidget* after)
{
    m_tabBefore = before;
    m_tabAfter = after;
    chainFocus();
}

void ProjectCards::setProjects(const QList<Project>& projects)
{
    m_projects = projects;
    recomputeOffsets();
    // No rows, no room (not even the page's spacing around them).
    setVisible(!m_projects.isEmpty());
    layoutCards();
}

void ProjectCards::refreshProject(const QString& id)
{
    for (ProjectRow* card : std::as_const(m_bound)) {
        if (card->project().id == id)
            card->refresh();
    }
}

QList<ProjectRow*> ProjectCards::cards() const
{
    QList<qsizetype> indices = m_bound.keys();
    std::sort(indices.begin(), indices.end());
    QList<ProjectRow*> result;
    result.reserve(indices.size());
    for (const qsizetype index : indices)
        result.append(m_bound.value(index));
    return result;
}

ProjectRow* ProjectCards::card(const QString& id) const
{
    for (qsizetype i = 0; i < m_projects.size(); ++i) {
        if (m_projects[i].id == id)
            return m_bound.value(i, nullptr);
    }
    return nullptr;
}

ProjectRow* ProjectCards::reveal(const QString& id)
{
    qsizetype index = -1;
    for (qsizetype i = 0; i < m_projects.size() && index < 0; ++i) {
        if (m_projects[i].id == id)
            index = i;
    }
    if (index < 0)
        return nullptr;
    // The page may not have been laid out since the list changed.
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (w->layout())
            w->layout()->activate();
    }
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(w)) {
            if (area->widget() && area->widget()->isAncestorOf(this)) {
                const QRect rect = rowRect(index);
                const QPoint center = mapTo(area->widget(), rect.center());
                area->ensureVisible(center.x(), center.y(), 0, rect.height() / 2 + 1);
            }
            break;
        }
    }
    layoutCards();
    return m_bound.value(index, nullptr);
}

QRect ProjectCards::rowRect(qsizetype index) const
{
    if (index < 0 || index >= m_projects.size())
        return {};
    return QRect(0, m_offsets[size_t(index)], width(), rowHeight(index));
}

QSize ProjectCards::sizeHint() const
{
    return {m_minimumWidth, m_total};
}

QSize ProjectCards::minimumSizeHint() const
{
    return {m_minimumWidth, m_total};
}

bool ProjectCards::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::ParentChange:
        watchAncestors();
        layoutCards();
        break;
    case QEvent::LayoutRequest:
        // A card's contents changed size (its configuration section opened, say).
        layoutCards();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool ProjectCards::eventFilter(QObject* watched, QEvent* event)
{
    // Scrolling moves the page inside the scroll area's viewport; a window resize changes the
    // viewport. Either way another set of rows may be in view.
    if ((event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Show)
        && isVisible())
        layoutCards();
    return QWidget::eventFilter(watched, event);
}

void ProjectCards::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutCards();
}

void ProjectCards::watchAncestors()
{
    for (const QPointer<QWidget>& w : std::as_const(m_watched)) {
        if (w)
            w->removeEventFilter(this);
    }
    m_watched.clear();
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        w->installEventFilter(this);
        m_watched.append(w);
        if (w->isWindow())
            break;
    }
}

QRect ProjectCards::viewRect() const
{
    QRect view = rect();
    for (const QWidget* w = parentWidget(); w && !view.isEmpty(); w = w->parentWidget()) {
        view &= QRect(mapFrom(w, QPoint(0, 0)), w->size());
        if (w->isWindow())
            break;
    }
    return view;
}

int ProjectCards::rowHeight(qsizetype index) const
{
    return m_heights.value(m_projects[index].id, m_usualHeight);
}

void ProjectCards::recomputeOffsets()
{
    m_offsets.resize(size_t(m_projects.size()) + 1);
    int y = 0;
    for (qsizetype i = 0; i < m_projects.size(); ++i) {
        m_offsets[size_t(i)] = y;
        y += rowHeight(i) + kSpacing;
    }
    m_offsets[size_t(m_projects.size())] = y;
    const int total = m_projects.isEmpty() ? 0 : y - kSpacing;
    if (total != m_total) {
        m_total = total;
        setFixedHeight(m_total);
        updateGeometry();
    }
}

int ProjectCards::measure(ProjectRow* card) const
{
    const int w = std::max(width(), m_minimumWidth);
    return card->hasHeightForWidth() ? card->heightForWidth(w) : card->sizeHint().height();
}

ProjectRow* ProjectCards::makeCard()
{
    auto self = std::make_shared<QPointer<ProjectRow>>();
    auto* card = new ProjectRow(m_model, Project{}, [this, self]() {
        if (m_openCodeIDE && *self)
            m_openCodeIDE((*self)->project());
    });
    *self = card;
    card->setParent(this);
    card->hide();
    card->ensurePolished();
    connect(card->configToggle(), &QAbstractButton::toggled, this, [this, card](bool open) {
        if (open)
            m_expanded.insert(card->project().id);
        else
            m_expanded.remove(card->project().id);
    });
    // The width below which the cards would squeeze their buttons.
    const int minimum = card->minimumSizeHint().width();
    if (minimum > m_minimumWidth) {
        m_minimumWidth = minimum;
        updateGeometry();
    }
    if (m_usualHeight == 0) {
        m_usualHeight = measure(card);
        recomputeOffsets();
    }
    return card;
}

void ProjectCards::bind(ProjectRow* card, qsizetype index)
{
    const Project& project = m_projects[index];
    card->setProject(project);
    const bool open = m_expanded.contains(project.id);
    if (card->isConfigExpanded() != open)
        card->configToggle()->setChecked(open);
}

void ProjectCards::chainFocus()
{
    // Keyboard focus walks the cards in list order, between the neighbours.
    QWidget* previous = m_tabBefore;
    for (ProjectRow* card : cards()) {
        for (QWidget* w : card->focusOrder()) {
            if (previous)
                QWidget::setTabOrder(previous, w);
            previous = w;
        }
    }
    if (previous && m_tabAfter && previous != m_tabBefore)
        QWidget::setTabOrder(previous, m_tabAfter);
}

void ProjectCards::layoutCards()
{
    if (m_laying)
        return;
    m_laying = true;
    if (!isVisible()) {
        // Out of sight nothing is placed, but each card stays with its row as the list changes.
        QHash<QString, qsizetype> firstIndex;
        for (qsizetype i = m_projects.size() - 1; i >= 0; --i)
            firstIndex.insert(m_projects[i].id, i);
        QHash<qsizetype, ProjectRow*> bound;
        for (ProjectRow* card : cards()) {
            qsizetype index = firstIndex.value(card->project().id, -1);
            while (index >= 0 && index < m_projects.size()
                   && (bound.contains(index) || m_projects[index].id != card->project().id))
                ++index;
            if (index >= 0 && index < m_projects.size()) {
                bound.insert(index, card);
                bind(card, index);
            } else {
                card->hide();
                m_free.append(card);
            }
        }
        const bool rebound = bound != m_bound;
        m_bound = bound;
        if (rebound)
            chainFocus();
        m_laying = false;
        return;
    }
    // One card tells the usual row height before any row is placed.
    if (m_usualHeight == 0 && !m_projects.isEmpty())
        m_free.append(makeCard());
    // Heights measured on the way may move the rows below; a second pass places them again.
    for (int pass = 0; pass < 3; ++pass) {
        qsizetype first = 0;
        qsizetype last = -1;
        const QRect view = isVisible() ? viewRect() : QRect();
        if (!view.isEmpty() && !m_projects.isEmpty()) {
            const int ahead = std::max(view.height() / 2, kAheadRows * std::max(m_usualHeight, 1));
            const int top = view.top() - ahead;
            const int bottom = view.bottom() + ahead;
            // First row whose bottom reaches the top, last row whose top is above the bottom.
            const auto begin = m_offsets.begin();
            const auto end = begin + m_projects.size();
            first = std::upper_bound(begin, end, top) - begin;
            first = std::max<qsizetype>(0, first - 1);
            last = std::upper_bound(begin, end, bottom) - begin - 1;
        }

        // The rows in the range, the first and last rows and those beside the focused one.
        QWidget* focus = QApplication::focusWidget();
        QList<qsizetype> rows;
        for (qsizetype i = first; i <= last; ++i)
            rows.append(i);
        if (!m_projects.isEmpty())
            rows << 0 << m_projects.size() - 1;
        for (auto it = m_bound.cbegin(); it != m_bound.cend(); ++it) {
            if (focus && it.value()->isAncestorOf(focus) && it.key() < m_projects.size()
                && it.value()->project().id == m_projects[it.key()].id)
                rows << it.key() - 1 << it.key() + 1;
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        rows.removeIf([this](qsizetype i) { return i < 0 || i >= m_projects.size(); });

        // A wanted row keeps its card; a card of no wanted row is freed, unless it holds the focus.
        QHash<QString, QList<ProjectRow*>> byId;
        for (auto it = m_bound.cbegin(); it != m_bound.cend(); ++it)
            byId[it.value()->project().id].append(it.value());
        QHash<qsizetype, ProjectRow*> bound;
        QList<qsizetype> wanting;
        for (const qsizetype i : std::as_const(rows)) {
            QList<ProjectRow*>& same = byId[m_projects[i].id];
            if (!same.isEmpty())
                bound.insert(i, same.takeFirst());
            else
                wanting.append(i);
        }
        for (auto it = byId.begin(); it != byId.end(); ++it) {
            for (ProjectRow* card : std::as_const(it.value())) {
                qsizetype index = -1;
                if (focus && card->isAncestorOf(focus)) {
                    for (qsizetype i = 0; i < m_projects.size() && index < 0; ++i) {
                        if (m_projects[i].id == it.key() && !bound.contains(i))
                            index = i;
                    }
                }
                if (index >= 0) {
                    bound.insert(index, card);
                } else {
                    card->hide();
                    m_free.append(card);
                }
            }
        }
        for (const qsizetype i : std::as_const(wanting)) {
            // A free card that showed this row last shows it again.
            qsizetype reuse = m_free.size() - 1;
            for (qsizetype f = 0; f < m_free.size(); ++f) {
                if (m_free[f]->project().id == m_projects[i].id)
                    reuse = f;
            }
            bound.insert(i, reuse < 0 ? makeCard() : m_free.takeAt(reuse));
        }
        const bool newBinding = !wanting.isEmpty() || bound != m_bound;
        m_bound = bound;

        bool moved = false;
        for (auto it = m_bound.cbegin(); it != m_bound.cend(); ++it) {
            ProjectRow* card = it.value();
            bind(card, it.key());
            const int height = measure(card);
            if (height != rowHeight(it.key())) {
                m_heights.insert(m_projects[it.key()].id, height);
                moved = true;
            }
        }
        if (moved)
            recomputeOffsets();
        for (auto it = m_bound.cbegin(); it != m_bound.cend(); ++it) {
            ProjectRow* card = it.value();
            card->setGeometry(rowRect(it.key()));
            if (card->isHidden())
                card->show();
        }
        if (newBinding)
            chainFocus();
        if (!moved)
            break;
    }
    m_laying = false;
}

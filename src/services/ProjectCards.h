#pragma once

#include "app/AppConfig.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <functional>
#include <vector>

class AppModel;
class ProjectRow;

// The column of website cards on the projects page. It is as high as all the cards together, but
// cards exist only for the rows in view and a few around them: as the page scrolls, a card whose
// row has left the view is handed the next row that comes into it. A row keeps its card while it
// stays in view, and its configuration section's open or closed state whatever card shows it.
// The first and the last row, and the rows beside the one holding the keyboard focus, always have
// a card, so that Tab walks every row in list order, entering from the control before the list
// and leaving to the one after it.
class ProjectCards : public QWidget {
    Q_OBJECT

public:
    ProjectCards(AppModel& model, std::function<void(const Project&)> openCodeIDE, QWidget* parent = nullptr);

    // Takes the list (settings order); cards in view follow it at once.
    void setProjects(const QList<Project>& projects);
    // The controls that Tab reaches just before the first card and just after the last one.
    void setTabNeighbours(QWidget* before, QWidget* after);
    // Redraws the card of this project, when it has one.
    void refreshProject(const QString& id);

    // The cards made for rows, in list order.
    QList<ProjectRow*> cards() const;
    // The card of the first row with this id, when that row is in view; else null.
    ProjectRow* card(const QString& id) const;
    // Brings the first row with this id into view (scrolling the enclosing scroll area) and
    // returns its card; null when no row has the id.
    ProjectRow* reveal(const QString& id);
    // Where the row of this index lies, in this widget's coordinates.
    QRect rowRect(qsizetype index) const;
    qsizetype rowCount() const { return m_projects.size(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void watchAncestors();
    // The part of this widget its ancestors leave on screen, in its own coordinates.
    QRect viewRect() const;
    // Makes, re-binds, places and hides cards so that exactly the rows near the view have one.
    void layoutCards();
    void recomputeOffsets();
    int rowHeight(qsizetype index) const;
    int measure(ProjectRow* card) const;
    ProjectRow* makeCard();
    void bind(ProjectRow* card, qsizetype index);
    void chainFocus();

    AppModel& m_model;
    std::function<void(const Project&)> m_openCodeIDE;
    QList<Project> m_projects;
    // Top of each row, and the whole height after the last row.
    std::vector<int> m_offsets;
    int m_total = 0;
    // Measured heights of rows by id; rows never measured take the usual card's height.
    QHash<QString, int> m_heights;
    int m_usualHeight = 0;
    int m_minimumWidth = 0;
    // Ids whose configuration section is open.
    QSet<QString> m_expanded;
    // Cards bound to a row index, and free cards waiting to be reused.
    QHash<qsizetype, ProjectRow*> m_bound;
    QList<ProjectRow*> m_free;
    QList<QPointer<QWidget>> m_watched;
    QPointer<QWidget> m_tabBefore;
    QPointer<QWidget> m_tabAfter;
    bool m_laying = false;
};

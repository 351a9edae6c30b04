#pragma once

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class AppModel;
class LogBox;
class ElidedLabel;
class ProjectRow;
class Spinner;
class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;
struct Project;

// The websites page: header actions, the progress of a website creation, one card per project
// of the settings (matched by id, so a card keeps its state across redraws) and the log box.
class ProjectsPage : public QWidget {
    Q_OBJECT

public:
    ProjectsPage(AppModel& model, std::function<void()> showCreateWebsite, std::function<void()> showAddProject,
                 std::function<void(const Project&)> openCodeIDE, QWidget* parent = nullptr);

    QLabel* titleLabel() const { return m_title; }
    QPushButton* stopAllButton() const { return m_stopAll; }
    QPushButton* createWebsiteButton() const { return m_createWebsite; }
    QPushButton* importWebsiteButton() const { return m_importWebsite; }
    QFrame* progressBox() const { return m_progressBox; }
    ElidedLabel* progressLabel() const { return m_progressLabel; }
    Spinner* progressSpinner() const { return m_progress; }
    LogBox* logBox() const { return m_logBox; }
    // The cards in list order. A long list gets its cards over a few turns of the event loop;
    // hasAllRows() tells when every project has its card.
    QList<ProjectRow*> rows() const;
    bool hasAllRows() const { return !m_rowsStale && !m_moreCards.isActive(); }
    // The first card of the project with this id, or null.
    ProjectRow* row(const QString& id) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void refreshLog();
    void syncRows();
    void placeRows(const QList<QPair<QString, QPointer<ProjectRow>>>& rows);

    AppModel& m_model;
    std::function<void()> m_showCreateWebsite;
    std::function<void()> m_showAddProject;
    std::function<void(const Project&)> m_openCodeIDE;

    QLabel* m_title = nullptr;
    QPushButton* m_stopAll = nullptr;
    QPushButton* m_createWebsite = nullptr;
    QPushButton* m_importWebsite = nullptr;
    QFrame* m_progressBox = nullptr;
    Spinner* m_progress = nullptr;
    ElidedLabel* m_progressLabel = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    LogBox* m_logBox = nullptr;
    // Cards in list order, each with the id it was made for.
    QList<QPair<QString, QPointer<ProjectRow>>> m_rows;
    bool m_rowsStale = false;
    // Containers of consecutive cards, in order.
    QList<QWidget*> m_groups;
    // Makes the next cards of a long list.
    QTimer m_moreCards;
};

#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

class AppModel;
class LogBox;
class ElidedLabel;
class ProjectCards;
class ProjectRow;
class Spinner;
class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;
struct Project;

// The websites page: header actions, the progress of a website creation, a row per project of
// the settings (cards are made for the rows in view; a row keeps its state by id) and the log box.
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
    ProjectCards* cardList() const { return m_cards; }
    // The cards of the rows in view (and a few around them), in list order.
    QList<ProjectRow*> rows() const;
    // The card of the first project with this id while its row is in view, or null.
    ProjectRow* row(const QString& id) const;
    // Scrolls the first project with this id into view and returns its card; null without one.
    ProjectRow* revealRow(const QString& id);

private:
    void refresh();
    void refreshLog();
    void syncRows();
    // A header button that is about to be disabled hands its focus to the nearest control that
    // stays enabled, without scrolling; it takes it back once enabled, if the focus has not moved.
    void parkFocus();
    void unparkFocus();

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
    ProjectCards* m_cards = nullptr;
    LogBox* m_logBox = nullptr;
    QPointer<QWidget> m_parkedFrom;
    QPointer<QWidget> m_parkedAt;
};

#pragma once

#include <QWidget>

#include <functional>

class AppModel;
class LogBox;
class QPushButton;
class StatCard;

// The overview page: database, active website and PHP figures, quick actions, the maker card,
// the first steps and the last log opened. It follows the model on its own.
class DashboardPage : public QWidget {
    Q_OBJECT

public:
    DashboardPage(AppModel& model, std::function<void()> openProjects, std::function<void()> openSettings,
                  QWidget* parent = nullptr);

    StatCard* databaseCard() const { return m_database; }
    StatCard* activeSiteCard() const { return m_activeSite; }
    StatCard* phpCard() const { return m_php; }
    QPushButton* openPhpMyAdminButton() const { return m_openPhpMyAdmin; }
    QPushButton* manageProjectsButton() const { return m_manageProjects; }
    QPushButton* settingsButton() const { return m_settings; }
    // Shown only while the model's selected log is not empty.
    LogBox* logBox() const { return m_logBox; }

private:
    void refresh();

    AppModel& m_model;
    StatCard* m_database = nullptr;
    StatCard* m_activeSite = nullptr;
    StatCard* m_php = nullptr;
    QPushButton* m_openPhpMyAdmin = nullptr;
    QPushButton* m_manageProjects = nullptr;
    QPushButton* m_settings = nullptr;
    LogBox* m_logBox = nullptr;
};

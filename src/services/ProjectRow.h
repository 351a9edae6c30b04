#pragma once

#include "app/AppConfig.h"

#include <QFrame>

#include <functional>
#include <optional>

class AppModel;
class DisclosureButton;
class ElidedLabel;
class QLabel;
class QPushButton;
class QVBoxLayout;
class SelectableText;

// The dot left of a website's card: green while running, else pale grey.
class StatusDot : public QWidget {
    Q_OBJECT

public:
    explicit StatusDot(QWidget* parent = nullptr);
    void setRunning(bool running);
    bool isRunning() const { return m_running; }
    QColor color() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_running = false;
};

// One website's card on the projects page. Every value shown is read from the model and the
// row's copy of the project at each refresh; every button calls the model (Remove also edits
// and saves the settings itself).
class ProjectRow : public QFrame {
    Q_OBJECT

public:
    ProjectRow(AppModel& model, const Project& project, std::function<void()> openCodeIDE, QWidget* parent = nullptr);

    const Project& project() const { return m_project; }
    // The page hands a fresh copy of the record at each redraw.
    void setProject(const Project& project);
    void refresh();

    bool isConfigExpanded() const;

    StatusDot* statusDot() const { return m_dot; }
    ElidedLabel* nameLabel() const { return m_name; }
    ElidedLabel* rootLabel() const { return m_root; }
    QLabel* portLabel() const { return m_port; }
    QLabel* urlLabel() const { return m_url; }
    QLabel* altLabel() const { return m_alt; }
    ElidedLabel* databaseLabel() const { return m_database; }
    DisclosureButton* configToggle() const { return m_configToggle; }
    // The configuration section's text (made on first use; shown while expanded).
    SelectableText* configText();
    QPushButton* startStopButton() const { return m_startStop; }
    QPushButton* openButton() const { return m_open; }
    QPushButton* codeIDEButton() const { return m_codeIDE; }
    QPushButton* choosePathButton() const { return m_choosePath; }
    QPushButton* logsButton() const { return m_logs; }
    QPushButton* removeButton() const { return m_remove; }
    // The card's controls in keyboard order: the disclosure, its text once made, the buttons.
    QList<QWidget*> focusOrder() const;

private:
    void startOrStop();
    void choosePath();
    void remove();
    void setConfigExpanded(bool expanded);

    // What the card was last drawn from.
    struct Shown {
        Project project;
        std::optional<qint32> pid;
        bool hasLog = false;
        QString mysqlHost;
        qint64 mysqlPort = 0;
        QString mysqlUser;
        QString mysqlPassword;
        bool operator==(const Shown&) const = default;
    };

    AppModel& m_model;
    Project m_project;
    std::optional<Shown> m_shown;
    std::function<void()> m_openCodeIDE;

    StatusDot* m_dot = nullptr;
    ElidedLabel* m_name = nullptr;
    ElidedLabel* m_root = nullptr;
    QLabel* m_port = nullptr;
    QLabel* m_url = nullptr;
    QLabel* m_alt = nullptr;
    ElidedLabel* m_database = nullptr;
    DisclosureButton* m_configToggle = nullptr;
    SelectableText* m_configText = nullptr;
    QVBoxLayout* m_info = nullptr;
    QPushButton* m_startStop = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_codeIDE = nullptr;
    QPushButton* m_choosePath = nullptr;
    QPushButton* m_logs = nullptr;
    QPushButton* m_remove = nullptr;
};

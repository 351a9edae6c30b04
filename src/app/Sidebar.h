#pragma once

#include "app/AppSection.h"

#include <QMap>
#include <QWidget>

class AppModel;
class QAbstractButton;
class UserSummary;

// The left column: logo header, one row per section (the selected one highlighted) and the
// signed-in user. It only reports presses; the window decides what they change.
class Sidebar : public QWidget {
    Q_OBJECT

public:
    explicit Sidebar(AppModel& model, QWidget* parent = nullptr);

    void setSection(AppSection section);
    QAbstractButton* sectionButton(AppSection section) const { return m_buttons.value(section); }
    bool isHighlighted(AppSection section) const;
    UserSummary* userSummary() const { return m_userSummary; }

signals:
    void sectionPressed(AppSection section);
    void userSummaryPressed();

private:
    AppModel& m_model;
    QMap<AppSection, QAbstractButton*> m_buttons;
    UserSummary* m_userSummary;
};

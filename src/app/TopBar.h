#pragma once

#include "app/AppSection.h"

#include <QWidget>

class AppModel;
class Avatar;
class QLabel;
class QPushButton;

// The bar above the page: the section's title and subtitle, and at the right either the
// signed-in user (avatar and name) or the "Login" button.
class TopBar : public QWidget {
    Q_OBJECT

public:
    explicit TopBar(AppModel& model, QWidget* parent = nullptr);

    void setSection(AppSection section);
    QString title() const;
    QString subtitle() const;
    QPushButton* loginButton() const { return m_login; }
    Avatar* avatar() const { return m_avatar; }
    QLabel* userName() const { return m_userName; }

signals:
    void loginPressed();

private:
    void refreshUser();

    AppModel& m_model;
    QLabel* m_title;
    QLabel* m_subtitle;
    Avatar* m_avatar;
    QLabel* m_userName;
    QPushButton* m_login;
};

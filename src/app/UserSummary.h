#pragma once

#include "app/AppConfig.h"

#include <QAbstractButton>
#include <optional>

class Avatar;
class ElidedLabel;
class QLabel;

// The signed-in user at the foot of the sidebar, as one button: avatar, name ("Guest") and
// e-mail ("Click to login") cut to one line.
class UserSummary : public QAbstractButton {
    Q_OBJECT

public:
    explicit UserSummary(QWidget* parent = nullptr);

    void setUser(const std::optional<UserProfile>& user);
    QString nameText() const;
    QString emailText() const;
    Avatar* avatar() const { return m_avatar; }
    ElidedLabel* nameLabel() const { return m_name; }
    ElidedLabel* emailLabel() const { return m_email; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Avatar* m_avatar;
    ElidedLabel* m_name;
    ElidedLabel* m_email;
};

#pragma once

#include "app/AppConfig.h"

#include <QWidget>
#include <optional>

// The user's initials in a pale accent circle, or "G" in a pale secondary circle for nobody.
class Avatar : public QWidget {
    Q_OBJECT

public:
    Avatar(const std::optional<UserProfile>& user, qreal size, QWidget* parent = nullptr);

    void setUser(const std::optional<UserProfile>& user);
    // The text drawn: the stored initials as they are, or "G" when nobody is signed in.
    QString initials() const;
    qreal diameter() const { return m_size; }
    // The point size of the initials: the diameter times 0.36.
    qreal fontSize() const { return m_size * 0.36; }
    QColor fillColor() const;
    QColor textColor() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<UserProfile> m_user;
    qreal m_size;
};

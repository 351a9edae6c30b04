#pragma once

#include <QWidget>

class AppModel;
class ElidedLabel;
class LinkButton;

// The strip under the page: the model's status message (two lines at most) and the maker's link.
class Footer : public QWidget {
    Q_OBJECT

public:
    explicit Footer(AppModel& model, QWidget* parent = nullptr);

    ElidedLabel* status() const { return m_status; }
    LinkButton* makerLink() const { return m_link; }

private:
    AppModel& m_model;
    ElidedLabel* m_status;
    LinkButton* m_link;
};

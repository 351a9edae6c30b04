#pragma once

#include <QWidget>

class AppModel;
class ElidedLabel;
class LinkButton;
class NoticeBar;

// The strip under the page: the model's status message (two lines at most) and the maker's link;
// above the status, the launch's notice when there is one (Platform::launchNotice); above both,
// the model's notice, which stays until the user acts on it.
class Footer : public QWidget {
    Q_OBJECT

public:
    explicit Footer(AppModel& model, QWidget* parent = nullptr);

    ElidedLabel* status() const { return m_status; }
    // Null when the launch had nothing to say.
    ElidedLabel* notice() const { return m_notice; }
    LinkButton* makerLink() const { return m_link; }
    // The model's notice (hidden while there is none).
    NoticeBar* modelNotice() const { return m_modelNotice; }

private:
    AppModel& m_model;
    ElidedLabel* m_status;
    ElidedLabel* m_notice = nullptr;
    LinkButton* m_link;
    NoticeBar* m_modelNotice = nullptr;
};

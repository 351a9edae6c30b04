#pragma once

#include <QWidget>

class AppModel;
class ElidedLabel;
class QPushButton;

// The model's notice above the status line: its text, a button that opens the folder it names
// and one that dismisses it. Hidden while there is no notice.
class NoticeBar : public QWidget {
    Q_OBJECT

public:
    explicit NoticeBar(AppModel& model, QWidget* parent = nullptr);

    ElidedLabel* text() const { return m_text; }
    QPushButton* openFolderButton() const { return m_openFolder; }
    QPushButton* dismissButton() const { return m_dismiss; }

private:
    void refresh();

    AppModel& m_model;
    ElidedLabel* m_text;
    QPushButton* m_openFolder;
    QPushButton* m_dismiss;
};

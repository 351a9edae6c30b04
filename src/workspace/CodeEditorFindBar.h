#pragma once

// The code editor's find bar: a search field with previous/next and Done. Escape in it closes the
// bar (and only the bar).

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class CodeEditorFindBar : public QWidget {
    Q_OBJECT
public:
    explicit CodeEditorFindBar(QWidget* parent = nullptr);

    QLineEdit* field() const { return m_field; }
    QString searchText() const;
    void setNotFound(bool notFound);
    // Shows the bar with the field focused and its text selected.
    void open();

signals:
    void findNext();
    void findPrevious();
    void closeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_field;
    QToolButton* m_previous;
    QToolButton* m_next;
    QLabel* m_status;
    QPushButton* m_done;
};

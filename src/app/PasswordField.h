#pragma once

#include <QFrame>

class QLineEdit;
class QToolButton;

// A password entry with a show/hide toggle. Starts masked; the toggle never changes the text.
// The caller's text is bound through text()/setText() and textChanged.
class PasswordField : public QFrame {
    Q_OBJECT

public:
    explicit PasswordField(const QString& placeholder, QWidget* parent = nullptr);

    QString placeholder() const;
    QString text() const;
    void setText(const QString& text);
    bool isPasswordVisible() const { return m_isVisible; }

    QLineEdit* lineEdit() const { return m_entry; }
    QToolButton* toggleButton() const { return m_toggle; }
    // The system symbol the toggle shows: "eye" while masked, "eye.slash" while shown.
    QString toggleSymbol() const;

signals:
    void textChanged(const QString& text);

private:
    void setPasswordVisible(bool visible);

    QLineEdit* m_entry;
    QToolButton* m_toggle;
    bool m_isVisible = false;
};

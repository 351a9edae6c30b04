#pragma once

#include <QDialog>

#include <optional>

class AppModel;
class PasswordField;
class QLabel;
class QLineEdit;
class QPushButton;

// The "Import Website" sheet. It checks only enough to enable Import; the import itself and all
// its messages belong to the model. It closes only when the import succeeds.
class AddProjectSheet : public QDialog {
    Q_OBJECT

public:
    explicit AddProjectSheet(AppModel& model, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    QLineEdit* rootField() const { return m_root; }
    QPushButton* browseButton() const { return m_browse; }
    QLineEdit* portField() const { return m_port; }
    QLabel* reservedPortLabel() const { return m_reserved; }
    QLineEdit* databaseNameField() const { return m_databaseName; }
    QLineEdit* databaseUserField() const { return m_databaseUser; }
    PasswordField* databasePasswordField() const { return m_databasePassword; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* importButton() const { return m_import; }

    // Database name suggested for a website name: its slug with "_" for "-", cut to 64
    // characters, "website" when nothing is left.
    static QString suggestedDatabaseName(const QString& name);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void nameChanged(const QString& name);
    void browse();
    void importProject();
    void refresh();
    bool isImportEnabled() const;

    AppModel& m_model;
    bool m_appeared = false;
    // What the name last filled into the database field.
    QString m_lastSuggestedDatabaseName;

    QLineEdit* m_name = nullptr;
    QLineEdit* m_root = nullptr;
    QPushButton* m_browse = nullptr;
    QLineEdit* m_port = nullptr;
    QLabel* m_reserved = nullptr;
    QLineEdit* m_databaseName = nullptr;
    QLineEdit* m_databaseUser = nullptr;
    PasswordField* m_databasePassword = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_import = nullptr;
};

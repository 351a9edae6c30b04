#pragma once

#include "workspace/CodeItemType.h"

#include <QDialog>

class CodeIDEModel;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the name of a new file or folder in the model's selected folder. Create (or Return
// in the name field) calls the model once; the sheet closes only when the item was created,
// otherwise it stays open with the typed name and the model's status says why.
class NewCodeItemSheet : public QDialog {
    Q_OBJECT

public:
    NewCodeItemSheet(CodeIDEModel& model, CodeItemType type, QWidget* parent = nullptr);

    CodeItemType type() const { return m_type; }
    QString name() const;

    QLabel* titleLabel() const { return m_title; }
    QLabel* locationLabel() const { return m_location; }
    QLineEdit* nameField() const { return m_name; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* createButton() const { return m_create; }

private:
    void create();
    void update();

    CodeIDEModel& m_model;
    CodeItemType m_type;
    QLabel* m_title = nullptr;
    QLabel* m_location = nullptr;
    QLineEdit* m_name = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_create = nullptr;
};

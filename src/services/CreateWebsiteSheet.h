#pragma once

#include "app/AppConfig.h"

#include <QDialog>
#include <QString>

class AppModel;
class ElidedLabel;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class Spinner;

// The sheet in which the user creates a Laravel or WordPress website. It keeps its inputs as
// its own text, calls AppModel::createWebsite from "Create and Start" and closes itself only
// when the model reports success. While a creation runs it shows the model's progress and can
// be closed neither from its buttons nor with Escape.
class CreateWebsiteSheet : public QDialog {
    Q_OBJECT

public:
    explicit CreateWebsiteSheet(AppModel& model, QWidget* parent = nullptr);

    WebsiteTemplate websiteTemplate() const { return m_template; }
    QString name() const { return m_name; }
    QString parentDirectory() const { return m_parentDirectory; }
    QString port() const { return m_port; }
    QString databaseName() const { return m_databaseName; }
    QString lastSuggestedDatabaseName() const { return m_lastSuggestedDatabaseName; }
    // The folder name shown in the destination line: the slug of the name.
    QString projectFolderName() const;
    bool canCreate() const;

    // The symbol shown for a template: "shippingbox" (Laravel) or "globe" (WordPress).
    static QString symbolName(WebsiteTemplate websiteTemplate);
    static QString description(WebsiteTemplate websiteTemplate);

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void setTemplate(WebsiteTemplate websiteTemplate);
    void nameChanged(const QString& text);
    void browse();
    void createAndStart();
    void refresh();
    void fitHeight();

    AppModel& m_model;
    WebsiteTemplate m_template = WebsiteTemplate::laravel;
    QString m_name;
    QString m_parentDirectory;
    QString m_port;
    QString m_databaseName;
    QString m_lastSuggestedDatabaseName;

    QPushButton* m_laravelSegment = nullptr;
    QPushButton* m_wordpressSegment = nullptr;
    QLabel* m_templateIcon = nullptr;
    QLabel* m_templateDescription = nullptr;
    QLineEdit* m_nameField = nullptr;
    QLineEdit* m_parentField = nullptr;
    QPushButton* m_browseButton = nullptr;
    ElidedLabel* m_destinationLine = nullptr;
    QLineEdit* m_portField = nullptr;
    QLineEdit* m_databaseField = nullptr;
    QWidget* m_reservedPortWarning = nullptr;
    QLabel* m_reservedPortText = nullptr;
    QLabel* m_configURL = nullptr;
    QLabel* m_configDatabase = nullptr;
    QLabel* m_configMySQL = nullptr;
    QWidget* m_progressRow = nullptr;
    Spinner* m_spinner = nullptr;
    QLabel* m_progressText = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_createButton = nullptr;
};

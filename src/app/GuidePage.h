#pragma once

#include <QWidget>

class AppModel;

// The static help page: how to use the application, what it includes, manual setup commands and
// troubleshooting. It reads nothing from the model.
class GuidePage : public QWidget {
    Q_OBJECT

public:
    explicit GuidePage(AppModel& model, QWidget* parent = nullptr);

    // The Homebrew install command, with the published install script's address.
    static QString homebrewInstallCommand();
};

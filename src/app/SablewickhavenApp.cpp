#include "app/SablewickhavenApp.h"

#include "app/AppModel.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int SablewickhavenApp::main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kovani"));
    QApplication::setOrganizationName(QStringLiteral("Kovani"));
    AppModel model;
    QMainWindow window;
    window.setMinimumSize(1120, 760);
    auto* label = new QLabel(model.statusMessage());
    label->setTextFormat(Qt::PlainText);
    window.setCentralWidget(label);
    window.show();
    const int rc = app.exec();
    model.shutdown();
    return rc;
}

#pragma once

#include <QStringList>

// What a screen reader finds on the AT-SPI bus for this test process: an external walker
// (support/atspi-walk.py, over libatspi) reads the objects that Qt's bridge exports while this
// process keeps its event loop running to answer it. Needs the bus of an XvfbSession.
namespace AtSpiWalk {

struct Result {
    bool ok = false;        // the walker found this process on the bus and finished
    QString error;          // why not
    QStringList named;      // names of the showing, focusable objects
    QStringList unnamed;    // descriptions of the showing, focusable objects without a name
};

Result walkThisProcess();

// Performs the action (say "Toggle" or "Press", compared without case) of the first showing
// object named `name`, through the bus as a screen reader's command does. Empty when done, else
// why not.
QString doAction(const QString& name, const QString& action);

} // namespace AtSpiWalk

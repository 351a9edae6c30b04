#pragma once

#include <QObject>

class QSocketNotifier;

// Routes SIGTERM, SIGINT and SIGHUP into the main event loop: the handler only writes the signal
// number to a close-on-exec pipe, whose read end is watched on the main thread.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    // Installs the handlers once per process (later calls return the same object). Main thread.
    static TerminationSignals* install();

signals:
    void received(int signalNumber);

private:
    TerminationSignals();
    void drain();

    QSocketNotifier* m_notifier = nullptr;
};

#pragma once

// A private D-Bus session bus with an unlocked gnome-keyring for this test process. Must be
// started before anything connects to the session bus.
#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>


class KeyringSession {
public:
    KeyringSession()
    {
        QProcess bus;
        bus.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--fork"), QStringLiteral("--print-address=1"),
                   QStringLiteral("--print-pid=1")});
        if (!bus.waitForFinished(10000))
            return;
        const QStringList lines = QString::fromUtf8(bus.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        if (lines.size() < 2)
            return;
        m_busPid = lines[1].trimmed().toLongLong();
        // The bus (and the keyring daemon, which leaves with it) ends after this process.
        QProcess::startDetached(QStringLiteral("/bin/sh"),
                                {QStringLiteral("-c"),
                                 QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 0.5; done; kill %2")
                                     .arg(QCoreApplication::applicationPid())
                                     .arg(m_busPid)});
        qputenv("DBUS_SESSION_BUS_ADDRESS", lines[0].trimmed().toUtf8());
        QProcess keyring;
        keyring.start(QStringLiteral("gnome-keyring-daemon"),
                      {QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
        keyring.waitForStarted(10000);
        keyring.write("pass");
        keyring.closeWriteChannel();
        m_ready = keyring.waitForFinished(10000) && keyring.exitCode() == 0;
    }
    bool ready() const { return m_ready; }

private:
    qint64 m_busPid = 0;
    bool m_ready = false;
};

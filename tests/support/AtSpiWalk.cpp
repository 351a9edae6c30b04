#include "support/AtSpiWalk.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace AtSpiWalk {

Result walkThisProcess()
{
    Result result;
    QProcess walker;
    walker.setProgram(QStringLiteral("/usr/bin/python3"));
    walker.setArguments({QStringLiteral(KOVANI_TEST_SOURCE_DIR) + QStringLiteral("/support/atspi-walk.py"),
                         QString::number(QCoreApplication::applicationPid())});
    walker.setStandardInputFile(QProcess::nullDevice());
    // The walker's questions are answered by this thread's event loop, which runs (without pauses
    // between its rounds: every answer is a round trip) until the walker ends or the guard fires.
    QEventLoop loop;
    QObject::connect(&walker, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&walker, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(180000, &loop, &QEventLoop::quit);
    walker.start();
    loop.exec();
    if (walker.state() != QProcess::NotRunning) {
        walker.kill();
        walker.waitForFinished(5000);
        result.error = QStringLiteral("the walker did not finish");
        return result;
    }
    if (walker.error() == QProcess::FailedToStart) {
        result.error = QStringLiteral("the walker did not start: ") + walker.errorString();
        return result;
    }
    const QString out = QString::fromUtf8(walker.readAllStandardOutput());
    if (qEnvironmentVariableIsSet("KOVANI_ATSPI_DEBUG"))
        qDebug().noquote() << walker.readAllStandardError();
    if (walker.exitStatus() != QProcess::NormalExit || walker.exitCode() != 0) {
        result.error = QString::fromUtf8(walker.readAllStandardError()).trimmed();
        if (result.error.isEmpty())
            result.error = QStringLiteral("the walker failed (%1)").arg(walker.exitCode());
        return result;
    }
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype tab = line.indexOf(u'\t');
        if (tab < 0)
            continue;
        const QString kind = line.left(tab);
        const QString text = line.mid(tab + 1);
        if (kind == QLatin1String("named"))
            result.named << text;
        else if (kind == QLatin1String("unnamed"))
            result.unnamed << text;
    }
    result.ok = true;
    return result;
}

} // namespace AtSpiWalk

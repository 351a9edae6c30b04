#include "support/AtSpiWalk.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace AtSpiWalk {

namespace {

// Runs the walker on this process with the extra arguments; fills `error` and returns false when it
// fails, else returns true with its output in `out`.
bool runWalker(const QStringList& extra, QString& out, QString& error)
{
    QProcess walker;
    walker.setProgram(QStringLiteral("/usr/bin/python3"));
    walker.setArguments(QStringList{QStringLiteral(KOVANI_TEST_SOURCE_DIR) + QStringLiteral("/support/atspi-walk.py"),
                                    QString::number(QCoreApplication::applicationPid())}
                        + extra);
    walker.setStandardInputFile(QProcess::nullDevice());
    // The walker's questions are answered by this thread's event loop, which runs (without pauses
    // between its rounds: every answer is a round trip) until the walker ends or the guard fires.
    QEventLoop loop;
    QObject::connect(&walker, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&walker, &QProcess::errorOccurred, &loop, [&loop](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    QTimer::singleShot(180000, &loop, &QEventLoop::quit);
    walker.start();
    loop.exec();
    if (walker.state() != QProcess::NotRunning) {
        walker.kill();
        walker.waitForFinished(5000);
        error = QStringLiteral("the walker did not finish");
        return false;
    }
    if (walker.error() == QProcess::FailedToStart) {
        error = QStringLiteral("the walker did not start: ") + walker.errorString();
        return false;
    }
    out = QString::fromUtf8(walker.readAllStandardOutput());
    const QString diagnostics = QString::fromUtf8(walker.readAllStandardError()).trimmed();
    if (qEnvironmentVariableIsSet("KOVANI_ATSPI_DEBUG"))
        qDebug().noquote() << diagnostics;
    if (walker.exitStatus() != QProcess::NormalExit || walker.exitCode() != 0) {
        error = diagnostics.isEmpty() ? QStringLiteral("the walker failed (%1)").arg(walker.exitCode()) : diagnostics;
        return false;
    }
    return true;
}

} // namespace

Result walkThisProcess()
{
    Result result;
    QString out;
    if (!runWalker({}, out, result.error))
        return result;
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

QString doAction(const QString& name, const QString& action)
{
    QString out;
    QString error;
    if (!runWalker({QStringLiteral("--action"), name, action}, out, error))
        return error;
    return out.trimmed() == QLatin1String("done") ? QString() : QStringLiteral("unexpected answer: ") + out;
}

} // namespace AtSpiWalk

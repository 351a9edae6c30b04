#include "support/AtSpiWalk.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>

namespace AtSpiWalk {

namespace {

// A hang guard only: a busy machine answers slowly.
constexpr int kWalkerGuardMs = 180000;

void prepare(QProcess& walker, const QStringList& extra)
{
    walker.setProgram(QStringLiteral("/usr/bin/python3"));
    walker.setArguments(QStringList{QStringLiteral(KOVANI_TEST_SOURCE_DIR) + QStringLiteral("/support/atspi-walk.py"),
                                    QString::number(QCoreApplication::applicationPid())}
                        + extra);
    walker.setStandardInputFile(QProcess::nullDevice());
}

// Runs the walker on this process with the extra arguments; fills `error` and returns false when it
// fails, else returns true with its output in `out`.
bool runWalker(const QStringList& extra, QString& out, QString& error)
{
    QProcess walker;
    prepare(walker, extra);
    // The walker's questions are answered by this thread's event loop, which runs (without pauses
    // between its rounds: every answer is a round trip) until the walker ends or the guard fires.
    QEventLoop loop;
    QObject::connect(&walker, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&walker, &QProcess::errorOccurred, &loop, [&loop](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    QTimer::singleShot(kWalkerGuardMs, &loop, &QEventLoop::quit);
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

QString doAction(const QString& name, const QString& action, const QString& role)
{
    QString out;
    QString error;
    QStringList arguments{QStringLiteral("--action"), name, action};
    if (!role.isEmpty())
        arguments << role;
    if (!runWalker(arguments, out, error))
        return error;
    return out.trimmed() == QLatin1String("done") ? QString() : QStringLiteral("unexpected answer: ") + out;
}


QList<Node> Dump::named(const QString& name) const
{
    QList<Node> result;
    for (const Node& node : nodes) {
        if (node.name == name)
            result << node;
    }
    return result;
}

namespace {

QStringList strings(const QJsonValue& value)
{
    QStringList result;
    for (const QJsonValue& item : value.toArray())
        result << item.toString();
    return result;
}

} // namespace

Dump dumpThisProcess()
{
    Dump dump;
    QString out;
    if (!runWalker({QStringLiteral("--dump")}, out, dump.error))
        return dump;
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) {
        QJsonParseError parseError;
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8(), &parseError).object();
        if (parseError.error != QJsonParseError::NoError) {
            dump.error = QStringLiteral("unreadable line from the walker: ") + line;
            return dump;
        }
        Node node;
        node.role = object.value(QLatin1String("role")).toString();
        node.name = object.value(QLatin1String("name")).toString();
        node.description = object.value(QLatin1String("description")).toString();
        node.states = strings(object.value(QLatin1String("states")));
        node.actions = strings(object.value(QLatin1String("actions")));
        if (object.value(QLatin1String("text")).isString())
            node.text = object.value(QLatin1String("text")).toString();
        const QJsonObject relations = object.value(QLatin1String("relations")).toObject();
        for (auto it = relations.begin(); it != relations.end(); ++it)
            node.relations.insert(it.key(), strings(it.value()));
        node.ancestors = strings(object.value(QLatin1String("ancestors")));
        dump.nodes << node;
    }
    dump.ok = true;
    return dump;
}

Listener::Listener(const QString& text, const QStringList& eventTypes)
    : m_walker(std::make_unique<QProcess>())
{
    prepare(*m_walker, QStringList{QStringLiteral("--listen"), text} + eventTypes);
    QObject::connect(m_walker.get(), &QProcess::readyReadStandardOutput, m_walker.get(), [this]() { readLines(); });
    m_walker->start();
    if (!m_walker->waitForStarted(30000)) {
        m_error = QStringLiteral("the listener did not start: ") + m_walker->errorString();
        return;
    }
    // This process answers the walker's questions while it waits for it to listen.
    QEventLoop loop;
    QObject::connect(m_walker.get(), &QProcess::readyReadStandardOutput, &loop, [&]() {
        if (m_ready)
            loop.quit();
    });
    QObject::connect(m_walker.get(), &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kWalkerGuardMs, &loop, &QEventLoop::quit);
    if (!m_ready)
        loop.exec();
    if (!m_ready)
        m_error = QStringLiteral("the listener did not get ready: ") + QString::fromUtf8(m_walker->readAllStandardError());
}

Listener::~Listener()
{
    if (m_walker->state() != QProcess::NotRunning) {
        m_walker->kill();
        m_walker->waitForFinished(5000);
    }
}

void Listener::readLines()
{
    m_pending += m_walker->readAllStandardOutput();
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(end).trimmed();
        m_pending.remove(0, end + 1);
        if (line == "ready")
            m_ready = true;
        else if (!line.isEmpty())
            m_events << QJsonDocument::fromJson(line).object();
    }
}

bool Listener::wait(int timeoutMs)
{
    if (!m_ready)
        return false;
    if (m_walker->state() != QProcess::NotRunning) {
        QEventLoop loop;
        QObject::connect(m_walker.get(), &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    readLines();
    if (m_walker->state() != QProcess::NotRunning) {
        m_error = QStringLiteral("no such event yet");
        return false;
    }
    const QString diagnostics = QString::fromUtf8(m_walker->readAllStandardError()).trimmed();
    if (m_walker->exitStatus() != QProcess::NormalExit || m_walker->exitCode() != 0) {
        m_error = diagnostics.isEmpty() ? QStringLiteral("no such event (%1)").arg(m_walker->exitCode()) : diagnostics;
        return false;
    }
    return true;
}

} // namespace AtSpiWalk

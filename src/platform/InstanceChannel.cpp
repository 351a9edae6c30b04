#include "platform/InstanceChannel.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTimer>

#include <memory>

namespace {

const QByteArray kMagic = QByteArrayLiteral("kovani-instance/1");
const char* const kReceivedBytes = "kovaniReceived";
const char* const kFinished = "kovaniFinished";

// Commands and arguments are single lines of printable text.
bool isSingleLine(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || u == 0x2028 || u == 0x2029 || (u >= 0x80 && u < 0xa0))
            return false;
    }
    return true;
}

bool decodeUtf8(const QByteArray& bytes, QString* text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace

const QStringList& InstanceChannel::commands()
{
    static const QStringList known = {kRaise, kOAuthRedirect};
    return known;
}

QString InstanceChannel::defaultSocketPath()
{
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        runtime = QDir::tempPath();
    return QDir::cleanPath(runtime) + QStringLiteral("/Kovani.instance");
}

InstanceChannel::InstanceChannel(QString socketPath, QObject* parent)
    : QObject(parent)
    , m_socketPath(std::move(socketPath))
{
}

InstanceChannel::~InstanceChannel()
{
    // QLocalServer removes its socket file when it closes.
    if (m_server)
        m_server->close();
}

bool InstanceChannel::isListening() const
{
    return m_server && m_server->isListening();
}

InstanceChannel::Claim InstanceChannel::claim()
{
    if (isListening())
        return Claim::listening;
    QDir().mkpath(QFileInfo(m_socketPath).absolutePath());

    // Held only while deciding; a lock left by a dead process counts as stale.
    QLockFile lock(m_socketPath + QStringLiteral(".lock"));
    lock.setStaleLockTime(10000);
    if (!lock.tryLock(5000))
        return Claim::failed;

    {
        QLocalSocket probe;
        probe.connectToServer(m_socketPath, QIODevice::WriteOnly);
        if (probe.waitForConnected(1000)) {
            probe.abort();
            return Claim::anotherInstance;
        }
        // Refused or missing: nobody listens, whatever file may be there.
    }

    QLocalServer::removeServer(m_socketPath);
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    server->setMaxPendingConnections(8);
    if (!server->listen(m_socketPath)) {
        delete server;
        return Claim::failed;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::acceptConnections);
    return Claim::listening;
}

void InstanceChannel::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        socket->setProperty(kReceivedBytes, QByteArray());
        connect(socket, &QLocalSocket::readyRead, this, [this, socket]() { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket]() { finish(socket); });
        // A peer that never finishes its message is cut off.
        QTimer::singleShot(kReceiveTimeoutMs, socket, [socket]() {
            socket->setProperty(kFinished, true);
            socket->abort();
            socket->deleteLater();
        });
        readFrom(socket);
        if (socket->state() == QLocalSocket::UnconnectedState)
            finish(socket);
    }
}

void InstanceChannel::readFrom(QLocalSocket* socket)
{
    if (socket->property(kFinished).toBool())
        return;
    QByteArray received = socket->property(kReceivedBytes).toByteArray();
    const qint64 room = kMaxMessageBytes + 1 - received.size();
    received += socket->read(room);
    if (received.size() > kMaxMessageBytes) {
        // Oversize: dropped without reading the rest.
        socket->setProperty(kFinished, true);
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->setProperty(kReceivedBytes, received);
}

void InstanceChannel::finish(QLocalSocket* socket)
{
    if (socket->property(kFinished).toBool())
        return;
    readFrom(socket);
    if (socket->property(kFinished).toBool())
        return;
    socket->setProperty(kFinished, true);
    const QByteArray received = socket->property(kReceivedBytes).toByteArray();
    socket->deleteLater();
    QString command;
    QString argument;
    if (decode(received, &command, &argument))
        emit commandReceived(command, argument);
}

QByteArray InstanceChannel::encode(const QString& command, const QString& argument)
{
    if (!commands().contains(command) || !isSingleLine(argument))
        return {};
    QByteArray message = kMagic;
    message += '\n';
    message += command.toUtf8();
    message += '\n';
    message += argument.toUtf8();
    message += '\n';
    if (message.size() > kMaxMessageBytes)
        return {};
    return message;
}

bool InstanceChannel::decode(const QByteArray& message, QString* command, QString* argument)
{
    if (message.size() > kMaxMessageBytes || !message.endsWith('\n'))
        return false;
    const QList<QByteArray> lines = message.first(message.size() - 1).split('\n');
    if (lines.size() != 3 || lines[0] != kMagic)
        return false;
    QString name;
    QString value;
    if (!decodeUtf8(lines[1], &name) || !decodeUtf8(lines[2], &value))
        return false;
    if (!commands().contains(name) || !isSingleLine(value))
        return false;
    *command = name;
    *argument = value;
    return true;
}

bool InstanceChannel::send(const QString& command, const QString& argument, int timeoutMs, const QString& socketPath)
{
    const QByteArray message = encode(command, argument);
    if (message.isEmpty())
        return false;
    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath, QIODevice::WriteOnly);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    if (socket.write(message) != message.size())
        return false;
    while (socket.bytesToWrite() > 0) {
        if (deadline.hasExpired() || !socket.waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(int(qMax<qint64>(deadline.remainingTime(), 0)));
    return true;
}

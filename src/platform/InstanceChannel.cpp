#include "platform/InstanceChannel.h"

#include "platform/Platform.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QByteArray kMagic = QByteArrayLiteral("kovani-instance/1");
const char* const kReceivedBytes = "kovaniReceived";
const char* const kFinished = "kovaniFinished";
// Connections the kernel queues while the listener is busy or out of descriptors.
constexpr int kBacklog = 16;

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

bool toSocketAddress(const QByteArray& path, sockaddr_un* address)
{
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof(address->sun_path))
        return false;
    std::memcpy(address->sun_path, path.constData(), size_t(path.size()));
    return true;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

const QStringList& InstanceChannel::commands()
{
    static const QStringList known = {kRaise, kOAuthRedirect};
    return known;
}

QString InstanceChannel::defaultRuntimeDir()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return QDir::isAbsolutePath(runtime) ? QDir::cleanPath(runtime) : QString();
}

InstanceChannel::InstanceChannel(QObject* parent)
    : InstanceChannel(Platform().storageRoot, defaultRuntimeDir(), parent)
{
}

InstanceChannel::InstanceChannel(QString storageRoot, QString runtimeDir, QObject* parent)
    : QObject(parent)
    , m_storageRoot(std::move(storageRoot))
    , m_runtimeDir(std::move(runtimeDir))
    , m_acceptRetry(new QTimer(this))
    , m_watch(new QTimer(this))
{
    m_acceptRetry->setSingleShot(true);
    m_acceptRetry->setInterval(kAcceptRetryMs);
    connect(m_acceptRetry, &QTimer::timeout, this, [this]() {
        if (!m_notifier)
            return;
        m_notifier->setEnabled(true);
        acceptConnections();
    });
    m_watch->setInterval(kWatchIntervalMs);
    connect(m_watch, &QTimer::timeout, this, [this]() {
        if (!socketStillInPlace())
            listenNow();
    });
}

InstanceChannel::~InstanceChannel()
{
    // The socket goes before the lock, so it never removes a later instance's socket.
    stopListening();
    m_lock.release();
}

PrivateFolder InstanceChannel::socketFolder(QString* problem) const
{
    if (!m_runtimeDir.isEmpty()) {
        PrivateFolder runtime = PrivateFolder::openExisting(m_runtimeDir);
        if (runtime.isValid())
            return runtime;
    }
    if (m_storageRoot.isEmpty()) {
        if (problem)
            *problem = QStringLiteral("there is no storage folder");
        return {};
    }
    return PrivateFolder::make(m_storageRoot + u'/' + kInstanceFolder, problem);
}

QString InstanceChannel::socketPath() const
{
    const PrivateFolder folder = socketFolder(nullptr);
    return folder.isValid() ? folder.path() + u'/' + kSocketName : QString();
}

InstanceChannel::Claim InstanceChannel::claim()
{
    if (m_lock.isHeld())
        return Claim::listening;
    m_problem.clear();
    if (m_storageRoot.isEmpty()) {
        m_problem = QStringLiteral("there is no storage folder");
        return Claim::undetermined;
    }
    const PrivateFolder lockFolder = PrivateFolder::make(m_storageRoot + u'/' + kInstanceFolder, &m_problem);
    if (!lockFolder.isValid())
        return Claim::undetermined;
    switch (m_lock.acquire(lockFolder, &m_problem)) {
    case InstanceLock::State::heldElsewhere:
        return Claim::anotherInstance;
    case InstanceLock::State::unknown:
        return Claim::undetermined;
    case InstanceLock::State::held:
        break;
    }
    listenNow();
    m_watch->start();
    return Claim::listening;
}

bool InstanceChannel::listenNow()
{
    stopListening();
    QString problem;
    PrivateFolder folder = socketFolder(&problem);
    const QByteArray address = folder.socketAddress(kSocketName);
    const auto fail = [&](const QString& reason) {
        m_problem = reason;
        return false;
    };
    if (!folder.isValid())
        return fail(problem);
    sockaddr_un socketAddress {};
    if (!toSocketAddress(address, &socketAddress))
        return fail(folder.path() + QStringLiteral(": the socket's path is too long"));

    const QByteArray leaf = QFile::encodeName(kSocketName);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(QStringLiteral("socket: ") + systemError());
    // Whatever is at the name was left by an earlier instance: this process holds the lock.
    ::unlinkat(folder.descriptor(), leaf.constData(), 0);
    struct stat info {};
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&socketAddress), sizeof(socketAddress)) != 0
        || ::fchmodat(folder.descriptor(), leaf.constData(), 0600, 0) != 0
        || ::listen(fd, kBacklog) != 0
        || ::fstatat(folder.descriptor(), leaf.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        const QString reason = folder.path() + u'/' + kSocketName + QStringLiteral(": ") + systemError();
        ::close(fd);
        return fail(reason);
    }
    m_listenFd = fd;
    m_socketDevice = info.st_dev;
    m_socketInode = info.st_ino;
    m_socketFolder = std::move(folder);
    m_notifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InstanceChannel::acceptConnections);
    return true;
}

void InstanceChannel::stopListening()
{
    m_acceptRetry->stop();
    delete m_notifier;
    m_notifier = nullptr;
    if (m_listenFd < 0)
        return;
    if (socketStillInPlace())
        ::unlinkat(m_socketFolder.descriptor(), QFile::encodeName(kSocketName).constData(), 0);
    ::close(m_listenFd);
    m_listenFd = -1;
    m_socketFolder = PrivateFolder();
}

bool InstanceChannel::socketStillInPlace() const
{
    if (m_listenFd < 0)
        return false;
    struct stat info {};
    return ::fstatat(m_socketFolder.descriptor(), QFile::encodeName(kSocketName).constData(), &info,
                     AT_SYMLINK_NOFOLLOW) == 0
        && S_ISSOCK(info.st_mode) && info.st_dev == m_socketDevice && info.st_ino == m_socketInode;
}

void InstanceChannel::acceptConnections()
{
    if (!m_notifier)
        return;
    while (m_connections < kMaxConnections) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            adopt(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // The connection stays queued; the socket keeps listening.
            m_notifier->setEnabled(false);
            m_acceptRetry->start();
            return;
        }
        // The listening socket itself is broken: the watch sets it up again.
        m_problem = QStringLiteral("accept: ") + systemError();
        stopListening();
        return;
    }
    // Full: the rest waits until a connection ends.
    m_notifier->setEnabled(false);
}

void InstanceChannel::adopt(int descriptor)
{
    auto* socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(descriptor, QLocalSocket::ConnectedState, QIODevice::ReadOnly)) {
        ::close(descriptor);
        delete socket;
        return;
    }
    ++m_connections;
    connect(socket, &QObject::destroyed, this, &InstanceChannel::connectionEnded);
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

void InstanceChannel::connectionEnded()
{
    --m_connections;
    if (m_notifier && !m_notifier->isEnabled() && !m_acceptRetry->isActive() && m_connections < kMaxConnections)
        m_notifier->setEnabled(true);
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

bool InstanceChannel::send(const QString& command, const QString& argument, int timeoutMs) const
{
    const QString path = socketPath();
    return !path.isEmpty() && send(command, argument, timeoutMs, path);
}

bool InstanceChannel::send(const QString& command, const QString& argument, int timeoutMs, const QString& socketPath)
{
    const QByteArray message = encode(command, argument);
    if (message.isEmpty())
        return false;
    QDeadlineTimer deadline(timeoutMs);

    // The folder stays open while connecting, for an address through its descriptor.
    const QFileInfo info(socketPath);
    const PrivateFolder folder = PrivateFolder::openExisting(info.absolutePath());
    sockaddr_un address {};
    if (!toSocketAddress(folder.socketAddress(info.fileName()), &address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // EAGAIN: the listener's queue is full for now.
    while (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        if ((errno != EAGAIN && errno != EINTR) || deadline.hasExpired()) {
            ::close(fd);
            return false;
        }
        QThread::msleep(20);
    }
    QLocalSocket socket;
    if (!socket.setSocketDescriptor(fd, QLocalSocket::ConnectedState, QIODevice::WriteOnly)) {
        ::close(fd);
        return false;
    }
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

#include "platform/InstanceChannel.h"

#include "platform/Platform.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
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
// The record of the socket's path is one path and a line break.
constexpr qint64 kMaxRecordBytes = 4096;

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

// A non-blocking stream socket connected to the socket at `socketPath` (through its folder,
// which must be private), or -1. EAGAIN, a listener whose queue is full, is tried again until
// `deadline`; `busy` says when that was the last answer.
int connectTo(const QString& socketPath, const QDeadlineTimer& deadline, bool* busy = nullptr)
{
    if (busy)
        *busy = false;
    // The folder stays open while connecting, for an address through its descriptor.
    const QFileInfo info(socketPath);
    const PrivateFolder folder = PrivateFolder::openExisting(info.absolutePath());
    sockaddr_un address {};
    if (!toSocketAddress(folder.socketAddress(info.fileName()), &address))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    while (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        const int error = errno;
        if ((error != EAGAIN && error != EINTR) || deadline.hasExpired()) {
            if (busy)
                *busy = error == EAGAIN;
            ::close(fd);
            return -1;
        }
        QThread::msleep(20);
    }
    return fd;
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

QString InstanceChannel::socketName(const QString& storageRoot)
{
    const QByteArray digest
        = QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(storageRoot)), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("Kovani-") + QString::fromLatin1(digest.left(16)) + QStringLiteral(".instance");
}

InstanceChannel::InstanceChannel(QString storageRoot, QString runtimeDir, QObject* parent)
    : QObject(parent)
    , m_storageRoot(std::move(storageRoot))
    , m_runtimeDir(std::move(runtimeDir))
    , m_acceptRetry(new QTimer(this))
    , m_watch(new QTimer(this))
    , m_checkSoon(new QTimer(this))
    , m_folderWatcher(new QFileSystemWatcher(this))
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
    connect(m_watch, &QTimer::timeout, this, &InstanceChannel::keepInPlace);
    // A burst of changes in the watched folders is one check.
    m_checkSoon->setSingleShot(true);
    m_checkSoon->setInterval(0);
    connect(m_checkSoon, &QTimer::timeout, this, &InstanceChannel::keepInPlace);
    connect(m_folderWatcher, &QFileSystemWatcher::directoryChanged, m_checkSoon, qOverload<>(&QTimer::start));
}

InstanceChannel::~InstanceChannel()
{
    // The socket and its record go before the lock, so they never remove a later instance's.
    if (m_lock.isHeld())
        removeRecord();
    stopListening();
    m_lock.release();
}

QString InstanceChannel::instanceFolderPath() const
{
    return m_storageRoot + u'/' + kInstanceFolder;
}

QString InstanceChannel::listeningPath() const
{
    return m_listenFd >= 0 ? m_socketFolder.path() + u'/' + socketName(m_storageRoot) : QString();
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
    return PrivateFolder::make(instanceFolderPath(), problem);
}

QString InstanceChannel::socketPath() const
{
    const PrivateFolder folder = socketFolder(nullptr);
    return folder.isValid() ? folder.path() + u'/' + socketName(m_storageRoot) : QString();
}

QString InstanceChannel::recordedSocketPath() const
{
    if (m_storageRoot.isEmpty())
        return QString();
    // Only a private folder's record is taken: whatever it names was written by this user.
    const PrivateFolder folder = PrivateFolder::openExisting(instanceFolderPath());
    if (!folder.isValid())
        return QString();
    const int fd = ::openat(folder.descriptor(), QFile::encodeName(kAddressFileName).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QString();
    QFile file;
    struct stat info {};
    QByteArray bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxRecordBytes
        && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        bytes = file.read(kMaxRecordBytes + 1);
    else
        ::close(fd);
    if (bytes.size() > kMaxRecordBytes || !bytes.endsWith('\n'))
        return QString();
    bytes.chop(1);
    if (bytes.contains('\n') || bytes.contains('\0'))
        return QString();
    const QString path = QFile::decodeName(bytes);
    return QDir::isAbsolutePath(path) ? QDir::cleanPath(path) : QString();
}

QStringList InstanceChannel::socketCandidates() const
{
    QStringList candidates;
    const QString recorded = recordedSocketPath();
    if (!recorded.isEmpty())
        candidates << recorded;
    const QString own = socketPath();
    if (!own.isEmpty() && own != recorded)
        candidates << own;
    return candidates;
}

bool InstanceChannel::anInstanceAnswers() const
{
    for (const QString& path : socketCandidates()) {
        bool busy = false;
        const int fd = connectTo(path, QDeadlineTimer(0), &busy);
        // The listener drops the empty connection unread.
        if (fd >= 0)
            ::close(fd);
        if (fd >= 0 || busy)
            return true;
    }
    return false;
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
    // A free lock is not enough: the running instance's lock file may have been deleted or
    // replaced under it. Whoever answers at the socket is that instance; it locks again soon.
    if (anInstanceAnswers()) {
        m_lock.release();
        return Claim::anotherInstance;
    }
    listenNow();
    m_watch->start();
    watchFolders();
    return Claim::listening;
}

void InstanceChannel::keepInPlace()
{
    if (!m_lock.isHeld())
        return;
    QString problem;
    const PrivateFolder lockFolder = PrivateFolder::make(instanceFolderPath(), &problem);
    // Held elsewhere (a launch that found the path free): tried again at the next check.
    if (lockFolder.isValid() && !m_lock.guards(lockFolder))
        m_lock.acquire(lockFolder, &problem);
    if (!socketStillInPlace())
        listenNow();
    else if (recordedSocketPath() != listeningPath())
        writeRecord();
    watchFolders();
}

void InstanceChannel::watchFolders()
{
    // A folder that was deleted has left the watcher; watched again once it is back.
    const QStringList watched = m_folderWatcher->directories();
    for (const QString& folder : {m_storageRoot, instanceFolderPath()}) {
        if (!watched.contains(folder) && QFileInfo(folder).isDir())
            m_folderWatcher->addPath(folder);
    }
}

void InstanceChannel::writeRecord()
{
    if (m_listenFd < 0)
        return;
    const PrivateFolder folder = PrivateFolder::make(instanceFolderPath());
    if (!folder.isValid())
        return;
    // Written aside and renamed into place, so a launch never reads half a path.
    const QByteArray record = QFile::encodeName(listeningPath()) + '\n';
    const QByteArray aside = QFile::encodeName(kAddressFileName) + ".new";
    ::unlinkat(folder.descriptor(), aside.constData(), 0);
    const int fd = ::openat(folder.descriptor(), aside.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const bool written = ::write(fd, record.constData(), size_t(record.size())) == ssize_t(record.size());
    if (::close(fd) != 0 || !written
        || ::renameat(folder.descriptor(), aside.constData(), folder.descriptor(),
                      QFile::encodeName(kAddressFileName).constData()) != 0)
        ::unlinkat(folder.descriptor(), aside.constData(), 0);
}

void InstanceChannel::removeRecord()
{
    if (m_listenFd < 0 || recordedSocketPath() != listeningPath())
        return;
    const PrivateFolder folder = PrivateFolder::openExisting(instanceFolderPath());
    if (folder.isValid())
        ::unlinkat(folder.descriptor(), QFile::encodeName(kAddressFileName).constData(), 0);
}

bool InstanceChannel::listenNow()
{
    stopListening();
    QString problem;
    PrivateFolder folder = socketFolder(&problem);
    const QString name = socketName(m_storageRoot);
    const QByteArray address = folder.socketAddress(name);
    const auto fail = [&](const QString& reason) {
        m_problem = reason;
        return false;
    };
    if (!folder.isValid())
        return fail(problem);
    sockaddr_un socketAddress {};
    if (!toSocketAddress(address, &socketAddress))
        return fail(folder.path() + QStringLiteral(": the socket's path is too long"));

    const QByteArray leaf = QFile::encodeName(name);
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
        const QString reason = folder.path() + u'/' + name + QStringLiteral(": ") + systemError();
        ::close(fd);
        return fail(reason);
    }
    m_listenFd = fd;
    m_socketDevice = info.st_dev;
    m_socketInode = info.st_ino;
    m_socketFolder = std::move(folder);
    m_notifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InstanceChannel::acceptConnections);
    writeRecord();
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
        ::unlinkat(m_socketFolder.descriptor(), QFile::encodeName(socketName(m_storageRoot)).constData(), 0);
    ::close(m_listenFd);
    m_listenFd = -1;
    m_socketFolder = PrivateFolder();
}

bool InstanceChannel::socketStillInPlace() const
{
    if (m_listenFd < 0)
        return false;
    struct stat info {};
    return ::fstatat(m_socketFolder.descriptor(), QFile::encodeName(socketName(m_storageRoot)).constData(), &info,
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

bool InstanceChannel::acceptRetryPendingForTesting() const
{
    return m_acceptRetry && m_acceptRetry->isActive();
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
    const QDeadlineTimer deadline(timeoutMs);
    for (const QString& path : socketCandidates()) {
        if (send(command, argument, int(qMax<qint64>(deadline.remainingTime(), 0)), path))
            return true;
    }
    return false;
}

bool InstanceChannel::send(const QString& command, const QString& argument, int timeoutMs, const QString& socketPath)
{
    const QByteArray message = encode(command, argument);
    if (message.isEmpty())
        return false;
    QDeadlineTimer deadline(timeoutMs);
    const int fd = connectTo(socketPath, deadline);
    if (fd < 0)
        return false;
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

#pragma once

#include "platform/InstanceLock.h"
#include "platform/PrivateFolder.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <sys/types.h>

class QFileSystemWatcher;
class QLocalSocket;
class QSocketNotifier;
class QTimer;

// One running instance per storage folder, and the channel through which later launches hand
// it one small typed command.
//
// The running instance is the process that holds the instance lock (InstanceLock) in the private
// folder "Instance" inside the storage folder. It keeps that lock on the file at the lock's path:
// when the file (or its folder) is deleted or replaced, it locks the new one. A launch that finds
// the lock free while an instance answers at the socket hands its command over all the same.
//
// The socket only carries messages. Its name, "Kovani-<16 hex digits>.instance", is specific to
// the storage folder (a digest of its path). It lives in the runtime folder ($XDG_RUNTIME_DIR)
// when that is a private folder of this user, else in the same private "Instance" folder; never
// in a folder others may write. Its path is recorded in "Kovani.address" in the "Instance"
// folder, so a launch finds it whatever runtime folder the launch itself has. A path too long for
// a socket address is reached through this process's open descriptor of the folder
// (PrivateFolder::socketAddress).
//
// Wire format, one message per connection, at most kMaxMessageBytes:
//   "kovani-instance/1\n" <command> "\n" <argument> "\n"
// in strict UTF-8, the argument without line breaks or other control characters. The command
// must be one of commands(); anything else is dropped unread by the listener.
class InstanceChannel : public QObject {
    Q_OBJECT

public:
    // Brings the running instance's window to the front; no argument.
    static inline const QString kRaise = QStringLiteral("raise");
    // Hands a sign-in redirect (the argument, a URL) to the pending web-authentication session.
    static inline const QString kOAuthRedirect = QStringLiteral("oauth-redirect");

    // Every command an instance accepts. A new command is one more entry here and one more
    // case where commandReceived is handled.
    static const QStringList& commands();

    static constexpr int kMaxMessageBytes = 16 * 1024;
    // A connection that has not delivered its whole message by then is dropped.
    static constexpr int kReceiveTimeoutMs = 5000;
    // Connections read at once; further ones wait in the socket's queue, so a flood cannot use
    // up the descriptors the websites need.
    static constexpr int kMaxConnections = 32;
    // After accepting failed for want of descriptors or memory, the next try is this much later;
    // the socket stays bound and listening meanwhile.
    static constexpr int kAcceptRetryMs = 250;
    // How often the running instance checks that its lock, its socket and the record of the
    // socket's path are still in place, and puts back what is not (changes in the storage and
    // "Instance" folders are also watched, so this is the fallback).
    static constexpr int kWatchIntervalMs = 2000;

    static inline const QString kInstanceFolder = QStringLiteral("Instance");
    static inline const QString kAddressFileName = QStringLiteral("Kovani.address");
    // The socket's name for a storage folder.
    static QString socketName(const QString& storageRoot);

    // $XDG_RUNTIME_DIR when it is an absolute path, else empty.
    static QString defaultRuntimeDir();

    // The application's own places: the Platform's storage folder and defaultRuntimeDir().
    explicit InstanceChannel(QObject* parent = nullptr);
    InstanceChannel(QString storageRoot, QString runtimeDir, QObject* parent = nullptr);
    ~InstanceChannel() override;

    enum class Claim {
        listening,       // this process holds the lock: it is the running instance, and commands
                         // arrive through commandReceived (once its socket is set up)
        anotherInstance, // another live process holds the lock
        undetermined,    // the lock could not be taken or tested: whether another instance runs
                         // is unknown (the reason is problem())
    };
    // Takes the instance lock unless another process holds it, and then listens, unless an
    // instance answers at the socket after all (its lock file was deleted or replaced): then the
    // lock is let go and the claim is anotherInstance. A socket file left at the name (by a
    // crash) is replaced.
    Claim claim();
    bool isListening() const { return m_listenFd >= 0; }
    // Why the last claim() was undetermined, or why the socket could not be set up.
    QString problem() const { return m_problem; }

    // The path of this process's socket, chosen as above (the "Instance" folder is made when
    // needed); empty when no private folder is at hand.
    QString socketPath() const;
    // The socket path recorded in the "Instance" folder by the running instance, or empty.
    QString recordedSocketPath() const;

    // Delivers one command to the listening instance, at the recorded path or else at
    // socketPath(), and waits until it is written; false when nobody listens, the command is
    // unknown or the message would be malformed or too long.
    bool send(const QString& command, const QString& argument, int timeoutMs) const;
    static bool send(const QString& command, const QString& argument, int timeoutMs, const QString& socketPath);

    // The whole message for a command, or empty when it cannot be sent.
    static QByteArray encode(const QString& command, const QString& argument);
    // Parses a whole message; false for anything malformed, oversize or unknown.
    static bool decode(const QByteArray& message, QString* command, QString* argument);

    // For tests: the connections being read now, and whether accepting waits to be tried again
    // (after it failed for want of descriptors or memory).
    int openConnectionsForTesting() const { return m_connections; }
    bool acceptRetryPendingForTesting() const;

signals:
    void commandReceived(const QString& command, const QString& argument);

private:
    QString instanceFolderPath() const;
    // The path of the socket this process listens on; empty when it does not listen.
    QString listeningPath() const;
    PrivateFolder socketFolder(QString* problem) const;
    // The recorded path first, then this process's own, each once.
    QStringList socketCandidates() const;
    bool anInstanceAnswers() const;
    bool listenNow();
    void stopListening();
    bool socketStillInPlace() const;
    // Puts back the lock, the socket and the record where they are missing or replaced.
    void keepInPlace();
    void writeRecord();
    void removeRecord();
    void watchFolders();
    void acceptConnections();
    void adopt(int descriptor);
    void connectionEnded();
    void readFrom(QLocalSocket* socket);
    void finish(QLocalSocket* socket);

    QString m_storageRoot;
    QString m_runtimeDir;
    QString m_problem;
    InstanceLock m_lock;

    PrivateFolder m_socketFolder;
    int m_listenFd = -1;
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    QSocketNotifier* m_notifier = nullptr;
    int m_connections = 0;
    QTimer* m_acceptRetry = nullptr;
    QTimer* m_watch = nullptr;
    QTimer* m_checkSoon = nullptr;
    QFileSystemWatcher* m_folderWatcher = nullptr;
};

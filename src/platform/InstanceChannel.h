#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

// One running instance per user. The first instance listens on a local socket that only its
// user may open; a later launch hands it one small typed command and exits.
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

    // The socket of this user's instance: "Kovani.instance" in the user's runtime folder
    // ($XDG_RUNTIME_DIR).
    static QString defaultSocketPath();

    explicit InstanceChannel(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);
    ~InstanceChannel() override;

    enum class Claim {
        listening,        // this is the running instance now; commands arrive through commandReceived
        anotherInstance,  // another live instance listens on the socket
        failed,           // the socket could not be created
    };
    // Becomes the listening instance unless another live one answers on the socket. A socket
    // file nobody answers on (left by a crash) is taken over. Launches racing each other are
    // kept apart by a lock file next to the socket.
    Claim claim();
    bool isListening() const;
    QString socketPath() const { return m_socketPath; }

    // Delivers one command to the listening instance and waits until it is written; false when
    // nobody listens, the command is unknown or the message would be malformed or too long.
    static bool send(const QString& command, const QString& argument, int timeoutMs,
                     const QString& socketPath = defaultSocketPath());

    // The whole message for a command, or empty when it cannot be sent.
    static QByteArray encode(const QString& command, const QString& argument);
    // Parses a whole message; false for anything malformed, oversize or unknown.
    static bool decode(const QByteArray& message, QString* command, QString* argument);

signals:
    void commandReceived(const QString& command, const QString& argument);

private:
    void acceptConnections();
    void readFrom(QLocalSocket* socket);
    void finish(QLocalSocket* socket);

    QString m_socketPath;
    QLocalServer* m_server = nullptr;
};

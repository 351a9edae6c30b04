#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QSslConfiguration>
#include <QTimer>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

// What every HTTPS request of the program shares.
namespace Network {

// TLS 1.2 or later, the peer's certificate always verified, trusting the system's roots plus the
// PEM certificates of the file named by KOVANI_EXTRA_CA_CERTS (when set; a file that cannot be
// read or holds no certificate adds nothing). Any thread.
QSslConfiguration tlsConfiguration();

// The process's one access manager for main-thread requests. Created on first use as a child of
// the application object, so it is never destroyed while Qt runs and never outlives it. Main
// thread only, after the application object exists.
QNetworkAccessManager& sharedAccessManager();

// The bounds of one exchange: the largest body read, and the time from sending the request to the
// answer's last byte (besides the requests' idle limit, which restarts at every byte).
struct Limits {
    qint64 maxBodyBytes = 4 * 1024 * 1024;
    int deadlineMs = 60000;
};
// The bounds every HTTP client of the program applies; tests shorten them. Main thread.
Limits limits();
void setLimits(const Limits& limits);

// Sends a request with a body exactly once: the network layer never sends it again (Qt resends
// a request whose connection closed before any answer, four times in all, when it can rewind the
// body; this body cannot be rewound, so such a reply fails instead). For requests that must not
// be repeated behind the user's back, such as a sign-in.
QNetworkReply* sendOnce(QNetworkAccessManager& manager, QNetworkRequest request, const QByteArray& method,
                        const QByteArray& body);

// Reads one reply's body as it arrives, within the bounds: a body that grows past the largest
// size (or announces such a length) and an exchange that outlives its deadline are aborted at
// once, so the reply finishes with OperationCanceledError and failure() says why. The reader is
// a child of the reply and goes with it. Attach it right after sending, before connecting to
// the reply's finished().
class BodyReader : public QObject {
    Q_OBJECT

public:
    enum class Failure { none, tooLarge, deadline };

    // The deadline counts from `started`, this many milliseconds ago (0: now): an exchange that
    // began earlier, for instance with attempts before this reply, has only the rest of it.
    static BodyReader* attach(QNetworkReply* reply, const Limits& limits = Network::limits(), qint64 startedMsAgo = 0);

    // Everything received, the rest still buffered in the reply included (also checked).
    QByteArray takeBody();
    Failure failure() const { return m_failure; }
    // The user's text for failure(): "The server's answer is larger than 4 MiB; it was not read."
    // or "The server did not finish its answer within 60 seconds."
    QString failureText() const;

private:
    BodyReader(QNetworkReply* reply, const Limits& limits, qint64 startedMsAgo);
    void read();
    void fail(Failure failure);

    QNetworkReply* m_reply;
    Limits m_limits;
    QByteArray m_body;
    Failure m_failure = Failure::none;
    QTimer m_deadline;
    // The reply is work under way until it goes.
    std::shared_ptr<void> m_pending;
};

} // namespace Network

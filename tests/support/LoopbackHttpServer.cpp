#include "support/LoopbackHttpServer.h"

#include "support/TestCertificates.h"

#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QSemaphore>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <stdexcept>

namespace {

QByteArray pathWithoutQuery(const QByteArray& target)
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 422: return "Unprocessable Content";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

QByteArray LoopbackHttpServer::Request::header(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

struct LoopbackHttpServer::State {
    mutable QMutex mutex;
    QHash<QByteArray, Reply> replies;
    Handler handler;
    bool tls = false;
    QList<Request> requests;
    quint16 port = 0;
    std::unique_ptr<QThread> thread;
};

namespace {

// Writes the body of `reply` after its head: the stream in chunks while the client keeps up, or
// everything one byte at a time. Ends when all is sent or the client has gone.
void sendSlowly(QPointer<QTcpSocket> socket, const LoopbackHttpServer::Reply& reply)
{
    struct Progress {
        QByteArray body;
        qint64 sent = 0;
        qint64 total = 0;
        QByteArray filler = QByteArray(64 * 1024, 'x');
        QByteArray next(qint64 max)
        {
            QByteArray chunk;
            if (sent < body.size())
                chunk = body.mid(sent, max);
            else
                chunk = filler.left(std::min<qint64>(max, total - sent));
            sent += chunk.size();
            return chunk;
        }
    };
    auto progress = std::make_shared<Progress>();
    progress->body = reply.body;
    progress->total = reply.body.size() + reply.streamBytes;
    // Each piece as a chunk of its own, the last followed by the empty chunk.
    const bool chunked = reply.chunked;
    auto write = [socket, progress, chunked](const QByteArray& piece) {
        if (!chunked) {
            socket->write(piece);
            return;
        }
        socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
        if (progress->sent >= progress->total)
            socket->write("0\r\n\r\n");
    };
    if (chunked && progress->total == 0)
        socket->write("0\r\n\r\n");
    if (reply.trickleMs > 0) {
        auto* timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [socket, progress, timer, write]() {
            if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
                timer->stop();
                return;
            }
            if (progress->sent >= progress->total) {
                timer->stop();
                socket->disconnectFromHost();
                return;
            }
            write(progress->next(1));
        });
        timer->start(reply.trickleMs);
        return;
    }
    auto pump = [socket, progress, write]() {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        while (progress->sent < progress->total && socket->bytesToWrite() < 1024 * 1024)
            write(progress->next(64 * 1024));
        if (progress->sent >= progress->total && socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, pump);
    pump();
}

// One connection: reads a whole request, records it, answers and closes.
void serveConnection(const std::shared_ptr<LoopbackHttpServer::State>& state, QTcpSocket* socket)
{
    auto buffer = std::make_shared<QByteArray>();
    auto answered = std::make_shared<bool>(false);
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [state, socket, buffer, answered]() {
        buffer->append(socket->readAll());
        if (*answered)
            return;
        const qsizetype headerEnd = buffer->indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer->left(headerEnd).split('\n');
        LoopbackHttpServer::Request request;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        qint64 contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed();
            const QByteArray value = line.mid(colon + 1).trimmed();
            request.headers.append({name, value});
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                contentLength = value.toLongLong();
        }
        const qsizetype bodyStart = headerEnd + 4;
        if (buffer->size() - bodyStart < contentLength)
            return;
        request.body = buffer->mid(bodyStart, contentLength);
        *answered = true;

        LoopbackHttpServer::Reply reply = LoopbackHttpServer::Reply::withStatus(404);
        LoopbackHttpServer::Handler handler;
        {
            QMutexLocker lock(&state->mutex);
            state->requests.append(request);
            handler = state->handler;
        }
        std::optional<LoopbackHttpServer::Reply> computed = handler ? handler(request) : std::nullopt;
        if (computed) {
            reply = *computed;
        } else {
            QMutexLocker lock(&state->mutex);
            const auto found = state->replies.constFind(pathWithoutQuery(request.path));
            if (found != state->replies.constEnd())
                reply = *found;
        }

        QPointer<QTcpSocket> guarded(socket);
        auto send = [guarded, reply, head = request.method == "HEAD"]() {
            if (!guarded)
                return;
            if (reply.hangUp) {
                guarded->disconnectFromHost();
                return;
            }
            QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
            for (const auto& h : reply.headers)
                out += h.first + ": " + h.second + "\r\n";
            if (reply.chunked)
                out += "Transfer-Encoding: chunked\r\n";
            else if (reply.announceLength)
                out += "Content-Length: " + QByteArray::number(reply.body.size() + reply.streamBytes) + "\r\n";
            out += "Connection: close\r\n\r\n";
            if (!head && (reply.streamBytes > 0 || reply.trickleMs > 0 || reply.chunked)) {
                guarded->write(out);
                sendSlowly(guarded, reply);
                return;
            }
            if (!head)
                out += reply.cutAfter >= 0 ? reply.body.left(reply.cutAfter) : reply.body;
            guarded->write(out);
            guarded->flush();
            if (reply.cutAfter >= 0) {
                guarded->waitForBytesWritten(2000);
                guarded->abort();
                guarded->deleteLater();
            } else {
                guarded->disconnectFromHost();
            }
        };
        if (reply.delayMs > 0)
            QTimer::singleShot(reply.delayMs, socket, send);
        else
            send();
    });
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer(Mode mode)
    : m_state(std::make_shared<State>())
{
    if (mode == Mode::https) {
        const TestCertificates::Set& tls = TestCertificates::trusted();
        start(true, tls.certificate, tls.key);
    } else {
        start(false, QSslCertificate(), QSslKey());
    }
}

LoopbackHttpServer::LoopbackHttpServer(const QSslCertificate& certificate, const QSslKey& key)
    : m_state(std::make_shared<State>())
{
    start(true, certificate, key);
}

void LoopbackHttpServer::start(bool tls, const QSslCertificate& certificate, const QSslKey& key)
{
    auto state = m_state;
    state->tls = tls;
    QSemaphore ready;
    std::unique_ptr<QThread> thread(QThread::create([state, &ready, tls, certificate, key]() {
        std::unique_ptr<QTcpServer> server;
        if (tls) {
            auto ssl = std::make_unique<QSslServer>();
            QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
            configuration.setLocalCertificate(certificate);
            configuration.setPrivateKey(key);
            configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
            ssl->setSslConfiguration(configuration);
            server = std::move(ssl);
        } else {
            server = std::make_unique<QTcpServer>();
        }
        QTcpServer* listening = server.get();
        if (server->listen(QHostAddress::LocalHost, 0)) {
            state->port = server->serverPort();
            // Emitted once a connection is ready for use (for TLS: after the handshake).
            QObject::connect(listening, &QTcpServer::pendingConnectionAvailable, listening, [state, listening]() {
                while (QTcpSocket* socket = listening->nextPendingConnection())
                    serveConnection(state, socket); // a child of the server
            });
        }
        ready.release();
        if (state->port != 0) {
            QEventLoop loop; // QThread::quit() ends it
            loop.exec();
        }
    }));
    thread->setObjectName(QStringLiteral("LoopbackHttpServer"));
    thread->start();
    ready.acquire();
    if (m_state->port == 0) {
        thread->wait();
        throw std::runtime_error("LoopbackHttpServer could not listen on 127.0.0.1");
    }
    m_state->thread = std::move(thread);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    // Ending the thread's loop destroys the server and with it every open connection.
    m_state->thread->quit();
    m_state->thread->wait();
}

quint16 LoopbackHttpServer::port() const
{
    return m_state->port;
}

bool LoopbackHttpServer::isHttps() const
{
    return m_state->tls;
}

QString LoopbackHttpServer::baseURL() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_state->tls ? QStringLiteral("https") : QStringLiteral("http")).arg(m_state->port);
}

QString LoopbackHttpServer::url(const QString& path) const
{
    return baseURL() + path;
}

void LoopbackHttpServer::setReply(const QByteArray& path, const Reply& reply)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->replies.insert(path, reply);
}

void LoopbackHttpServer::setHandler(Handler handler)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->handler = std::move(handler);
}

void LoopbackHttpServer::removeReply(const QByteArray& path)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->replies.remove(path);
}

QList<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->requests;
}

int LoopbackHttpServer::requestCount(const QByteArray& path) const
{
    QMutexLocker lock(&m_state->mutex);
    int count = 0;
    for (const auto& r : m_state->requests)
        if (pathWithoutQuery(r.path) == path)
            ++count;
    return count;
}

void LoopbackHttpServer::clearRequests()
{
    QMutexLocker lock(&m_state->mutex);
    m_state->requests.clear();
}

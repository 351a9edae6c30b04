#pragma once

// LoopbackHttpServer: a small HTTP/1.1 server on 127.0.0.1 for tests. It runs on its own thread,
// so it answers while the test thread blocks (for instance inside a curl download run by the
// code under test); the test's event loop need not be spun.
//
//   LoopbackHttpServer server;                        // listening on a free port at once
//   server.setReply("/latest.zip", {200, {{"Content-Type", "application/zip"}}, zipBytes});
//   server.setReply("/salt/", LoopbackHttpServer::Reply::withStatus(500));
//   LoopbackHttpServer::Reply cut{200, {}, bytes};
//   cut.cutAfter = 100;                               // announce the whole length, send 100 bytes,
//   server.setReply("/composer.phar", cut);           // then close: a truncated download
//   platform.composerDownloadURL = server.baseURL();  // "http://127.0.0.1:<port>"
//   server.url("/latest.zip");                        // "http://127.0.0.1:<port>/latest.zip"
//   server.requests();                                // every request so far, in arrival order
//   server.requestCount("/latest.zip");
//
// HTTPS: `LoopbackHttpServer server(LoopbackHttpServer::Mode::https)` serves the test
// certificate of TestCertificates::trusted() (call TestCertificates::trustTestCA() so the
// program trusts it), or pass a certificate and key of your own; baseURL() then starts with
// "https://". A client that refuses the certificate ends the handshake; nothing is recorded.
//
//   server.setReply("/api/me", LoopbackHttpServer::Reply::redirect("https://127.0.0.1:9/x"));
//   server.setHandler([](const LoopbackHttpServer::Request& r) -> std::optional<Reply> { ... });
//
// A handler (run on the server thread, for every request, before the table) computes a reply;
// when it gives none, the table is used. Replies are looked up by the request path without its
// query string; a path without a reply gets 404 with an empty body. Every reply carries
// "Content-Length" (of the whole body) and "Connection: close", and the connection is closed
// after it. `delayMs` holds a reply back; `streamBytes` streams a large body, `trickleMs` sends
// it slowly, `chunked` sends it in chunks without a length; `Reply::hungUp()` closes the
// connection without answering:
//
//   Reply huge = Reply::text("error: ", 500);
//   huge.streamBytes = 100 * 1024 * 1024;             // 100 MB, written as the client reads
//   Reply slow = Reply::json("{...}");
//   slow.trickleMs = 1000;                            // one byte a second
// All members may be called from any thread.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <QSslCertificate>
#include <QSslKey>

#include <functional>
#include <memory>
#include <optional>

class LoopbackHttpServer {
public:
    struct Request {
        QByteArray method;
        QByteArray path;   // the request target as sent, query included
        QList<QPair<QByteArray, QByteArray>> headers; // in order, names as sent
        QByteArray body;

        // The first header of this name (case-insensitive), or empty.
        QByteArray header(const QByteArray& name) const;
    };

    struct Reply {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        // When >= 0: only this many body bytes are sent before the connection is closed.
        qint64 cutAfter = -1;
        // Milliseconds to wait before answering.
        int delayMs = 0;
        // This many filler bytes ('x') follow `body`, made in chunks as the client takes them
        // (a 100 MB answer without 100 MB in memory); the announced length includes them.
        qint64 streamBytes = 0;
        // When > 0: the body (stream included) goes out one byte every this many milliseconds.
        int trickleMs = 0;
        // False: no "Content-Length"; the body ends when the connection closes.
        bool announceLength = true;
        // The body (stream included) in chunks of "Transfer-Encoding: chunked", no length told.
        bool chunked = false;
        // The connection is closed once the request is read, without a byte of answer.
        bool hangUp = false;

        static Reply withStatus(int code)
        {
            Reply r;
            r.status = code;
            return r;
        }
        static Reply json(const QByteArray& body, int code = 200)
        {
            Reply r;
            r.status = code;
            r.body = body;
            r.headers = {{"Content-Type", "application/json"}};
            return r;
        }
        // A redirect to `location` (absolute or relative), with an empty body.
        static Reply redirect(const QByteArray& location, int code = 302)
        {
            Reply r;
            r.status = code;
            r.headers = {{"Location", location}};
            return r;
        }
        // Reads the request, then closes the connection without answering.
        static Reply hungUp()
        {
            Reply r;
            r.hangUp = true;
            return r;
        }
        static Reply text(const QByteArray& body, int code = 200)
        {
            Reply r;
            r.status = code;
            r.body = body;
            r.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
            return r;
        }
    };

    enum class Mode { http, https };
    using Handler = std::function<std::optional<Reply>(const Request&)>;

    explicit LoopbackHttpServer(Mode mode = Mode::http);
    // HTTPS with this certificate and key.
    LoopbackHttpServer(const QSslCertificate& certificate, const QSslKey& key);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    quint16 port() const;
    bool isHttps() const;
    QString baseURL() const;                // "http(s)://127.0.0.1:<port>", no trailing slash
    QString url(const QString& path) const; // baseURL() + path

    void setReply(const QByteArray& path, const Reply& reply);
    void removeReply(const QByteArray& path);
    void setHandler(Handler handler);

    QList<Request> requests() const;
    int requestCount(const QByteArray& path) const; // requests whose path (query removed) matches
    void clearRequests();

    struct State; // shared with the server thread

private:
    void start(bool tls, const QSslCertificate& certificate, const QSslKey& key);

    std::shared_ptr<State> m_state;
};

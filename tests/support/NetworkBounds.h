#pragma once

// What the tests of bounded answers share: shorter bounds for one test, the misbehaving
// answers, and a witness that the event loop keeps turning meanwhile.
//
//   ScopedNetworkLimits limits({Network::Limits().maxBodyBytes, 1500});   // a 1.5 s deadline
//   server.setReply("/x", NetworkBounds::hugeBody(500));                // 100 MB, streamed
//   server.setReply("/y", NetworkBounds::trickled("{\"a\":1}"));        // a byte every 400 ms
//   LoopTicker ticks;  ...  EXPECT_GT(ticks.count(), 5);

#include "platform/Network.h"
#include "support/LoopbackHttpServer.h"

#include <QObject>
#include <QTimer>

namespace NetworkBounds {

inline constexpr qint64 kHugeBytes = 100 * 1024 * 1024;

// An answer of 100 MB whose first bytes are text, written as fast as the client reads; with
// `announced` false its length is not told beforehand (the client learns it byte by byte).
inline LoopbackHttpServer::Reply hugeBody(int status, bool announced = true, const QByteArray& contentType = "application/json")
{
    LoopbackHttpServer::Reply reply;
    reply.announceLength = announced;
    reply.status = status;
    reply.headers = {{"Content-Type", contentType}};
    reply.body = "{\"message\":\"";
    reply.streamBytes = kHugeBytes - reply.body.size();
    return reply;
}

// `body`, one byte every `ms` milliseconds: never idle for long, never done.
inline LoopbackHttpServer::Reply trickled(const QByteArray& body, int status = 200, int ms = 400)
{
    LoopbackHttpServer::Reply reply = LoopbackHttpServer::Reply::json(body + QByteArray(200, ' '), status);
    reply.trickleMs = ms;
    return reply;
}

} // namespace NetworkBounds

// Sets the process's network bounds for one scope.
class ScopedNetworkLimits {
public:
    explicit ScopedNetworkLimits(const Network::Limits& limits)
        : m_saved(Network::limits())
    {
        Network::setLimits(limits);
    }
    ~ScopedNetworkLimits() { Network::setLimits(m_saved); }
    ScopedNetworkLimits(const ScopedNetworkLimits&) = delete;
    ScopedNetworkLimits& operator=(const ScopedNetworkLimits&) = delete;

private:
    Network::Limits m_saved;
};

// Counts the turns of a 20 ms timer while alive: a frozen event loop counts none.
class LoopTicker {
public:
    LoopTicker()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { ++m_count; });
        m_timer.start(20);
    }
    int count() const { return m_count; }

private:
    QTimer m_timer;
    int m_count = 0;
};

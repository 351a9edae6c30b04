// The loopback HTTP server of tests/support, exercised with the real curl while the test thread
// blocks (no event loop runs on it).
#include "support/LoopbackHttpServer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

struct CurlResult {
    int status = -1;
    QByteArray output;
};

CurlResult curl(const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/usr/bin/curl"), arguments);
    process.waitForFinished(15000); // blocks: the server must answer from its own thread
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAll()};
}

} // namespace

TEST(LoopbackHttpServer, ServesScriptedRepliesAndRecordsRequests)
{
    LoopbackHttpServer server;
    ASSERT_NE(server.port(), 0);
    server.setReply("/hello", {201, {{"X-Test", "yes"}}, "hello body"});

    const CurlResult got = curl({"--silent", "--include", "-X", "POST", "-H", "X-Custom: abc",
                                 "--data-binary", "payload=1&x", server.url("/hello?q=1")});
    ASSERT_EQ(got.status, 0) << got.output.constData();
    EXPECT_TRUE(got.output.startsWith("HTTP/1.1 201")) << got.output.constData();
    EXPECT_TRUE(got.output.contains("X-Test: yes"));
    EXPECT_TRUE(got.output.endsWith("hello body"));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/hello?q=1");
    EXPECT_EQ(requests[0].header("x-custom"), "abc");
    EXPECT_EQ(requests[0].body, "payload=1&x");
    EXPECT_EQ(server.requestCount("/hello"), 1);
}

TEST(LoopbackHttpServer, UnknownPathIs404AndFailCurlFails)
{
    LoopbackHttpServer server;
    const CurlResult got = curl({"--fail", "--silent", "--show-error", server.url("/missing")});
    EXPECT_EQ(got.status, 22) << got.output.constData();
    EXPECT_EQ(server.requestCount("/missing"), 1);
}

TEST(LoopbackHttpServer, CutOffBodyIsAPartialDownload)
{
    LoopbackHttpServer server;
    LoopbackHttpServer::Reply reply{200, {}, QByteArray(100000, 'x')};
    reply.cutAfter = 1000;
    server.setReply("/big.bin", reply);
    QTemporaryDir dir;
    const QString out = dir.path() + QStringLiteral("/big.bin");
    const CurlResult got = curl({"--fail", "--silent", "--show-error", server.url("/big.bin"), "--output", out});
    EXPECT_EQ(got.status, 18) << got.output.constData(); // partial file
    QFile file(out);
    EXPECT_LE(file.size(), 1000);
}

TEST(LoopbackHttpServer, LargeBodyAndDelayedReplyArriveWhole)
{
    LoopbackHttpServer server;
    QByteArray body;
    for (int i = 0; i < 300000; ++i)
        body.append(char('a' + i % 26));
    LoopbackHttpServer::Reply reply{200, {}, body};
    reply.delayMs = 200;
    server.setReply("/slow", reply);
    const CurlResult got = curl({"--fail", "--silent", server.url("/slow")});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.output, body);
}

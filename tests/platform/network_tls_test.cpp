// HTTPS through the shared TLS settings against loopback servers with test certificates.
#include "platform/Network.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslSocket>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
};

Outcome fetch(const QString& url)
{
    QNetworkRequest request{QUrl(url)};
    request.setSslConfiguration(Network::tlsConfiguration());
    QNetworkReply* reply = Network::sharedAccessManager().get(request);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return reply->isFinished(); }, 20000));
    Outcome o{reply->error(), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    reply->deleteLater();
    return o;
}

class NetworkTls : public ::testing::Test {
protected:
    void SetUp() override { qunsetenv("KOVANI_EXTRA_CA_CERTS"); }
    void TearDown() override { qunsetenv("KOVANI_EXTRA_CA_CERTS"); }
};

} // namespace

TEST_F(NetworkTls, ConfigurationAsksForTls12AndVerifiesThePeer)
{
    const QSslConfiguration c = Network::tlsConfiguration();
    EXPECT_EQ(c.protocol(), QSsl::TlsV1_2OrLater);
    EXPECT_EQ(c.peerVerifyMode(), QSslSocket::VerifyPeer);
    EXPECT_FALSE(c.caCertificates().contains(TestCertificates::trusted().ca));
}

TEST_F(NetworkTls, ExtraRootsComeFromTheNamedFileOnTopOfTheSystemOnes)
{
    const qsizetype systemCount = Network::tlsConfiguration().caCertificates().size();
    TestCertificates::trustTestCA();
    const QList<QSslCertificate> roots = Network::tlsConfiguration().caCertificates();
    EXPECT_TRUE(roots.contains(TestCertificates::trusted().ca));
    EXPECT_EQ(roots.size(), systemCount + 1);

    // A missing file or one without certificates adds nothing and trusts nothing else.
    qputenv("KOVANI_EXTRA_CA_CERTS", (TestEnvironment::home() + "/missing.pem").toLocal8Bit());
    EXPECT_EQ(Network::tlsConfiguration().caCertificates().size(), systemCount);
    qputenv("KOVANI_EXTRA_CA_CERTS", TestCertificates::trusted().keyFile.toLocal8Bit());
    EXPECT_EQ(Network::tlsConfiguration().caCertificates().size(), systemCount);
}

TEST_F(NetworkTls, TheTestServerIsReachedOnlyWhenItsCaIsTrusted)
{
    {
        LoopbackHttpServer server(LoopbackHttpServer::Mode::https);
        server.setReply("/hello", LoopbackHttpServer::Reply::text("hi"));
        const Outcome refused = fetch(server.url("/hello"));
        EXPECT_EQ(refused.error, QNetworkReply::SslHandshakeFailedError);
        EXPECT_EQ(server.requestCount("/hello"), 0);
    }

    TestCertificates::trustTestCA();
    LoopbackHttpServer server(LoopbackHttpServer::Mode::https);
    server.setReply("/hello", LoopbackHttpServer::Reply::text("hi"));
    ASSERT_TRUE(server.baseURL().startsWith("https://127.0.0.1:"));
    const Outcome ok = fetch(server.url("/hello"));
    EXPECT_EQ(ok.error, QNetworkReply::NoError);
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, "hi");
    ASSERT_EQ(server.requestCount("/hello"), 1);
    EXPECT_EQ(server.requests().first().method, "GET");
}

TEST_F(NetworkTls, ACertificateNoTrustedCaSignedIsRefusedEvenWithTheTestCaTrusted)
{
    TestCertificates::trustTestCA();
    const TestCertificates::Set& other = TestCertificates::untrusted();
    LoopbackHttpServer server(other.certificate, other.key);
    server.setReply("/hello", LoopbackHttpServer::Reply::text("hi"));
    EXPECT_EQ(fetch(server.url("/hello")).error, QNetworkReply::SslHandshakeFailedError);
    EXPECT_EQ(server.requestCount("/hello"), 0);
}

TEST_F(NetworkTls, TheLoopbackServerRecordsAndReplaysOverHttps)
{
    TestCertificates::trustTestCA();
    LoopbackHttpServer server(LoopbackHttpServer::Mode::https);
    server.setHandler([](const LoopbackHttpServer::Request& r) -> std::optional<LoopbackHttpServer::Reply> {
        if (r.path == "/computed")
            return LoopbackHttpServer::Reply::json("{\"ok\":true}", 201);
        return std::nullopt;
    });
    LoopbackHttpServer::Reply bytes{200, {}, QByteArray("\xff\xfe\x00", 3)};
    bytes.delayMs = 200;
    server.setReply("/bytes", bytes);
    server.setReply("/moved", LoopbackHttpServer::Reply::redirect("/bytes", 307));

    const Outcome computed = fetch(server.url("/computed"));
    EXPECT_EQ(computed.status, 201);
    EXPECT_EQ(computed.body, "{\"ok\":true}");
    const Outcome raw = fetch(server.url("/bytes?x=1"));
    EXPECT_EQ(raw.body, QByteArray("\xff\xfe\x00", 3));
    const Outcome moved = fetch(server.url("/moved"));
    EXPECT_EQ(moved.status, 200);
    EXPECT_EQ(moved.body, QByteArray("\xff\xfe\x00", 3));
    EXPECT_EQ(server.requestCount("/bytes"), 2);
    EXPECT_EQ(server.requests()[1].path, "/bytes?x=1");
}

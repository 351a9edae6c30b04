// The fetcher against a loopback HTTP server: completion, retries and their intervals,
// "Retry-After", status errors, the insecure-request check, redirects, stop, transport errors
// and cookies.
#include "signin/SessionCookieStorage.h"
#include "platform/Dispatch.h"
#include "signin/SessionFetcher.h"
#include "support/LoopbackHttpServer.h"
#include "support/NetworkBounds.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QTimeZone>
#include <QTcpServer>
#include <QThread>
#include <gtest/gtest.h>

#include <cmath>

namespace {

using Reply = LoopbackHttpServer::Reply;

QStringList g_log;
QMutex g_logMutex;

void captureLog(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&g_logMutex);
    g_log.append(message);
}

struct Outcome {
    int calls = 0;
    std::optional<QByteArray> data;
    std::optional<DomainError> error;
    bool onMainThread = false;
};

struct Run {
    std::shared_ptr<SessionFetcher> fetcher;
    std::shared_ptr<Outcome> outcome = std::make_shared<Outcome>();
    QList<double> delays;
    int started = 0;
    int stopped = 0;
    int completionNotices = 0;
};

std::unique_ptr<Run> makeRun(const QUrl& url, SessionCookieStorage* jar = nullptr)
{
    auto run = std::make_unique<Run>();
    run->fetcher = SessionFetcher::fetcherWithRequest(QNetworkRequest(url));
    run->fetcher->setAllowLocalhostRequest(true);
    // A private jar per test: the shared one would carry cookies between tests.
    static SessionCookieStorage* privateJar = nullptr;
    if (!jar) {
        privateJar = new SessionCookieStorage();
        jar = privateJar;
    }
    run->fetcher->setCookieStorage(jar);
    Run* r = run.get();
    QObject::connect(r->fetcher.get(), &SessionFetcher::retryDelayStarted, [r](double s) { r->delays.append(s); });
    QObject::connect(r->fetcher.get(), &SessionFetcher::started, [r]() { ++r->started; });
    QObject::connect(r->fetcher.get(), &SessionFetcher::stopped, [r]() { ++r->stopped; });
    QObject::connect(r->fetcher.get(), &SessionFetcher::completionInvoked, [r](const QVariantMap&) { ++r->completionNotices; });
    return run;
}

void begin(Run& run)
{
    auto outcome = run.outcome;
    run.fetcher->beginFetchWithCompletionHandler(
        [outcome](const std::optional<QByteArray>& data, const std::optional<DomainError>& error) {
            ++outcome->calls;
            outcome->data = data;
            outcome->error = error;
            outcome->onMainThread = QThread::currentThread() == qApp->thread();
        });
}

bool finished(Run& run, int timeoutMs = 8000)
{
    return TestEnvironment::waitUntil([&]() { return run.outcome->calls > 0; }, timeoutMs);
}

// Waits until the fetch's work has ended: the reply gone, its results handed back.
void settle()
{
    EXPECT_TRUE(Dispatch::drainForTesting());
}

} // namespace

TEST(SessionFetcher, SuccessCallsBackOnceLaterOnTheMainThread)
{
    LoopbackHttpServer server;
    server.setReply("/userinfo", {200, {{"Content-Type", "application/json"}}, R"({"name":"Ada"})"});
    auto run = makeRun(QUrl(server.url("/userinfo?access_token=abc")));
    begin(*run);
    EXPECT_EQ(run->outcome->calls, 0) << "the completion never runs inside begin";
    ASSERT_TRUE(finished(*run));
    settle();
    EXPECT_EQ(run->outcome->calls, 1);
    EXPECT_TRUE(run->outcome->onMainThread);
    EXPECT_FALSE(run->outcome->error);
    ASSERT_TRUE(run->outcome->data);
    EXPECT_EQ(*run->outcome->data, QByteArray(R"({"name":"Ada"})"));
    EXPECT_EQ(run->fetcher->statusCode(), 200);
    EXPECT_EQ(run->started, 1);
    EXPECT_EQ(run->stopped, 1);
    EXPECT_EQ(run->completionNotices, 1);
    EXPECT_FALSE(run->fetcher->isFetching());
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].method, QByteArray("GET"));
    EXPECT_EQ(server.requests()[0].path, QByteArray("/userinfo?access_token=abc"));
    EXPECT_TRUE(server.requests()[0].header("Authorization").isEmpty());
}

TEST(SessionFetcher, EmptyBodyIsEmptyDataNotNothing)
{
    LoopbackHttpServer server;
    server.setReply("/empty", Reply::withStatus(200));
    auto run = makeRun(QUrl(server.url("/empty")));
    begin(*run);
    ASSERT_TRUE(finished(*run));
    ASSERT_TRUE(run->outcome->data);
    EXPECT_TRUE(run->outcome->data->isEmpty());
    EXPECT_FALSE(run->outcome->error);
}

TEST(SessionFetcher, NotFoundIsNotRetriedAndCarriesTheBody)
{
    LoopbackHttpServer server;
    server.setReply("/missing", {404, {{"Content-Type", "text/html"}}, "<h1>no</h1>"});
    auto run = makeRun(QUrl(server.url("/missing")));
    run->fetcher->setRetryEnabled(true);
    run->fetcher->setMaxRetryInterval(15.0);
    begin(*run);
    ASSERT_TRUE(finished(*run));
    settle();
    EXPECT_EQ(run->outcome->calls, 1);
    EXPECT_EQ(server.requestCount("/missing"), 1);
    EXPECT_TRUE(run->delays.isEmpty());
    ASSERT_TRUE(run->outcome->error);
    EXPECT_EQ(run->outcome->error->domain, QStringLiteral("Kovani.HTTPStatus"));
    EXPECT_EQ(run->outcome->error->code, 404);
    EXPECT_EQ(run->outcome->error->userInfo.value("data").toByteArray(), QByteArray("<h1>no</h1>"));
    EXPECT_EQ(run->outcome->error->userInfo.value("data_content_type").toString(), QStringLiteral("text/html"));
    ASSERT_TRUE(run->outcome->data);
    EXPECT_EQ(*run->outcome->data, QByteArray("<h1>no</h1>"));
}

TEST(SessionFetcher, StatusErrorWithoutBodyHasNoUserInfoAndNoData)
{
    LoopbackHttpServer server;
    server.setReply("/gone", Reply::withStatus(500));
    auto run = makeRun(QUrl(server.url("/gone")));
    begin(*run);
    ASSERT_TRUE(finished(*run));
    ASSERT_TRUE(run->outcome->error);
    EXPECT_EQ(run->outcome->error->code, 500);
    EXPECT_TRUE(run->outcome->error->userInfo.isEmpty());
    EXPECT_FALSE(run->outcome->data);
}

TEST(SessionFetcher, RetryIntervalsDoubleFromTheMinimumWhileBelowTheMaximum)
{
    LoopbackHttpServer server;
    server.setReply("/busy", Reply::withStatus(503));
    auto run = makeRun(QUrl(server.url("/busy")));
    run->fetcher->setRetryEnabled(true);
    run->fetcher->setMinRetryInterval(0.05);
    run->fetcher->setMaxRetryInterval(0.5);
    begin(*run);
    ASSERT_TRUE(finished(*run));
    ASSERT_EQ(run->delays.size(), 4);
    const double expected[] = {0.05, 0.1, 0.2, 0.4}; // 0.8 would reach the maximum: no fifth retry
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(run->delays[i], expected[i], 1e-9) << i;
    EXPECT_EQ(server.requestCount("/busy"), 5);
    EXPECT_EQ(run->fetcher->retryCount(), 4u);
    ASSERT_TRUE(run->outcome->error);
    EXPECT_EQ(run->outcome->error->code, 503);
    EXPECT_EQ(run->outcome->error->userInfo.value("kSessionFetcherNumberOfRetriesDoneKey").toUInt(), 4u);
    EXPECT_TRUE(run->outcome->error->userInfo.contains("kSessionFetcherElapsedIntervalWithRetriesKey"));
    EXPECT_EQ(run->outcome->calls, 1);
    EXPECT_EQ(run->started, 5);
}

TEST(SessionFetcher, RetryableStatusesRetryAndTheNextAttemptCanSucceed)
{
    for (int status : {408, 502, 503, 504}) {
        LoopbackHttpServer server;
        server.setReply("/flaky", Reply::withStatus(status));
        auto run = makeRun(QUrl(server.url("/flaky")));
        run->fetcher->setRetryEnabled(true);
        run->fetcher->setMinRetryInterval(0.05);
        run->fetcher->setMaxRetryInterval(15.0);
        QObject::connect(run->fetcher.get(), &SessionFetcher::retryDelayStarted, [&server]() {
            server.setReply("/flaky", Reply::text("ok"));
        });
        begin(*run);
        ASSERT_TRUE(finished(*run)) << status;
        EXPECT_FALSE(run->outcome->error) << status;
        EXPECT_EQ(run->fetcher->retryCount(), 1u) << status;
        EXPECT_EQ(*run->outcome->data, QByteArray("ok"));
        EXPECT_EQ(server.requestCount("/flaky"), 2);
    }
}

TEST(SessionFetcher, RetryOffMeansOneAttempt)
{
    LoopbackHttpServer server;
    server.setReply("/busy", Reply::withStatus(503));
    auto run = makeRun(QUrl(server.url("/busy")));
    begin(*run);
    ASSERT_TRUE(finished(*run));
    EXPECT_EQ(server.requestCount("/busy"), 1);
    EXPECT_EQ(run->outcome->error->code, 503);
}

TEST(SessionFetcher, NoRetryOnceTheElapsedTimeExceedsThreeTimesTheMaximum)
{
    LoopbackHttpServer server;
    server.setReply("/busy", Reply::withStatus(503));
    auto run = makeRun(QUrl(server.url("/busy")));
    auto offset = std::make_shared<qint64>(0);
    const QDateTime base = QDateTime::currentDateTimeUtc();
    run->fetcher->setClock([offset, base]() { return base.addMSecs(*offset); });
    run->fetcher->setRetryEnabled(true);
    run->fetcher->setMinRetryInterval(0.05);
    run->fetcher->setMaxRetryInterval(15.0);
    QObject::connect(run->fetcher.get(), &SessionFetcher::started, [offset]() {
        // The clock says 45.5 s have gone by since the first request when the second one ends.
        *offset = 45500;
    });
    begin(*run);
    ASSERT_TRUE(finished(*run));
    EXPECT_EQ(server.requestCount("/busy"), 1);
    EXPECT_TRUE(run->delays.isEmpty());
}

TEST(SessionFetcher, RetryAfterPassesTheLimitsAtMostThreeTimes)
{
    LoopbackHttpServer server;
    server.setReply("/busy", {503, {{"Retry-After", "0"}}, {}});
    auto run = makeRun(QUrl(server.url("/busy")));
    auto offset = std::make_shared<qint64>(0);
    const QDateTime base = QDateTime::currentDateTimeUtc();
    run->fetcher->setClock([offset, base]() { return base.addMSecs(*offset); });
    run->fetcher->setRetryEnabled(true);
    run->fetcher->setMinRetryInterval(0.05);
    run->fetcher->setMaxRetryInterval(15.0);
    *offset = 0;
    QObject::connect(run->fetcher.get(), &SessionFetcher::started, [offset]() { *offset = 60000; });
    begin(*run);
    ASSERT_TRUE(finished(*run));
    // Far past the 45 s limit the header still asks for retries, three of them, each after the
    // server's time, raised to the minimum interval (a 0 never turns into a spin).
    EXPECT_EQ(server.requestCount("/busy"), 4);
    ASSERT_EQ(run->delays.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(run->delays[i], 0.05) << i;
    EXPECT_EQ(run->outcome->error->code, 503);
}

TEST(SessionFetcher, RetryAfterZeroOrAPastDateRetriesNoFasterThanTheMinimumInterval)
{
    for (const QByteArray value : {QByteArray("0"), QByteArray("Thu, 01 Jan 2015 00:00:00 GMT")}) {
        LoopbackHttpServer server;
        server.setReply("/busy", {503, {{"Retry-After", value}}, {}});
        auto run = makeRun(QUrl(server.url("/busy")));
        // Past the elapsed-time limit from the second request on: three retries the header lets by.
        auto offset = std::make_shared<qint64>(0);
        const QDateTime base = QDateTime::currentDateTimeUtc();
        run->fetcher->setClock([offset, base]() { return base.addMSecs(*offset); });
        QObject::connect(run->fetcher.get(), &SessionFetcher::started, [offset]() { *offset = 60000; });
        run->fetcher->setRetryEnabled(true);
        run->fetcher->setMinRetryInterval(0.2);
        run->fetcher->setMaxRetryInterval(0.5);
        QElapsedTimer clock;
        clock.start();
        QList<qint64> startedAt;
        QObject::connect(run->fetcher.get(), &SessionFetcher::started, [&]() { startedAt.append(clock.elapsed()); });
        begin(*run);
        ASSERT_TRUE(finished(*run, 20000)) << value.constData();
        EXPECT_EQ(server.requestCount("/busy"), 4) << value.constData();
        EXPECT_EQ(run->delays, (QList<double>{0.2, 0.2, 0.2})) << value.constData();
        ASSERT_EQ(startedAt.size(), 4) << value.constData();
        for (int i = 1; i < startedAt.size(); ++i)
            EXPECT_GE(startedAt[i] - startedAt[i - 1], 180) << i; // a coarse timer may fire 5 % early
        EXPECT_EQ(run->outcome->error->code, 503) << value.constData();
    }
}

TEST(SessionFetcher, RetryAfterFiveWaitsFiveSecondsEachTime)
{
    LoopbackHttpServer server;
    server.setReply("/busy", {503, {{"Retry-After", "5"}}, {}});
    auto run = makeRun(QUrl(server.url("/busy")));
    // As the sign-in sets it up, with a short minimum: the header's 5 s wins over every delay.
    run->fetcher->setRetryEnabled(true);
    run->fetcher->setMinRetryInterval(0.05);
    run->fetcher->setMaxRetryInterval(15.0);
    QElapsedTimer clock;
    QList<qint64> startedAt;
    QObject::connect(run->fetcher.get(), &SessionFetcher::started, [&]() { startedAt.append(clock.elapsed()); });
    QObject::connect(run->fetcher.get(), &SessionFetcher::retryDelayStarted, [&]() {
        if (run->delays.size() == 2)
            server.setReply("/busy", Reply::text("ok"));
    });
    clock.start();
    begin(*run);
    ASSERT_TRUE(finished(*run, 30000));
    EXPECT_EQ(run->delays, (QList<double>{5.0, 5.0}));
    EXPECT_FALSE(run->outcome->error);
    EXPECT_EQ(server.requestCount("/busy"), 3);
    ASSERT_EQ(startedAt.size(), 3);
    for (int i = 1; i < startedAt.size(); ++i)
        EXPECT_GE(startedAt[i] - startedAt[i - 1], 4750) << i;
}

TEST(SessionFetcher, RetryAfterWaitIsCappedByTheMaximum)
{
    LoopbackHttpServer server;
    server.setReply("/busy", {503, {{"Retry-After", "30"}}, {}});
    auto run = makeRun(QUrl(server.url("/busy")));
    run->fetcher->setRetryEnabled(true);
    run->fetcher->setMaxRetryInterval(0.2);
    QObject::connect(run->fetcher.get(), &SessionFetcher::retryDelayStarted, [&server]() {
        server.setReply("/busy", Reply::text("ok"));
    });
    begin(*run);
    ASSERT_TRUE(finished(*run));
    ASSERT_EQ(run->delays.size(), 1);
    EXPECT_DOUBLE_EQ(run->delays[0], 0.2);
    EXPECT_FALSE(run->outcome->error);
}

TEST(SessionFetcher, RetryAfterOneSecondPastTheElapsedLimitWaitsOneSecond)
{
    LoopbackHttpServer server;
    server.setReply("/busy", {503, {{"Retry-After", "1"}}, {}});
    auto run = makeRun(QUrl(server.url("/busy")));
    auto offset = std::make_shared<qint64>(0);
    const QDateTime base = QDateTime::currentDateTimeUtc();
    run->fetcher->setClock([offset, base]() { return base.addMSecs(*offset); });
    run->fetcher->setRetryEnabled(true);
    run->fetcher->setMinRetryInterval(0.5);
    run->fetcher->setMaxRetryInterval(15.0);
    QObject::connect(run->fetcher.get(), &SessionFetcher::started, [offset]() { *offset = 50000; });
    QElapsedTimer waited;
    QObject::connect(run->fetcher.get(), &SessionFetcher::retryDelayStarted, [&]() {
        waited.start();
        server.setReply("/busy", Reply::text("ok"));
    });
    begin(*run);
    ASSERT_TRUE(finished(*run));
    ASSERT_EQ(run->delays.size(), 1);
    EXPECT_DOUBLE_EQ(run->delays[0], 1.0);
    EXPECT_GE(waited.elapsed(), 900);
    EXPECT_FALSE(run->outcome->error);
}

TEST(SessionFetcher, RetryAfterValues)
{
    const QDateTime now = QDateTime(QDate(2026, 3, 4), QTime(10, 0, 0), QTimeZone::utc());
    struct Case {
        const char* value;
        double seconds;
    } cases[] = {
        {"5", 5},
        {" 7 ", 7},
        {"30", 30},
        {"-3", 0},
        {"soon", 0},
        {"", 0},
        {"Wed, 04 Mar 2026 10:00:12 GMT", 12},
        {"Wed, 04 Mar 2026 09:59:00 GMT", 0}, // in the past
        {"Wed, 04 Mar 2026 10:00:00 GMT", 0},
        {"Thu, 05 Mar 2026 10:00:00 GMT", 86400},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(SessionFetcher::retryAfterSeconds(c.value, now), c.seconds) << c.value;
}

TEST(SessionFetcher, HugeAndEndlessAnswersEndTheFetchWithoutRetries)
{
    const struct {
        const char* name;
        Reply reply;
        int code;
        QString description;
    } cases[] = {
        {"100 MB error body", NetworkBounds::hugeBody(503), -1103,
         QStringLiteral("The server's answer is larger than 4 MiB; it was not read.")},
        {"100 MB user information, length untold", NetworkBounds::hugeBody(200, false), -1103,
         QStringLiteral("The server's answer is larger than 4 MiB; it was not read.")},
        {"one byte at a time", NetworkBounds::trickled(R"({"name":"Ada"})"), -1001,
         QStringLiteral("The server did not finish its answer within 1.5 seconds.")},
    };
    for (const auto& c : cases) {
        // Only the slow answer meets a deadline short enough to wait for; a huge one must be cut
        // off by its size, however slowly a busy machine streams it.
        ScopedNetworkLimits limits({Network::Limits().maxBodyBytes, c.reply.trickleMs > 0 ? 1500 : 60000});
        LoopbackHttpServer server;
        server.setReply("/oauth2/v3/userinfo", c.reply);
        auto run = makeRun(QUrl(server.url("/oauth2/v3/userinfo")));
        // As the sign-in sets it up: retries on, at most 15 s apart.
        run->fetcher->setRetryEnabled(true);
        run->fetcher->setMinRetryInterval(0.05);
        run->fetcher->setMaxRetryInterval(15.0);
        LoopTicker ticks;
        begin(*run);
        ASSERT_TRUE(finished(*run, 60000)) << c.name;
        ASSERT_TRUE(run->outcome->error) << c.name;
        EXPECT_EQ(run->outcome->error->domain, kSessionFetcherURLLoadingDomain) << c.name;
        EXPECT_EQ(run->outcome->error->code, c.code) << c.name;
        EXPECT_EQ(run->outcome->error->localizedDescription, c.description) << c.name;
        EXPECT_FALSE(run->outcome->data) << c.name;
        EXPECT_EQ(run->outcome->calls, 1) << c.name;
        EXPECT_TRUE(run->delays.isEmpty()) << c.name;
        EXPECT_EQ(server.requestCount("/oauth2/v3/userinfo"), 1) << c.name;
        if (c.reply.trickleMs > 0) // (a huge answer is cut off too soon to count turns)
            EXPECT_GT(ticks.count(), 2) << c.name << ": the event loop kept turning";
    }
}

TEST(SessionFetcher, TheDeadlineMessageNamesTheWholeDeadline)
{
    // The second attempt trickles: it ends at the fetch's deadline, which the text names whole,
    // not the part of it that was left for that attempt.
    ScopedNetworkLimits limits({Network::Limits().maxBodyBytes, 2000});
    LoopbackHttpServer server;
    server.setReply("/userinfo", Reply::withStatus(503));
    auto run = makeRun(QUrl(server.url("/userinfo")));
    run->fetcher->setRetryEnabled(true);
    run->fetcher->setMinRetryInterval(0.3);
    run->fetcher->setMaxRetryInterval(15.0);
    QObject::connect(run->fetcher.get(), &SessionFetcher::retryDelayStarted, [&server]() {
        server.setReply("/userinfo", NetworkBounds::trickled(R"({"name":"Ada"})"));
    });
    begin(*run);
    ASSERT_TRUE(finished(*run, 30000));
    EXPECT_EQ(run->delays.size(), 1);
    EXPECT_EQ(server.requestCount("/userinfo"), 2);
    ASSERT_TRUE(run->outcome->error);
    EXPECT_EQ(run->outcome->error->code, -1001);
    EXPECT_EQ(run->outcome->error->localizedDescription, "The server did not finish its answer within 2 seconds.");
}

TEST(SessionFetcher, AChunked401PastTheLimitFailsWithTheSizeText)
{
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    LoopbackHttpServer server;
    Reply large = Reply::json(QByteArray(1024 * 1024, 'a'), 401);
    large.chunked = true;
    Reply huge = NetworkBounds::hugeBody(401, false);
    huge.chunked = true;
    server.setReply("/whole", large);
    server.setReply("/huge", huge);
    auto whole = makeRun(QUrl(server.url("/whole")));
    begin(*whole);
    auto tooLarge = makeRun(QUrl(server.url("/huge")));
    begin(*tooLarge);
    const bool done = finished(*whole) && finished(*tooLarge, 60000);
    qInstallMessageHandler(previous);
    ASSERT_TRUE(done);
    ASSERT_TRUE(whole->outcome->error);
    EXPECT_EQ(whole->outcome->error->code, 401);
    EXPECT_EQ(whole->outcome->data, QByteArray(1024 * 1024, 'a')) << "read whole, not cut at a read buffer";
    ASSERT_TRUE(tooLarge->outcome->error);
    EXPECT_EQ(tooLarge->outcome->error->code, -1103);
    EXPECT_EQ(tooLarge->outcome->error->localizedDescription, "The server's answer is larger than 4 MiB; it was not read.");
    EXPECT_TRUE(g_log.isEmpty()) << g_log.join('\n').toStdString();
}

TEST(SessionFetcher, RetriesEndWithTheFetchsDeadline)
{
    // Timed-out attempts would be retried for 45 s; the whole fetch ends at its deadline.
    ScopedNetworkLimits limits({Network::Limits().maxBodyBytes, 2000});
    LoopbackHttpServer server;
    server.setReply("/busy", Reply::withStatus(503));
    auto run = makeRun(QUrl(server.url("/busy")));
    run->fetcher->setRetryEnabled(true);
    run->fetcher->setMinRetryInterval(0.4);
    run->fetcher->setMaxRetryInterval(15.0);
    begin(*run);
    ASSERT_TRUE(finished(*run, 30000));
    // 0.4 s, then 0.8 s; a third delay of 1.6 s would begin after the 2 s deadline.
    EXPECT_EQ(run->delays.size(), 2);
    EXPECT_EQ(server.requestCount("/busy"), 3);
    EXPECT_EQ(run->outcome->error->code, 503);
}

TEST(SessionFetcher, ConnectionLostIsRetriedRefusedIsNot)
{
    {
        LoopbackHttpServer server;
        Reply cut = Reply::text("0123456789abcdef");
        cut.cutAfter = 4;
        server.setReply("/cut", cut);
        auto run = makeRun(QUrl(server.url("/cut")));
        run->fetcher->setRetryEnabled(true);
        run->fetcher->setMinRetryInterval(0.05);
        run->fetcher->setMaxRetryInterval(15.0);
        QObject::connect(run->fetcher.get(), &SessionFetcher::retryDelayStarted, [&server]() {
            server.setReply("/cut", Reply::text("whole"));
        });
        begin(*run);
        ASSERT_TRUE(finished(*run));
        EXPECT_EQ(run->fetcher->retryCount(), 1u);
        EXPECT_FALSE(run->outcome->error);
        EXPECT_EQ(*run->outcome->data, QByteArray("whole")) << "the cut attempt's bytes are not kept";
    }
    {
        const quint16 port = TestEnvironment::freePort();
        auto run = makeRun(QUrl(QStringLiteral("http://127.0.0.1:%1/x?access_token=secret-token").arg(port)));
        run->fetcher->setRetryEnabled(true);
        run->fetcher->setMaxRetryInterval(15.0);
        begin(*run);
        ASSERT_TRUE(finished(*run));
        ASSERT_TRUE(run->outcome->error);
        EXPECT_EQ(run->outcome->error->domain, QStringLiteral("Kovani.URLLoading"));
        EXPECT_EQ(run->outcome->error->code, -1004);
        EXPECT_TRUE(run->delays.isEmpty());
        EXPECT_FALSE(run->outcome->error->localizedDescription.contains("secret-token"));
        EXPECT_FALSE(run->outcome->error->userInfo.value("NSErrorFailingURLStringKey").toString().contains("secret-token"));
    }
}

TEST(SessionFetcher, InsecureRequestsAreRefusedBeforeAnyTraffic)
{
    LoopbackHttpServer server;
    server.setReply("/x", Reply::text("ok"));
    struct Case {
        QString url;
        bool allowLocalhost;
        QStringList insecureSchemes;
        bool allowed;
    } cases[] = {
        {server.url("/x"), false, {}, false},
        {server.url("/x"), true, {}, true},
        {QStringLiteral("http://localhost:%1/x").arg(server.port()), true, {}, true},
        {QStringLiteral("HTTP://127.0.0.1:%1/x").arg(server.port()), true, {}, true},
        {server.url("/x"), false, {QStringLiteral("HTTP")}, true},
        {QStringLiteral("http://example.invalid/x?access_token=secret-token"), true, {}, false},
        {QStringLiteral("http://127.0.0.2:%1/x").arg(server.port()), true, {}, false},
        {QStringLiteral("ftp://127.0.0.1/x"), false, {}, false},
    };
    qInstallMessageHandler(captureLog);
    for (const Case& c : cases) {
        g_log.clear();
        server.clearRequests();
        auto run = makeRun(QUrl(c.url));
        run->fetcher->setAllowLocalhostRequest(c.allowLocalhost);
        run->fetcher->setAllowedInsecureSchemes(c.insecureSchemes);
        begin(*run);
        ASSERT_TRUE(finished(*run)) << qPrintable(c.url);
        if (c.allowed) {
            EXPECT_FALSE(run->outcome->error) << qPrintable(c.url);
            EXPECT_EQ(server.requests().size(), 1) << qPrintable(c.url);
        } else {
            ASSERT_TRUE(run->outcome->error) << qPrintable(c.url);
            EXPECT_EQ(run->outcome->error->domain, QStringLiteral("Kovani.SessionFetcher"));
            EXPECT_EQ(run->outcome->error->code, -5);
            EXPECT_EQ(server.requests().size(), 0);
            EXPECT_EQ(run->started, 0);
            ASSERT_EQ(g_log.size(), 1) << qPrintable(c.url);
            EXPECT_TRUE(g_log[0].startsWith("Insecure fetch disallowed for ")) << qPrintable(g_log[0]);
            EXPECT_FALSE(g_log[0].contains("secret-token"));
            EXPECT_FALSE(run->outcome->error->userInfo.value("NSErrorFailingURLStringKey").toString().contains("secret-token"));
        }
    }
    qInstallMessageHandler(nullptr);
}

TEST(SessionFetcher, MissingURLFailsToBegin)
{
    auto run = makeRun(QUrl());
    begin(*run);
    ASSERT_TRUE(finished(*run));
    ASSERT_TRUE(run->outcome->error);
    EXPECT_EQ(run->outcome->error->code, -1);
    EXPECT_EQ(run->outcome->error->userInfo.value("NSErrorFailingURLStringKey").toString(), QStringLiteral("(missing URL)"));
}

TEST(SessionFetcher, SecondBeginFailsAloneAndTheFirstFetchCompletes)
{
    LoopbackHttpServer server;
    Reply slow = Reply::text("first");
    slow.delayMs = 200;
    server.setReply("/slow", slow);
    auto run = makeRun(QUrl(server.url("/slow")));
    begin(*run);
    std::optional<DomainError> second;
    run->fetcher->beginFetchWithCompletionHandler([&](const auto&, const std::optional<DomainError>& e) { second = e; });
    ASSERT_TRUE(finished(*run));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->code, -1);
    EXPECT_FALSE(run->outcome->error);
    EXPECT_EQ(*run->outcome->data, QByteArray("first"));
}

TEST(SessionFetcher, RedirectSchemeRule)
{
    struct Case {
        const char* current;
        const char* redirect;
        const char* result;
    } cases[] = {
        {"https://a.test/x", "http://b.test/y", "https://b.test/y"},
        {"http://a.test/x", "https://b.test/y", "https://b.test/y"},
        {"http://a.test/x", "http://b.test/y", "http://b.test/y"},
        {"https://a.test/x", "https://b.test/y", "https://b.test/y"},
        {"HTTPS://a.test/x", "https://b.test/y", "https://b.test/y"},
        {"https://a.test/x", "ftp://b.test/y", "https://b.test/y"},
        {"/x", "http://b.test/y", "https://b.test/y"}, // no scheme counts as https
    };
    for (const Case& c : cases)
        EXPECT_EQ(SessionFetcher::redirectURL(QUrl(c.current), QUrl(c.redirect)), QUrl(c.result)) << c.current << " " << c.redirect;
}

TEST(SessionFetcher, RedirectsAreFollowedWithTheSameHeadersUpToACap)
{
    LoopbackHttpServer server;
    server.setReply("/start", {302, {{"Location", "/next?step=2"}}, "moved"});
    server.setReply("/next", Reply::text("arrived"));
    server.setReply("/loop", {301, {{"Location", "/loop"}}, {}});
    {
        QNetworkRequest request(QUrl(server.url("/start")));
        request.setRawHeader("X-Trace", "t1");
        auto run = makeRun(request.url());
        run->fetcher = SessionFetcher::fetcherWithRequest(request);
        run->fetcher->setAllowLocalhostRequest(true);
        begin(*run);
        ASSERT_TRUE(finished(*run));
        EXPECT_FALSE(run->outcome->error);
        EXPECT_EQ(*run->outcome->data, QByteArray("arrived"));
        EXPECT_EQ(run->fetcher->request().url().path(), QStringLiteral("/next"));
        ASSERT_EQ(server.requests().size(), 2);
        EXPECT_EQ(server.requests()[1].path, QByteArray("/next?step=2"));
        EXPECT_EQ(server.requests()[1].header("X-Trace"), QByteArray("t1"));
    }
    {
        server.clearRequests();
        auto run = makeRun(QUrl(server.url("/loop")));
        begin(*run);
        ASSERT_TRUE(finished(*run));
        ASSERT_TRUE(run->outcome->error);
        EXPECT_EQ(run->outcome->error->code, -1007);
        EXPECT_EQ(server.requestCount("/loop"), SessionFetcher::kMaxRedirects + 1);
    }
}

TEST(SessionFetcher, RedirectToAnInsecureRemoteHostIsRefused)
{
    LoopbackHttpServer server;
    server.setReply("/away", {302, {{"Location", "http://example.invalid/steal"}}, {}});
    qInstallMessageHandler(captureLog);
    g_log.clear();
    auto run = makeRun(QUrl(server.url("/away")));
    begin(*run);
    ASSERT_TRUE(finished(*run));
    qInstallMessageHandler(nullptr);
    ASSERT_TRUE(run->outcome->error);
    EXPECT_EQ(run->outcome->error->code, -5);
    EXPECT_EQ(g_log.filter("Insecure fetch disallowed for http://example.invalid/steal").size(), 1);
}

TEST(SessionFetcher, StopBeforeTheReplyCallsNothingUnlessAsked)
{
    LoopbackHttpServer server;
    Reply slow = Reply::text("late");
    slow.delayMs = 300;
    server.setReply("/slow", slow);
    {
        auto run = makeRun(QUrl(server.url("/slow")));
        begin(*run);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return server.requestCount("/slow") == 1; }));
        run->fetcher->stopFetching();
        settle();
        EXPECT_EQ(run->outcome->calls, 0);
        EXPECT_EQ(run->stopped, 1);
        EXPECT_FALSE(run->fetcher->isFetching());
    }
    {
        auto run = makeRun(QUrl(server.url("/slow")));
        run->fetcher->setStopFetchingTriggersCompletionHandler(true);
        begin(*run);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return server.requestCount("/slow") == 2; }));
        run->fetcher->stopFetching();
        run->fetcher->stopFetching();
        settle();
        EXPECT_EQ(run->outcome->calls, 1);
        ASSERT_TRUE(run->outcome->error);
        EXPECT_EQ(run->outcome->error->code, -7);
        EXPECT_EQ(run->outcome->error->localizedDescription, QStringLiteral("Operation cancelled"));
        EXPECT_TRUE(run->outcome->error->underlying);
    }
    {
        // Stopped while waiting to retry: no further attempt, no completion.
        server.setReply("/busy", Reply::withStatus(503));
        auto run = makeRun(QUrl(server.url("/busy")));
        run->fetcher->setRetryEnabled(true);
        run->fetcher->setMinRetryInterval(0.3);
        run->fetcher->setMaxRetryInterval(15.0);
        bool stopped = false;
        QObject::connect(run->fetcher.get(), &SessionFetcher::retryDelayStarted, [&]() {
            run->fetcher->stopFetching();
            stopped = true;
        });
        begin(*run);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return stopped; }));
        settle();
        // Not fetching: no reply and no retry waiting.
        EXPECT_FALSE(run->fetcher->isFetching());
        EXPECT_EQ(run->outcome->calls, 0);
        EXPECT_EQ(server.requestCount("/busy"), 1);
    }
}

TEST(SessionFetcher, ResponseCookiesGoBackToTheirHostOnly)
{
    LoopbackHttpServer server;
    server.setReply("/set", {200,
                             {{"Set-Cookie", "session=s1; Path=/"},
                              {"Set-Cookie", "foreign=f1; Domain=example.com; Path=/"}},
                             "set"});
    server.setReply("/use", Reply::text("used"));
    SessionCookieStorage jar;
    auto first = makeRun(QUrl(server.url("/set")), &jar);
    begin(*first);
    ASSERT_TRUE(finished(*first));
    ASSERT_EQ(jar.cookies().size(), 1);
    EXPECT_EQ(jar.cookies()[0].name(), QByteArray("session"));
    auto second = makeRun(QUrl(server.url("/use")), &jar);
    begin(*second);
    ASSERT_TRUE(finished(*second));
    EXPECT_EQ(server.requests().last().header("Cookie"), QByteArray("session=s1"));
}

TEST(SessionFetcher, HttpsWithTheTrustedTestCAAndRefusalOfAnUnknownCertificate)
{
    TestCertificates::trustTestCA();
    {
        LoopbackHttpServer server(LoopbackHttpServer::Mode::https);
        server.setReply("/oauth2/v3/userinfo", {200, {{"Content-Type", "application/json"}}, R"({"name":"Ada"})"});
        auto run = makeRun(QUrl(server.url("/oauth2/v3/userinfo?access_token=tok")));
        run->fetcher->setAllowLocalhostRequest(false); // https needs no exception
        begin(*run);
        ASSERT_TRUE(finished(*run));
        EXPECT_FALSE(run->outcome->error) << qPrintable(run->outcome->error ? run->outcome->error->localizedDescription : QString());
        EXPECT_EQ(run->outcome->data.value_or(QByteArray()), QByteArray(R"({"name":"Ada"})"));
    }
    {
        const TestCertificates::Set& other = TestCertificates::untrusted();
        LoopbackHttpServer server(other.certificate, other.key);
        server.setReply("/x", Reply::text("never"));
        auto run = makeRun(QUrl(server.url("/x?access_token=secret-token")));
        run->fetcher->setRetryEnabled(true);
        begin(*run);
        ASSERT_TRUE(finished(*run));
        ASSERT_TRUE(run->outcome->error);
        EXPECT_EQ(run->outcome->error->domain, QStringLiteral("Kovani.URLLoading"));
        EXPECT_NE(run->outcome->error->code, -1001);
        EXPECT_FALSE(run->outcome->error->localizedDescription.contains("secret-token"));
        EXPECT_TRUE(run->delays.isEmpty());
        EXPECT_EQ(server.requests().size(), 0);
    }
}

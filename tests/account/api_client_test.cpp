// The account client on the wire, against the HTTPS stand-in of the account service.
#include "account/APIClient.h"
#include "platform/Dispatch.h"
#include "support/AccountServiceStandIn.h"
#include "support/NetworkBounds.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QThread>

#include <gtest/gtest.h>

using Reply = LoopbackHttpServer::Reply;
using Header = QPair<QByteArray, QByteArray>;

namespace {

template <typename T>
struct Completion {
    std::optional<APIResult<T>> result;
    int calls = 0;
    QThread* thread = nullptr;
    std::function<void(const APIResult<T>&)> handler()
    {
        return [this](const APIResult<T>& r) {
            result = r;
            ++calls;
            thread = QThread::currentThread();
        };
    }
    bool wait(int ms = 20000) { return TestEnvironment::waitUntil([this] { return calls > 0; }, ms); }
};

// The headers this client sets, in the order they were sent (the HTTP stack adds its own).
QList<Header> ownHeaders(const LoopbackHttpServer::Request& r)
{
    static const QList<QByteArray> ours{"content-type", "accept", "x-app-version", "x-bundle-id", "authorization"};
    QList<Header> result;
    for (const Header& h : r.headers)
        if (ours.contains(h.first.toLower()))
            result << h;
    return result;
}

class APIClientWire : public ::testing::Test {
protected:
    void SetUp() override { client().setBaseURL(service.baseURL()); }
    static APIClient& client() { return APIClient::shared(); }

    AccountServiceStandIn service;
};

} // namespace

TEST_F(APIClientWire, PostSendsTheHeadersInOrderAndTheBodyWithoutAbsentKeys)
{
    AuthRequest login{std::nullopt, "ada@example.test", "p/ss\"w\u00f6rd", "DEV-1", "macos", APIClient::bundleIdentifier()};
    Completion<AuthResponse> done;
    client().post<AuthResponse>("auth/login", std::nullopt, login, done.handler());
    ASSERT_TRUE(done.wait());
    const auto requests = service.requestsTo("/api/auth/login");
    ASSERT_EQ(requests.size(), 1);
    const auto& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(ownHeaders(r), (QList<Header>{{"Content-Type", "application/json"},
                                            {"Accept", "application/json"},
                                            {"X-App-Version", "Kovani/1.0.0.1"},
                                            {"X-Bundle-ID", APIClient::bundleIdentifier().toUtf8()}}));
    EXPECT_EQ(r.body, QString("{\"email\":\"ada@example.test\",\"password\":\"p/ss\\\"w\u00f6rd\",\"device_id\":\"DEV-1\","
                              "\"platform\":\"macos\",\"app_id\":\"%1\"}").arg(APIClient::bundleIdentifier()).toUtf8());
    // The stand-in does not know her: its 401 comes back with the message it gives.
    ASSERT_FALSE(done.result->succeeded());
    EXPECT_EQ(done.result->error().domain, "Kovani.API");
    EXPECT_EQ(done.result->error().code, 401);
    EXPECT_EQ(done.result->error().localizedDescription, "These credentials do not match our records.");
    EXPECT_EQ(done.thread, QThread::currentThread());
    EXPECT_EQ(done.calls, 1);
}

TEST_F(APIClientWire, TokensAndQueries)
{
    struct Case {
        const char* name;
        std::optional<QString> token;
        APIClient::QueryItems query;
        QByteArray target;
        QByteArray authorization; // empty: no header at all
    };
    const QString valid = service.addUser("Ada", "ada@example.test", "x");
    const QList<Case> cases{
        {"no token", std::nullopt, {}, "/api/me", ""},
        {"empty token", QString(""), {}, "/api/me", ""},
        {"token", valid, {}, "/api/me", "Bearer " + valid.toUtf8()},
        {"query", valid, {{"a", "1"}, {"b c", "x&y"}}, "/api/me?a=1&b%20c=x%26y", "Bearer " + valid.toUtf8()},
    };
    for (const Case& c : cases) {
        service.server().clearRequests();
        Completion<MeResponse> done;
        client().get<MeResponse>("me", c.token, c.query, done.handler());
        ASSERT_TRUE(done.wait()) << c.name;
        const auto all = service.server().requests();
        ASSERT_EQ(all.size(), 1) << c.name;
        EXPECT_EQ(all[0].method, "GET") << c.name;
        EXPECT_EQ(all[0].path, c.target) << c.name;
        EXPECT_TRUE(all[0].body.isEmpty()) << c.name;
        QList<Header> expected{{"Accept", "application/json"},
                               {"X-App-Version", "Kovani/1.0.0.1"},
                               {"X-Bundle-ID", APIClient::bundleIdentifier().toUtf8()}};
        if (!c.authorization.isEmpty())
            expected << Header{"Authorization", c.authorization};
        EXPECT_EQ(ownHeaders(all[0]), expected) << c.name;
        EXPECT_EQ(done.result->succeeded(), c.token == valid) << c.name;
    }
}

TEST_F(APIClientWire, RequestBodies)
{
    struct Case {
        const char* name;
        std::function<void(Completion<APIMessageResponse>&)> send;
        QByteArray method;
        QByteArray body;
    };
    service.script("/api/x", Reply::json("{\"message\":\"ok\"}"));
    const QList<Case> cases{
        {"register with name",
         [](auto& d) {
             client().post<APIMessageResponse>("x", std::nullopt, AuthRequest{QString("Ada L"), "a@b.co", "pw", "D", "macos", "app"}, d.handler());
         },
         "POST", "{\"name\":\"Ada L\",\"email\":\"a@b.co\",\"password\":\"pw\",\"device_id\":\"D\",\"platform\":\"macos\",\"app_id\":\"app\"}"},
        {"change with current",
         [](auto& d) { client().post<APIMessageResponse>("x", std::nullopt, ChangePasswordRequest{QString("old"), "new"}, d.handler()); },
         "POST", "{\"current_password\":\"old\",\"password\":\"new\"}"},
        {"set up without current",
         [](auto& d) { client().post<APIMessageResponse>("x", std::nullopt, ChangePasswordRequest{std::nullopt, " new "}, d.handler()); },
         "POST", "{\"password\":\" new \"}"},
        {"reset", [](auto& d) { client().post<APIMessageResponse>("x", std::nullopt, PasswordResetRequest{"a@b.co", "app"}, d.handler()); },
         "POST", "{\"email\":\"a@b.co\",\"app_id\":\"app\"}"},
        {"profile", [](auto& d) { client().put<APIMessageResponse>("x", QString("t"), UpdateProfileRequest{" Ada "}, d.handler()); },
         "PUT", "{\"name\":\" Ada \"}"},
        {"empty", [](auto& d) { client().post<APIMessageResponse>("x", QString("t"), EmptyRequest{}, d.handler()); }, "POST", "{}"},
    };
    for (const Case& c : cases) {
        service.server().clearRequests();
        Completion<APIMessageResponse> done;
        c.send(done);
        ASSERT_TRUE(done.wait()) << c.name;
        const auto all = service.server().requests();
        ASSERT_EQ(all.size(), 1) << c.name;
        EXPECT_EQ(all[0].method, c.method) << c.name;
        EXPECT_EQ(all[0].body, c.body) << c.name;
        EXPECT_EQ(all[0].header("Content-Type"), "application/json") << c.name;
        ASSERT_TRUE(done.result->succeeded()) << c.name;
        EXPECT_EQ(done.result->value().message, "ok");
    }
}

TEST_F(APIClientWire, OutcomeRules)
{
    struct Case {
        const char* name;
        Reply reply;
        qint64 code;          // 0: success expected
        QString description;
        QString domain;
    };
    Reply badUtf8 = Reply::withStatus(500);
    badUtf8.body = QByteArray("\xff\xfe oops", 7);
    Reply teapotText = Reply::text("Service down \xe2\x80\x94 retry", 503);
    const QString missing = QString::fromUtf8("The data couldn\u2019t be read because it is missing.");
    const QString wrongFormat = QString::fromUtf8("The data couldn\u2019t be read because it isn\u2019t in the correct format.");
    Reply challenge = Reply::json("{\"message\":\"Unauthenticated.\"}", 401);
    challenge.headers << QPair<QByteArray, QByteArray>{"WWW-Authenticate", "Bearer realm=\"api\""};
    Reply html{500, {{"Content-Type", "text/html; charset=UTF-8"}},
               "<!DOCTYPE html>\n<html><head><title>Server Error</title></head><body><h1>500 | Server Error</h1></body></html>"};
    Reply untypedHtml = Reply::withStatus(502);
    untypedHtml.body = "<html><body>Bad gateway</body></html>";
    Reply markupText = Reply::text("<b>Down</b> for maintenance", 503);
    const QString deep = "{\"message\":" + QString(100000, u'[') + QString(100000, u']') + "}";
    const QList<Case> cases{
        // A JSON body gives its message, else its error, whatever its status.
        {"401 with a challenge", challenge, 401, "Unauthenticated.", "Kovani.API"},
        {"401 json message", Reply::json("{\"message\": \"Bad token\" }", 401), 401, "Bad token", "Kovani.API"},
        {"422 json message with errors",
         Reply::json("{\"message\":\"The email field must be a valid email address.\",\"errors\":{\"email\":[\"The email field must be a "
                     "valid email address.\"]}}",
                     422),
         422, "The email field must be a valid email address.", "Kovani.API"},
        {"400 json error", Reply::json("{\"error\":\"invalid_client\",\"error_description\":\"x\"}", 400), 400, "invalid_client", "Kovani.API"},
        {"empty message, then error", Reply::json("{\"message\":\"\",\"error\":\"Locked\"}", 423), 423, "Locked", "Kovani.API"},
        // Otherwise the status and its reason, and a short plain text when the body is one.
        {"422 json without a message", Reply::json("{\"errors\":{\"name\":[\"x\"]}}", 422), 422, "HTTP 422 Unprocessable Content", "Kovani.API"},
        {"500 html page", html, 500, "HTTP 500 Internal Server Error", "Kovani.API"},
        {"502 html without a type", untypedHtml, 502, "HTTP 502 Bad Gateway", "Kovani.API"},
        {"503 text with markup", markupText, 503, "HTTP 503 Service Unavailable", "Kovani.API"},
        {"500 deeply nested json", Reply::json(deep.toUtf8(), 500), 500, "HTTP 500 Internal Server Error", "Kovani.API"},
        {"500 invalid utf-8", badUtf8, 500, "HTTP 500 Internal Server Error", "Kovani.API"},
        {"500 empty", Reply::withStatus(500), 500, "HTTP 500 Internal Server Error", "Kovani.API"},
        {"503 text", teapotText, 503, QString::fromUtf8("HTTP 503 Service Unavailable: Service down \u2014 retry"), "Kovani.API"},
        {"503 long text, first line", Reply::text("Down for maintenance.\nBack at 10:00.\n" + QByteArray(5000, 'x'), 503), 503,
         "HTTP 503 Service Unavailable: Down for maintenance.", "Kovani.API"},
        {"304 outside 2xx", Reply::withStatus(304), 304, "HTTP 304 Not Modified", "Kovani.API"},
        {"204 empty is a decoding failure", Reply::withStatus(204), 4864, wrongFormat, "Kovani.JSONDecoding"},
        {"200 without user", Reply::json("{\"token\":\"t\"}"), 4865, missing, "Kovani.JSONDecoding"},
        {"200 token only", Reply::json("{\"token\":\"t\",\"user\":{\"name\":\"A\",\"email\":\"a@b.co\"}}"), 0, "", ""},
        {"201 created", Reply::json("{\"user\":{\"name\":\"A\",\"email\":\"a@b.co\"}}", 201), 0, "", ""},
    };
    for (const Case& c : cases) {
        service.script("/api/auth/register", c.reply);
        Completion<AuthResponse> done;
        client().post<AuthResponse>("auth/register", std::nullopt, EmptyRequest{}, done.handler());
        ASSERT_TRUE(done.wait()) << c.name;
        if (c.code == 0) {
            EXPECT_TRUE(done.result->succeeded()) << c.name << ": " << done.result->error().localizedDescription.toStdString();
            continue;
        }
        ASSERT_FALSE(done.result->succeeded()) << c.name;
        EXPECT_EQ(done.result->error().domain, c.domain) << c.name;
        EXPECT_EQ(done.result->error().code, c.code) << c.name;
        EXPECT_EQ(done.result->error().localizedDescription, c.description) << c.name;
    }
}

TEST_F(APIClientWire, TransportFailuresComeBackAsTheirOwnErrors)
{
    // Nothing listens on the port any more.
    QString closedBase;
    {
        LoopbackHttpServer gone(LoopbackHttpServer::Mode::https);
        closedBase = gone.baseURL() + "/api";
    }
    client().setBaseURL(closedBase);
    Completion<MeResponse> refused;
    client().get<MeResponse>("me", QString("t"), {}, refused.handler());
    ASSERT_TRUE(refused.wait());
    ASSERT_FALSE(refused.result->succeeded());
    EXPECT_EQ(refused.result->error().domain, "Kovani.Network");
    EXPECT_FALSE(refused.result->error().localizedDescription.isEmpty());

    // A certificate that no trusted authority signed.
    const TestCertificates::Set& other = TestCertificates::untrusted();
    LoopbackHttpServer impostor(other.certificate, other.key);
    impostor.setReply("/api/me", Reply::json("{\"user\":{\"name\":\"A\",\"email\":\"a@b.co\"}}"));
    client().setBaseURL(impostor.baseURL() + "/api");
    Completion<MeResponse> untrusted;
    client().get<MeResponse>("me", QString("t"), {}, untrusted.handler());
    ASSERT_TRUE(untrusted.wait());
    ASSERT_FALSE(untrusted.result->succeeded());
    EXPECT_EQ(untrusted.result->error().domain, "Kovani.Network");
    EXPECT_EQ(impostor.requestCount("/api/me"), 0);
}

TEST_F(APIClientWire, RedirectsStayOnTheConfiguredOrigin)
{
    // Another port is another origin: the token must not travel there.
    LoopbackHttpServer elsewhere(LoopbackHttpServer::Mode::https);
    elsewhere.setReply("/api/me", Reply::json("{\"user\":{\"name\":\"Eve\",\"email\":\"eve@example.test\"}}"));
    service.script("/api/me", Reply::redirect(elsewhere.url("/api/me").toUtf8(), 307));
    Completion<MeResponse> away;
    client().get<MeResponse>("me", QString("secret-token"), {}, away.handler());
    ASSERT_TRUE(away.wait());
    ASSERT_FALSE(away.result->succeeded());
    EXPECT_EQ(away.result->error().domain, "Kovani.Network");
    EXPECT_EQ(elsewhere.requestCount("/api/me"), 0);

    // A redirect within the origin is followed with the same headers.
    const QString valid = service.addUser("Ada", "ada@example.test", "x");
    service.script("/api/me", Reply::redirect("/api/me2", 307));
    service.script("/api/me2", Reply::json("{\"user\":{\"name\":\"Ada\",\"email\":\"ada@example.test\"}}"));
    Completion<MeResponse> same;
    client().get<MeResponse>("me", valid, {}, same.handler());
    ASSERT_TRUE(same.wait());
    ASSERT_TRUE(same.result->succeeded());
    EXPECT_EQ(same.result->value().user.name, "Ada");
    ASSERT_EQ(service.requestsTo("/api/me2").size(), 1);
    EXPECT_EQ(service.requestsTo("/api/me2")[0].header("Authorization"), "Bearer " + valid.toUtf8());
}

TEST_F(APIClientWire, NothingIsSentForAnUnusableBaseUrlOrBody)
{
    for (const QString base : {QString("http://127.0.0.1:1/api"), QString("not a url"), QString(""), QString("https:///api")}) {
        client().setBaseURL(base);
        Completion<APIMessageResponse> done;
        client().post<APIMessageResponse>("auth/logout", QString("t"), EmptyRequest{}, done.handler());
        // At once, before this call returns.
        ASSERT_EQ(done.calls, 1) << base.toStdString();
        ASSERT_FALSE(done.result->succeeded());
        EXPECT_EQ(done.result->error().localizedDescription,
                  "The account service address is not a valid HTTPS URL: " + base);
    }

    client().setBaseURL(service.baseURL());
    Completion<APIMessageResponse> done;
    const QString lone = QString("a") + QChar(0xD800);
    client().post<APIMessageResponse>("password/email", std::nullopt, PasswordResetRequest{lone, "app"}, done.handler());
    ASSERT_EQ(done.calls, 1);
    EXPECT_EQ(done.result->error().domain, "Kovani.JSONEncoding");
    // No request is under way.
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_TRUE(service.server().requests().isEmpty());
}

TEST_F(APIClientWire, EndpointUrls)
{
    client().setBaseURL("https://account.example.test/api");
    EXPECT_EQ(client().endpointURL("me").toString(), "https://account.example.test/api/me");
    EXPECT_EQ(client().endpointURL("me/change-password").toString(), "https://account.example.test/api/me/change-password");
    client().setBaseURL("https://account.example.test:8443/api/");
    EXPECT_EQ(client().endpointURL("auth/login").toString(), "https://account.example.test:8443/api/auth/login");
}

TEST_F(APIClientWire, HugeAndEndlessAnswersFailWithAClearText)
{
    const struct {
        const char* name;
        Reply reply;
        qint64 code;
        QString description;
    } cases[] = {
        {"100 MB error body", NetworkBounds::hugeBody(500), QNetworkReply::UnknownContentError,
         QStringLiteral("The server's answer is larger than 4 MiB; it was not read.")},
        {"100 MB success body, length untold", NetworkBounds::hugeBody(200, false), QNetworkReply::UnknownContentError,
         QStringLiteral("The server's answer is larger than 4 MiB; it was not read.")},
        {"one byte at a time", NetworkBounds::trickled(R"({"user":{"name":"Ada","email":"ada@example.test"}})"),
         QNetworkReply::TimeoutError, QStringLiteral("The server did not finish its answer within 1.5 seconds.")},
        {"a slow error", NetworkBounds::trickled(R"({"message":"Unauthenticated."})", 401),
         QNetworkReply::TimeoutError, QStringLiteral("The server did not finish its answer within 1.5 seconds.")},
    };
    for (const auto& c : cases) {
        // Only the slow answer meets a deadline short enough to wait for; a huge one must be cut
        // off by its size, however slowly a busy machine streams it.
        ScopedNetworkLimits limits({Network::Limits().maxBodyBytes, c.reply.trickleMs > 0 ? 1500 : 60000});
        service.script("/api/me", c.reply);
        LoopTicker ticks;
        Completion<MeResponse> done;
        client().get<MeResponse>("me", QStringLiteral("tok"), {}, done.handler());
        ASSERT_TRUE(done.wait()) << c.name;
        ASSERT_FALSE(done.result->succeeded()) << c.name;
        EXPECT_EQ(done.result->error().domain, APIErrors::kNetworkDomain) << c.name;
        EXPECT_EQ(done.result->error().code, c.code) << c.name;
        EXPECT_EQ(done.result->error().localizedDescription, c.description) << c.name;
        EXPECT_EQ(done.calls, 1) << c.name;
        if (c.reply.trickleMs > 0) // (a huge answer is cut off too soon to count turns)
            EXPECT_GT(ticks.count(), 2) << c.name << ": the event loop kept turning";
    }
    // A body just below the limit is still read whole.
    Reply big = Reply::json("{\"message\":\"" + QByteArray(3 * 1024 * 1024, 'a') + "\"}", 422);
    service.script("/api/me", big);
    Completion<MeResponse> done;
    client().get<MeResponse>("me", QStringLiteral("tok"), {}, done.handler());
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.result->error().code, 422);
    EXPECT_EQ(done.result->error().localizedDescription.size(), 3 * 1024 * 1024);
}

TEST_F(APIClientWire, ARequestWithABodyIsSentOnceWhenTheConnectionClosesWithoutAnAnswer)
{
    const struct {
        const char* path;
        std::function<void(Completion<AuthResponse>&)> send;
    } cases[] = {
        {"/api/auth/login",
         [](auto& d) {
             client().post<AuthResponse>("auth/login", std::nullopt, AuthRequest{std::nullopt, "a@b.co", "pw", "D", "macos", "app"},
                                         d.handler());
         }},
        {"/api/auth/register",
         [](auto& d) {
             client().post<AuthResponse>("auth/register", std::nullopt, AuthRequest{QString("Ada"), "a@b.co", "pw", "D", "macos", "app"},
                                         d.handler());
         }},
        {"/api/me", [](auto& d) { client().put<AuthResponse>("me", QString("t"), UpdateProfileRequest{"Ada"}, d.handler()); }},
    };
    for (const auto& c : cases) {
        service.script(c.path, Reply::hungUp());
        Completion<AuthResponse> done;
        c.send(done);
        ASSERT_TRUE(done.wait()) << c.path;
        ASSERT_FALSE(done.result->succeeded()) << c.path;
        EXPECT_EQ(done.result->error().domain, APIErrors::kNetworkDomain) << c.path;
        EXPECT_EQ(done.result->error().localizedDescription, "The account service closed the connection without answering.")
            << c.path;
        // Qt would have sent it again before failing the reply: one request is all there ever was.
        EXPECT_EQ(service.requestsTo(c.path).size(), 1) << c.path;
        EXPECT_EQ(done.calls, 1) << c.path;
    }

    // The body still arrives whole, and a later request on the same client works.
    service.unscript("/api/auth/register");
    service.server().clearRequests();
    Completion<AuthResponse> registered;
    client().post<AuthResponse>("auth/register", std::nullopt,
                                AuthRequest{QString("Ada"), "ada@example.test", "pw", "D", "macos", "app"}, registered.handler());
    ASSERT_TRUE(registered.wait());
    ASSERT_TRUE(registered.result->succeeded()) << registered.result->error().localizedDescription.toStdString();
    ASSERT_EQ(service.requestsTo("/api/auth/register").size(), 1);
    EXPECT_EQ(service.requestsTo("/api/auth/register")[0].body,
              "{\"name\":\"Ada\",\"email\":\"ada@example.test\",\"password\":\"pw\",\"device_id\":\"D\",\"platform\":\"macos\",\"app_id\":\"app\"}");
}

TEST_F(APIClientWire, AnEndlessRedirectSaysSo)
{
    const QString text = QStringLiteral("The account service redirected the request more than 10 times, without end; it was not "
                                        "followed further.");
    // To itself, and through 31 addresses that lead on.
    service.script("/api/me", Reply::redirect("/api/me", 302));
    for (int i = 0; i < 31; ++i)
        service.script("/api/r" + QByteArray::number(i), Reply::redirect("/api/r" + QByteArray::number(i + 1), 307));
    for (const char* path : {"me", "r0"}) {
        service.server().clearRequests();
        Completion<MeResponse> done;
        client().get<MeResponse>(path, QString("t"), {}, done.handler());
        ASSERT_TRUE(done.wait()) << path;
        ASSERT_FALSE(done.result->succeeded()) << path;
        EXPECT_EQ(done.result->error().domain, APIErrors::kNetworkDomain) << path;
        EXPECT_EQ(done.result->error().localizedDescription, text) << path;
        EXPECT_EQ(service.server().requests().size(), APIClient::kMaxRedirects + 1) << path;
    }
}

namespace {

QStringList g_warnings;
void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        g_warnings << message;
}

} // namespace

TEST_F(APIClientWire, AChunked401IsReadWholeOrFailsWithTheSizeLimit)
{
    // Qt hands a 401's body over only when the answer is done; past its read buffer it used to
    // be cut without a word.
    Reply large = Reply::json("{\"message\":\"" + QByteArray(1024 * 1024, 'a') + "\"}", 401);
    large.chunked = true;
    Reply huge = NetworkBounds::hugeBody(401, false);
    huge.chunked = true;
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarning);
    service.script("/api/me", large);
    Completion<MeResponse> whole;
    client().get<MeResponse>("me", QStringLiteral("tok"), {}, whole.handler());
    ASSERT_TRUE(whole.wait());
    // The same after a redirect within the origin.
    service.script("/api/moved", Reply::redirect("/api/me", 307));
    Completion<MeResponse> redirected;
    client().get<MeResponse>("moved", QStringLiteral("tok"), {}, redirected.handler());
    ASSERT_TRUE(redirected.wait());
    service.script("/api/me", huge);
    Completion<MeResponse> tooLarge;
    client().get<MeResponse>("me", QStringLiteral("tok"), {}, tooLarge.handler());
    ASSERT_TRUE(tooLarge.wait(60000));
    qInstallMessageHandler(previous);

    EXPECT_EQ(whole.result->error().code, 401);
    EXPECT_EQ(whole.result->error().localizedDescription, QString(1024 * 1024, u'a'));
    EXPECT_EQ(redirected.result->error().code, 401);
    EXPECT_EQ(redirected.result->error().localizedDescription, QString(1024 * 1024, u'a'));
    EXPECT_EQ(tooLarge.result->error().domain, APIErrors::kNetworkDomain);
    EXPECT_EQ(tooLarge.result->error().localizedDescription, "The server's answer is larger than 4 MiB; it was not read.");
    EXPECT_TRUE(g_warnings.isEmpty()) << g_warnings.join('\n').toStdString();
}

TEST_F(APIClientWire, ADeeplyNestedAnswerIsRejectedUnread)
{
    // Two million brackets: read as JSON they would hold the main thread for half a second.
    const QByteArray deep = "{\"user\":" + QByteArray(1024 * 1024, '[') + QByteArray(1024 * 1024, ']') + "}";
    service.script("/api/me", Reply::json(deep));
    Completion<MeResponse> done;
    client().get<MeResponse>("me", QStringLiteral("tok"), {}, done.handler());
    ASSERT_TRUE(done.wait());
    ASSERT_FALSE(done.result->succeeded());
    EXPECT_EQ(done.result->error().domain, APIErrors::kDecodingDomain);
    EXPECT_EQ(done.result->error().debugDescription, "The given data was nested more than 64 levels deep.");
    // Nesting up to the limit is read as before.
    const QByteArray nested = "{\"user\":{\"name\":\"A\",\"email\":\"a@b.co\"},\"x\":" + QByteArray(62, '[') + QByteArray(62, ']') + "}";
    service.script("/api/me", Reply::json(nested));
    Completion<MeResponse> fine;
    client().get<MeResponse>("me", QStringLiteral("tok"), {}, fine.handler());
    ASSERT_TRUE(fine.wait());
    EXPECT_TRUE(fine.result->succeeded()) << fine.result->error().debugDescription.toStdString();
}

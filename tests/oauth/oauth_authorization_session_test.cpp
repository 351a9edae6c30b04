// The browser step: presenting through a user agent, matching and resuming with the redirect,
// the state check, dismissal and exactly one callback.
#include "oauth/OAuthAuthorizationService.h"
#include "oauth/OAuthErrorUtilities.h"
#include "oauth/OAuthExternalUserAgentMac.h"
#include "platform/WebAuthenticationSession.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QUrl Redirect("com.example.app:/oauth2callback");

OAuthAuthorizationRequestPtr request(std::optional<QString> state = QString("s1"), QUrl redirect = Redirect)
{
    const auto config = std::make_shared<const OAuthServiceConfiguration>(QUrl("https://127.0.0.1:9/auth"),
                                                                          QUrl("https://127.0.0.1:9/token"));
    return std::make_shared<const OAuthAuthorizationRequest>(config, "cid", std::nullopt, QString("openid"), redirect,
                                                             "code", state, QString("n"), QString("v"), QString("c"),
                                                             QString("S256"), std::nullopt);
}

// A user agent of the test's own: answers as told and records dismissals.
struct ScriptedAgent : OAuthExternalUserAgent {
    bool answer = true;
    int presented = 0;
    int dismissed = 0;
    bool presentExternalUserAgentRequest(const OAuthAuthorizationRequestPtr&, const std::shared_ptr<OAuthAuthorizationSession>&) override
    {
        ++presented;
        return answer;
    }
    void dismissExternalUserAgentAnimated(bool, std::function<void()> completion) override
    {
        ++dismissed;
        completion();
    }
};

struct Result {
    int calls = 0;
    OAuthAuthorizationResponsePtr response;
    std::optional<DomainError> error;
};

std::shared_ptr<OAuthAuthorizationSession> present(const OAuthAuthorizationRequestPtr& r, std::shared_ptr<OAuthExternalUserAgent> agent,
                                                   std::shared_ptr<Result> result)
{
    return OAuthAuthorizationService::presentAuthorizationRequest(
        r, std::move(agent), [result](const OAuthAuthorizationResponsePtr& response, const std::optional<DomainError>& error) {
            ++result->calls;
            result->response = response;
            result->error = error;
        });
}

TEST(OAuthAuthorizationSession, RedirectMatching)
{
    struct Case { const char* url; const char* redirect; bool match; };
    const Case cases[] = {
        {"com.example.app:/oauth2callback?code=1", "com.example.app:/oauth2callback", true},
        {"COM.Example.App:/oauth2callback", "com.example.app:/oauth2callback", true},
        {"com.example.app:/a/../oauth2callback#frag", "com.example.app:/oauth2callback", true},
        {"com.example.app:/elsewhere", "com.example.app:/oauth2callback", false},
        {"com.example.app:/OAuth2Callback", "com.example.app:/oauth2callback", false},
        {"com.other.app:/oauth2callback", "com.example.app:/oauth2callback", false},
        {"https://127.0.0.1:8443/cb?x=1", "https://127.0.0.1:8443/cb", true},
        {"https://127.0.0.1:8444/cb", "https://127.0.0.1:8443/cb", false},
        {"https://127.0.0.2:8443/cb", "https://127.0.0.1:8443/cb", false},
        {"https://u@127.0.0.1:8443/cb", "https://127.0.0.1:8443/cb", false},
        {"https://u:p@h/cb", "https://u:q@h/cb", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OAuthAuthorizationSession::URLMatchesRedirectionURL(QUrl(c.url), QUrl(c.redirect)), c.match) << c.url;
}

TEST(OAuthAuthorizationSession, ResumesWithTheResponseOnce)
{
    auto agent = std::make_shared<ScriptedAgent>();
    auto result = std::make_shared<Result>();
    auto session = present(request(), agent, result);
    EXPECT_EQ(agent->presented, 1);
    EXPECT_EQ(result->calls, 0);

    DomainError error;
    EXPECT_TRUE(session->resumeExternalUserAgentFlowWithURL(QUrl("COM.example.app:/oauth2callback?code=4%2Fx&state=s1"), &error));
    EXPECT_EQ(agent->dismissed, 1);
    ASSERT_EQ(result->calls, 1);
    ASSERT_TRUE(result->response);
    EXPECT_FALSE(result->error);
    EXPECT_EQ(result->response->authorizationCode(), "4/x");

    // Delivered again: nothing is pending any more.
    EXPECT_FALSE(session->resumeExternalUserAgentFlowWithURL(QUrl("com.example.app:/oauth2callback?code=y&state=s1"), &error));
    EXPECT_EQ(error.code, -17);
    EXPECT_EQ(error.localizedDescription, "There is no pending authorization flow to resume.");
    session->failExternalUserAgentFlowWithError(DomainError("x", 1));
    EXPECT_EQ(result->calls, 1);
}

TEST(OAuthAuthorizationSession, MismatchedRedirectLeavesTheSessionPending)
{
    auto agent = std::make_shared<ScriptedAgent>();
    auto result = std::make_shared<Result>();
    auto session = present(request(), agent, result);
    DomainError error;
    EXPECT_FALSE(session->resumeExternalUserAgentFlowWithURL(QUrl("com.example.app:/elsewhere?code=1&state=s1"), &error));
    EXPECT_EQ(error.domain, OAuthGeneralErrorDomain);
    EXPECT_EQ(error.code, -16);
    EXPECT_EQ(error.localizedDescription, "URL does not match the expected redirect URI.");
    EXPECT_EQ(result->calls, 0);
    EXPECT_TRUE(session->isPending());
    EXPECT_FALSE(session->resumeExternalUserAgentFlowWithURL(QUrl("com.example.app:/elsewhere"))) << "no out-parameter";
}

TEST(OAuthAuthorizationSession, ErrorsAndStateChecks)
{
    struct Case {
        std::optional<QString> requestState;
        const char* redirect;
        QString domain; // empty: a response
        int code;
    };
    const Case cases[] = {
        {QString("s1"), "com.example.app:/oauth2callback?error=access_denied&state=s1", OAuthAuthorizationErrorDomain, -4},
        {QString("s1"), "com.example.app:/oauth2callback?error=invalid_scope&error_description=bad+scope", OAuthAuthorizationErrorDomain, -6},
        {QString("s1"), "com.example.app:/oauth2callback?code=c", OAuthAuthorizationErrorDomain, -61439},
        {QString("s1"), "com.example.app:/oauth2callback?code=c&state=s2", OAuthAuthorizationErrorDomain, -61439},
        {QString("s1"), "com.example.app:/oauth2callback?code=c&state=s1&state=s1", OAuthAuthorizationErrorDomain, -61439},
        {std::nullopt, "com.example.app:/oauth2callback?code=c&state=s1", OAuthAuthorizationErrorDomain, -61439},
        {std::nullopt, "com.example.app:/oauth2callback?code=c", QString(), 0},
        {QString("s 1"), "com.example.app:/oauth2callback?code=c&state=s+1", QString(), 0},
    };
    for (const Case& c : cases) {
        auto agent = std::make_shared<ScriptedAgent>();
        auto result = std::make_shared<Result>();
        auto session = present(request(c.requestState), agent, result);
        EXPECT_TRUE(session->resumeExternalUserAgentFlowWithURL(QUrl(c.redirect))) << c.redirect;
        ASSERT_EQ(result->calls, 1) << c.redirect;
        EXPECT_EQ(agent->dismissed, 1);
        if (c.domain.isEmpty()) {
            EXPECT_FALSE(result->error) << c.redirect;
            EXPECT_TRUE(result->response) << c.redirect;
            continue;
        }
        EXPECT_FALSE(result->response) << c.redirect;
        ASSERT_TRUE(result->error) << c.redirect;
        EXPECT_EQ(result->error->domain, c.domain) << c.redirect;
        EXPECT_EQ(result->error->code, c.code) << c.redirect;
        if (c.code == -61439) {
            EXPECT_TRUE(result->error->localizedDescription.startsWith(
                QStringLiteral("State mismatch, expecting %1 but got ").arg(c.requestState.value_or("(null)"))))
                << result->error->localizedDescription.toStdString();
            EXPECT_TRUE(result->error->localizedDescription.contains("in authorization response <OAuthAuthorizationResponse: "));
            EXPECT_FALSE(result->error->localizedDescription.contains("code=c")) << "the code is redacted";
            EXPECT_EQ(result->error->userInfo.value("code").toString(), "c");
        }
    }
}

TEST(OAuthAuthorizationSession, AgentThatCannotPresentGivesUnableToOpen)
{
    auto agent = std::make_shared<ScriptedAgent>();
    agent->answer = false;
    auto result = std::make_shared<Result>();
    auto session = present(request(), agent, result);
    ASSERT_EQ(result->calls, 1);
    EXPECT_EQ(result->error->code, -9);
    EXPECT_EQ(result->error->localizedDescription, "Unable to open Safari.");
    EXPECT_FALSE(session->isPending());
}

class DesktopAgent : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("KOVANI_BROWSER", "/bin/true");
        window.resize(400, 300);
        window.show();
    }
    QWidget window;
};

TEST_F(DesktopAgent, BusyAgentRefusesASecondRequest)
{
    auto agent = std::make_shared<OAuthExternalUserAgentMac>(&window);
    auto first = std::make_shared<Result>();
    auto second = std::make_shared<Result>();
    auto session1 = present(request(), agent, first);
    EXPECT_TRUE(agent->externalUserAgentFlowInProgress());
    EXPECT_FALSE(agent->prefersEphemeralSession());
    ASSERT_TRUE(agent->webAuthenticationSession());
    EXPECT_FALSE(agent->webAuthenticationSession()->prefersEphemeralWebBrowserSession());
    auto session2 = present(request(), agent, second);
    ASSERT_EQ(second->calls, 1);
    EXPECT_EQ(second->error->code, -9);
    EXPECT_EQ(second->error->localizedDescription, "Another sign-in is still waiting for the browser; finish or cancel it first.");
    EXPECT_EQ(first->calls, 0);
    EXPECT_TRUE(session1->isPending());

    EXPECT_TRUE(WebAuthenticationSession::deliverRedirect(QUrl("com.example.app:/oauth2callback?code=c&state=s1")));
    ASSERT_EQ(first->calls, 1);
    EXPECT_TRUE(first->response);
    EXPECT_FALSE(agent->externalUserAgentFlowInProgress());
    EXPECT_FALSE(WebAuthenticationSession::deliverRedirect(QUrl("com.example.app:/oauth2callback?code=c&state=s1")));
    EXPECT_EQ(first->calls, 1);
}

TEST_F(DesktopAgent, CancelEndsWithTheUserAgentError)
{
    auto result = std::make_shared<Result>();
    auto session = OAuthAuthorizationService::presentAuthorizationRequest(
        request(), &window, [result](const OAuthAuthorizationResponsePtr& r, const std::optional<DomainError>& e) {
            ++result->calls;
            result->response = r;
            result->error = e;
        });
    QDialog* panel = window.findChild<QDialog*>("webAuthenticationPanel");
    ASSERT_TRUE(panel);
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return panel->isVisible(); }));
    QPushButton* cancel = panel->findChild<QPushButton*>();
    ASSERT_TRUE(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_EQ(result->calls, 1);
    EXPECT_FALSE(result->response);
    EXPECT_EQ(result->error->domain, OAuthGeneralErrorDomain);
    EXPECT_EQ(result->error->code, -3);
    EXPECT_TRUE(result->error->localizedDescription.isEmpty());
    ASSERT_TRUE(result->error->underlying);
    EXPECT_EQ(result->error->underlying->domain, WebAuthenticationSession::ErrorDomain);
    EXPECT_EQ(result->error->underlying->code, WebAuthenticationSession::CanceledLogin);
    EXPECT_FALSE(WebAuthenticationSession::deliverRedirect(QUrl("com.example.app:/oauth2callback?code=c&state=s1")));
    EXPECT_EQ(result->calls, 1);
}

TEST_F(DesktopAgent, RedirectForAnotherPathEndsTheFlowWithMismatch)
{
    auto result = std::make_shared<Result>();
    auto session = present(request(), std::make_shared<OAuthExternalUserAgentMac>(&window), result);
    EXPECT_TRUE(WebAuthenticationSession::deliverRedirect(QUrl("com.example.app:/elsewhere?code=c&state=s1")));
    ASSERT_EQ(result->calls, 1);
    EXPECT_EQ(result->error->code, -16);
    EXPECT_EQ(result->error->localizedDescription, "URL does not match the expected redirect URI.");
    EXPECT_FALSE(session->isPending());
    EXPECT_FALSE(window.findChild<QDialog*>("webAuthenticationPanel") && window.findChild<QDialog*>("webAuthenticationPanel")->isVisible());
}

TEST_F(DesktopAgent, WithoutAWindowTheBrowserIsOpenedOrTheFlowFails)
{
    auto opened = std::make_shared<Result>();
    auto session = present(request(), std::make_shared<OAuthExternalUserAgentMac>(nullptr), opened);
    EXPECT_EQ(opened->calls, 0);
    EXPECT_TRUE(session->isPending());

    qputenv("KOVANI_BROWSER", "/nonexistent/browser");
    auto failed = std::make_shared<Result>();
    auto agent = std::make_shared<OAuthExternalUserAgentMac>(nullptr);
    present(request(), agent, failed);
    ASSERT_EQ(failed->calls, 1);
    EXPECT_EQ(failed->error->code, -10);
    EXPECT_EQ(failed->error->localizedDescription,
              "Could not open the sign-in page of " + request()->externalUserAgentRequestURL().host()
                  + " in the browser: /nonexistent/browser is not installed.");
    EXPECT_FALSE(agent->externalUserAgentFlowInProgress());

    // A browser that starts and fails ends the flow the same way, with its own reason.
    qputenv("KOVANI_BROWSER", "/bin/false");
    auto later = std::make_shared<Result>();
    auto lateAgent = std::make_shared<OAuthExternalUserAgentMac>(nullptr);
    auto lateSession = present(request(), lateAgent, later);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return later->calls > 0; }, 20000));
    EXPECT_EQ(later->calls, 1);
    EXPECT_EQ(later->error->code, -10);
    EXPECT_TRUE(later->error->localizedDescription.endsWith(" in the browser: false ended with status 1."))
        << later->error->localizedDescription.toStdString();
    EXPECT_FALSE(lateAgent->externalUserAgentFlowInProgress());
}

} // namespace

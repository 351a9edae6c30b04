// Whole authorizations through the desktop: the panel over the window, a scripted browser that
// fetches the authorization URL from a loopback HTTPS provider and starts the real executable
// with the redirect, the executable forwarding it over the instance channel, the token exchange
// against the same provider.
#include "app/SablewickhavenApp.h"
#include "platform/Dispatch.h"
#include "oauth/OAuthAuthorizationService.h"
#include "oauth/OAuthErrorUtilities.h"
#include "platform/InstanceChannel.h"
#include "platform/UrlSchemeHandler.h"
#include "platform/WebAuthenticationSession.h"
#include "support/OAuthProviderStandIn.h"
#include "support/ScriptedBrowser.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDialog>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString Executable = QStringLiteral(KOVANI_TEST_BINARY_DIR "/Kovani.app/Contents/MacOS/Kovani");
const QString ClientID = QStringLiteral("123-abc.apps.example");
const QUrl Redirect("com.example.apps.123-abc:/oauth2callback");

struct Flow {
    int calls = 0;
    OAuthAuthorizationResponsePtr response;
    std::optional<DomainError> error;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFileInfo(Executable).isExecutable()) << Executable.toStdString();
        ASSERT_TRUE(dir.isValid());
        browserLog = dir.filePath("browser.log");
        ScriptedBrowser::install(dir.path(), Executable, browserLog);

        ASSERT_EQ(channel.claim(), InstanceChannel::Claim::listening);
        SablewickhavenApp::connectInstanceChannel(channel, window);
        // Counted after the application's own handler has taken each command.
        QObject::connect(&channel, &InstanceChannel::commandReceived, &window, [this]() { ++commands; });
        window.resize(800, 600);
        window.show();
    }

    OAuthAuthorizationRequestPtr request()
    {
        const auto config = std::make_shared<const OAuthServiceConfiguration>(provider.authorizationEndpoint(),
                                                                              provider.tokenEndpoint());
        return OAuthAuthorizationRequest::create(config, ClientID, {"email", "profile"}, Redirect, "code",
                                                 QMap<QString, QString>{{"include_granted_scopes", "true"}});
    }

    std::shared_ptr<OAuthAuthorizationSession> present(const OAuthAuthorizationRequestPtr& r, std::shared_ptr<Flow> flow)
    {
        return OAuthAuthorizationService::presentAuthorizationRequest(
            r, &window, [flow](const OAuthAuthorizationResponsePtr& response, const std::optional<DomainError>& error) {
                ++flow->calls;
                flow->response = response;
                flow->error = error;
            });
    }

    QDialog* panel() { return window.findChild<QDialog*>("webAuthenticationPanel"); }

    int runExecutable(const QStringList& arguments)
    {
        QProcess process;
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(Executable, arguments);
        if (!process.waitForStarted(5000))
            return -1;
        if (!TestEnvironment::waitUntil([&] { return process.state() == QProcess::NotRunning; }, 15000)) {
            process.kill();
            process.waitForFinished(2000);
            return -2;
        }
        return process.exitCode();
    }

    OAuthProviderStandIn provider;
    QTemporaryDir dir;
    QString browserLog;
    QWidget window;
    InstanceChannel channel;
    int commands = 0;
};

TEST_F(EndToEnd, AuthorizesAndExchangesTheCode)
{
    auto flow = std::make_shared<Flow>();
    const auto r = request();
    auto session = present(r, flow);
    ASSERT_TRUE(panel());
    EXPECT_TRUE(panel()->isVisible());

    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return flow->calls > 0; }, 20000)) << TestFiles::readText(browserLog).toStdString();
    ASSERT_TRUE(Dispatch::drainForTesting());
    ASSERT_EQ(flow->calls, 1);
    ASSERT_FALSE(flow->error) << flow->error->localizedDescription.toStdString();
    ASSERT_TRUE(flow->response);
    EXPECT_TRUE(flow->response->authorizationCode()->startsWith("4/code-"));
    EXPECT_EQ(flow->response->state(), r->state());
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !panel() || !panel()->isVisible(); }));
    // The browser ends once the redirect it handed on has been taken.
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return TestFiles::readText(browserLog).contains("exit 0"); }))
        << TestFiles::readText(browserLog).toStdString();

    // The desktop entry in this test's XDG_DATA_HOME runs the executable with the redirect.
    const QString entry = TestFiles::readText(qEnvironmentVariable("XDG_DATA_HOME") + "/applications/" +
                                              UrlSchemeHandler::desktopFileName(Redirect.scheme()));
    EXPECT_TRUE(entry.contains("Exec=\"" + Executable + "\" --oauth-redirect %u")) << entry.toStdString();
    EXPECT_TRUE(entry.contains("MimeType=x-scheme-handler/" + Redirect.scheme() + ";"));

    // The request the provider saw carried PKCE, state and nonce.
    const auto authorize = provider.requests().first();
    EXPECT_TRUE(authorize.path.contains("code_challenge_method=S256"));
    EXPECT_TRUE(authorize.path.contains("nonce="));

    auto exchanged = std::make_shared<std::pair<int, OAuthTokenResponsePtr>>(0, nullptr);
    std::optional<DomainError> exchangeError;
    OAuthAuthorizationService::performTokenRequest(
        flow->response->tokenExchangeRequestWithAdditionalParameters(std::nullopt), flow->response,
        [&, exchanged](const OAuthTokenResponsePtr& response, const std::optional<DomainError>& error) {
            ++exchanged->first;
            exchanged->second = response;
            exchangeError = error;
        });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return exchanged->first > 0; }, 20000));
    ASSERT_FALSE(exchangeError) << exchangeError->localizedDescription.toStdString();
    ASSERT_TRUE(exchanged->second);
    EXPECT_TRUE(exchanged->second->idToken());
    EXPECT_EQ(provider.pkceVerified(), 1);

    // Forwarded again (as a second click on the link would): dropped, the flow heard once.
    const int before = commands;
    EXPECT_EQ(runExecutable({"--oauth-redirect", Redirect.toString() + "?code=again&state=" + *r->state()}), 0);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return commands == before + 1; }));
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(flow->calls, 1);
}

TEST_F(EndToEnd, CancelInThePanel)
{
    // A browser that never comes back.
    qputenv("KOVANI_BROWSER", "/bin/true");
    auto flow = std::make_shared<Flow>();
    auto session = present(request(), flow);
    ASSERT_TRUE(panel());
    QTest::mouseClick(panel()->findChild<QPushButton*>(), Qt::LeftButton);
    ASSERT_EQ(flow->calls, 1);
    EXPECT_EQ(flow->error->domain, OAuthGeneralErrorDomain);
    EXPECT_EQ(flow->error->code, -3);
    EXPECT_FALSE(flow->response);
}

TEST_F(EndToEnd, RedirectForAnotherPathEndsWithMismatch)
{
    provider.setAuthorization(OAuthProviderStandIn::Authorization::wrongPath);
    auto flow = std::make_shared<Flow>();
    auto session = present(request(), flow);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return flow->calls > 0; }, 20000)) << TestFiles::readText(browserLog).toStdString();
    EXPECT_EQ(flow->error->domain, OAuthGeneralErrorDomain);
    EXPECT_EQ(flow->error->code, -16);
    EXPECT_FALSE(flow->response);
    EXPECT_EQ(provider.tokenRequests(), 0);
}

TEST_F(EndToEnd, ProviderErrorsAndStateMismatch)
{
    const std::pair<OAuthProviderStandIn::Authorization, int> cases[] = {
        {OAuthProviderStandIn::Authorization::error, -4},
        {OAuthProviderStandIn::Authorization::wrongState, -61439},
        {OAuthProviderStandIn::Authorization::noState, -61439},
    };
    for (const auto& [answer, code] : cases) {
        provider.setAuthorization(answer);
        QFile::remove(browserLog);
        auto flow = std::make_shared<Flow>();
        auto session = present(request(), flow);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return flow->calls > 0; }, 20000)) << TestFiles::readText(browserLog).toStdString();
        EXPECT_EQ(flow->error->domain, OAuthAuthorizationErrorDomain) << code;
        EXPECT_EQ(flow->error->code, code);
        EXPECT_FALSE(flow->response);
    }
}

TEST_F(EndToEnd, ForwardedRedirectWithNoPendingFlowIsIgnored)
{
    EXPECT_EQ(runExecutable({"--oauth-redirect", Redirect.toString() + "?code=c&state=s"}), 0);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return commands == 1; }));
    // A later flow is not completed by it either.
    qputenv("KOVANI_BROWSER", "/bin/true");
    auto flow = std::make_shared<Flow>();
    auto session = present(request(), flow);
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(flow->calls, 0);
    EXPECT_TRUE(session->isPending());
    session->failExternalUserAgentFlowWithError(DomainError("test", 1));
}

TEST(SecondLaunchWithRedirect, WithoutARunningInstanceExitsAtOnce)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(Executable, {"--oauth-redirect", "com.example:/oauth2callback?code=c"});
    ASSERT_TRUE(process.waitForFinished(15000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().contains("No running Kovani is waiting for this sign-in."));
    // A redirect the channel cannot carry is refused before anything starts.
    process.start(Executable, {"--oauth-redirect", QString(20000, 'a')});
    ASSERT_TRUE(process.waitForFinished(15000));
    EXPECT_EQ(process.exitCode(), 1);
}

} // namespace

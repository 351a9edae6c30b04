// Whole Google sign-ins through the desktop: the controller presents the provider's page, a
// scripted browser fetches it from the loopback HTTPS provider and starts the real executable
// with the redirect, which forwards it over the instance channel; the code is exchanged, the
// profile read, and the session lands in a real keyring.
#include "app/SablewickhavenApp.h"
#include "platform/InstanceChannel.h"
#include "platform/Keychain.h"
#include "platform/WebAuthenticationSession.h"
#include "signin/SignInBundle.h"
#include "signin/SignInController.h"
#include "support/IdTokens.h"
#include "support/KeyringSession.h"
#include "support/OAuthProviderStandIn.h"
#include "support/ScriptedBrowser.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <future>

namespace {

using Reply = LoopbackHttpServer::Reply;
const QString Executable = QStringLiteral(KOVANI_TEST_BINARY_DIR "/Kovani.app/Contents/MacOS/Kovani");
const QString ClientID = QStringLiteral("123-abc.apps.example");
const QString ServerClientID = QStringLiteral("999-backend.apps.example");

struct Outcome {
    int calls = 0;
    std::optional<SignInResult> result;
    std::optional<DomainError> error;
};

class SignInRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(KeyringSession::active());
        ASSERT_TRUE(QFileInfo(Executable).isExecutable());
        TestCertificates::trustTestCA();
        ASSERT_FALSE(SignInBundle::write(dir.path() + "/Kovani.app", ClientID).isEmpty());
        browserLog = dir.filePath("browser.log");
        ScriptedBrowser::install(dir.path(), Executable, browserLog);
        ASSERT_EQ(channel.claim(), InstanceChannel::Claim::listening);
        SablewickhavenApp::connectInstanceChannel(channel, window);
        window.resize(800, 600);
        window.show();

        provider.server().setReply("/oauth2/v3/userinfo",
                                   Reply::json(R"({"sub":"1","name":"Ada Lovelace","given_name":"Ada","family_name":"Lovelace","picture":"https://images.test/ada.png","email":"other@example.com"})"));
    }

    std::unique_ptr<SignInController> controller(const std::optional<QString>& server = std::nullopt)
    {
        SignInController::Environment env = SignInController::Environment::standard();
        env.infoPlistPath = dir.path() + "/Kovani.app/Contents/Info.plist";
        env.userDefaultsFile = dir.path() + "/defaults.ini";
        const QString host = QStringLiteral("127.0.0.1:%1").arg(provider.server().port());
        env.preferences.googleAuthorizationServer = host;
        env.preferences.googleTokenServer = host;
        env.preferences.googleUserInfoServer = host;
        auto c = std::make_unique<SignInController>(env);
        c->setConfiguration(std::make_shared<const SignInConfiguration>(ClientID, server));
        return c;
    }

    std::shared_ptr<Outcome> signIn(SignInController& c)
    {
        auto outcome = std::make_shared<Outcome>();
        c.signInWithPresentingWindow(&window, [outcome](const std::optional<SignInResult>& r, const std::optional<DomainError>& e) {
            ++outcome->calls;
            outcome->result = r;
            outcome->error = e;
        });
        return outcome;
    }

    bool finished(const std::shared_ptr<Outcome>& outcome)
    {
        return TestEnvironment::waitUntil([&] { return outcome->calls > 0; }, 30000);
    }

    static Keychain::Status storedItem()
    {
        return std::async(std::launch::async, [] { return Keychain::readBlocking("auth", "OAuth").status; }).get();
    }

    QDialog* panel() { return window.findChild<QDialog*>("webAuthenticationPanel"); }

    OAuthProviderStandIn provider;
    QTemporaryDir dir;
    QString browserLog;
    QWidget window;
    InstanceChannel channel;
};

} // namespace

TEST_F(SignInRoad, SignsInWithTheProfileFromTheUserInformationEndpoint)
{
    provider.server().setReply("/oauth2/v3/userinfo", Reply{503, {{"Retry-After", "0"}}, {}});
    auto c = controller();
    auto outcome = signIn(*c);
    // Once the first user-information request has failed, the endpoint answers.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return provider.server().requestCount("/oauth2/v3/userinfo") >= 1; }, 30000))
        << TestFiles::readText(browserLog).toStdString();
    provider.server().setReply("/oauth2/v3/userinfo",
                               Reply::json(R"({"name":"Ada Lovelace","given_name":"Ada","family_name":"Lovelace","picture":"https://images.test/ada.png"})"));
    ASSERT_TRUE(finished(outcome)) << TestFiles::readText(browserLog).toStdString();
    ASSERT_EQ(outcome->calls, 1);
    ASSERT_FALSE(outcome->error) << outcome->error->domain.toStdString() << " " << outcome->error->code << " "
                                 << outcome->error->localizedDescription.toStdString();
    ASSERT_TRUE(outcome->result && outcome->result->user);
    const auto& user = outcome->result->user;
    ASSERT_TRUE(user->profile());
    EXPECT_EQ(user->profile()->name(), QStringLiteral("Ada Lovelace"));
    EXPECT_EQ(user->profile()->email(), QStringLiteral("ada@example.com")) << "from the ID token";
    ASSERT_TRUE(user->idToken());
    EXPECT_TRUE(user->accessToken()->tokenString()->startsWith("ya29.access-"));
    EXPECT_EQ(c->currentUser(), user);
    EXPECT_EQ(provider.server().requestCount("/oauth2/v3/userinfo"), 2) << "one 503, one answer";
    EXPECT_EQ(provider.pkceVerified(), 1);
    EXPECT_EQ(storedItem(), Keychain::Status::ok);

    // The provider saw the sign-in's own parameters.
    const QByteArray authorize = provider.requests().first().path;
    for (const char* part : {"scope=email%20profile", "include_granted_scopes=true", "gpsdk=kovani-signin-1.0.0",
                             "gidenv=macos", "code_challenge_method=S256", "nonce=", "state="})
        EXPECT_TRUE(authorize.contains(part)) << part << " in " << authorize.constData();
    EXPECT_FALSE(authorize.contains("audience="));

    c->signOut();
    bool idle = false;
    c->whenKeychainIdle([&] { idle = true; });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return idle; }, 10000));
    EXPECT_EQ(storedItem(), Keychain::Status::notFound);
}

TEST_F(SignInRoad, ServerClientIdIsTheAudienceAskedFor)
{
    provider.claims = [](const OAuthProviderStandIn::Grant& grant) {
        QJsonObject claims = IdTokens::validClaims("https://accounts.test", ServerClientID, grant.nonce);
        claims.insert("azp", grant.clientID);
        claims.insert("name", "Ada Lovelace");
        claims.insert("given_name", "Ada");
        claims.insert("family_name", "Lovelace");
        claims.insert("picture", "https://images.test/ada.png");
        return claims;
    };
    auto c = controller(ServerClientID);
    auto outcome = signIn(*c);
    ASSERT_TRUE(finished(outcome)) << TestFiles::readText(browserLog).toStdString();
    ASSERT_FALSE(outcome->error) << outcome->error->localizedDescription.toStdString();
    EXPECT_EQ(provider.server().requestCount("/oauth2/v3/userinfo"), 0) << "the ID token carried the profile";
    EXPECT_TRUE(provider.requests().first().path.contains("audience=" + ServerClientID.toUtf8()));
    bool tokenAudience = false;
    for (const auto& request : provider.requests())
        if (request.path.startsWith("/token"))
            tokenAudience = request.body.contains("audience=" + ServerClientID.toUtf8());
    EXPECT_TRUE(tokenAudience);
}

TEST_F(SignInRoad, CancelAndRefusalAreCancels)
{
    {
        qputenv("KOVANI_BROWSER", "/bin/true");
        auto c = controller();
        auto outcome = signIn(*c);
        ASSERT_TRUE(panel());
        QTest::mouseClick(panel()->findChild<QPushButton*>(), Qt::LeftButton);
        ASSERT_TRUE(finished(outcome));
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->domain, QStringLiteral("Kovani.SignIn"));
        EXPECT_EQ(outcome->error->code, -5);
        EXPECT_EQ(outcome->error->localizedDescription, QStringLiteral("The user canceled the sign-in flow."));
    }
    {
        qputenv("KOVANI_BROWSER", dir.filePath("browser.sh").toLocal8Bit());
        provider.setAuthorization(OAuthProviderStandIn::Authorization::error, "access_denied");
        auto c = controller();
        auto outcome = signIn(*c);
        ASSERT_TRUE(finished(outcome)) << TestFiles::readText(browserLog).toStdString();
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->code, -5);
        EXPECT_EQ(provider.tokenRequests(), 0);
    }
    EXPECT_EQ(storedItem(), Keychain::Status::notFound);
}

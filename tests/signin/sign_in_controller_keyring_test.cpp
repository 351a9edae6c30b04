// The sign-in controller with a real keyring, a real HTTPS user-information stand-in and the
// fetcher; the browser step and the code exchange answer as the provider would.
#include "account/GoogleSignOut.h"
#include "oauth/OAuthURLQueryComponent.h"
#include "platform/Dispatch.h"
#include "platform/Keychain.h"
#include "platform/UserDefaults.h"
#include "signin/SignInBundle.h"
#include "signin/SignInController.h"
#include "signin/SignInFixtures.h"
#include "support/KeyringSession.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <future>

namespace {

using Reply = LoopbackHttpServer::Reply;
const QString kClientID = QStringLiteral("123-abc.apps.example.com");

template <typename F>
auto onWorker(F work)
{
    return std::async(std::launch::async, work).get();
}

Keychain::Status storedItem()
{
    return onWorker([] { return Keychain::readBlocking(QStringLiteral("auth"), QStringLiteral("OAuth")).status; });
}

QString profileToken(bool complete)
{
    QJsonObject claims = IdTokens::validClaims("https://accounts.test", kClientID);
    claims.insert("name", "Ada Lovelace");
    claims.insert("given_name", "Ada");
    claims.insert("picture", "https://images.test/ada.png");
    if (complete)
        claims.insert("family_name", "Lovelace");
    return IdTokens::make(claims);
}

struct Outcome {
    int calls = 0;
    std::optional<SignInResult> result;
    std::optional<DomainError> error;
};

class SignInControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestCertificates::trustTestCA();
        bundleResources = SignInBundle::write(dir.path() + "/Kovani.app", kClientID);
        ASSERT_FALSE(bundleResources.isEmpty());
        userInfo.setReply("/oauth2/v3/userinfo",
                          Reply{200, {{"Content-Type", "application/json"}},
                                R"({"name":"Ada From Userinfo","given_name":"Ada","family_name":"L","picture":"https://images.test/a.png"})"});
        tokenReply = {{"access_token", "ya29.access"}, {"expires_in", 3599}, {"token_type", "Bearer"},
                      {"refresh_token", "1//refresh"}, {"id_token", profileToken(true)}};
    }

    SignInController::Environment environment(const QString& itemName = QStringLiteral("auth"))
    {
        SignInController::Environment env;
        env.infoPlistPath = dir.path() + "/Kovani.app/Contents/Info.plist";
        env.userDefaultsFile = dir.path() + "/defaults.ini";
        env.preferences.googleAuthorizationServer = "accounts.test";
        env.preferences.googleTokenServer = "oauth2.test";
        env.preferences.googleUserInfoServer = QStringLiteral("127.0.0.1:%1").arg(userInfo.port());
        env.keychainStore = std::make_shared<KeychainStore>(itemName, KeychainAttributes{KeychainAttribute::useFileBasedKeychain()});
        env.presentAuthorizationRequest = [this](OAuthAuthorizationRequestPtr request, QWidget* window,
                                                 SignInController::AuthorizationCallback callback) {
            presented.append(request);
            presentedOn = window;
            Dispatch::main([this, request, callback]() {
                if (browserError) {
                    callback(nullptr, browserError);
                    return;
                }
                QJsonObject parameters = redirect;
                if (!parameters.contains("state") && request->state())
                    parameters.insert("state", *request->state());
                callback(std::make_shared<const OAuthAuthorizationResponse>(request, parameters), std::nullopt);
            });
            return std::make_shared<int>(1);
        };
        env.performTokenRequest = [this](OAuthTokenRequestPtr request, OAuthAuthorizationResponsePtr,
                                         SignInController::TokenCallback callback) {
            tokenRequests.append(request);
            Dispatch::main([this, request, callback]() {
                if (tokenError)
                    callback(nullptr, tokenError);
                else
                    callback(std::make_shared<const OAuthTokenResponse>(request, tokenReply), std::nullopt);
            });
        };
        return env;
    }

    std::shared_ptr<Outcome> signIn(SignInController& controller, QWidget* window)
    {
        auto outcome = std::make_shared<Outcome>();
        controller.signInWithPresentingWindow(window, [outcome](const std::optional<SignInResult>& result,
                                                                const std::optional<DomainError>& error) {
            ++outcome->calls;
            outcome->result = result;
            outcome->error = error;
        });
        EXPECT_EQ(outcome->calls, 0);
        return outcome;
    }

    bool finished(const std::shared_ptr<Outcome>& outcome)
    {
        return TestEnvironment::waitUntil([&]() { return outcome->calls > 0; }, 15000);
    }

    std::shared_ptr<SignInController> configured(const std::optional<QString>& server = std::nullopt,
                                                 const QString& itemName = QStringLiteral("auth"))
    {
        auto controller = std::make_shared<SignInController>(environment(itemName));
        controller->setConfiguration(std::make_shared<const SignInConfiguration>(kClientID, server));
        return controller;
    }

    QTemporaryDir dir;
    QString bundleResources;
    LoopbackHttpServer userInfo{LoopbackHttpServer::Mode::https};
    QWidget window;
    QList<OAuthAuthorizationRequestPtr> presented;
    QWidget* presentedOn = nullptr;
    QList<OAuthTokenRequestPtr> tokenRequests;
    QJsonObject redirect{{"code", "4/c0de"}};
    std::optional<DomainError> browserError;
    std::optional<DomainError> tokenError;
    QJsonObject tokenReply;
};

} // namespace

TEST_F(SignInControllerTest, PreconditionsStopBeforeAnythingIsShown)
{
    struct Case {
        const char* what;
        std::function<void(SignInController&, QWidget*&)> arrange;
        QString message;
    } cases[] = {
        {"no configuration", [](SignInController& c, QWidget*&) { c.setConfiguration(nullptr); },
         "No active configuration. Make sure SignInClientID is set in Info.plist."},
        {"empty client ID", [](SignInController& c, QWidget*&) { c.setConfiguration(std::make_shared<const SignInConfiguration>(QString())); },
         "You must specify |clientID| in |SignInConfiguration|"},
        {"no window", [](SignInController&, QWidget*& w) { w = nullptr; }, "|presentingViewController| must be set."},
        {"scheme not registered",
         [](SignInController& c, QWidget*&) { c.setConfiguration(std::make_shared<const SignInConfiguration>(QStringLiteral("9-Z.other.test"))); },
         "Your app is missing support for the following URL schemes: test.other.9-z"},
    };
    for (const Case& c : cases) {
        auto controller = configured();
        QWidget* w = &window;
        c.arrange(*controller, w);
        bool called = false;
        try {
            controller->signInWithPresentingWindow(w, [&](const auto&, const auto&) { called = true; });
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const SignInException& e) {
            EXPECT_EQ(e.reason(), c.message) << c.what;
        }
        ASSERT_TRUE(Dispatch::drainForTesting()) << c.what;
        EXPECT_FALSE(called) << c.what;
        EXPECT_TRUE(presented.isEmpty()) << c.what;
    }
}

TEST_F(SignInControllerTest, AuthorizationAndTokenRequestsCarryTheParameters)
{
    for (const std::optional<QString>& server : {std::optional<QString>(), std::optional<QString>("srv.apps.example.com")}) {
        presented.clear();
        tokenRequests.clear();
        auto controller = configured(server);
        auto outcome = signIn(*controller, &window);
        ASSERT_TRUE(finished(outcome));
        ASSERT_EQ(presented.size(), 1);
        EXPECT_EQ(presentedOn, &window);
        const QJsonObject query = OAuthURLQueryComponent(presented[0]->authorizationRequestURL()).dictionaryValue();
        const QUrl url = presented[0]->authorizationRequestURL();
        EXPECT_EQ(url.scheme() + "://" + url.host() + url.path(), QStringLiteral("https://accounts.test/o/oauth2/v2/auth"));
        EXPECT_EQ(query["scope"].toString(), QStringLiteral("email profile"));
        EXPECT_EQ(query["response_type"].toString(), QStringLiteral("code"));
        EXPECT_EQ(query["client_id"].toString(), kClientID);
        EXPECT_EQ(query["redirect_uri"].toString(), QStringLiteral("com.example.apps.123-abc:/oauth2callback"));
        EXPECT_EQ(query["include_granted_scopes"].toString(), QStringLiteral("true"));
        EXPECT_EQ(query["gpsdk"].toString(), QStringLiteral("kovani-signin-1.0.0"));
        EXPECT_EQ(query["gidenv"].toString(), QStringLiteral("macos"));
        EXPECT_EQ(query["code_challenge_method"].toString(), QStringLiteral("S256"));
        EXPECT_FALSE(query["code_challenge"].toString().isEmpty());
        EXPECT_FALSE(query["state"].toString().isEmpty());
        EXPECT_FALSE(query["nonce"].toString().isEmpty());
        EXPECT_FALSE(query.contains("code_verifier"));
        EXPECT_EQ(query.contains("audience"), server.has_value());
        if (server)
            EXPECT_EQ(query["audience"].toString(), *server);

        ASSERT_EQ(tokenRequests.size(), 1);
        const auto extra = tokenRequests[0]->additionalParameters().value_or(OAuthTokenRequest::StringMap());
        EXPECT_EQ(extra.value("gpsdk"), QStringLiteral("kovani-signin-1.0.0"));
        EXPECT_EQ(extra.value("gidenv"), QStringLiteral("macos"));
        EXPECT_EQ(extra.contains("audience"), server.has_value());
        EXPECT_EQ(tokenRequests[0]->authorizationCode(), QStringLiteral("4/c0de"));
        EXPECT_EQ(tokenRequests[0]->codeVerifier(), presented[0]->codeVerifier());
    }
}

TEST_F(SignInControllerTest, BrowserStepFailuresAreMapped)
{
    struct Case {
        const char* what;
        std::optional<DomainError> error;
        QJsonObject redirectParameters;
        int code;
        QString description;
    } cases[] = {
        {"user closed the page", DomainError("Kovani.OAuth.general", -3), {}, -5, "The user canceled the sign-in flow."},
        {"access_denied on the redirect", DomainError("Kovani.OAuth.oauth_authorization", -4, "access_denied"), {}, -5,
         "The user canceled the sign-in flow."},
        {"unauthorized_client", DomainError("Kovani.OAuth.oauth_authorization", -3, "unauthorized_client"), {}, -5,
         "The user canceled the sign-in flow."},
        {"browser did not open", DomainError("Kovani.OAuth.general", -10, "Unable to open the browser."), {}, -1,
         "Unable to open the browser."},
        {"no code, access_denied", std::nullopt, {{"error", "access_denied"}}, -5, "access_denied"},
        {"no code, server_error", std::nullopt, {{"error", "server_error"}}, -1, "server_error"},
        {"no code, nothing", std::nullopt, {{"other", "x"}}, -1, "Unknown error"},
    };
    for (const Case& c : cases) {
        browserError = c.error;
        redirect = c.redirectParameters;
        tokenRequests.clear();
        auto controller = configured();
        auto outcome = signIn(*controller, &window);
        ASSERT_TRUE(finished(outcome)) << c.what;
        EXPECT_EQ(outcome->calls, 1);
        ASSERT_TRUE(outcome->error) << c.what;
        EXPECT_EQ(outcome->error->domain, QStringLiteral("Kovani.SignIn")) << c.what;
        EXPECT_EQ(outcome->error->code, c.code) << c.what;
        EXPECT_EQ(outcome->error->localizedDescription, c.description) << c.what;
        EXPECT_TRUE(tokenRequests.isEmpty()) << c.what;
        EXPECT_FALSE(controller->currentUser());
    }
}

TEST_F(SignInControllerTest, TokenExchangeErrorsPassThrough)
{
    tokenError = DomainError("Kovani.OAuth.general", -15, "Audience mismatch");
    auto controller = configured();
    auto outcome = signIn(*controller, &window);
    ASSERT_TRUE(finished(outcome));
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("Kovani.OAuth.general"));
    EXPECT_EQ(outcome->error->code, -15);
    EXPECT_EQ(userInfo.requests().size(), 0);
    EXPECT_EQ(storedItem(), Keychain::Status::notFound);
}

TEST_F(SignInControllerTest, ProfileFromTheIdTokenSavesTheSessionAndMakesTheUser)
{
    tokenReply.insert("server_code", "4/server");
    auto controller = configured();
    auto outcome = signIn(*controller, &window);
    ASSERT_TRUE(finished(outcome));
    ASSERT_FALSE(outcome->error) << qPrintable(outcome->error->localizedDescription);
    ASSERT_TRUE(outcome->result && outcome->result->user);
    EXPECT_EQ(outcome->result->user, controller->currentUser());
    EXPECT_EQ(outcome->result->serverAuthCode, QStringLiteral("4/server"));
    const auto& user = outcome->result->user;
    ASSERT_TRUE(user->profile());
    EXPECT_EQ(user->profile()->name(), QStringLiteral("Ada Lovelace"));
    EXPECT_EQ(user->profile()->email(), QStringLiteral("ada@example.com"));
    EXPECT_EQ(user->profile()->imageURL(), QUrl("https://images.test/ada.png"));
    EXPECT_EQ(user->idToken()->tokenString(), tokenReply["id_token"].toString());
    EXPECT_EQ(userInfo.requests().size(), 0) << "the ID token had the whole profile";
    EXPECT_EQ(storedItem(), Keychain::Status::ok);

    controller->signOut();
    EXPECT_FALSE(controller->currentUser());
    bool idle = false;
    controller->whenKeychainIdle([&] { idle = true; });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return idle; }, 10000));
    EXPECT_EQ(storedItem(), Keychain::Status::notFound);
}

TEST_F(SignInControllerTest, ProfileFromTheUserInformationEndpointAfterOne503)
{
    tokenReply["id_token"] = profileToken(false); // no "family_name"
    int served = 0;
    userInfo.setHandler([&served](const LoopbackHttpServer::Request&) -> std::optional<Reply> {
        if (served++ == 0)
            return Reply{503, {{"Retry-After", "0"}}, {}};
        return std::nullopt;
    });
    auto controller = configured();
    auto outcome = signIn(*controller, &window);
    ASSERT_TRUE(finished(outcome));
    ASSERT_FALSE(outcome->error) << qPrintable(outcome->error->localizedDescription);
    const auto& profile = outcome->result->user->profile();
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->name(), QStringLiteral("Ada From Userinfo"));
    EXPECT_EQ(profile->familyName(), QStringLiteral("L"));
    EXPECT_EQ(profile->email(), QStringLiteral("ada@example.com")) << "the e-mail comes from the ID token";
    const auto requests = userInfo.requests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[1].method, QByteArray("GET"));
    EXPECT_EQ(requests[1].path, QByteArray("/oauth2/v3/userinfo?access_token=ya29.access"));
    EXPECT_TRUE(requests[1].header("Authorization").isEmpty());
}

TEST_F(SignInControllerTest, UserInformationThatIsNotJsonOrFails)
{
    tokenReply["id_token"] = profileToken(false);
    {
        userInfo.setReply("/oauth2/v3/userinfo", Reply::text("<html>hello</html>"));
        auto controller = configured();
        auto outcome = signIn(*controller, &window);
        ASSERT_TRUE(finished(outcome));
        EXPECT_FALSE(outcome->error);
        ASSERT_TRUE(outcome->result);
        EXPECT_FALSE(outcome->result->user->profile());
    }
    {
        userInfo.setReply("/oauth2/v3/userinfo", Reply{404, {{"Content-Type", "text/plain"}}, "nope"});
        auto controller = configured();
        auto outcome = signIn(*controller, &window);
        ASSERT_TRUE(finished(outcome));
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->domain, QStringLiteral("Kovani.HTTPStatus"));
        EXPECT_EQ(outcome->error->code, 404);
        EXPECT_FALSE(controller->currentUser());
    }
}

TEST_F(SignInControllerTest, KeychainSaveFailureIsTheKeychainError)
{
    auto controller = configured(std::nullopt, QString()); // an item without a name cannot be stored
    auto outcome = signIn(*controller, &window);
    ASSERT_TRUE(finished(outcome));
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->domain, QStringLiteral("Kovani.SignIn"));
    EXPECT_EQ(outcome->error->code, -2);
    EXPECT_EQ(outcome->error->localizedDescription, QStringLiteral("keychain error"));
    EXPECT_FALSE(controller->currentUser());
}

TEST_F(SignInControllerTest, FirstCreationAfterInstallationDeletesAStoredSession)
{
    ASSERT_EQ(onWorker([] { return Keychain::writeBlocking("auth", "OAuth", "left over").status; }), Keychain::Status::ok);
    {
        SignInController first(environment());
        bool idle = false;
        first.whenKeychainIdle([&] { idle = true; });
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return idle; }, 10000));
    }
    EXPECT_EQ(storedItem(), Keychain::Status::notFound);
    UserDefaults defaults(dir.path() + "/defaults.ini");
    EXPECT_TRUE(defaults.boolean("SignIn_AppHasRunBefore"));
    EXPECT_TRUE(defaults.boolean("SignIn_DataProtectedMigrationCheckPerformed"));

    ASSERT_EQ(onWorker([] { return Keychain::writeBlocking("auth", "OAuth", "kept").status; }), Keychain::Status::ok);
    SignInController second(environment());
    bool idle = false;
    second.whenKeychainIdle([&] { idle = true; });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return idle; }, 10000));
    EXPECT_EQ(storedItem(), Keychain::Status::ok);

    // Sign-out without a user still deletes the item.
    second.signOut();
    idle = false;
    second.whenKeychainIdle([&] { idle = true; });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return idle; }, 10000));
    EXPECT_EQ(storedItem(), Keychain::Status::notFound);
}

TEST_F(SignInControllerTest, ConfigurationFromTheInformationDictionary)
{
    const QString plist = dir.path() + "/Info2.plist";
    QFile file(plist);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<plist><dict><key>SignInClientID</key><string>a.b</string><key>SignInServerClientID</key><integer>3</integer>"
               "<key>SignInHostedDomain</key><string>example.com</string></dict></plist>");
    file.close();
    auto env = environment();
    env.infoPlistPath = plist;
    SignInController controller(env);
    ASSERT_TRUE(controller.configuration());
    EXPECT_EQ(controller.configuration()->clientID(), QStringLiteral("a.b"));
    EXPECT_FALSE(controller.configuration()->serverClientID());
    EXPECT_EQ(controller.configuration()->hostedDomain(), QStringLiteral("example.com"));
    EXPECT_FALSE(SignInController(environment()).configuration()) << "the generated Info.plist names no client";
}

TEST_F(SignInControllerTest, AccountSignOutSignsOutOfGoogle)
{
    SignInController& shared = SignInController::sharedInstance();
    bool idle = false;
    shared.whenKeychainIdle([&] { idle = true; }); // the first-run clean-up is done
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return idle; }, 10000));
    ASSERT_EQ(onWorker([] { return Keychain::writeBlocking("auth", "OAuth", "session").status; }), Keychain::Status::ok);
    GoogleSignOut::signOut();
    idle = false;
    shared.whenKeychainIdle([&] { idle = true; });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return idle; }, 10000));
    EXPECT_EQ(storedItem(), Keychain::Status::notFound);
}

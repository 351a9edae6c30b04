// "Continue with Google" from the login sheet in the window: the configuration of the bundle,
// the sign-in through the desktop against the provider stand-in, the application's token check,
// the account service's "auth/google" (its stand-in), the stored session, and logout.
#include "account/LoginSheet.h"
#include "platform/Dispatch.h"
#include "account/UserPage.h"
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/ElidedLabel.h"
#include "app/Footer.h"
#include "app/SablewickhavenApp.h"
#include "app/StatusPill.h"
#include "platform/InstanceChannel.h"
#include "platform/Text.h"
#include "platform/Keychain.h"
#include "platform/WebAuthenticationSession.h"
#include "signin/SignInBundle.h"
#include "signin/SignInController.h"
#include "support/AccountServiceStandIn.h"
#include "support/IdTokens.h"
#include "support/KeyringSession.h"
#include "support/NetworkBounds.h"
#include "support/OAuthProviderStandIn.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
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
const QString MissingText = QStringLiteral("GoogleService-Info.plist is missing CLIENT_ID / REVERSED_CLIENT_ID. "
                                           "Download the iOS OAuth plist for bundle %1.");

Keychain::Status item(const char* service, const char* account)
{
    return std::async(std::launch::async, [=] { return Keychain::readBlocking(service, account).status; }).get();
}

QByteArray authReply(const QString& name, const QString& email)
{
    return QJsonDocument(QJsonObject{{"token_type", "Bearer"},
                                     {"access_token", "kv-session-token"},
                                     {"user", QJsonObject{{"id", 7}, {"name", name}, {"email", email}}}})
        .toJson(QJsonDocument::Compact);
}

// Everything a sign-in from the window needs. The bundle (its Info.plist and
// GoogleService-Info.plist) is generated for `clientId` and, when given, `serverClientId`.
class GoogleSignIn : public ::testing::Test {
protected:
    void makeWorld(const QString& clientId = ClientID, const QString& serverClientId = QString())
    {
        ASSERT_TRUE(KeyringSession::active());
        TestCertificates::trustTestCA();
        resources = SignInBundle::write(dir.path() + "/Kovani.app", clientId, serverClientId);
        ASSERT_FALSE(resources.isEmpty());
        QProcess::execute("cp", {"-a", QStringLiteral(KOVANI_TEST_RESOURCES_DIR "/default-site"), resources + "/"});
        // The shared controller reads this bundle and talks to the stand-in provider.
        qputenv("KOVANI_RESOURCES_DIR", resources.toLocal8Bit());
        const QByteArray host = "127.0.0.1:" + QByteArray::number(provider.server().port());
        qputenv("KOVANI_GOOGLE_AUTHORIZATION_SERVER", host);
        qputenv("KOVANI_GOOGLE_TOKEN_SERVER", host);
        qputenv("KOVANI_GOOGLE_USERINFO_SERVER", host);

        browserLog = dir.filePath("browser.log");
        const QString script = dir.filePath("browser.sh");
        TestFiles::writeFile(script,
                             "#!/bin/sh\n"
                             "exec >>'" + browserLog.toUtf8() + "' 2>&1\n"
                             "location=$(curl -sS --cacert '" + TestCertificates::trusted().caFile.toUtf8() +
                                 "' -o /dev/null -D - \"$1\" | tr -d '\\r' | sed -n 's/^[Ll]ocation: //p')\n"
                             "'" + Executable.toUtf8() + "' --oauth-redirect \"$location\"\n");
        QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
        qputenv("KOVANI_BROWSER", script.toLocal8Bit());
        WebAuthenticationSession::setHandlerExecutable(Executable);

        t = std::make_unique<TestEnvironment::TestPlatform>(TestEnvironment::makePlatform(dir.path() + "/root"));
        t->platform.resourcesDir = resources;
        t->platform.accountApiBaseURL = service.baseURL();
        view = std::make_unique<ContentView>(t->platform);
        QDir().mkpath(model().config().phpMyAdminRoot);
        ASSERT_EQ(channel.claim(), InstanceChannel::Claim::listening);
        SablewickhavenApp::connectInstanceChannel(channel, *view);
        view->resize(1120, 760);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        view->setSection(AppSection::dravix);
        QObject::connect(&model(), &AppModel::statusMessageChanged, &model(), [this] { statuses << model().statusMessage(); });

        service.script("/api/auth/google", Reply::json(authReply("Ada Lovelace", "ada@example.com")));
        provider.claims = [this](const OAuthProviderStandIn::Grant& grant) { return claimsFor(grant); };
    }

    QJsonObject claimsFor(const OAuthProviderStandIn::Grant& grant) const
    {
        QJsonObject claims = IdTokens::validClaims(provider.issuer(), audience.isEmpty() ? grant.clientID : audience, grant.nonce);
        claims.insert("azp", grant.clientID);
        if (withProfile) {
            claims.insert("name", "Ada Lovelace");
            claims.insert("given_name", "Ada");
            claims.insert("family_name", "Lovelace");
            claims.insert("picture", "https://images.test/ada.png");
        }
        return claims;
    }

    AppModel& model() { return view->model(); }
    UserPage* page() { return qobject_cast<UserPage*>(view->page()); }
    LoginSheet* sheet() { return qobject_cast<LoginSheet*>(view->presentedSheet(SheetKind::login)); }
    QString footer() { return view->footer()->status()->text(); }
    bool waitForFooter(const QString& text, int ms = 30000)
    {
        return TestEnvironment::waitUntil([&] { return footer() == text; }, ms);
    }
    void clickGoogle()
    {
        QTest::mouseClick(page()->loginButton(), Qt::LeftButton);
        ASSERT_TRUE(sheet());
        QPushButton* google = sheet()->googleButton();
        ASSERT_TRUE(google && google->isVisible());
        EXPECT_EQ(google->accessibleName(), QStringLiteral("Continue with Google"));
        QTest::mouseClick(google, Qt::LeftButton);
    }
    QDialog* panel() { return view->findChild<QDialog*>("webAuthenticationPanel"); }

    OAuthProviderStandIn provider;
    AccountServiceStandIn service;
    QTemporaryDir dir;
    QString resources;
    QString browserLog;
    std::unique_ptr<TestEnvironment::TestPlatform> t;
    std::unique_ptr<ContentView> view;
    InstanceChannel channel;
    QStringList statuses;
    QString audience;
    bool withProfile = true;
};

} // namespace

TEST_F(GoogleSignIn, FromTheLoginSheetToTheSignedInUserPageAndLogout)
{
    makeWorld();
    clickGoogle();
    EXPECT_EQ(footer(), QStringLiteral("Opening Google login..."));
    ASSERT_TRUE(waitForFooter("Signed in with Google.")) << footer().toStdString() << "\n"
                                                         << TestFiles::readText(browserLog).toStdString();
    // (applyAuth's phpMyAdmin start reports on the same line in between.)
    ASSERT_GE(statuses.size(), 3);
    EXPECT_EQ(statuses.mid(0, 2), (QStringList{"Opening Google login...", "Signing in with backend..."}));
    EXPECT_EQ(statuses.last(), QStringLiteral("Signed in with Google."));

    const auto requests = service.requestsTo("/api/auth/google");
    ASSERT_EQ(requests.size(), 1);
    const QJsonObject body = QJsonDocument::fromJson(requests[0].body).object();
    EXPECT_EQ(body.keys(), (QStringList{"app_id", "device_id", "id_token", "name", "platform"}));
    EXPECT_EQ(body["id_token"].toString().count('.'), 2);
    EXPECT_EQ(body["device_id"].toString(), model().deviceId());
    EXPECT_EQ(body["platform"].toString(), QStringLiteral("macos"));
    EXPECT_EQ(body["app_id"].toString(), APIClient::bundleIdentifier());
    EXPECT_EQ(body["name"].toString(), QStringLiteral("Ada Lovelace"));
    EXPECT_TRUE(requests[0].header("Authorization").isEmpty());

    ASSERT_TRUE(model().config().user);
    EXPECT_EQ(model().config().user->provider, QStringLiteral("google"));
    EXPECT_EQ(model().config().user->email, QStringLiteral("ada@example.com"));
    ASSERT_TRUE(page()->providerPill());
    EXPECT_EQ(page()->providerPill()->text(), QStringLiteral("Google"));
    EXPECT_EQ(page()->passwordButton()->text(), QStringLiteral("Setup Password"));
    EXPECT_TRUE(TestEnvironment::waitUntil([] { return item("Kovani", "access_token") == Keychain::Status::ok; }, 10000));
    EXPECT_TRUE(TestEnvironment::waitUntil([] { return item("auth", "OAuth") == Keychain::Status::ok; }, 10000));
    EXPECT_FALSE(footer().contains(body["id_token"].toString()));

    // Logout removes both keychain items.
    model().logout();
    EXPECT_TRUE(TestEnvironment::waitUntil([] { return item("auth", "OAuth") == Keychain::Status::notFound; }, 10000));
    EXPECT_TRUE(TestEnvironment::waitUntil([] { return item("Kovani", "access_token") == Keychain::Status::notFound; }, 10000));
    EXPECT_FALSE(SignInController::sharedInstance().currentUser());
}

TEST_F(GoogleSignIn, ServerClientIdIsTheAudienceAndAProfileWithoutNameSendsNoName)
{
    audience = ServerClientID;
    withProfile = false; // the user-information endpoint answers without a name
    provider.server().setReply("/oauth2/v3/userinfo", Reply::json(R"({"given_name":"Ada"})"));
    makeWorld(ClientID, ServerClientID);
    clickGoogle();
    ASSERT_TRUE(waitForFooter("Signed in with Google.")) << footer().toStdString();
    const QJsonObject body = QJsonDocument::fromJson(service.requestsTo("/api/auth/google").value(0).body).object();
    EXPECT_FALSE(body.contains("name"));
    EXPECT_TRUE(provider.requests().first().path.contains("audience=" + ServerClientID.toUtf8()));
}

TEST_F(GoogleSignIn, AnAudienceOtherThanTheConfiguredOneIsRefused)
{
    // The provider makes the token for the client, the build expects the back end's audience.
    makeWorld(ClientID, ServerClientID);
    clickGoogle();
    ASSERT_TRUE(waitForFooter("Google token audience does not match the configured backend client ID."))
        << footer().toStdString();
    EXPECT_TRUE(service.requestsTo("/api/auth/google").isEmpty());
    EXPECT_FALSE(model().config().user);
}

TEST_F(GoogleSignIn, TheAccountServiceRefusesTheToken)
{
    makeWorld();
    service.script("/api/auth/google", Reply::json(R"({"message":"This Google account is not allowed."})", 422));
    clickGoogle();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return footer().startsWith("Google API error: "); }, 30000))
        << footer().toStdString();
    EXPECT_FALSE(model().config().user);
    EXPECT_TRUE(SignInController::sharedInstance().currentUser()) << "the Google user stays";
}

TEST_F(GoogleSignIn, CancelInThePanel)
{
    makeWorld();
    qputenv("KOVANI_BROWSER", "/bin/true");
    clickGoogle();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return panel() && panel()->isVisible(); }, 5000));
    QTest::mouseClick(panel()->findChild<QPushButton*>(), Qt::LeftButton);
    ASSERT_TRUE(waitForFooter("Google login was cancelled."));
    EXPECT_EQ(provider.tokenRequests(), 0);
}

TEST_F(GoogleSignIn, WithoutABrowserTheFooterSaysWhatAndWhy)
{
    makeWorld();
    TestEnvironment::NoDesktopHandlers nothing;
    TestEnvironment::ScopedEnvironment browser;
    const QString start = QStringLiteral("Google sign-in error (-1): Could not open the sign-in page of 127.0.0.1 in the browser: ");
    const struct {
        std::optional<QByteArray> browser; // KOVANI_BROWSER; none: the desktop's default handler
        QString reason;
    } cases[] = {
        {std::nullopt, QStringLiteral("no application is set up to open it (xdg-open exit status 3).")},
        {QByteArray("/nonexistent/browser"), QStringLiteral("/nonexistent/browser is not installed.")},
        {QByteArray("/bin/false"), QStringLiteral("false ended with status 1.")},
    };
    for (const auto& c : cases) {
        browser.set("KOVANI_BROWSER", c.browser);
        model().setStatusMessage("Ready");
        clickGoogle();
        EXPECT_TRUE(waitForFooter(start + c.reason, 20000)) << footer().toStdString();
        EXPECT_FALSE(panel() && panel()->isVisible());
    }
    EXPECT_EQ(provider.tokenRequests(), 0);
}

TEST_F(GoogleSignIn, ConfigurationFailuresShowTheirTextAndNoPage)
{
    makeWorld();
    const QString plist = resources + "/GoogleService-Info.plist";
    const QByteArray cases[] = {
        QByteArray(), // no file at all
        "not a property list",
        "<plist><array><string>x</string></array></plist>",
        "<plist><dict><key>CLIENT_ID</key><integer>1</integer><key>REVERSED_CLIENT_ID</key><string>a</string></dict></plist>",
    };
    for (const QByteArray& content : cases) {
        QFile::remove(plist);
        if (!content.isNull())
            TestFiles::writeFile(plist, content);
        model().setStatusMessage("Ready");
        model().continueWithGoogle();
        EXPECT_EQ(model().statusMessage(), MissingText.arg(APIClient::bundleIdentifier())) << content.constData();
        EXPECT_FALSE(panel() && panel()->isVisible());
    }
    EXPECT_EQ(provider.authorizationRequests(), 0);
}

TEST_F(GoogleSignIn, PackagingFaultsOfTheControllerAreReported)
{
    makeWorld();
    // The resources name another client than the one whose scheme the bundle registers.
    TestFiles::writeFile(resources + "/GoogleService-Info.plist",
                         "<plist><dict><key>CLIENT_ID</key><string>9-z.other.example</string>"
                         "<key>REVERSED_CLIENT_ID</key><string>example.other.9-z</string></dict></plist>");
    const auto user = model().config().user;
    model().continueWithGoogle();
    EXPECT_EQ(model().statusMessage(),
              QStringLiteral("Google sign-in error: Your app is missing support for the following URL schemes: example.other.9-z"));
    EXPECT_FALSE(panel() && panel()->isVisible());
    EXPECT_EQ(model().config().user.has_value(), user.has_value());
    EXPECT_EQ(provider.authorizationRequests(), 0);
}

TEST_F(GoogleSignIn, NoWindowToPresentOver)
{
    makeWorld();
    view->hide();
    for (QWidget* w : QApplication::topLevelWidgets())
        w->hide();
    model().continueWithGoogle();
    EXPECT_EQ(model().statusMessage(),
              QStringLiteral("Google login could not find the Kovani window. Close and reopen the login form."));
}

TEST_F(GoogleSignIn, ProviderFailuresEndInOneStatusText)
{
    makeWorld();
    // Without an ID token the profile comes from the user-information endpoint.
    provider.server().setReply("/oauth2/v3/userinfo", Reply::json(R"({"name":"Ada"})"));
    provider.setToken(OAuthProviderStandIn::Token::tokensWithoutIdToken);
    clickGoogle();
    ASSERT_TRUE(waitForFooter("Google sign-in did not return an ID token. Check the OAuth client configuration in Google Cloud."))
        << footer().toStdString();

    provider.setToken(OAuthProviderStandIn::Token::status500);
    model().continueWithGoogle();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return footer().startsWith("Google sign-in error (-6): "); }, 30000))
        << footer().toStdString();
    EXPECT_FALSE(footer().contains("code=")) << footer().toStdString();
    EXPECT_TRUE(service.requestsTo("/api/auth/google").isEmpty());
    EXPECT_FALSE(model().config().user);
}

TEST_F(GoogleSignIn, HugeAndEndlessProviderAnswersEndTheSignInWithAShortLine)
{
    makeWorld();
    const QString tooLarge = QStringLiteral("The server's answer is larger than 4 MiB; it was not read.");
    // Only the slow answer gets a deadline short enough to wait for; a huge one must be cut off by
    // its size, however slowly a busy machine streams it.
    const struct {
        const char* name;
        OAuthProviderStandIn::Token token;
        Reply userInfo;
        int deadlineMs;
        QString start;
        QString end;
    } cases[] = {
        {"token endpoint, 100 MB", OAuthProviderStandIn::Token::hugeError400, Reply::json("{}"), 60000,
         QStringLiteral("Google sign-in error (-5): Connection error making token request to '"), tooLarge + u'.'},
        {"user information, 100 MB", OAuthProviderStandIn::Token::tokensWithoutIdToken, NetworkBounds::hugeBody(200, false),
         60000, QStringLiteral("Google sign-in error (-1103): ") + tooLarge, QString()},
        {"user information, a byte at a time", OAuthProviderStandIn::Token::tokensWithoutIdToken,
         NetworkBounds::trickled(R"({"name":"Ada"})"), 1500,
         QStringLiteral("Google sign-in error (-1001): The server did not finish its answer within 1.5 seconds."), QString()},
    };
    for (const auto& c : cases) {
        ScopedNetworkLimits limits({Network::Limits().maxBodyBytes, c.deadlineMs});
        provider.setToken(c.token);
        provider.server().setReply("/oauth2/v3/userinfo", c.userInfo);
        model().setStatusMessage(QStringLiteral("Ready"));
        model().continueWithGoogle();
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return footer().startsWith("Google sign-in error"); }, 60000))
            << c.name << ": " << footer().toStdString();
        if (c.end.isEmpty())
            EXPECT_EQ(footer(), c.start) << c.name;
        else
            EXPECT_TRUE(footer().startsWith(c.start) && footer().endsWith(c.end)) << c.name << ": " << footer().toStdString();
        EXPECT_LE(footer().size(), Text::kStatusLineLimit) << c.name;
        EXPECT_FALSE(model().config().user) << c.name;
        EXPECT_TRUE(service.requestsTo("/api/auth/google").isEmpty()) << c.name;
    }
}

TEST_F(GoogleSignIn, SignedInPageLooks)
{
    makeWorld();
    clickGoogle();
    ASSERT_TRUE(waitForFooter("Signed in with Google.")) << footer().toStdString();
    ASSERT_TRUE(Dispatch::drainForTesting());
    QString shots = qEnvironmentVariable("KOVANI_SCREENSHOT_DIR");
    if (shots.isEmpty())
        shots = dir.path();
    EXPECT_TRUE(view->grab().save(shots + "/google-signed-in.png"));
}

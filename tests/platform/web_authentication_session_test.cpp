// The desktop web-authentication session: the scheme handler it registers, the browser it runs,
// the panel over the window, cancel, and which forwarded redirects it takes.
#include "platform/UrlSchemeHandler.h"
#include "platform/WebAuthenticationSession.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDialog>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Completed {
    int calls = 0;
    std::optional<QUrl> url;
    std::optional<DomainError> error;
};

class WebAuthentication : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // The "browser" records its arguments, one per line.
        browserLog = dir.filePath("browser.log");
        const QString script = dir.filePath("browser.sh");
        TestFiles::writeFile(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + browserLog.toUtf8() + "'\n");
        QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
        qputenv("KOVANI_BROWSER", script.toLocal8Bit());
        WebAuthenticationSession::setHandlerExecutable("/opt/Kovani Test/Kovani.app/Contents/MacOS/Kovani");
        window.resize(500, 400);
        window.show();
    }
    void TearDown() override { UrlSchemeHandler::resetXdgMimeForTesting(); }

    std::unique_ptr<WebAuthenticationSession> make(const QString& scheme, std::shared_ptr<Completed> done,
                                                   const QUrl& url = QUrl("https://accounts.example:8443/o/oauth2/v2/auth?a=1&b=x%20y"))
    {
        auto session = std::make_unique<WebAuthenticationSession>(
            url, scheme, [done](const std::optional<QUrl>& u, const std::optional<DomainError>& e) {
                ++done->calls;
                done->url = u;
                done->error = e;
            });
        session->setPresentationAnchor(&window);
        return session;
    }

    QString desktopFile(const QString& scheme) const
    {
        return qEnvironmentVariable("XDG_DATA_HOME") + "/applications/" + UrlSchemeHandler::desktopFileName(scheme);
    }
    QString mimeapps() const { return qEnvironmentVariable("XDG_CONFIG_HOME") + "/mimeapps.list"; }

    QTemporaryDir dir;
    QString browserLog;
    QWidget window;
};

TEST_F(WebAuthentication, StartOpensTheBrowserShowsThePanelAndRegistersTheScheme)
{
    auto done = std::make_shared<Completed>();
    auto session = make("com.example.App", done);
    ASSERT_TRUE(session->start());
    EXPECT_TRUE(session->isPending());
    EXPECT_FALSE(session->start()) << "a session starts once";

    // The browser got the URL as its one argument.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return QFile::exists(browserLog) && !TestFiles::readText(browserLog).isEmpty(); }));
    EXPECT_EQ(TestFiles::readText(browserLog), "https://accounts.example:8443/o/oauth2/v2/auth?a=1&b=x%20y\n");

    QDialog* panel = session->panel();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->parentWidget(), &window);
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(panel->windowTitle(), "Continue in your browser");
    auto* host = panel->findChild<QLabel*>("webAuthenticationHost");
    ASSERT_TRUE(host);
    EXPECT_TRUE(host->text().contains("accounts.example"));
    EXPECT_EQ(host->textFormat(), Qt::PlainText);
    auto* cancel = panel->findChild<QPushButton*>();
    ASSERT_TRUE(cancel);
    EXPECT_EQ(cancel->accessibleName(), "Cancel");
    if (const QString shots = qEnvironmentVariable("KOVANI_SCREENSHOT_DIR"); !shots.isEmpty())
        panel->grab().save(shots + "/web_authentication_panel.png");

    // The desktop entry runs this program with the redirect, and is the scheme's default handler.
    const QString entry = TestFiles::readText(desktopFile("com.example.app"));
    EXPECT_TRUE(entry.contains("MimeType=x-scheme-handler/com.example.app;\n"));
    EXPECT_TRUE(entry.contains("Exec=\"/opt/Kovani Test/Kovani.app/Contents/MacOS/Kovani\" --oauth-redirect %u\n"));
    const QString validate = QStandardPaths::findExecutable("desktop-file-validate");
    if (!validate.isEmpty()) {
        QProcess process;
        process.start(validate, {desktopFile("com.example.app")});
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardOutput().toStdString();
    }
    EXPECT_EQ(UrlSchemeHandler::defaultHandlerIn(TestFiles::readBytes(mimeapps()), "com.example.app"),
              "kovani-url-com.example.app.desktop");

    // Only a redirect of its own scheme (letter case aside) completes it, once.
    EXPECT_FALSE(WebAuthenticationSession::deliverRedirect(QUrl("com.other.app:/oauth2callback?code=1")));
    EXPECT_EQ(done->calls, 0);
    EXPECT_TRUE(WebAuthenticationSession::deliverRedirect(QUrl("COM.EXAMPLE.APP:/oauth2callback?code=1")));
    ASSERT_EQ(done->calls, 1);
    EXPECT_EQ(done->url, QUrl("COM.EXAMPLE.APP:/oauth2callback?code=1"));
    EXPECT_FALSE(done->error);
    EXPECT_FALSE(session->isPending());
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !session->panel(); }));
    EXPECT_FALSE(WebAuthenticationSession::deliverRedirect(QUrl("com.example.app:/oauth2callback?code=2")));
    session->cancel();
    EXPECT_EQ(done->calls, 1);
}

TEST_F(WebAuthentication, CancelEscapeAndCloseAllCancel)
{
    for (int how = 0; how < 3; ++how) {
        auto done = std::make_shared<Completed>();
        auto session = make("com.example.app", done);
        ASSERT_TRUE(session->start());
        QDialog* panel = session->panel();
        ASSERT_TRUE(panel);
        if (how == 0)
            QTest::mouseClick(panel->findChild<QPushButton*>(), Qt::LeftButton);
        else if (how == 1)
            QTest::keyClick(panel, Qt::Key_Escape);
        else
            panel->close();
        ASSERT_EQ(done->calls, 1) << how;
        EXPECT_FALSE(done->url);
        ASSERT_TRUE(done->error);
        EXPECT_EQ(done->error->domain, WebAuthenticationSession::ErrorDomain);
        EXPECT_EQ(done->error->code, WebAuthenticationSession::CanceledLogin);
        EXPECT_FALSE(WebAuthenticationSession::deliverRedirect(QUrl("com.example.app:/oauth2callback")));
    }
    // cancel() from the program does the same.
    auto done = std::make_shared<Completed>();
    auto session = make("com.example.app", done);
    ASSERT_TRUE(session->start());
    session->cancel();
    session->cancel();
    EXPECT_EQ(done->calls, 1);
    EXPECT_EQ(done->error->code, WebAuthenticationSession::CanceledLogin);
}

TEST_F(WebAuthentication, APanelThatGoesWithItsWindowCancels)
{
    // The flow never stays pending without a panel to end it.
    auto sheet = std::make_unique<QWidget>(&window, Qt::Dialog);
    sheet->show();
    auto done = std::make_shared<Completed>();
    auto session = make("com.example.app", done);
    session->setPresentationAnchor(sheet.get());
    ASSERT_TRUE(session->start());
    ASSERT_TRUE(session->panel());
    sheet.reset();
    EXPECT_FALSE(session->panel());
    ASSERT_EQ(done->calls, 1);
    ASSERT_TRUE(done->error);
    EXPECT_EQ(done->error->code, WebAuthenticationSession::CanceledLogin);
    EXPECT_FALSE(session->isPending());
    EXPECT_FALSE(WebAuthenticationSession::deliverRedirect(QUrl("com.example.app:/oauth2callback")));
}

TEST_F(WebAuthentication, StartRefuses)
{
    auto done = std::make_shared<Completed>();
    auto noAnchor = make("com.example.app", done);
    noAnchor->setPresentationAnchor(nullptr);
    EXPECT_FALSE(noAnchor->start());
    for (const char* scheme : {"", "1abc", "with space", "a/b", "caf\xc3\xa9"})
        EXPECT_FALSE(make(QString::fromUtf8(scheme), done)->start()) << scheme;
    qputenv("KOVANI_BROWSER", "/nonexistent/browser");
    auto noBrowser = make("com.example.app", done);
    EXPECT_FALSE(noBrowser->start());
    EXPECT_EQ(noBrowser->startFailure(),
              "Could not open the sign-in page of accounts.example in the browser: /nonexistent/browser is not installed.");
    EXPECT_FALSE(noBrowser->isPending());
    EXPECT_FALSE(noBrowser->panel());
    EXPECT_FALSE(WebAuthenticationSession::deliverRedirect(QUrl("com.example.app:/oauth2callback")));
    EXPECT_EQ(done->calls, 0);
}

TEST_F(WebAuthentication, ABrowserThatFailsEndsTheSessionWithItsReason)
{
    TestEnvironment::NoDesktopHandlers nothing;
    TestEnvironment::ScopedEnvironment browser;
    const struct {
        std::optional<QByteArray> browser; // none: the desktop's default handler
        QString reason;
    } cases[] = {
        {QByteArray("/bin/false"), "false ended with status 1"},
        {std::nullopt, "no application is set up to open it (xdg-open exit status 3)"},
    };
    for (const auto& c : cases) {
        browser.set("KOVANI_BROWSER", c.browser);
        auto done = std::make_shared<Completed>();
        auto session = make("com.example.app", done);
        ASSERT_TRUE(session->start());
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return done->calls > 0; }, 20000));
        EXPECT_EQ(done->calls, 1);
        EXPECT_FALSE(done->url);
        ASSERT_TRUE(done->error);
        EXPECT_EQ(done->error->domain, WebAuthenticationSession::ErrorDomain);
        EXPECT_EQ(done->error->code, WebAuthenticationSession::BrowserNotOpened);
        EXPECT_EQ(done->error->localizedDescription,
                  "Could not open the sign-in page of accounts.example in the browser: " + c.reason + ".");
        EXPECT_FALSE(session->isPending());
        EXPECT_FALSE(session->panel() && session->panel()->isVisible());
    }
}

TEST_F(WebAuthentication, WithoutXdgMimeTheListIsWrittenKeepingItsLines)
{
    UrlSchemeHandler::setXdgMimeForTesting(QString());
    TestFiles::writeFile(mimeapps(), "[Added Associations]\ntext/html=firefox.desktop;\n\n"
                                     "[Default Applications]\nx-scheme-handler/com.example.app=old.desktop;\n"
                                     "x-scheme-handler/https=firefox.desktop\n\n[Removed Associations]\nimage/png=gimp.desktop;\n");
    auto done = std::make_shared<Completed>();
    auto session = make("com.example.app", done);
    ASSERT_TRUE(session->start());
    EXPECT_EQ(TestFiles::readText(mimeapps()),
              "[Added Associations]\ntext/html=firefox.desktop;\n\n"
              "[Default Applications]\nx-scheme-handler/com.example.app=kovani-url-com.example.app.desktop;\n"
              "x-scheme-handler/https=firefox.desktop\n\n[Removed Associations]\nimage/png=gimp.desktop;\n");
    session->cancel();

    // No list yet, and a list without the section.
    QFile::remove(mimeapps());
    ASSERT_TRUE(UrlSchemeHandler::registerScheme("x.y", "/usr/bin/kovani"));
    EXPECT_EQ(TestFiles::readText(mimeapps()), "[Default Applications]\nx-scheme-handler/x.y=kovani-url-x.y.desktop;\n");
    TestFiles::writeFile(mimeapps(), "[Added Associations]\na/b=c.desktop;\n");
    ASSERT_TRUE(UrlSchemeHandler::registerScheme("x.y", "/usr/bin/kovani"));
    EXPECT_EQ(TestFiles::readText(mimeapps()),
              "[Added Associations]\na/b=c.desktop;\n\n[Default Applications]\nx-scheme-handler/x.y=kovani-url-x.y.desktop;\n");
}

TEST(UrlSchemeHandler, ExecLineQuotesAndEscapes)
{
    struct Case { const char* path; const char* exec; };
    const Case cases[] = {
        {"/usr/bin/kovani", "\"/usr/bin/kovani\" --oauth-redirect %u"},
        {"/opt/My Apps/kovani", "\"/opt/My Apps/kovani\" --oauth-redirect %u"},
        {"/opt/a\"b$c`d\\e", "\"/opt/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e\" --oauth-redirect %u"},
        {"/opt/100%/kovani", "\"/opt/100%%/kovani\" --oauth-redirect %u"},
        {"/opt/new\nline", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UrlSchemeHandler::execLine(QString::fromUtf8(c.path)), QString::fromUtf8(c.exec)) << c.path;
    EXPECT_FALSE(UrlSchemeHandler::registerScheme("x.y", "relative/kovani"));
    EXPECT_FALSE(UrlSchemeHandler::registerScheme("x.y", "/opt/new\nline"));
}

} // namespace

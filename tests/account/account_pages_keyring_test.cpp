// The user page and the login sheet in the window, driven like a user would, against the
// account service stand-in and a real keyring. Screenshots go to $KOVANI_SCREENSHOT_DIR.
#include "account/AccountTestKit.h"
#include "platform/Dispatch.h"
#include "support/Screenshots.h"
#include "support/TestFiles.h"
#include "account/LoginSheet.h"
#include "account/UserPage.h"
#include "app/ContentView.h"
#include "app/ElidedLabel.h"
#include "app/Footer.h"
#include "app/PasswordField.h"
#include "app/StatusPill.h"
#include "app/Theme.h"

#include <QGroupBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace AccountTestKit;

namespace {

using Screenshots::save;

struct Window {
    QTemporaryDir dir;
    TestEnvironment::TestPlatform t;
    AccountServiceStandIn service;
    std::unique_ptr<ContentView> view;

    Window()
        : t(TestEnvironment::makePlatform(dir.path()))
    {
        t.platform.accountApiBaseURL = service.baseURL();
        view = std::make_unique<ContentView>(t.platform);
        QDir().mkpath(model().config().phpMyAdminRoot);
        view->resize(1120, 760);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        view->setSection(AppSection::dravix);
    }
    AppModel& model() { return view->model(); }
    UserPage* page() { return qobject_cast<UserPage*>(view->page()); }
    LoginSheet* sheet() { return qobject_cast<LoginSheet*>(view->presentedSheet(SheetKind::login)); }
    QString footer() { return view->footer()->status()->text(); }
    bool waitForFooter(const QString& text)
    {
        const bool seen = TestEnvironment::waitUntil([&] { return footer() == text; }, 20000);
        // Widgets the same change added to the page appear on a posted event.
        QCoreApplication::processEvents();
        return seen;
    }
    void signIn(const UserProfile& user)
    {
        model().modifyConfig([&](AppConfig& c) { c.user = user; });
    }
    LoginSheet* openSheet()
    {
        QTest::mouseClick(page()->loginButton(), Qt::LeftButton);
        return sheet();
    }
};

void type(QLineEdit* field, const QString& text)
{
    field->setFocus();
    QTest::keyClicks(field, text);
}

void click(QPushButton* button)
{
    ASSERT_TRUE(button);
    ASSERT_TRUE(button->isVisible()) << button->text().toStdString();
    ASSERT_TRUE(button->isEnabled()) << button->text().toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList buttonTexts(QWidget* root)
{
    QCoreApplication::processEvents(); // widgets added to a shown layout appear on a posted event
    QStringList texts;
    for (QPushButton* b : root->findChildren<QPushButton*>())
        if (b->isVisible()) {
            EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
            EXPECT_EQ(b->accessibleName(), b->text());
            texts << b->text();
        }
    return texts;
}

} // namespace

TEST(AccountPages, RegisterFromTheGuestPageUpdateChangePasswordAndLogout)
{
    Window w;
    ASSERT_TRUE(w.page());
    ASSERT_TRUE(w.page()->guestBox());
    EXPECT_EQ(w.page()->guestBox()->title(), "Guest");
    EXPECT_TRUE(w.page()->findChild<QLabel*>() != nullptr);
    save(*w.view, "account-guest-page");

    LoginSheet* sheet = w.openSheet();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(w.view->showLogin());
    EXPECT_EQ(sheet->titleLabel()->text(), "Login");
    EXPECT_FALSE(sheet->nameField()->isVisible());
    EXPECT_EQ(sheet->width(), Theme::points(520));
    EXPECT_EQ(buttonTexts(sheet), (QStringList{"New here? Register", "Forgot Password", "Continue with Google", "Cancel", "Login"}));
    save(*sheet, "account-login-sheet-login");

    click(sheet->switchButton());
    EXPECT_EQ(sheet->titleLabel()->text(), "Create Account");
    EXPECT_TRUE(sheet->nameField()->isVisible());
    EXPECT_FALSE(sheet->forgotButton()->isVisible());
    EXPECT_EQ(buttonTexts(sheet), (QStringList{"Have an account? Login", "Continue with Google", "Cancel", "Register"}));
    type(sheet->nameField(), "Ada Lovelace");
    type(sheet->emailField(), "ada@example.test");
    type(sheet->passwordField()->lineEdit(), kStrongPassword);
    save(*sheet, "account-login-sheet-register");
    click(sheet->confirmButton());

    // Closed at once, without waiting for the reply.
    EXPECT_FALSE(w.view->showLogin());
    ASSERT_TRUE(w.waitForFooter("Account created.")) << w.footer().toStdString();
    ASSERT_TRUE(w.page()->profileBox());
    EXPECT_EQ(w.page()->profileBox()->title(), "Profile");
    EXPECT_EQ(w.page()->nameLabel()->text(), "Ada Lovelace");
    EXPECT_EQ(w.page()->emailLabel()->text(), "ada@example.test");
    EXPECT_EQ(w.page()->providerPill()->text(), "Email");
    EXPECT_EQ(w.page()->nameField()->text(), "Ada Lovelace");
    EXPECT_EQ(w.page()->emailField()->text(), "ada@example.test");
    EXPECT_EQ(w.page()->currentPasswordField()->placeholder(), "Current password");
    EXPECT_EQ(w.page()->newPasswordField()->placeholder(), "New password");
    EXPECT_EQ(w.page()->newPasswordField()->maximumWidth(), Theme::points(190));
    EXPECT_EQ(buttonTexts(w.page()).mid(0, 3), (QStringList{"Update Profile", "Change Password", "Logout"}));
    EXPECT_TRUE(w.service.hasUser("ada@example.test"));
    save(*w.view, "account-signed-in-page");

    // Update Profile sends the typed name.
    w.page()->nameField()->selectAll();
    type(w.page()->nameField(), "Ada King");
    click(w.page()->updateButton());
    ASSERT_TRUE(w.waitForFooter("Profile updated."));
    EXPECT_EQ(w.service.nameOf("ada@example.test"), "Ada King");
    EXPECT_EQ(w.page()->nameLabel()->text(), "Ada King");
    EXPECT_EQ(w.page()->nameField()->text(), "Ada King");

    // With both fields emptied the stored values go out.
    w.page()->nameField()->clear();
    w.page()->emailField()->clear();
    click(w.page()->updateButton());
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return w.service.requestsTo("/api/me").size() == 2; }, 10000));
    EXPECT_EQ(w.service.requestsTo("/api/me")[1].body, "{\"name\":\"Ada King\"}");
    ASSERT_TRUE(w.waitForFooter("Profile updated."));

    // Change Password empties both fields at once. The update emptied the stored hash, so the
    // service checks the current password.
    type(w.page()->currentPasswordField()->lineEdit(), kStrongPassword);
    type(w.page()->newPasswordField()->lineEdit(), "brand-new-pw");
    click(w.page()->passwordButton());
    EXPECT_EQ(w.page()->currentPasswordField()->text(), "");
    EXPECT_EQ(w.page()->newPasswordField()->text(), "");
    ASSERT_TRUE(w.waitForFooter("Password changed."));
    EXPECT_EQ(w.service.passwordOf("ada@example.test"), "brand-new-pw");

    click(w.page()->logoutButton());
    EXPECT_EQ(w.footer(), "Signed out.");
    ASSERT_TRUE(w.page()->guestBox());
    EXPECT_FALSE(w.page()->profileBox());
    EXPECT_EQ(keychain().status, Keychain::Status::notFound);
}

TEST(AccountPages, TheSheetClosesOnConfirmAndOpensAfresh)
{
    Window w;
    LoginSheet* sheet = w.openSheet();
    ASSERT_TRUE(sheet);
    type(sheet->emailField(), "not-an-email");
    type(sheet->passwordField()->lineEdit(), "whatever");
    click(sheet->confirmButton());
    EXPECT_FALSE(w.view->showLogin());
    EXPECT_EQ(w.footer(), "Email is not valid.");

    sheet = w.openSheet();
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(sheet->isRegister());
    EXPECT_EQ(sheet->emailField()->text(), "");
    EXPECT_EQ(sheet->passwordField()->text(), "");

    // The name survives switching modes while hidden.
    click(sheet->switchButton());
    type(sheet->nameField(), "Grace");
    click(sheet->switchButton());
    EXPECT_FALSE(sheet->nameField()->isVisible());
    click(sheet->switchButton());
    EXPECT_TRUE(sheet->nameField()->isVisible());
    EXPECT_EQ(sheet->nameField()->text(), "Grace");

    click(sheet->cancelButton());
    EXPECT_FALSE(w.view->showLogin());
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_TRUE(w.service.server().requests().isEmpty());
}

TEST(AccountPages, RegisteringWithoutANameUsesTheEmailsLocalPart)
{
    EXPECT_EQ(LoginSheet::nameToSend("", "grace.h@example.test"), "grace.h");
    EXPECT_EQ(LoginSheet::nameToSend("", "no-at-sign"), "no-at-sign");
    EXPECT_EQ(LoginSheet::nameToSend("  ", "a@b.co"), "  ");

    Window w;
    LoginSheet* sheet = w.openSheet();
    click(sheet->switchButton());
    type(sheet->emailField(), "grace.h@example.test");
    type(sheet->passwordField()->lineEdit(), kStrongPassword);
    click(sheet->confirmButton());
    ASSERT_TRUE(w.waitForFooter("Account created."));
    const auto sent = w.service.requestsTo("/api/auth/register");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(QJsonDocument::fromJson(sent[0].body).object().value("name").toString(), "grace.h");
    EXPECT_EQ(w.page()->nameLabel()->text(), "grace.h");
}

TEST(AccountPages, ForgotPasswordKeepsTheSheetAndShowsTheReplyAsPlainText)
{
    Window w;
    LoginSheet* sheet = w.openSheet();
    type(sheet->emailField(), "  ada@example.test ");
    click(sheet->forgotButton());
    EXPECT_TRUE(w.view->showLogin());
    EXPECT_EQ(w.footer(), "Sending password reset email...");
    ASSERT_TRUE(w.waitForFooter(AccountServiceStandIn::resetMessage()));
    // Markup in the service's text is shown as typed.
    for (QLabel* label : w.view->footer()->findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(w.sheet(), sheet);
    click(sheet->googleButton());
    EXPECT_FALSE(w.view->showLogin());
}

TEST(AccountPages, SetUpModeForAGoogleUserWithoutAPassword)
{
    Window w;
    const QString token = w.service.addUser("Linh Tran", "linh@example.test", "whatever");
    w.signIn(profile("Linh Tran", "linh@example.test", "google", "", token));
    ASSERT_TRUE(w.page()->profileBox());
    EXPECT_EQ(w.page()->providerPill()->text(), "Google");
    EXPECT_FALSE(w.page()->currentPasswordField());
    EXPECT_EQ(w.page()->newPasswordField()->placeholder(), "Password");
    EXPECT_EQ(w.page()->passwordButton()->text(), "Setup Password");
    save(*w.view, "account-signed-in-google-setup");

    type(w.page()->newPasswordField()->lineEdit(), "first-password");
    click(w.page()->passwordButton());
    ASSERT_TRUE(w.waitForFooter("Password set up."));
    ASSERT_TRUE(w.page()->currentPasswordField());
    EXPECT_EQ(w.page()->currentPasswordField()->placeholder(), "Current password");
    EXPECT_EQ(w.page()->newPasswordField()->placeholder(), "New password");
    EXPECT_EQ(w.page()->passwordButton()->text(), "Change Password");
    EXPECT_EQ(w.page()->providerPill()->text(), "Email");

    // A refused change still empties both fields.
    type(w.page()->currentPasswordField()->lineEdit(), "wrong");
    type(w.page()->newPasswordField()->lineEdit(), "second-password");
    click(w.page()->passwordButton());
    EXPECT_EQ(w.footer(), "Current password is incorrect.");
    EXPECT_EQ(w.page()->currentPasswordField()->text(), "");
    EXPECT_EQ(w.page()->newPasswordField()->text(), "");
}

TEST(AccountPages, ProviderPillAndPlainTextProfile)
{
    Window w;
    w.signIn(profile("<b>Eve</b>", "eve@example.test", "apple", "", ""));
    EXPECT_EQ(w.page()->providerPill()->text(), "Email");
    EXPECT_EQ(w.page()->nameLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(w.page()->nameLabel()->text(), "<b>Eve</b>");
    EXPECT_EQ(w.page()->emailLabel()->textFormat(), Qt::PlainText);
}

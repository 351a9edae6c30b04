// What the account service says reaches the footer as one short line, whatever its size.
#include "account/AccountTestKit.h"
#include "app/ContentView.h"
#include "app/ElidedLabel.h"
#include "app/Footer.h"
#include "platform/Text.h"
#include "support/NetworkBounds.h"

#include <QTest>

using namespace AccountTestKit;
using Reply = LoopbackHttpServer::Reply;

TEST(AccountStatusLine, ServerTextsReachTheFooterCutAndTrimmed)
{
    World w;
    ContentView view(w.t.platform);
    view.resize(1120, 760);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    AppModel& model = view.model();
    const QString footerText = QStringLiteral("Password reset API error: ");
    const QString ellipsis(QChar(0x2026));

    struct Case {
        const char* name;
        Reply reply;
        QString status; // the whole line, or its start when it ends in the ellipsis
        bool cut;
    };
    const QList<Case> cases{
        {"100 MB error body", NetworkBounds::hugeBody(500),
         footerText + QStringLiteral("The server's answer is larger than 4 MiB; it was not read."), false},
        {"3 MB error message", Reply::json("{\"message\":\"Too many requests. " + QByteArray(3 * 1024 * 1024, 'z') + "\"}", 429),
         footerText + QStringLiteral("Too many requests. zzz"), true},
        {"line break at the end", Reply::json("{\"message\":\"Try again later.\\n\\n\"}", 503), footerText + QStringLiteral("Try again later."),
         false},
        {"an HTML page", {500, {{"Content-Type", "text/html"}}, "<!DOCTYPE html>\n<html><body><h1>Server Error</h1></body></html>"},
         footerText + QStringLiteral("HTTP 500 Internal Server Error"), false},
    };
    for (const Case& c : cases) {
        w.service.script("/api/password/email", c.reply);
        model.sendPasswordReset(QStringLiteral("ada@example.test"));
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return model.statusMessage().startsWith(footerText); }, 60000)) << c.name;
        const QString status = model.statusMessage();
        if (c.cut) {
            EXPECT_EQ(status.size(), Text::kStatusLineLimit) << c.name;
            EXPECT_TRUE(status.startsWith(c.status)) << c.name;
            EXPECT_TRUE(status.endsWith(ellipsis)) << c.name;
        } else {
            EXPECT_EQ(status, c.status) << c.name;
        }
        EXPECT_LE(view.footer()->status()->text().size(), Text::kStatusLineLimit) << c.name;
        model.setStatusMessage(QStringLiteral("Ready"));
    }
}

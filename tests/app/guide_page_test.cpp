// The guide page: fixed texts in order, commands verbatim and selectable, whatever the model.
#include "app/AppModel.h"
#include "app/GuidePage.h"
#include "app/GuideRow.h"
#include "app/SetupCommand.h"
#include "app/StatusPill.h"
#include "app/Theme.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QStringList commandTexts(const GuidePage& page)
{
    QStringList texts;
    for (SetupCommand* command : page.findChildren<SetupCommand*>())
        texts << command->text();
    return texts;
}

QStringList everyText(const GuidePage& page)
{
    QStringList texts;
    for (QGroupBox* box : page.findChildren<QGroupBox*>())
        texts << box->title();
    for (QLabel* label : page.findChildren<QLabel*>())
        texts << label->text();
    for (StatusPill* pill : page.findChildren<StatusPill*>())
        texts << pill->text();
    return texts;
}

} // namespace

TEST(GuidePage, BoxesRowsAndCommandsInOrder)
{
    QTemporaryDir dir;
    auto t = TestEnvironment::makePlatform(dir.path());
    AppModel model(t.platform);
    GuidePage page(model);

    QStringList titles;
    for (QGroupBox* box : page.findChildren<QGroupBox*>())
        titles << box->title();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("How to use Kovani"), QStringLiteral("Required Setup"),
                                   QStringLiteral("Install Homebrew and Developer Tools"),
                                   QStringLiteral("Optional System PHP, MySQL and Composer"),
                                   QStringLiteral("Troubleshooting")}));

    EXPECT_EQ(commandTexts(page),
              (QStringList{
                  QStringLiteral("xcode-select --install"),
                  QStringLiteral("/bin/bash -c \"$(curl -fsSL https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh)\""),
                  QStringLiteral("echo 'eval \"$(/opt/homebrew/bin/brew shellenv)\"' >> ~/.zprofile && eval \"$(/opt/homebrew/bin/brew shellenv)\""),
                  QStringLiteral("brew install php"),
                  QStringLiteral("brew install mysql && brew services start mysql"),
                  QStringLiteral("brew install composer"),
                  QStringLiteral("php -v && mysql --version && composer --version"),
              }));

    const QList<GuideRow*> rows = page.findChildren<GuideRow*>();
    ASSERT_EQ(rows.size(), 12);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(rows[i]->number(), QString::number(i % 4 + 1));
    EXPECT_EQ(rows[1]->text(), QStringLiteral("Each website runs on its own port. Use localhost:<port> or 127.0.0.1:<port>."));
    EXPECT_EQ(rows[4]->text(), QStringLiteral("Move Kovani to Applications, then open it."));
    EXPECT_EQ(rows[11]->text(), QStringLiteral("Use the Logs button on each website to inspect PHP startup and runtime errors."));

    const QList<StatusPill*> pills = page.findChildren<StatusPill*>();
    ASSERT_EQ(pills.size(), 2);
    EXPECT_EQ(pills[0]->text(), QStringLiteral("Included"));
    EXPECT_EQ(pills[0]->color(), Theme::green());
    EXPECT_EQ(pills[1]->text(), QStringLiteral("Database"));
    EXPECT_EQ(pills[1]->color(), Theme::blue());

    const QStringList texts = everyText(page);
    for (const char* expected : {"Recommended first run", "Intel Macs normally use /usr/local instead of /opt/homebrew.",
                                 "After installing another PHP version, return to Settings and click Refresh PHP.",
                                 "3. Add Homebrew to PATH on Apple Silicon", "Install system PHP 8.5"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(expected))) << expected;
    // Every label is plain text: "<port>" is shown, never taken for markup.
    for (QLabel* label : page.findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
}

TEST(GuidePage, CommandsAreSelectableAndNothingRunsOnClick)
{
    QTemporaryDir dir;
    auto t = TestEnvironment::makePlatform(dir.path());
    AppModel model(t.platform);
    GuidePage page(model);
    page.resize(900, 1600);
    page.show();
    const QString status = model.statusMessage();
    for (SetupCommand* command : page.findChildren<SetupCommand*>()) {
        EXPECT_TRUE(command->textInteractionFlags() & Qt::TextSelectableByMouse);
        EXPECT_TRUE(command->textInteractionFlags() & Qt::TextSelectableByKeyboard);
        EXPECT_EQ(command->textFormat(), Qt::PlainText);
        QTest::mouseClick(command, Qt::LeftButton);
        // Select the whole command by dragging across it and copy it.
        QTest::mousePress(command, Qt::LeftButton, {}, QPoint(2, command->height() / 2));
        QTest::mouseMove(command, QPoint(command->width() - 2, command->height() / 2));
        QTest::mouseRelease(command, Qt::LeftButton, {}, QPoint(command->width() - 2, command->height() / 2));
        EXPECT_EQ(command->selectedText(), command->text());
        QTest::keyClick(command, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text(), command->text());
    }
    EXPECT_EQ(model.statusMessage(), status);
}

TEST(GuidePage, SameContentSignedInOrNot)
{
    QTemporaryDir dir;
    auto t = TestEnvironment::makePlatform(dir.path());
    AppModel model(t.platform);
    GuidePage signedOut(model);
    UserProfile user;
    user.name = QStringLiteral("Linh Tran");
    user.avatarInitials = QStringLiteral("LT");
    model.modifyConfig([&user](AppConfig& c) { c.user = user; });
    model.setIsDatabaseRunning(true);
    GuidePage signedIn(model);
    EXPECT_EQ(everyText(signedOut), everyText(signedIn));
}

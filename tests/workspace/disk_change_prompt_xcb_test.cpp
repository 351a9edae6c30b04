// The prompt shown when the open file changes on disk under unsaved edits, on a real X display:
// the keyboard stays in the text when it appears, Tab reaches its two buttons from the tree,
// Alt+K and Alt+T choose from the text itself, a screen reader finds and presses them on the
// accessibility bus, and after a choice the keyboard is back in the text.
#include "app/ContentView.h"
#include "platform/Dispatch.h"
#include "app/ElidedLabel.h"
#include "app/AppModel.h"
#include "platform/FileSystem.h"
#include "support/AtSpiWalk.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"
#include "support/XvfbSession.h"
#include "workspace/CodeEditorTextView.h"
#include "workspace/CodeFileTree.h"
#include "workspace/CodeIDEModel.h"
#include "workspace/CodeIDEView.h"
#include "workspace/CodeTextEditor.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using TestEnvironment::waitUntil;
using TestFiles::readBytes;
using TestFiles::writeFile;

namespace {

// A hang guard only: a busy machine maps and activates windows late.
constexpr int kWindowWait = 60000;

const QByteArray kTheirs = "<?php // formatted by another program\n";

QString focusName()
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return QStringLiteral("nothing");
    return focus->objectName().isEmpty() ? QString::fromLatin1(focus->metaObject()->className()) : focus->objectName();
}

class DiskChangePrompt : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(XvfbSession::active()) << "runs on its own X display";
        ASSERT_TRUE(dir.isValid());
        site = dir.path() + QStringLiteral("/site");
        writeFile(site + QStringLiteral("/index.php"), "<?php // on disk\n");
        writeFile(site + QStringLiteral("/about.php"), "<?php // about\n");
        t = std::make_unique<TestEnvironment::TestPlatform>(TestEnvironment::makePlatform(dir.path() + QStringLiteral("/root")));
        window = std::make_unique<ContentView>(t->platform);
        const quint16 nothing = TestEnvironment::freePort(); // no database server here
        window->model().modifyConfig([&](AppConfig& c) { c.mysqlPort = nothing; });
        window->resize(1320, 860);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kWindowWait));

        Project p;
        p.id = QStringLiteral("site");
        p.name = QStringLiteral("Site");
        p.root = site;
        window->setCodeIDEProject(p);
        view = qobject_cast<CodeIDEView*>(window->codeWorkspace());
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), kWindowWait));

        // Opened from its row, then the user types at its end.
        CodeFileTree* tree = view->fileTree();
        const QRect row = tree->rowRect(site + QStringLiteral("/index.php"));
        ASSERT_FALSE(row.isEmpty());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, row.center());
        ASSERT_TRUE(waitUntil([&] { return view->editor() != nullptr; }, kWindowWait));
        QTest::mouseClick(text(), Qt::LeftButton, {}, QPoint(200, 8));
        ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == text(); }, kWindowWait)) << focusName().toStdString();
        press(Qt::Key_End, Qt::ControlModifier);
        type(QStringLiteral("// mine"));
        ASSERT_TRUE(waitUntil([&] { return view->model().content() == QStringLiteral("<?php // on disk\n// mine"); }, kWindowWait));

        // Another program rewrites the file: the prompt appears, the keyboard stays in the text.
        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TEXT"), QString::fromUtf8(kTheirs));
        shell.setProcessEnvironment(env);
        shell.setWorkingDirectory(site);
        shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("printf '%s' \"$TEXT\" > .new && mv -f .new index.php")});
        ASSERT_TRUE(shell.waitForFinished(30000));
        ASSERT_TRUE(waitUntil([&] { return view->diskChangeBar()->isVisible(); }, kWindowWait));
        EXPECT_EQ(view->statusLabel()->text(),
                  QStringLiteral("index.php changed on disk while it had unsaved edits: choose Keep My Text or Take File's Text."));
        EXPECT_EQ(view->diskChangeLabel()->text(), QStringLiteral("index.php changed on disk. Your text here is not saved."));
        EXPECT_EQ(QApplication::focusWidget(), text()) << focusName().toStdString();
        type(QStringLiteral("!"));
        EXPECT_TRUE(waitUntil([&] { return view->model().content() == QStringLiteral("<?php // on disk\n// mine!"); }, kWindowWait))
            << "what is typed goes on into the text";
        EXPECT_EQ(readBytes(file()), kTheirs);
    }

    void TearDown() override
    {
        view = nullptr;
        window.reset();
        EXPECT_TRUE(Dispatch::drainForTesting()); // deferred deletions
    }

    QString file() const { return site + QStringLiteral("/index.php"); }
    QWidget* text() const { return view->editor() ? view->editor()->textView() : nullptr; }

    // Keys go to whatever has the keyboard, through the X display's window.
    void type(const QString& keys) const
    {
        for (const QChar c : keys)
            QTest::keyClick(window->windowHandle(), c.toLatin1());
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const
    {
        QTest::keyClick(window->windowHandle(), key, modifiers);
    }

    // The keyboard in the tree, as a click on its empty part below the rows puts it.
    void focusTree() const
    {
        QWidget* viewport = view->fileTree()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 4));
        EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == view->fileTree(); }, kWindowWait)) << focusName().toStdString();
    }

    void expectChoiceMadeAndKeyboardInText(const char* how) const
    {
        EXPECT_TRUE(waitUntil([&] { return !view->diskChangeBar()->isVisible(); }, kWindowWait)) << how;
        EXPECT_FALSE(view->model().hasDiskConflict()) << how;
        EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == text(); }, kWindowWait))
            << how << ": focus is on " << focusName().toStdString();
    }

    QTemporaryDir dir;
    QString site;
    std::unique_ptr<TestEnvironment::TestPlatform> t;
    std::unique_ptr<ContentView> window;
    CodeIDEView* view = nullptr;
};

} // namespace

TEST_F(DiskChangePrompt, TabReachesBothChoicesFromTheTreeAndSpaceTakesTheFilesText)
{
    focusTree();
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->keepTextButton()) << focusName().toStdString();
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->takeFileButton()) << focusName().toStdString();
    press(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), text()) << "then the text: " << focusName().toStdString();
    EXPECT_TRUE(view->diskChangeBar()->isVisible()) << "moving through it chooses nothing";

    focusTree();
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), view->takeFileButton()) << focusName().toStdString();
    press(Qt::Key_Space);
    expectChoiceMadeAndKeyboardInText("Space on Take File's Text");
    EXPECT_EQ(view->editor()->text().toUtf8(), kTheirs);
    EXPECT_EQ(readBytes(file()), kTheirs);
    const QStringList copies = QDir(FileSystem::saveCopyFolder()).entryList(QDir::Files);
    ASSERT_EQ(copies.size(), 1);
    const QString copy = FileSystem::saveCopyFolder() + u'/' + copies.first();
    EXPECT_EQ(readBytes(copy), QByteArray("<?php // on disk\n// mine!"));
    EXPECT_EQ(view->statusLabel()->text(),
              QStringLiteral("index.php now has the text of the file on disk. Your text was kept in ") + copy + u'.');
}

TEST_F(DiskChangePrompt, AltKInTheTextKeepsTheTextAndWritesIt)
{
    press(Qt::Key_K, Qt::AltModifier);
    expectChoiceMadeAndKeyboardInText("Alt+K");
    EXPECT_EQ(readBytes(file()), QByteArray("<?php // on disk\n// mine!"));
    EXPECT_EQ(view->model().content(), QStringLiteral("<?php // on disk\n// mine!")) << "the shortcut typed nothing";
    EXPECT_EQ(view->statusLabel()->text(), QStringLiteral("Saved index.php."));
    // The text is the file's again: typing saves.
    type(QStringLiteral("?"));
    EXPECT_TRUE(waitUntil([&] { return readBytes(file()) == "<?php // on disk\n// mine!?"; }, kWindowWait));
}

TEST_F(DiskChangePrompt, AltTInTheTextTakesTheFilesText)
{
    press(Qt::Key_T, Qt::AltModifier);
    expectChoiceMadeAndKeyboardInText("Alt+T");
    EXPECT_EQ(view->model().content().toUtf8(), kTheirs);
}

TEST_F(DiskChangePrompt, AScreenReaderFindsBothChoicesAndPressesOne)
{
    ASSERT_TRUE(waitUntil([] { return QAccessible::isActive(); }, kWindowWait));
    const AtSpiWalk::Result bus = AtSpiWalk::walkThisProcess();
    ASSERT_TRUE(bus.ok) << bus.error.toStdString();
    EXPECT_TRUE(bus.named.contains(QStringLiteral("Keep My Text"))) << bus.named.join(u',').toStdString();
    EXPECT_TRUE(bus.named.contains(QStringLiteral("Take File's Text"))) << bus.named.join(u',').toStdString();
    QAccessibleInterface* keep = QAccessible::queryAccessibleInterface(view->keepTextButton());
    ASSERT_NE(keep, nullptr);
    EXPECT_EQ(keep->text(QAccessible::Description), QStringLiteral("Writes your text over index.php on disk"));

    const QString error = AtSpiWalk::doAction(QStringLiteral("Keep My Text"), QStringLiteral("Press"));
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_TRUE(waitUntil([&] { return readBytes(file()) == "<?php // on disk\n// mine!"; }, kWindowWait));
    EXPECT_TRUE(waitUntil([&] { return !view->diskChangeBar()->isVisible(); }, kWindowWait));
}

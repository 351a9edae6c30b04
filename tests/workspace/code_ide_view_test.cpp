// The code workspace window driven through its real widgets on the offscreen platform: opening
// from a project card, the tree, the new-item sheet, editing with autosave, deleting, Done and
// Escape, quitting, and screenshots.
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/ElidedLabel.h"
#include "app/SablewickhavenApp.h"
#include "app/SymbolIcons.h"
#include "app/Theme.h"
#include "app/Sidebar.h"
#include "platform/FileManagerReveal.h"
#include "services/ProjectRow.h"
#include "services/ProjectsPage.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"
#include "workspace/CodeFileTree.h"
#include "workspace/CodeIDEModel.h"
#include "workspace/CodeIDEView.h"
#include "workspace/CodeEditorTextView.h"
#include "workspace/CodeTextEditor.h"
#include "workspace/NewCodeItemSheet.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using TestEnvironment::waitUntil;
using TestFiles::readBytes;
using TestFiles::writeFile;

namespace {

const QByteArray kKernel = "<?php\n\nnamespace App\\Http;\n\nuse Illuminate\\Foundation\\Http\\Kernel as HttpKernel;\n\n"
                           "class Kernel extends HttpKernel\n{\n    protected $middleware = [\n"
                           "        \\App\\Http\\Middleware\\TrustProxies::class,\n    ];\n}\n";

// A small Laravel project: `site/public` is the document root, `site/artisan` beside it.
void writeLaravelSite(const QString& site)
{
    writeFile(site + QStringLiteral("/artisan"), "#!/usr/bin/env php\n<?php\n");
    writeFile(site + QStringLiteral("/.env"), "APP_NAME=Shop\n");
    writeFile(site + QStringLiteral("/composer.json"), "{\n  \"name\": \"laravel/laravel\"\n}\n");
    writeFile(site + QStringLiteral("/package.json"), "{}\n");
    writeFile(site + QStringLiteral("/README.md"), "# Shop\n");
    writeFile(site + QStringLiteral("/vite.config.js"), "export default {};\n");
    writeFile(site + QStringLiteral("/app/Http/Kernel.php"), kKernel);
    writeFile(site + QStringLiteral("/app/Http/Controllers/Controller.php"), "<?php\n");
    writeFile(site + QStringLiteral("/app/Models/User.php"), "<?php\n");
    writeFile(site + QStringLiteral("/bootstrap/app.php"), "<?php\n");
    writeFile(site + QStringLiteral("/config/app.php"), "<?php\nreturn [];\n");
    writeFile(site + QStringLiteral("/public/index.php"), "<?php\n");
    writeFile(site + QStringLiteral("/public/favicon.png"), "\x89PNG");
    writeFile(site + QStringLiteral("/resources/css/app.css"), "body {}\n");
    writeFile(site + QStringLiteral("/resources/js/app.js"), "import './bootstrap';\n");
    writeFile(site + QStringLiteral("/resources/views/welcome.blade.php"), "<html></html>\n");
    writeFile(site + QStringLiteral("/resources/views/index.html"), "<html></html>\n");
    writeFile(site + QStringLiteral("/routes/web.php"), "<?php\n");
    QDir().mkpath(site + QStringLiteral("/storage/logs"));
    QDir().mkpath(site + QStringLiteral("/.git/objects"));
}

QString screenshotDir()
{
    QString dir = qEnvironmentVariable("KOVANI_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = QDir::tempPath() + QStringLiteral("/kovani-screenshots");
    QDir().mkpath(dir);
    return dir;
}

void click(QWidget* widget)
{
    ASSERT_NE(widget, nullptr);
    ASSERT_TRUE(widget->isEnabled());
    QTest::mouseClick(widget, Qt::LeftButton);
}

class CodeIDEViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        site = dir.path() + QStringLiteral("/shop");
        writeLaravelSite(site);
        project.id = QStringLiteral("shop");
        project.name = QStringLiteral("Shop");
        project.root = site + QStringLiteral("/public");
        project.port = 8090;
    }

    void TearDown() override
    {
        view.reset();
        FileManagerReveal::setHandler({});
    }

    CodeIDEView& open()
    {
        view = std::make_unique<CodeIDEView>(project, [this]() { ++closes; });
        view->resize(1320, 820);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        return *view;
    }

    QString at(const QString& relative) const { return site + u'/' + relative; }

    // Clicks the tree row of `relative`, scrolling it into view first.
    void clickRow(const QString& relative)
    {
        CodeFileTree* tree = view->fileTree();
        const int row = tree->rows().rowOf(at(relative));
        ASSERT_GE(row, 0) << relative.toStdString();
        tree->scrollTo(tree->rows().index(row));
        const QRect rect = tree->rowRect(at(relative));
        ASSERT_FALSE(rect.isEmpty());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
        waitForFile();
    }

    // Lets a file being read (off the main thread) arrive.
    void waitForFile()
    {
        EXPECT_TRUE(QTest::qWaitFor([this]() { return !view->model().isLoadingFile(); }, 10000));
    }

    bool rowShown(const QString& relative) const { return view->fileTree()->rows().rowOf(at(relative)) >= 0; }

    CodeTreeNodeView* node(const QString& relative) const
    {
        return view->fileTree()->rows().node(view->fileTree()->rows().rowOf(at(relative)));
    }

    // Types into the editor the way a user does.
    void typeInEditor(const QString& text)
    {
        CodeTextEditor* editor = view->editor();
        ASSERT_NE(editor, nullptr);
        QWidget* target = editor->textView();
        target->setFocus();
        QTest::keyClicks(target, text);
    }

    QString shownPanelTitle() const
    {
        return view->editorContent() == view->editor() ? QString() : view->panelTitle()->text();
    }

    QTemporaryDir dir;
    QString site;
    Project project;
    std::unique_ptr<CodeIDEView> view;
    int closes = 0;
};

} // namespace

TEST_F(CodeIDEViewTest, AFreshWindow)
{
    CodeIDEView& v = open();
    EXPECT_EQ(v.model().rootURL().toLocalFile(), site);
    EXPECT_EQ(v.projectNameLabel()->text(), QStringLiteral("Shop"));
    EXPECT_EQ(v.sidebarTitle()->text(), QStringLiteral("SHOP"));
    EXPECT_EQ(v.sidebarLocation()->text(), QStringLiteral("shop"));
    EXPECT_EQ(shownPanelTitle(), QStringLiteral("Select a source file"));
    EXPECT_EQ(v.panelDescription()->text(), QStringLiteral("Choose a text file from the project tree to edit it."));
    EXPECT_EQ(v.panelIcon()->property("symbol").toString(), QStringLiteral("chevron.left.forwardslash.chevron.right"));
    EXPECT_EQ(v.editorHeaderIcon()->property("symbol").toString(), QStringLiteral("doc.text"));
    EXPECT_EQ(v.editorHeaderPath()->text(), QStringLiteral("No file selected"));
    EXPECT_FALSE(v.autoSaveLabel()->isVisible());
    EXPECT_EQ(v.statusLabel()->text(), QStringLiteral("Project tree refreshed."));
    EXPECT_EQ(v.statusIcon()->property("symbol").toString(), QStringLiteral("checkmark.circle"));
    EXPECT_TRUE(v.extensionLabel()->text().isEmpty());
    EXPECT_NE(v.findChild<QLabel*>(), nullptr);
    QStringList labels;
    for (QLabel* label : v.findChildren<QLabel*>())
        labels << label->text();
    EXPECT_TRUE(labels.contains(QStringLiteral("HTML IntelliSense \u00b7 Ctrl+Space")));
    EXPECT_TRUE(labels.contains(QStringLiteral("UTF-8")));
    EXPECT_TRUE(labels.contains(QStringLiteral("Code IDE")));
    EXPECT_FALSE(v.deleteButton()->isEnabled());
    for (QPushButton* button : {v.newFileButton(), v.newFolderButton(), v.refreshButton(), v.finderButton(), v.doneButton()})
        EXPECT_TRUE(button->isEnabled()) << button->text().toStdString();
    const QStringList titles = {QStringLiteral("New File"), QStringLiteral("New Folder"), QStringLiteral("Refresh"),
                                QStringLiteral("Delete"), QStringLiteral("Finder")};
    const QList<QPushButton*> buttons = {v.newFileButton(), v.newFolderButton(), v.refreshButton(), v.deleteButton(), v.finderButton()};
    for (int i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(buttons[i]->text(), titles[i]);
        EXPECT_EQ(buttons[i]->accessibleName(), titles[i]);
        EXPECT_FALSE(buttons[i]->icon().isNull()) << titles[i].toStdString();
    }
    // Folders first, ".git" left out; the sidebar keeps its width limits.
    QStringList rows;
    for (int i = 0; i < v.fileTree()->rows().rowCount(); ++i)
        rows << v.fileTree()->rows().node(i)->item().name();
    EXPECT_EQ(rows, (QStringList{"app", "bootstrap", "config", "public", "resources", "routes", "storage", ".env",
                                 "artisan", "composer.json", "package.json", "README.md", "vite.config.js"}));
    const int sidebarWidth = v.splitter()->widget(0)->width();
    EXPECT_GE(sidebarWidth, 240);
    EXPECT_LE(sidebarWidth, 380);
}

TEST_F(CodeIDEViewTest, TreeExpandsCollapsesAndRefreshesCollapsed)
{
    CodeIDEView& v = open();
    clickRow(QStringLiteral("app"));
    EXPECT_TRUE(node(QStringLiteral("app"))->isExpanded());
    EXPECT_EQ(node(QStringLiteral("app"))->iconName(), QStringLiteral("folder.fill"));
    EXPECT_TRUE(rowShown(QStringLiteral("app/Http")));
    EXPECT_TRUE(rowShown(QStringLiteral("app/Models")));
    // Choosing a folder makes it the target and offers Delete.
    EXPECT_EQ(v.sidebarLocation()->text(), QStringLiteral("app"));
    EXPECT_TRUE(v.deleteButton()->isEnabled());

    clickRow(QStringLiteral("app/Http"));
    clickRow(QStringLiteral("app/Http/Controllers"));
    EXPECT_EQ(node(QStringLiteral("app/Http/Controllers/Controller.php"))->depth(), 3);
    EXPECT_EQ(CodeTreeNodeView::leadingPadding(3), 50);
    const QRect row(0, 0, 280, 25);
    EXPECT_EQ(CodeTreeNodeView::layout(row, 3).disclosure.left(), Theme::points(50));
    // Names one level deeper start 14 points further right.
    EXPECT_EQ(CodeTreeNodeView::layout(row, 3).name.left() - CodeTreeNodeView::layout(row, 2).name.left(), Theme::points(14));

    // Opening a file highlights it and its folder; choosing another folder moves the folder
    // highlight while the file stays highlighted.
    clickRow(QStringLiteral("app/Http/Kernel.php"));
    EXPECT_TRUE(node(QStringLiteral("app/Http/Kernel.php"))->isSelected());
    EXPECT_TRUE(node(QStringLiteral("app/Http"))->isSelected());
    EXPECT_FALSE(node(QStringLiteral("app"))->isSelected());
    clickRow(QStringLiteral("app/Models"));
    EXPECT_TRUE(node(QStringLiteral("app/Models"))->isSelected());
    EXPECT_FALSE(node(QStringLiteral("app/Http"))->isSelected());
    EXPECT_TRUE(node(QStringLiteral("app/Http/Kernel.php"))->isSelected());
    clickRow(QStringLiteral("app/Models")); // collapse again

    // Collapsing hides the children; a file added outside shows at the next expansion.
    clickRow(QStringLiteral("app"));
    EXPECT_FALSE(node(QStringLiteral("app"))->isExpanded());
    EXPECT_FALSE(rowShown(QStringLiteral("app/Http")));
    writeFile(at(QStringLiteral("app/Providers/AppServiceProvider.php")), "<?php\n");
    writeFile(at(QStringLiteral("app/helpers.php")), "<?php\n");
    clickRow(QStringLiteral("app"));
    EXPECT_TRUE(rowShown(QStringLiteral("app/Providers")));
    EXPECT_TRUE(rowShown(QStringLiteral("app/helpers.php")));
    // Children of a folder collapsed and expanded again start collapsed.
    EXPECT_FALSE(node(QStringLiteral("app/Http"))->isExpanded());
    EXPECT_FALSE(rowShown(QStringLiteral("app/Http/Kernel.php")));

    clickRow(QStringLiteral("resources"));
    clickRow(QStringLiteral("resources/views"));
    ASSERT_TRUE(rowShown(QStringLiteral("resources/views/welcome.blade.php")));
    click(v.refreshButton());
    EXPECT_EQ(v.fileTree()->rows().rowCount(), v.model().rootItems().size());
    for (int i = 0; i < v.fileTree()->rows().rowCount(); ++i)
        EXPECT_FALSE(v.fileTree()->rows().node(i)->isExpanded());
}

TEST_F(CodeIDEViewTest, RowIconsAndColours)
{
    const struct {
        const char* name;
        bool folder;
        const char* icon;
        QColor color;
    } cases[] = {
        {"index.PHP", false, "chevron.left.forwardslash.chevron.right", QColor(175, 82, 222)},
        {"composer.json", false, "curlybraces", Theme::secondary()},
        {"app.ts", false, "curlybraces", QColor(230, 180, 0)},
        {"app.scss", false, "paintbrush", Theme::blue()},
        {"index.html", false, "doc.text", QColor(255, 149, 0)},
        {"logo.WEBP", false, "photo", Theme::secondary()},
        {"README.md", false, "doc.richtext", Theme::secondary()},
        {"Makefile", false, "doc.text", Theme::secondary()},
        {"app", true, "folder", Theme::accent()},
    };
    for (const auto& c : cases) {
        const CodeFileItem item{QUrl::fromLocalFile(site + u'/' + QString::fromUtf8(c.name)), c.folder};
        EXPECT_EQ(CodeTreeNodeView::iconName(item, false), QString::fromUtf8(c.icon)) << c.name;
        EXPECT_EQ(CodeTreeNodeView::iconColor(item), c.color) << c.name;
    }
    EXPECT_EQ(CodeTreeNodeView::iconName(CodeFileItem{QUrl::fromLocalFile(site), true}, true), QStringLiteral("folder.fill"));
    // Every symbol the workspace names has an icon.
    for (const char* symbol : {"doc.badge.plus", "folder.badge.plus", "arrow.clockwise", "trash", "folder", "folder.fill",
                               "chevron.right", "chevron.down", "chevron.left.forwardslash.chevron.right", "curlybraces",
                               "paintbrush", "photo", "doc.richtext", "doc.text", "doc.badge.ellipsis",
                               "exclamationmark.triangle", "checkmark.circle"}) {
        const QIcon icon = SymbolIcons::drawn(QString::fromUtf8(symbol), Theme::accent());
        ASSERT_FALSE(icon.isNull()) << symbol;
        const QImage image = icon.pixmap(QSize(24, 24)).toImage();
        bool painted = false;
        for (int y = 0; y < image.height() && !painted; ++y)
            for (int x = 0; x < image.width() && !painted; ++x)
                painted = qAlpha(image.pixel(x, y)) > 0;
        EXPECT_TRUE(painted) << symbol;
    }
}

TEST_F(CodeIDEViewTest, FileKindAndExtensionFollowTheOpenFile)
{
    writeFile(at(QStringLiteral("INDEX.PHP")), "<?php\n");
    writeFile(at(QStringLiteral("Makefile")), "all:\n");
    CodeIDEView& v = open();
    clickRow(QStringLiteral("INDEX.PHP"));
    EXPECT_EQ(v.editorHeaderIcon()->property("symbol").toString(), QStringLiteral("chevron.left.forwardslash.chevron.right"));
    EXPECT_EQ(v.extensionLabel()->text(), QStringLiteral("PHP"));
    EXPECT_EQ(v.editorHeaderPath()->text(), QStringLiteral("INDEX.PHP"));
    EXPECT_TRUE(v.autoSaveLabel()->isVisible());
    clickRow(QStringLiteral("Makefile"));
    EXPECT_EQ(v.editorHeaderIcon()->property("symbol").toString(), QStringLiteral("doc.text"));
    EXPECT_TRUE(v.extensionLabel()->text().isEmpty());
    const struct {
        const char* name;
        const char* symbol;
    } kinds[] = {{"a.json", "curlybraces"}, {"a.CSS", "paintbrush"}, {"a.md", "doc.richtext"},
                 {"a.htm", "doc.text"}, {"a.png", "photo"}, {"a.JPEG", "photo"}, {"", "doc.text"}};
    for (const auto& k : kinds)
        EXPECT_EQ(CodeIDEView::fileKindSymbol(QString::fromUtf8(k.name)), QString::fromUtf8(k.symbol)) << k.name;
}

TEST_F(CodeIDEViewTest, HeaderShowsTheSymbolOfTheFilesTreeRow)
{
    const struct {
        const char* name;
        const char* symbol;
    } files[] = {{"page.html", "doc.text"}, {"logo.gif", "photo"}, {"app.ts", "curlybraces"},
                 {"theme.scss", "paintbrush"}, {"README.md", "doc.richtext"}, {"Makefile", "doc.text"}};
    for (const auto& f : files)
        writeFile(at(QString::fromUtf8(f.name)), "x\n");
    CodeIDEView& v = open();
    for (const auto& f : files) {
        const QString name = QString::fromUtf8(f.name);
        clickRow(name);
        ASSERT_NE(node(name), nullptr) << f.name;
        EXPECT_EQ(node(name)->iconName(), QString::fromUtf8(f.symbol)) << f.name;
        EXPECT_EQ(v.editorHeaderIcon()->property("symbol").toString(), node(name)->iconName()) << f.name;
    }
}

TEST_F(CodeIDEViewTest, NewFileThroughTheSheetOpensItInTheEditor)
{
    CodeIDEView& v = open();
    clickRow(QStringLiteral("app"));
    click(v.newFileButton());
    NewCodeItemSheet* sheet = v.newItemSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    EXPECT_EQ(v.newItemType(), CodeItemType::file);
    EXPECT_EQ(sheet->titleLabel()->text(), QStringLiteral("New File"));
    EXPECT_EQ(sheet->locationLabel()->text(), QStringLiteral("Location: app"));
    EXPECT_EQ(sheet->nameField()->placeholderText(), QStringLiteral("File name, for example index.php"));
    EXPECT_FALSE(sheet->createButton()->isEnabled());

    // Only spaces: Create stays disabled, Return asks the model, which refuses; the sheet stays.
    QTest::keyClicks(sheet->nameField(), QStringLiteral("   "));
    EXPECT_FALSE(sheet->createButton()->isEnabled());
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_EQ(v.model().statusMessage(), QStringLiteral("Use a valid name without / or : characters."));
    EXPECT_EQ(v.newItemSheet(), sheet);
    EXPECT_TRUE(sheet->isVisible());

    // An existing name: refused, the typed name stays.
    sheet->nameField()->clear();
    QTest::keyClicks(sheet->nameField(), QStringLiteral("helpers.php"));
    writeFile(at(QStringLiteral("app/helpers.php")), "<?php\n");
    click(sheet->createButton());
    EXPECT_EQ(v.model().statusMessage(), QStringLiteral("An item with this name already exists."));
    EXPECT_EQ(sheet->nameField()->text(), QStringLiteral("helpers.php"));
    EXPECT_TRUE(sheet->isVisible());

    // Return creates once: the file opens (a second create would report that it exists).
    sheet->nameField()->clear();
    QTest::keyClicks(sheet->nameField(), QStringLiteral(" Helpers2.php "));
    EXPECT_TRUE(sheet->createButton()->isEnabled());
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    EXPECT_EQ(v.model().statusMessage(), QStringLiteral("app/Helpers2.php opened."));
    EXPECT_FALSE(v.newItemType().has_value());
    EXPECT_TRUE(waitUntil([&] { return v.newItemSheet() == nullptr; }));
    EXPECT_TRUE(QFileInfo(at(QStringLiteral("app/Helpers2.php"))).isFile());
    ASSERT_NE(v.editor(), nullptr);
    EXPECT_EQ(v.editorContent(), v.editor());
    EXPECT_EQ(v.editorHeaderPath()->text(), QStringLiteral("app/Helpers2.php"));
    // The new file is shown in place, its folder still open.
    EXPECT_TRUE(node(QStringLiteral("app"))->isExpanded());
    EXPECT_TRUE(rowShown(QStringLiteral("app/Helpers2.php")));

    typeInEditor(QStringLiteral("<?php echo 'new';"));
    EXPECT_TRUE(waitUntil([&] { return readBytes(at(QStringLiteral("app/Helpers2.php"))) == "<?php echo 'new';"; }, 3000));
    EXPECT_EQ(v.model().statusMessage(), QStringLiteral("Saved app/Helpers2.php."));
}

TEST_F(CodeIDEViewTest, NewFolderClosesTheSheetAndListsTheFolder)
{
    CodeIDEView& v = open();
    click(v.newFolderButton());
    NewCodeItemSheet* sheet = v.newItemSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->titleLabel()->text(), QStringLiteral("New Folder"));
    EXPECT_EQ(sheet->locationLabel()->text(), QStringLiteral("Location: shop"));
    EXPECT_EQ(sheet->nameField()->placeholderText(), QStringLiteral("Folder name"));
    QTest::keyClicks(sheet->nameField(), QStringLiteral("docs"));
    click(sheet->createButton());
    EXPECT_TRUE(waitUntil([&] { return v.newItemSheet() == nullptr; }));
    EXPECT_EQ(v.model().statusMessage(), QStringLiteral("Folder docs created."));
    EXPECT_TRUE(rowShown(QStringLiteral("docs")));

    // Cancel only closes.
    click(v.newFileButton());
    ASSERT_NE(v.newItemSheet(), nullptr);
    QTest::keyClicks(v.newItemSheet()->nameField(), QStringLiteral("never.php"));
    click(v.newItemSheet()->cancelButton());
    EXPECT_FALSE(v.newItemType().has_value());
    EXPECT_FALSE(QFileInfo::exists(at(QStringLiteral("never.php"))));
}

TEST_F(CodeIDEViewTest, TypingAutosavesAndAFailedSaveShowsTheWarning)
{
    CodeIDEView& v = open();
    clickRow(QStringLiteral("routes"));
    clickRow(QStringLiteral("routes/web.php"));
    ASSERT_NE(v.editor(), nullptr);
    EXPECT_EQ(v.editorHeaderPath()->text(), QStringLiteral("routes/web.php"));
    // Put the cursor at the end, then type.
    typeInEditor(QString());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ControlModifier);
    typeInEditor(QStringLiteral("Route::get('/', fn () => view('welcome'));"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(v.statusLabel()->text(), QStringLiteral("Saving..."));
    EXPECT_EQ(readBytes(at(QStringLiteral("routes/web.php"))), QByteArray("<?php\n"));
    EXPECT_TRUE(waitUntil([&] { return readBytes(at(QStringLiteral("routes/web.php"))) != "<?php\n"; }, 3000));
    EXPECT_EQ(readBytes(at(QStringLiteral("routes/web.php"))), QByteArray("<?php\nRoute::get('/', fn () => view('welcome'));\n"));
    EXPECT_EQ(v.statusLabel()->text(), QStringLiteral("Saved routes/web.php."));

    // The file vanishes on disk: the next save fails with the red triangle.
    ASSERT_TRUE(QFile::remove(at(QStringLiteral("routes/web.php"))));
    typeInEditor(QStringLiteral("// more"));
    EXPECT_TRUE(waitUntil([&] { return CodeIDEView::isFailure(v.statusLabel()->text()); }, 3000));
    EXPECT_TRUE(v.statusLabel()->text().startsWith(QStringLiteral("Could not save file: ")));
    EXPECT_EQ(v.statusIcon()->property("symbol").toString(), QStringLiteral("exclamationmark.triangle"));
    EXPECT_FALSE(QFileInfo::exists(at(QStringLiteral("routes/web.php"))));

    // Done keeps the workspace open with the failure; a second Done closes it.
    click(v.doneButton());
    EXPECT_EQ(closes, 0);
    EXPECT_TRUE(v.statusLabel()->text().startsWith(QStringLiteral("Could not save file: ")));
    click(v.doneButton());
    EXPECT_EQ(closes, 1);
}

TEST_F(CodeIDEViewTest, TypingChangesOnlyWhatWasTyped)
{
    // CR LF line ends, a no-break space, a byte-order mark: all kept around the typed text.
    const QByteArray original("\xef\xbb\xbf<?php\r\necho 'a\xc2\xa0" "b';\r\n");
    writeFile(at(QStringLiteral("crlf.php")), original);
    CodeIDEView& v = open();
    clickRow(QStringLiteral("crlf.php"));
    ASSERT_NE(v.editor(), nullptr);
    EXPECT_EQ(v.editor()->text().toUtf8(), original);
    typeInEditor(QString());
    QTest::keyClick(v.editor()->textView(), Qt::Key_End, Qt::ControlModifier);
    typeInEditor(QStringLiteral("x"));
    EXPECT_TRUE(waitUntil([&] { return readBytes(at(QStringLiteral("crlf.php"))) != original; }, 3000));
    EXPECT_EQ(readBytes(at(QStringLiteral("crlf.php"))), original + "x");
}

TEST_F(CodeIDEViewTest, TheLatestSelectionWinsOverAFileStillBeingRead)
{
    QByteArray big;
    while (big.size() < 4900000)
        big += "<?php echo 'one line of a large file';\n";
    writeFile(at(QStringLiteral("big.php")), big);
    writeFile(at(QStringLiteral("small.php")), "<?php echo 'small';\n");
    CodeIDEView& v = open();
    CodeIDEModel& m = v.model();

    // Alone, the large file opens whole; the time it takes here bounds the wait below.
    QElapsedTimer clock;
    clock.start();
    clickRow(QStringLiteral("big.php"));
    const qint64 alone = clock.elapsed();
    ASSERT_NE(v.editor(), nullptr);
    EXPECT_EQ(v.editor()->text().size(), big.size());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("big.php opened."));
    clickRow(QStringLiteral("small.php"));

    // The large file, then at once the small one: the small one is shown, and the large one's
    // text, arriving later, is dropped.
    CodeFileTreeRows& rows = v.fileTree()->rows();
    rows.tap(rows.rowOf(at(QStringLiteral("big.php"))));
    EXPECT_TRUE(m.isLoadingFile());
    EXPECT_EQ(m.selectedFile(), QUrl::fromLocalFile(at(QStringLiteral("small.php")))) << "nothing changes before the text arrives";
    rows.tap(rows.rowOf(at(QStringLiteral("small.php"))));
    waitForFile();
    const QUrl small = QUrl::fromLocalFile(at(QStringLiteral("small.php")));
    auto showsSmall = [&]() {
        return m.selectedFile() == small && m.selectedTreeItem() == CodeFileItem{small, false}
            && v.editor() && v.editor()->documentID() == at(QStringLiteral("small.php"))
            && v.editor()->text() == QStringLiteral("<?php echo 'small';\n")
            && m.statusMessage() == QStringLiteral("small.php opened.");
    };
    EXPECT_TRUE(showsSmall());
    EXPECT_FALSE(waitUntil([&] { return !showsSmall(); }, int(std::min<qint64>(3 * alone + 1000, 20000))))
        << "a late result replaced the latest selection";
    EXPECT_TRUE(showsSmall());
    EXPECT_EQ(v.editorHeaderPath()->text(), QStringLiteral("small.php"));
}

TEST_F(CodeIDEViewTest, EditsMadeWhileAFileIsReadAreWrittenFirst)
{
    writeFile(at(QStringLiteral("a.php")), "<?php\n");
    writeFile(at(QStringLiteral("b.php")), "<?php // b\n");
    CodeIDEView& v = open();
    clickRow(QStringLiteral("a.php"));
    ASSERT_NE(v.editor(), nullptr);
    CodeFileTreeRows& rows = v.fileTree()->rows();
    rows.tap(rows.rowOf(at(QStringLiteral("b.php"))));
    // The text of b arrives through the event loop, so these keys reach a first.
    QTest::keyClick(v.editor()->textView(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(v.editor()->textView(), QStringLiteral("echo 1;"));
    waitForFile();
    EXPECT_EQ(readBytes(at(QStringLiteral("a.php"))), QByteArray("<?php\necho 1;"));
    ASSERT_NE(v.editor(), nullptr);
    EXPECT_EQ(v.editor()->text(), QStringLiteral("<?php // b\n"));
    EXPECT_EQ(v.model().statusMessage(), QStringLiteral("b.php opened."));
}

TEST_F(CodeIDEViewTest, TheEditorsTextIsNotSharedWhileTyping)
{
    // Anything holding on to the editor's text between keystrokes (the model, the last saved
    // text) makes the next keystroke copy all of it.
    QByteArray text;
    while (text.size() < 200000)
        text += "<div class=\"row\"><?php echo $value; ?></div>\n";
    writeFile(at(QStringLiteral("page.php")), text);
    CodeIDEView& v = open();
    clickRow(QStringLiteral("page.php"));
    ASSERT_NE(v.editor(), nullptr);
    CodeEditorTextView* view = v.editor()->textView();
    auto unshared = [&](const char* when) {
        SCOPED_TRACE(when);
        EXPECT_TRUE(view->text().isDetached());
        EXPECT_EQ(v.model().content().constData(), view->text().constData()) << "the model reads the editor's text";
    };
    typeInEditor(QStringLiteral("a"));
    unshared("after a keystroke");
    EXPECT_TRUE(waitUntil([&] { return v.model().statusMessage() == QStringLiteral("Saved page.php."); }, 5000));
    unshared("after the autosave");
    EXPECT_EQ(readBytes(at(QStringLiteral("page.php"))), v.model().content().toUtf8());
}

TEST_F(CodeIDEViewTest, LongNamesAndPathsDoNotWidenTheWindow)
{
    // A long root name, and a file deep in long folder names.
    site = dir.path() + QStringLiteral("/a-website-folder-with-a-very-long-name-that-goes-on-and-on-for-ever");
    project.root = site;
    QString relative;
    for (int i = 0; i < 6; ++i)
        relative += QStringLiteral("folder-with-a-rather-long-name-%1/").arg(i);
    relative += QStringLiteral("and-a-file-with-a-long-name-as-well.php");
    writeFile(at(relative), "<?php\n");
    CodeIDEView& v = open();
    const int before = v.minimumSizeHint().width();
    v.model().selectFile(QUrl::fromLocalFile(at(relative)));
    waitForFile();
    v.model().selectDirectory(QUrl::fromLocalFile(QFileInfo(at(relative)).absolutePath()));
    QApplication::processEvents();
    EXPECT_EQ(v.minimumSizeHint().width(), before);
    EXPECT_LE(v.minimumSizeHint().width(), Theme::points(1060));
    EXPECT_LE(v.splitter()->widget(0)->width(), Theme::points(380));
    EXPECT_EQ(v.width(), 1320);
}

TEST_F(CodeIDEViewTest, PreviewUnavailableForLargeAndBinaryFiles)
{
    writeFile(at(QStringLiteral("storage/logs/laravel.log")), QByteArray(CodeIDEModel::maximumFileSize + 1, 'l'));
    CodeIDEView& v = open();
    clickRow(QStringLiteral("storage"));
    clickRow(QStringLiteral("storage/logs"));
    clickRow(QStringLiteral("storage/logs/laravel.log"));
    EXPECT_EQ(shownPanelTitle(), QStringLiteral("Preview unavailable"));
    EXPECT_EQ(v.panelIcon()->property("symbol").toString(), QStringLiteral("doc.badge.ellipsis"));
    EXPECT_EQ(v.panelDescription()->text(), QStringLiteral("File is larger than 5 MB and was not opened."));
    EXPECT_EQ(v.editorHeaderPath()->text(), QStringLiteral("storage/logs/laravel.log"));
    EXPECT_EQ(v.editorHeaderIcon()->property("symbol").toString(), QStringLiteral("doc.text"));
    EXPECT_FALSE(v.autoSaveLabel()->isVisible());
    EXPECT_EQ(v.statusIcon()->property("symbol").toString(), QStringLiteral("checkmark.circle"));
    EXPECT_EQ(v.editor(), nullptr);
    QApplication::processEvents();
    EXPECT_TRUE(v.grab().save(screenshotDir() + QStringLiteral("/code-workspace-preview-unavailable.png")));

    clickRow(QStringLiteral("public"));
    clickRow(QStringLiteral("public/favicon.png"));
    EXPECT_EQ(v.panelDescription()->text(), QStringLiteral("Binary or non-UTF-8 files cannot be edited."));
    // The description follows the status line.
    clickRow(QStringLiteral("public"));
    EXPECT_EQ(v.panelDescription()->text(), QStringLiteral("New items will be created in public."));
}

TEST_F(CodeIDEViewTest, DeleteAsksFirstAndClearsTheEditorOfADeletedFolder)
{
    CodeIDEView& v = open();
    clickRow(QStringLiteral("app"));
    clickRow(QStringLiteral("app/Http"));
    clickRow(QStringLiteral("app/Http/Kernel.php"));
    ASSERT_NE(v.editor(), nullptr);
    clickRow(QStringLiteral("app/Http"));

    click(v.deleteButton());
    QDialog* confirmation = v.deleteConfirmation();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_EQ(confirmation->windowTitle(), QStringLiteral("Delete Folder?"));
    EXPECT_EQ(confirmation->findChild<QLabel*>(QStringLiteral("title"))->text(), QStringLiteral("Delete Folder?"));
    EXPECT_EQ(confirmation->findChild<QLabel*>(QStringLiteral("message"))->text(),
              QStringLiteral("Delete \u201capp/Http\u201d? This action cannot be undone."));
    // Cancel keeps everything.
    QPushButton* cancel = nullptr;
    QPushButton* remove = nullptr;
    for (QPushButton* b : confirmation->findChildren<QPushButton*>())
        (b->text() == QStringLiteral("Cancel") ? cancel : remove) = b;
    ASSERT_NE(cancel, nullptr);
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(remove->text(), QStringLiteral("Delete"));
    click(cancel);
    EXPECT_FALSE(v.deleteCandidate().has_value());
    EXPECT_TRUE(QFileInfo(at(QStringLiteral("app/Http"))).isDir());

    click(v.deleteButton());
    confirmation = v.deleteConfirmation();
    ASSERT_NE(confirmation, nullptr);
    for (QPushButton* b : confirmation->findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("Delete"))
            click(b);
    EXPECT_FALSE(v.deleteCandidate().has_value());
    EXPECT_FALSE(QFileInfo::exists(at(QStringLiteral("app/Http"))));
    EXPECT_EQ(v.statusLabel()->text(), QStringLiteral("Folder Http deleted."));
    EXPECT_EQ(shownPanelTitle(), QStringLiteral("Select a source file"));
    EXPECT_FALSE(v.deleteButton()->isEnabled());

    // A file's confirmation.
    clickRow(QStringLiteral("README.md"));
    click(v.deleteButton());
    ASSERT_NE(v.deleteConfirmation(), nullptr);
    EXPECT_EQ(v.deleteConfirmation()->windowTitle(), QStringLiteral("Delete File?"));
    EXPECT_EQ(v.deleteConfirmation()->findChild<QLabel*>(QStringLiteral("message"))->text(),
              QStringLiteral("Delete \u201cREADME.md\u201d? This action cannot be undone."));
    QTest::keyClick(v.deleteConfirmation(), Qt::Key_Escape);
    EXPECT_FALSE(v.deleteCandidate().has_value());
    EXPECT_TRUE(QFileInfo::exists(at(QStringLiteral("README.md"))));
    EXPECT_EQ(closes, 0); // Escape in the confirmation is not Done
}

TEST_F(CodeIDEViewTest, FinderRevealsTheRoot)
{
    QStringList revealed;
    FileManagerReveal::setHandler([&revealed](const QString& path) { revealed << path; });
    CodeIDEView& v = open();
    click(v.finderButton());
    EXPECT_EQ(revealed, QStringList{site});
}

TEST_F(CodeIDEViewTest, FinderWithoutAFileManagerSaysWhy)
{
    TestEnvironment::NoDesktopHandlers nothing;
    CodeIDEView& v = open();
    click(v.finderButton());
    const QString start = QStringLiteral("Could not show %1 in a file manager: no file manager answered (there is no session bus), "
                                         "and opening it with the default handler failed: ")
                              .arg(site);
    ASSERT_TRUE(waitUntil([&] { return v.model().statusMessage().startsWith(start); }, 20000)) << v.model().statusMessage().toStdString();
    EXPECT_TRUE(v.model().statusMessage().endsWith(QStringLiteral("(xdg-open exit status 3)."))) << v.model().statusMessage().toStdString();
}

TEST_F(CodeIDEViewTest, RevealFallsBackToOpeningTheFolder)
{
    // No bus to answer: the folder is opened instead.
    qputenv("DBUS_SESSION_BUS_ADDRESS", QFile::encodeName(QStringLiteral("unix:path=") + dir.path() + QStringLiteral("/no-bus")));
    QList<QUrl> opened;
    std::optional<bool> shown;
    const FileManagerReveal::Opener record = [&opened](const QUrl& url, const UrlOpener::Failed&) -> std::optional<QString> {
        opened << url;
        return std::nullopt;
    };
    QStringList failures;
    const FileManagerReveal::Failed failed = [&failures](const QString& reason) { failures << reason; };
    FileManagerReveal::revealWith(QStringLiteral("/usr/bin/dbus-send"), site, record, failed, [&shown](bool s) { shown = s; });
    EXPECT_TRUE(waitUntil([&] { return shown.has_value(); }, 10000));
    EXPECT_EQ(shown, false);
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(site)});

    // A file manager that answers: nothing else is opened; the item goes as a file URL.
    const QString fake = dir.path() + QStringLiteral("/dbus-send");
    writeFile(fake, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n");
    QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    opened.clear();
    shown.reset();
    const QString odd = site + QStringLiteral("/a, b");
    QDir().mkpath(odd);
    FileManagerReveal::revealWith(fake, odd, record, failed, [&shown](bool s) { shown = s; });
    EXPECT_TRUE(waitUntil([&] { return shown.has_value(); }, 10000));
    EXPECT_EQ(shown, true);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(failures.isEmpty());
    const QString args = QString::fromUtf8(readBytes(fake + QStringLiteral(".args")));
    EXPECT_TRUE(args.contains(QStringLiteral("org.freedesktop.FileManager1.ShowItems"))) << args.toStdString();
    EXPECT_TRUE(args.contains(QStringLiteral("array:string:file://") + QString::fromUtf8(QUrl::fromLocalFile(site).path(QUrl::FullyEncoded).toUtf8())
                              + QStringLiteral("/a%2C%20b\n")))
        << args.toStdString();
}

TEST_F(CodeIDEViewTest, ANewItemAppearsInPlaceWithTheOpenFoldersStillOpen)
{
    CodeIDEView& v = open();
    clickRow(QStringLiteral("app"));
    clickRow(QStringLiteral("app/Http"));
    clickRow(QStringLiteral("resources"));
    clickRow(QStringLiteral("resources/views"));
    CodeFileTreeRows& rows = v.fileTree()->rows();
    QSignalSpy resets(&rows, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&rows, &QAbstractItemModel::rowsInserted);
    auto create = [&](QPushButton* button, const QString& name) {
        click(button);
        ASSERT_NE(v.newItemSheet(), nullptr);
        QTest::keyClicks(v.newItemSheet()->nameField(), name);
        QTest::keyClick(v.newItemSheet()->nameField(), Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] { return v.newItemSheet() == nullptr; }));
        waitForFile();
    };
    auto expectOpenFolders = [&](const char* when) {
        for (const char* folder : {"app", "app/Http", "resources", "resources/views"})
            EXPECT_TRUE(node(QString::fromUtf8(folder))->isExpanded()) << when << ": " << folder;
    };
    auto expectCurrent = [&](const QString& relative) {
        const int row = rows.rowOf(at(relative));
        ASSERT_GE(row, 0) << relative.toStdString();
        EXPECT_EQ(v.fileTree()->currentIndex().row(), row) << relative.toStdString();
        EXPECT_TRUE(v.fileTree()->viewport()->rect().intersects(v.fileTree()->rowRect(at(relative)))) << "scrolled into view";
    };

    // A file in an open folder, between its neighbours in the listing's order.
    v.model().selectDirectory(QUrl::fromLocalFile(at(QStringLiteral("app/Http"))));
    create(v.newFileButton(), QStringLiteral("Middleware.php"));
    expectOpenFolders("after a new file");
    EXPECT_EQ(rows.rowOf(at(QStringLiteral("app/Http/Middleware.php"))), rows.rowOf(at(QStringLiteral("app/Http/Kernel.php"))) + 1);
    EXPECT_EQ(node(QStringLiteral("app/Http/Middleware.php"))->depth(), 2);
    expectCurrent(QStringLiteral("app/Http/Middleware.php"));
    EXPECT_TRUE(node(QStringLiteral("app/Http/Middleware.php"))->isSelected()) << "open, so highlighted";
    EXPECT_EQ(v.model().statusMessage(), QStringLiteral("app/Http/Middleware.php opened."));

    // A folder: listed among the folders, chosen in the tree, the target for new items unchanged.
    create(v.newFolderButton(), QStringLiteral("Requests"));
    expectOpenFolders("after a new folder");
    EXPECT_EQ(rows.rowOf(at(QStringLiteral("app/Http/Requests"))), rows.rowOf(at(QStringLiteral("app/Http/Controllers"))) + 1);
    expectCurrent(QStringLiteral("app/Http/Requests"));
    EXPECT_EQ(v.model().selectedTreeItem(), (CodeFileItem{QUrl::fromLocalFile(at(QStringLiteral("app/Http/Requests"))), true}));
    EXPECT_TRUE(v.deleteButton()->isEnabled());
    EXPECT_EQ(v.sidebarLocation()->text(), QStringLiteral("app/Http"));

    // In the root, and in a folder the user closed again, which opens to show it.
    v.model().selectDirectory(v.model().rootURL());
    create(v.newFileButton(), QStringLiteral("artisan.bak"));
    expectOpenFolders("after a new file in the root");
    EXPECT_EQ(rows.rowOf(at(QStringLiteral("artisan.bak"))), rows.rowOf(at(QStringLiteral("artisan"))) + 1);
    expectCurrent(QStringLiteral("artisan.bak"));
    clickRow(QStringLiteral("resources/views")); // the target again, and closed
    ASSERT_FALSE(node(QStringLiteral("resources/views"))->isExpanded());
    create(v.newFileButton(), QStringLiteral("about.blade.php"));
    EXPECT_TRUE(node(QStringLiteral("resources/views"))->isExpanded());
    expectCurrent(QStringLiteral("resources/views/about.blade.php"));

    EXPECT_EQ(resets.count(), 0) << "the tree was not built again";
    EXPECT_GE(inserted.count(), 4);
    EXPECT_EQ(v.model().treeRevision(), 1);
}

TEST_F(CodeIDEViewTest, AFileChangedFromAShellIsTakenInOrNeverWrittenOver)
{
    CodeIDEView& v = open();
    clickRow(QStringLiteral("routes"));
    clickRow(QStringLiteral("routes/web.php"));
    ASSERT_NE(v.editor(), nullptr);
    auto shell = [&](const QByteArray& text) {
        QProcess sh;
        sh.setWorkingDirectory(at(QStringLiteral("routes")));
        sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("printf '%s' \"$1\" > web.php"),
                                             QStringLiteral("sh"), QString::fromUtf8(text)});
        ASSERT_TRUE(sh.waitForFinished(30000));
        ASSERT_EQ(sh.exitCode(), 0);
    };

    // No unsaved edit: the new text is shown; the key typed next goes into it and is saved with it.
    shell("<?php\n// from git\n");
    ASSERT_TRUE(waitUntil([&] { return v.editor()->text() == QStringLiteral("<?php\n// from git\n"); }, 10000));
    EXPECT_EQ(v.statusLabel()->text(), QStringLiteral("routes/web.php changed on disk and was reloaded."));
    typeInEditor(QString());
    QTest::keyClick(v.editor()->textView(), Qt::Key_End, Qt::ControlModifier);
    typeInEditor(QStringLiteral("x"));
    EXPECT_TRUE(waitUntil([&] { return v.statusLabel()->text() == QStringLiteral("Saved routes/web.php."); }, 5000));
    EXPECT_EQ(readBytes(at(QStringLiteral("routes/web.php"))), QByteArray("<?php\n// from git\nx"));

    // Unsaved edits: the prompt; the file keeps the other program's text.
    typeInEditor(QStringLiteral("y"));
    shell("<?php\n// formatted\n");
    ASSERT_TRUE(waitUntil([&] { return v.diskChangeBar()->isVisible(); }, 10000));
    EXPECT_EQ(v.editor()->text(), QStringLiteral("<?php\n// from git\nxy"));
    EXPECT_EQ(v.statusIcon()->property("symbol").toString(), QStringLiteral("checkmark.circle"));
    typeInEditor(QStringLiteral("z"));
    EXPECT_FALSE(v.model().isSavePending());
    EXPECT_EQ(readBytes(at(QStringLiteral("routes/web.php"))), QByteArray("<?php\n// formatted\n"));
    QApplication::processEvents();
    EXPECT_TRUE(v.grab().save(screenshotDir() + QStringLiteral("/code-workspace-changed-on-disk.png")));
    click(v.keepTextButton());
    EXPECT_FALSE(v.diskChangeBar()->isVisible());
    EXPECT_EQ(readBytes(at(QStringLiteral("routes/web.php"))), QByteArray("<?php\n// from git\nxyz"));

    // Deleted on disk: said, and not made again by the next keystroke.
    ASSERT_TRUE(QFile::remove(at(QStringLiteral("routes/web.php"))));
    ASSERT_TRUE(waitUntil([&] { return v.statusLabel()->text() == QStringLiteral("routes/web.php was deleted on disk."); }, 10000));
    typeInEditor(QStringLiteral("!"));
    EXPECT_TRUE(waitUntil([&] { return CodeIDEView::isFailure(v.statusLabel()->text()); }, 3000));
    EXPECT_FALSE(QFileInfo::exists(at(QStringLiteral("routes/web.php"))));
}

TEST_F(CodeIDEViewTest, LaravelScreenshot)
{
    CodeIDEView& v = open();
    clickRow(QStringLiteral("app"));
    clickRow(QStringLiteral("app/Http"));
    clickRow(QStringLiteral("resources"));
    clickRow(QStringLiteral("app/Http/Kernel.php"));
    ASSERT_NE(v.editor(), nullptr);
    EXPECT_EQ(v.model().content().toUtf8(), kKernel);
    QApplication::processEvents();
    EXPECT_TRUE(v.grab().save(screenshotDir() + QStringLiteral("/code-workspace-laravel.png")));
}

// ---- In the application window ------------------------------------------------------------------

namespace {

class CodeIDEInWindowTest : public CodeIDEViewTest {
protected:
    void SetUp() override
    {
        CodeIDEViewTest::SetUp();
        SablewickhavenApp::prepare(*qApp);
        t = TestEnvironment::makePlatform(dir.path() + QStringLiteral("/app"));
        window = std::make_unique<ContentView>(t.platform);
        window->setTerminationHandler([]() {});
        window->model().modifyConfig([this](AppConfig& c) { c.projects = {project}; });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->setSection(AppSection::projects);
    }

    void TearDown() override
    {
        window.reset();
        CodeIDEViewTest::TearDown();
    }

    CodeIDEView* openFromProjectCard()
    {
        auto* page = qobject_cast<ProjectsPage*>(window->page());
        EXPECT_NE(page, nullptr);
        if (!page || page->rows().isEmpty())
            return nullptr;
        QTest::mouseClick(page->rows().first()->codeIDEButton(), Qt::LeftButton);
        return qobject_cast<CodeIDEView*>(window->codeWorkspace());
    }

    // Opens web.php in the window's workspace and types without waiting for the autosave.
    CodeIDEView* openAndType(const QString& text)
    {
        CodeIDEView* workspace = openFromProjectCard();
        if (!workspace)
            return nullptr;
        view.reset(); // the fixture's own view is not used here
        CodeFileTreeRows& rows = workspace->fileTree()->rows();
        rows.tap(rows.rowOf(at(QStringLiteral("routes"))));
        rows.tap(rows.rowOf(at(QStringLiteral("routes/web.php"))));
        EXPECT_TRUE(QTest::qWaitFor([workspace]() { return !workspace->model().isLoadingFile(); }, 10000));
        CodeTextEditor* editor = workspace->editor();
        EXPECT_NE(editor, nullptr);
        if (!editor)
            return nullptr;
        QWidget* target = editor->textView();
        target->setFocus();
        QTest::keyClick(target, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(target, text);
        return workspace;
    }

    TestEnvironment::TestPlatform t;
    std::unique_ptr<ContentView> window;
};

} // namespace

TEST_F(CodeIDEInWindowTest, CodeIDEOnAProjectCardOpensTheWorkspaceAndDoneReturns)
{
    CodeIDEView* workspace = openFromProjectCard();
    ASSERT_NE(workspace, nullptr);
    ASSERT_TRUE(window->codeIDEProject().has_value());
    EXPECT_EQ(window->codeIDEProject()->id, QStringLiteral("shop"));
    EXPECT_TRUE(workspace->isVisible());
    EXPECT_FALSE(window->sidebar()->isVisible());
    EXPECT_EQ(workspace->model().rootURL().toLocalFile(), site);

    QPointer<CodeIDEView> guard = workspace;
    QTest::keyClick(workspace->doneButton(), Qt::Key_Escape);
    EXPECT_FALSE(window->codeIDEProject().has_value());
    EXPECT_EQ(window->section(), AppSection::projects);
    EXPECT_TRUE(window->sidebar()->isVisible());
    EXPECT_TRUE(waitUntil([&] { return guard.isNull(); }));
}

TEST_F(CodeIDEInWindowTest, DoneAndEscapeSaveBeforeClosing)
{
    for (bool escape : {false, true}) {
        const QString text = escape ? QStringLiteral("// escape") : QStringLiteral("// done");
        CodeIDEView* workspace = openAndType(text);
        ASSERT_NE(workspace, nullptr);
        ASSERT_TRUE(workspace->model().isSavePending());
        if (escape)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        else
            QTest::mouseClick(workspace->doneButton(), Qt::LeftButton);
        EXPECT_FALSE(window->codeIDEProject().has_value());
        EXPECT_TRUE(readBytes(at(QStringLiteral("routes/web.php"))).endsWith(text.toUtf8())) << escape;
        EXPECT_TRUE(window->sidebar()->isVisible());
    }
}

TEST_F(CodeIDEInWindowTest, QuittingTheApplicationSavesUnsavedText)
{
    CodeIDEView* workspace = openAndType(QStringLiteral("// typed just before quitting"));
    ASSERT_NE(workspace, nullptr);
    ASSERT_TRUE(workspace->model().isSavePending());
    QCoreApplication::removePostedEvents(qApp, QEvent::Quit);
    QTimer::singleShot(0, qApp, []() { QCoreApplication::quit(); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, []() { QCoreApplication::exit(99); });
    watchdog.start(10000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(readBytes(at(QStringLiteral("routes/web.php"))).endsWith("// typed just before quitting"));
}

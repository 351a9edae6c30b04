// The workspace model on real temporary folders: root resolution, listing, containment, display
// paths, loading limits, saving in place (also on a full disk and over a size limit), the
// debounced autosave, creating and deleting.
#include "platform/Dispatch.h"
#include "platform/FileSystem.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"
#include "workspace/CodeIDEModel.h"
#include "workspace/CodeItemType.h"
#include "WorkspaceTestKit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using TestFiles::readBytes;
using TestFiles::writeFile;
using WorkspaceTestKit::projectAt;

namespace {

QStringList names(const QList<CodeFileItem>& items)
{
    QStringList result;
    for (const CodeFileItem& item : items)
        result.append(item.name() + (item.isDirectory ? QStringLiteral("/") : QString()));
    return result;
}

// Selects `file` and lets its text, read off the main thread, arrive.
void select(CodeIDEModel& model, const QUrl& file)
{
    model.selectFile(file);
    EXPECT_TRUE(QTest::qWaitFor([&model]() { return !model.isLoadingFile(); }, 10000));
}

struct stat statOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st;
}

class CodeIDEModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path() + QStringLiteral("/site");
        QDir().mkpath(root);
    }

    QString at(const QString& relative) const { return root + u'/' + relative; }
    QUrl url(const QString& relative) const { return QUrl::fromLocalFile(at(relative)); }

    CodeIDEModel& open()
    {
        model = std::make_unique<CodeIDEModel>(projectAt(root));
        return *model;
    }

    // Opens `relative` (written with `bytes` first) and checks that it is editable.
    CodeIDEModel& openFile(const QString& relative, const QByteArray& bytes)
    {
        writeFile(at(relative), bytes);
        CodeIDEModel& m = model ? *model : open();
        select(m, url(relative));
        EXPECT_TRUE(m.isEditable()) << m.statusMessage().toStdString();
        return m;
    }

    QTemporaryDir dir;
    QString root;
    std::unique_ptr<CodeIDEModel> model;
};

} // namespace

// ---- Item types -------------------------------------------------------------------------------

TEST(CodeItemTypes, RawValuesRoundTripAndNoOtherTextIsAType)
{
    EXPECT_EQ(CodeItemTypes::rawValue(CodeItemType::file), QStringLiteral("File"));
    EXPECT_EQ(CodeItemTypes::rawValue(CodeItemType::folder), QStringLiteral("Folder"));
    for (const CodeItemType type : {CodeItemType::file, CodeItemType::folder})
        EXPECT_EQ(CodeItemTypes::fromRawValue(CodeItemTypes::rawValue(type)), type);
    for (const char* other : {"", "file", "FOLDER", " File", "Folder ", "Files", "Directory"})
        EXPECT_FALSE(CodeItemTypes::fromRawValue(QString::fromUtf8(other)).has_value()) << other;
}

// ---- Root, listing, containment, display paths ------------------------------------------------

TEST_F(CodeIDEModelTest, RootResolution)
{
    struct Case {
        const char* given;   // relative to the temporary folder
        const char* artisan; // entry created beside the last folder, or nullptr
        bool artisanIsFolder;
        const char* expected;
    };
    const Case cases[] = {
        {"laravel/public", "laravel/artisan", false, "laravel"},
        {"laravel2/public", "laravel2/artisan", true, "laravel2"},
        {"plain/public", nullptr, false, "plain/public"},
        {"upper/Public", "upper/artisan", false, "upper/Public"},
        {"dots/./x/../public", "dots/artisan", false, "dots"},
        {"site/", nullptr, false, "site"},
    };
    for (const Case& c : cases) {
        const QString given = dir.path() + u'/' + QString::fromUtf8(c.given);
        QDir().mkpath(given);
        if (c.artisan) {
            const QString artisan = dir.path() + u'/' + QString::fromUtf8(c.artisan);
            if (c.artisanIsFolder)
                QDir().mkpath(artisan);
            else
                writeFile(artisan, "<?php\n");
        }
        CodeIDEModel m(projectAt(given));
        EXPECT_EQ(m.rootURL().toLocalFile(), dir.path() + u'/' + QString::fromUtf8(c.expected)) << c.given;
        EXPECT_EQ(m.selectedDirectory(), m.rootURL()) << c.given;
        EXPECT_EQ(m.statusMessage(), QStringLiteral("Project tree refreshed.")) << c.given;
        EXPECT_EQ(m.treeRevision(), 1) << c.given;
        EXPECT_FALSE(m.selectedFile().has_value());
        EXPECT_FALSE(m.isEditable());
        EXPECT_TRUE(m.content().isEmpty());
    }
}

TEST_F(CodeIDEModelTest, ListingPutsFoldersFirstInCaseInsensitiveOrderWithoutGitAndLinks)
{
    for (const char* folder : {"zeta", "Config", "assets", ".git", ".github"})
        QDir().mkpath(at(QString::fromUtf8(folder)));
    for (const char* file : {"b.txt", "A.txt", ".env", "artisan"})
        writeFile(at(QString::fromUtf8(file)), "x");
    ASSERT_EQ(::symlink(QFile::encodeName(at("assets")).constData(), QFile::encodeName(at("link-dir")).constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(at("b.txt")).constData(), QFile::encodeName(at("link-file")).constData()), 0);
    ASSERT_EQ(::symlink("/nowhere", QFile::encodeName(at("dangling")).constData()), 0);

    CodeIDEModel& m = open();
    EXPECT_EQ(names(m.rootItems()), (QStringList{QStringLiteral(".github/"), QStringLiteral("assets/"),
                                                 QStringLiteral("Config/"), QStringLiteral("zeta/"),
                                                 QStringLiteral(".env"), QStringLiteral("A.txt"),
                                                 QStringLiteral("artisan"), QStringLiteral("b.txt")}));
    EXPECT_EQ(m.items(m.rootURL()), m.rootItems());
    // A ".git" below the root is left out too; an unreadable or outside folder lists nothing.
    QDir().mkpath(at("assets/.git"));
    writeFile(at("assets/app.js"), "x");
    EXPECT_EQ(names(m.items(url("assets"))), QStringList{QStringLiteral("app.js")});
    EXPECT_TRUE(m.items(url("missing")).isEmpty());
    EXPECT_TRUE(m.items(QUrl::fromLocalFile(dir.path())).isEmpty());
}

TEST_F(CodeIDEModelTest, NamesThatCompareEqualKeepTheListingOrder)
{
    for (const char* file : {"readme", "README", "ReadMe", "Readme"})
        writeFile(at(QString::fromUtf8(file)), "x");
    QStringList listed;
    const auto entries = FileSystem::listDirectory(root);
    ASSERT_TRUE(entries.has_value());
    for (const auto& entry : *entries)
        listed.append(entry.name);
    EXPECT_EQ(names(open().rootItems()), listed);
}

TEST_F(CodeIDEModelTest, ContainmentRefusesSiblingsWithTheSamePrefixAndOutwardLinks)
{
    const QString sibling = dir.path() + QStringLiteral("/site2");
    writeFile(sibling + QStringLiteral("/x.php"), "<?php");
    ASSERT_EQ(::symlink(QFile::encodeName(sibling).constData(), QFile::encodeName(at("out")).constData()), 0);
    writeFile(at("in.php"), "<?php");
    QDir().mkpath(at("inner"));
    ASSERT_EQ(::symlink(QFile::encodeName(at("inner")).constData(), QFile::encodeName(at("inward")).constData()), 0);
    CodeIDEModel& m = open();

    for (const QUrl& outside : {QUrl::fromLocalFile(sibling + QStringLiteral("/x.php")), url("out/x.php"),
                                url("../site2/x.php")}) {
        select(m, outside);
        EXPECT_EQ(m.statusMessage(), QStringLiteral("This file is outside the project folder.")) << outside.toString().toStdString();
        EXPECT_FALSE(m.selectedFile().has_value());
        EXPECT_FALSE(m.selectedTreeItem().has_value());
        EXPECT_FALSE(m.canDelete(CodeFileItem{outside, false}));
    }
    EXPECT_TRUE(m.items(url("out")).isEmpty());
    m.selectDirectory(url("out"));
    EXPECT_EQ(m.selectedDirectory(), m.rootURL());

    // A link that stays inside is inside.
    m.selectDirectory(url("inward"));
    EXPECT_EQ(m.selectedDirectory(), url("inward"));
}

TEST_F(CodeIDEModelTest, DisplayPaths)
{
    writeFile(at("app/Http/Kernel.php"), "<?php\n");
    QDir().mkpath(at("app/Models"));
    CodeIDEModel& m = open();

    select(m, url("app/Http/Kernel.php"));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("app/Http/Kernel.php opened."));
    m.selectDirectory(url("app"));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("New items will be created in app."));
    EXPECT_EQ(m.selectedTreeItem(), (CodeFileItem{url("app"), true}));

    EXPECT_EQ(m.displayPath(m.rootURL()), QStringLiteral("site"));
    EXPECT_EQ(m.displayPath(url("app/Models")), QStringLiteral("app/Models"));
    // The root's own path again further down stays in the result.
    const QString nested = QStringLiteral("vendor") + root + QStringLiteral("/x.php");
    EXPECT_EQ(m.displayPath(url(nested)), nested);
    writeFile(at(nested), "x");
    select(m, url(nested));
    EXPECT_EQ(m.statusMessage(), nested + QStringLiteral(" opened."));
}

// ---- Loading ----------------------------------------------------------------------------------

TEST_F(CodeIDEModelTest, LoadingLimitsAndRefusals)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        bool opens;
        const char* status; // for refusals
    };
    const Case cases[] = {
        {"exact.txt", QByteArray(CodeIDEModel::maximumFileSize, 'a'), true, nullptr},
        {"over.txt", QByteArray(CodeIDEModel::maximumFileSize + 1, 'a'), false, "File is larger than 5 MB and was not opened."},
        {"zero.php", QByteArray("<?php\0echo 1;", 13), false, "Binary or non-UTF-8 files cannot be edited."},
        {"latin1.txt", QByteArray("caf\xe9 cr\xe8me\n"), false, "Binary or non-UTF-8 files cannot be edited."},
        {"surrogate.txt", QByteArray("\xed\xa0\x80"), false, "Binary or non-UTF-8 files cannot be edited."},
        {"empty.txt", QByteArray(), true, nullptr},
        {"utf8.txt", QByteArray("caf\xc3\xa9\n"), true, nullptr},
    };
    writeFile(at("sub/start.php"), "<?php // start\n");
    CodeIDEModel& m = open();
    for (const Case& c : cases) {
        const QString name = QString::fromUtf8(c.name);
        writeFile(at(name), c.bytes);
        // Start from an open file in a sub-folder each time.
        select(m, url(QStringLiteral("sub/start.php")));
        ASSERT_TRUE(m.isEditable());
        select(m, url(name));
        EXPECT_EQ(m.selectedFile(), url(name)) << c.name;
        EXPECT_EQ(m.selectedTreeItem(), (CodeFileItem{url(name), false})) << c.name;
        EXPECT_EQ(m.isEditable(), c.opens) << c.name;
        if (c.opens) {
            EXPECT_EQ(m.content().toUtf8(), c.bytes) << c.name;
            EXPECT_EQ(m.statusMessage(), name + QStringLiteral(" opened.")) << c.name;
            EXPECT_EQ(m.selectedDirectory(), m.rootURL()) << c.name;
        } else {
            EXPECT_TRUE(m.content().isEmpty()) << c.name;
            EXPECT_EQ(m.statusMessage(), QString::fromUtf8(c.status)) << c.name;
            // The folder of the file open before stays the target.
            EXPECT_EQ(m.selectedDirectory(), url(QStringLiteral("sub"))) << c.name;
        }
    }
    // Unreadable information: nothing but the tree item changes.
    select(m, url(QStringLiteral("sub/start.php")));
    select(m, url(QStringLiteral("gone.php")));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Could not read file information."));
    EXPECT_EQ(m.selectedFile(), url(QStringLiteral("sub/start.php")));
    EXPECT_TRUE(m.isEditable());
    EXPECT_EQ(m.content(), QStringLiteral("<?php // start\n"));
    EXPECT_EQ(m.selectedTreeItem(), (CodeFileItem{url(QStringLiteral("gone.php")), false}));
}

TEST_F(CodeIDEModelTest, FifosSocketsAndFoldersAreRefusedWithoutWaiting)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(at("pipe")).constData(), 0644), 0);
    QDir().mkpath(at("folder"));
    CodeIDEModel& m = open();
    QElapsedTimer clock;
    clock.start();
    for (const char* name : {"pipe", "folder"}) {
        select(m, url(QString::fromUtf8(name)));
        EXPECT_EQ(m.selectedFile(), url(QString::fromUtf8(name)));
        EXPECT_FALSE(m.isEditable());
        EXPECT_EQ(m.statusMessage(), QStringLiteral("Binary or non-UTF-8 files cannot be edited.")) << name;
    }
    EXPECT_LT(clock.elapsed(), 2000);

    // A FIFO put in place of the open file does not hold the save either.
    openFile(QStringLiteral("index.php"), "<?php\n");
    ASSERT_TRUE(QFile::remove(at("index.php")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(at("index.php")).constData(), 0644), 0);
    m.setContent(QStringLiteral("<?php echo 1;\n"));
    clock.restart();
    EXPECT_FALSE(m.saveNow());
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(m.statusMessage().startsWith(QStringLiteral("Could not save file: "))) << m.statusMessage().toStdString();
}

TEST_F(CodeIDEModelTest, TextRoundTripsByteForByte)
{
    // Byte-order mark, CR LF, a lone CR, no-break space, line separator, tab, no final newline.
    const QByteArray bytes("\xef\xbb\xbf<?php\r\necho 'a\xc2\xa0" "b';\rx\xe2\x80\xa8y\t");
    CodeIDEModel& m = openFile(QStringLiteral("index.php"), bytes);
    EXPECT_EQ(m.content().toUtf8(), bytes);
    m.setContent(m.content() + QStringLiteral("z"));
    ASSERT_TRUE(m.saveNow());
    EXPECT_EQ(readBytes(at("index.php")), bytes + "z");
}

// ---- Saving -----------------------------------------------------------------------------------

TEST_F(CodeIDEModelTest, SaveKeepsTheFileItselfModeAndHardLinks)
{
    CodeIDEModel& m = openFile(QStringLiteral("index.php"), "<?php echo 'a long old text that is cut';\n");
    ASSERT_EQ(::chmod(QFile::encodeName(at("index.php")).constData(), 0640), 0);
    ASSERT_EQ(::link(QFile::encodeName(at("index.php")).constData(), QFile::encodeName(at("linked.php")).constData()), 0);
    const struct stat before = statOf(at("index.php"));

    for (const QString& text : {QStringLiteral("<?php echo 'b';\n"), QStringLiteral("<?php echo 'a longer new text than any before';\n")}) {
        m.setContent(text);
        ASSERT_TRUE(m.saveNow());
        EXPECT_EQ(m.statusMessage(), QStringLiteral("Saved index.php."));
        const struct stat after = statOf(at("index.php"));
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_nlink, 2u);
        EXPECT_EQ(readBytes(at("index.php")), text.toUtf8());
        EXPECT_EQ(readBytes(at("linked.php")), text.toUtf8());
    }
}

TEST_F(CodeIDEModelTest, UnchangedTextIsNotWrittenSoChangesOnDiskSurvive)
{
    writeFile(at("b.php"), "<?php // b\n");
    CodeIDEModel& m = openFile(QStringLiteral("a.php"), "<?php // a\n");
    // A checkout or a formatter changes the file meanwhile.
    writeFile(at("a.php"), "<?php // changed on disk\n");
    select(m, url(QStringLiteral("b.php")));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("b.php opened."));
    EXPECT_EQ(readBytes(at("a.php")), QByteArray("<?php // changed on disk\n"));
    writeFile(at("b.php"), "<?php // b changed\n");
    EXPECT_TRUE(m.saveNow());
    EXPECT_EQ(readBytes(at("b.php")), QByteArray("<?php // b changed\n"));
    // With no edit of its own, the workspace takes the new text in.
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return m.content() == QStringLiteral("<?php // b changed\n"); }, 5000));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("b.php changed on disk and was reloaded."));

    // An edit that restores the saved text lets the scheduled save run, which writes nothing.
    const struct stat before = statOf(at("b.php"));
    m.setContent(QStringLiteral("<?php // b edited\n"));
    m.contentChanged();
    m.setContent(QStringLiteral("<?php // b changed\n"));
    m.contentChanged();
    EXPECT_TRUE(m.isSavePending());
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !m.isSavePending(); }, 3000));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Saved b.php."));
    const struct stat after = statOf(at("b.php"));
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST_F(CodeIDEModelTest, TenEditsMakeOneWriteAfterTheLast)
{
    CodeIDEModel& m = openFile(QStringLiteral("index.php"), "<?php\n");
    WorkspaceTestKit::ManualDelays delays;
    delays.install(m);
    QSignalSpy status(&*model, &CodeIDEModel::statusMessageChanged);
    for (int i = 1; i <= 10; ++i) {
        m.setContent(QStringLiteral("<?php\n") + QString(i, u'x'));
        m.contentChanged();
        EXPECT_EQ(m.statusMessage(), QStringLiteral("Saving...")) << "edit " << i;
        EXPECT_TRUE(m.isSavePending());
        delays.advance(100);
        EXPECT_EQ(readBytes(at("index.php")), QByteArray("<?php\n")) << "edit " << i;
    }
    // Every edit replaced the wait before it; only the last one's is left.
    EXPECT_EQ(delays.started(), 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(delays.pending(), 1);

    // The last edit is 100 ms old: nothing is written until its full delay has passed.
    delays.advance(CodeIDEModel::autosaveDelayMs - 100 - 1);
    EXPECT_EQ(readBytes(at("index.php")), QByteArray("<?php\n"));
    EXPECT_TRUE(m.isSavePending());
    delays.advance(1);
    EXPECT_EQ(readBytes(at("index.php")), QByteArray("<?php\nxxxxxxxxxx"));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Saved index.php."));
    EXPECT_FALSE(m.isSavePending());
    // "Saving..." once, then "Saved index.php." once.
    EXPECT_EQ(status.count(), 2);

    // Nothing is left to happen later: no wait, no work handed to another thread.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(delays.pending(), 0);
    delays.advance(10 * CodeIDEModel::autosaveDelayMs);
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_EQ(status.count(), 2);
    EXPECT_EQ(readBytes(at("index.php")), QByteArray("<?php\nxxxxxxxxxx"));
}

TEST_F(CodeIDEModelTest, LoadsAndRefusedFilesScheduleNothing)
{
    CodeIDEModel& m = openFile(QStringLiteral("index.php"), "<?php\n");
    m.contentChanged();
    EXPECT_FALSE(m.isSavePending());
    writeFile(at("bin.dat"), QByteArray("\0\1", 2));
    select(m, url(QStringLiteral("bin.dat")));
    m.setContent(QStringLiteral("typed into nothing"));
    m.contentChanged();
    EXPECT_FALSE(m.isSavePending());
    EXPECT_TRUE(m.saveNow());
    EXPECT_EQ(readBytes(at("bin.dat")), QByteArray("\0\1", 2));
}

TEST_F(CodeIDEModelTest, AFileDeletedOnDiskIsNotCreatedAgain)
{
    CodeIDEModel& m = openFile(QStringLiteral("index.php"), "<?php\n");
    ASSERT_TRUE(QFile::remove(at("index.php")));
    m.setContent(QStringLiteral("<?php echo 2;\n"));
    m.contentChanged();
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !m.isSavePending(); }, 3000));
    EXPECT_TRUE(m.statusMessage().startsWith(QStringLiteral("Could not save file: "))) << m.statusMessage().toStdString();
    EXPECT_GT(m.statusMessage().size(), QStringLiteral("Could not save file: ").size());
    EXPECT_FALSE(QFile::exists(at("index.php")));
    EXPECT_EQ(m.content(), QStringLiteral("<?php echo 2;\n"));
}

TEST_F(CodeIDEModelTest, AFailedSaveStopsTheSelectionOnce)
{
    writeFile(at("b.php"), "<?php // b\n");
    CodeIDEModel& m = openFile(QStringLiteral("a.php"), "<?php // a\n");
    m.setContent(QStringLiteral("<?php // unsaved work\n"));
    m.contentChanged();
    ASSERT_TRUE(QFile::remove(at("a.php")));

    select(m, url(QStringLiteral("b.php")));
    EXPECT_EQ(m.selectedFile(), url(QStringLiteral("a.php")));
    EXPECT_EQ(m.content(), QStringLiteral("<?php // unsaved work\n"));
    EXPECT_TRUE(m.isEditable());
    EXPECT_TRUE(m.statusMessage().startsWith(QStringLiteral("Could not save file: ")));

    // Choosing again gives the unsaved text up.
    select(m, url(QStringLiteral("b.php")));
    EXPECT_EQ(m.selectedFile(), url(QStringLiteral("b.php")));
    EXPECT_EQ(m.content(), QStringLiteral("<?php // b\n"));

    // A new edit after a stop makes the next failure stop the selection again.
    m.setContent(QStringLiteral("<?php // more\n"));
    ASSERT_TRUE(QFile::remove(at("b.php")));
    select(m, url(QStringLiteral("a.php")));
    EXPECT_EQ(m.selectedFile(), url(QStringLiteral("b.php")));
}

namespace {

// Fills the file system holding `folder` up to the last byte.
void fillDisk(const QString& folder)
{
    QFile filler(folder + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    const QByteArray byte(1, 'f');
    while (filler.write(byte) == 1 && filler.flush()) {
    }
    filler.close();
}

} // namespace

TEST_F(CodeIDEModelTest, ASaveOnAFullDiskKeepsTheOldBytes)
{
    const QString mountPoint = dir.path() + QStringLiteral("/small");
    QDir().mkpath(mountPoint);
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    struct Unmount {
        QString path;
        ~Unmount() { ::umount2(QFile::encodeName(path).constData(), MNT_DETACH); }
    } unmount{mountPoint};

    root = mountPoint + QStringLiteral("/site");
    QDir().mkpath(root);
    QByteArray old = "<?php\n" + QByteArray(20000, 'o') + "\n";
    CodeIDEModel& m = openFile(QStringLiteral("index.php"), old);
    fillDisk(mountPoint);

    m.setContent(QStringLiteral("<?php\n") + QString(60000, u'n'));
    EXPECT_FALSE(m.saveNow());
    EXPECT_TRUE(m.statusMessage().startsWith(QStringLiteral("Could not save file: "))) << m.statusMessage().toStdString();
    EXPECT_EQ(readBytes(at("index.php")), old);
    // Still dirty: the next save tries again, and succeeds once there is room.
    ASSERT_TRUE(QFile::remove(mountPoint + QStringLiteral("/filler")));
    EXPECT_TRUE(m.saveNow());
    EXPECT_EQ(readBytes(at("index.php")), m.content().toUtf8());

    // A shorter text needs no new space and saves on a full disk.
    fillDisk(mountPoint);
    m.setContent(QStringLiteral("<?php // short\n"));
    EXPECT_TRUE(m.saveNow());
    EXPECT_EQ(readBytes(at("index.php")), QByteArray("<?php // short\n"));
}

TEST_F(CodeIDEModelTest, ASaveOverTheFileSizeLimitKeepsTheOldBytes)
{
    const QByteArray old = "<?php\n" + QByteArray(2000, 'o') + "\n";
    CodeIDEModel& m = openFile(QStringLiteral("index.php"), old);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    m.setContent(QStringLiteral("<?php\n") + QString(10000, u'n'));
    const bool saved10k = m.saveNow();
    const QByteArray onDisk = readBytes(at("index.php"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved10k);
    EXPECT_TRUE(m.statusMessage().startsWith(QStringLiteral("Could not save file: "))) << m.statusMessage().toStdString();
    EXPECT_EQ(onDisk, old);
}

// ---- Creating ---------------------------------------------------------------------------------

TEST_F(CodeIDEModelTest, CreateRefusesBadNamesAndExistingEntries)
{
    writeFile(at("exists.php"), "x");
    ASSERT_EQ(::symlink("/nowhere", QFile::encodeName(at("dangling")).constData()), 0);
    CodeIDEModel& m = open();
    const QString invalid = QStringLiteral("Use a valid name without / or : characters.");
    const QString exists = QStringLiteral("An item with this name already exists.");
    const struct {
        QString name;
        QString status;
    } cases[] = {
        {QString(), invalid},
        {QStringLiteral("  \n\t "), invalid},
        {QStringLiteral("."), invalid},
        {QStringLiteral(" .. "), invalid},
        {QStringLiteral("a/b.php"), invalid},
        {QStringLiteral("a:b.php"), invalid},
        {QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b"), invalid},
        {QStringLiteral("exists.php"), exists},
        {QStringLiteral(" exists.php "), exists},
        {QStringLiteral("dangling"), exists},
    };
    for (const auto& c : cases) {
        for (bool folder : {false, true}) {
            EXPECT_FALSE(m.createItem(c.name, folder)) << c.name.toStdString();
            EXPECT_EQ(m.statusMessage(), c.status) << c.name.toStdString();
        }
    }
    EXPECT_EQ(m.treeRevision(), 1);
    EXPECT_EQ(readBytes(at("exists.php")), QByteArray("x"));
}

TEST_F(CodeIDEModelTest, CreateMakesTrimmedItemsAndOpensANewFile)
{
    QDir().mkpath(at("app"));
    CodeIDEModel& m = open();
    m.selectDirectory(url(QStringLiteral("app")));

    QSignalSpy created(&m, &CodeIDEModel::itemCreated);
    EXPECT_TRUE(m.createItem(QStringLiteral("  Models \n"), true));
    EXPECT_TRUE(QFileInfo(at("app/Models")).isDir());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Folder Models created."));
    EXPECT_EQ(m.selectedDirectory(), url(QStringLiteral("app")));
    EXPECT_EQ(m.selectedTreeItem(), (CodeFileItem{url(QStringLiteral("app/Models")), true}));
    // Shown in place: the tree is not listed again.
    EXPECT_EQ(m.treeRevision(), 1);
    ASSERT_EQ(created.count(), 1);
    EXPECT_EQ(created.at(0).at(0).value<CodeFileItem>(), (CodeFileItem{url(QStringLiteral("app/Models")), true}));

    EXPECT_TRUE(m.createItem(QStringLiteral(" User.php "), false));
    EXPECT_TRUE(QFileInfo(at("app/User.php")).isFile());
    EXPECT_EQ(QFileInfo(at("app/User.php")).size(), 0);
    EXPECT_EQ(m.selectedFile(), url(QStringLiteral("app/User.php")));
    EXPECT_TRUE(m.isEditable());
    EXPECT_TRUE(m.content().isEmpty());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("app/User.php opened."));

    // The target folder vanished from disk.
    m.selectDirectory(url(QStringLiteral("app/Models")));
    ASSERT_TRUE(QDir(at("app/Models")).removeRecursively());
    for (bool folder : {true, false}) {
        EXPECT_FALSE(m.createItem(QStringLiteral("Post"), folder));
        EXPECT_TRUE(m.statusMessage().startsWith(QStringLiteral("Could not create item: "))) << m.statusMessage().toStdString();
        EXPECT_GT(m.statusMessage().size(), QStringLiteral("Could not create item: ").size());
        EXPECT_FALSE(QFileInfo::exists(at("app/Models")));
    }
}

TEST_F(CodeIDEModelTest, ItemsCreatedInTheRootTakeTheirPlaceInTheListing)
{
    QDir().mkpath(at("app"));
    writeFile(at("composer.json"), "{}");
    CodeIDEModel& m = open();
    EXPECT_TRUE(m.createItem(QStringLiteral("zeta.php"), false));
    EXPECT_TRUE(m.createItem(QStringLiteral("Bin"), true));
    EXPECT_TRUE(m.createItem(QStringLiteral("Alpha.md"), false));
    m.selectDirectory(m.rootURL());
    EXPECT_TRUE(m.createItem(QStringLiteral("assets"), true));
    EXPECT_EQ(m.rootItems(), m.items(m.rootURL()));
    EXPECT_EQ(names(m.rootItems()), (QStringList{QStringLiteral("app/"), QStringLiteral("assets/"), QStringLiteral("Bin/"),
                                                 QStringLiteral("Alpha.md"), QStringLiteral("composer.json"),
                                                 QStringLiteral("zeta.php")}));
    EXPECT_EQ(m.treeRevision(), 1);
}

TEST_F(CodeIDEModelTest, RootItemsTellTheirObserversWhenTheyChange)
{
    writeFile(at("index.php"), "<?php\n");
    CodeIDEModel& m = open();
    QList<QStringList> seen;
    QObject::connect(&m, &CodeIDEModel::rootItemsChanged, [&] { seen << names(m.rootItems()); });
    m.refreshTree();
    EXPECT_TRUE(seen.isEmpty()) << "the same listing is no change";
    EXPECT_TRUE(m.createItem(QStringLiteral("zeta.php"), false));
    writeFile(at("added-outside.txt"), "x");
    m.refreshTree();
    EXPECT_EQ(seen, (QList<QStringList>{{QStringLiteral("index.php"), QStringLiteral("zeta.php")},
                                       {QStringLiteral("added-outside.txt"), QStringLiteral("index.php"),
                                        QStringLiteral("zeta.php")}}));
}

// ---- Deleting ---------------------------------------------------------------------------------

TEST_F(CodeIDEModelTest, CanDelete)
{
    writeFile(at("a.php"), "x");
    QDir().mkpath(at("app"));
    CodeIDEModel& m = open();
    EXPECT_FALSE(m.canDelete(std::nullopt));
    EXPECT_FALSE(m.canDelete(CodeFileItem{m.rootURL(), true}));
    EXPECT_FALSE(m.canDelete(CodeFileItem{QUrl::fromLocalFile(root + QStringLiteral("/./")), true}));
    EXPECT_TRUE(m.canDelete(CodeFileItem{url(QStringLiteral("a.php")), false}));
    EXPECT_TRUE(m.canDelete(CodeFileItem{url(QStringLiteral("app")), true}));
    EXPECT_FALSE(m.deleteItem(CodeFileItem{m.rootURL(), true}));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Select a file or folder inside the project to delete."));
    EXPECT_TRUE(QFileInfo(root).isDir());
}

TEST_F(CodeIDEModelTest, DeletingTheFolderOfTheOpenFileClearsTheEditor)
{
    CodeIDEModel& m = openFile(QStringLiteral("app/Http/Kernel.php"), "<?php\n");
    WorkspaceTestKit::ManualDelays delays;
    delays.install(m);
    m.setContent(QStringLiteral("<?php // pending\n"));
    m.contentChanged();
    ASSERT_TRUE(m.isSavePending());
    ASSERT_EQ(delays.pending(), 1);
    EXPECT_TRUE(m.deleteItem(CodeFileItem{url(QStringLiteral("app")), true}));
    EXPECT_FALSE(QFileInfo::exists(at("app")));
    EXPECT_FALSE(m.selectedFile().has_value());
    EXPECT_FALSE(m.isEditable());
    EXPECT_TRUE(m.content().isEmpty());
    EXPECT_FALSE(m.isSavePending());
    EXPECT_FALSE(m.selectedTreeItem().has_value());
    EXPECT_EQ(m.selectedDirectory(), m.rootURL());
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Folder app deleted."));
    // The autosave was cancelled: its time passing writes nothing back.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(delays.pending(), 0);
    delays.advance(10 * CodeIDEModel::autosaveDelayMs);
    ASSERT_TRUE(Dispatch::drainForTesting());
    EXPECT_FALSE(QFileInfo::exists(at("app")));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("Folder app deleted."));
}

TEST_F(CodeIDEModelTest, DeletingAnotherItemKeepsThePendingAutosave)
{
    writeFile(at("other.php"), "x");
    CodeIDEModel& m = openFile(QStringLiteral("index.php"), "<?php\n");
    m.setContent(QStringLiteral("<?php // pending\n"));
    m.contentChanged();
    EXPECT_TRUE(m.deleteItem(CodeFileItem{url(QStringLiteral("other.php")), false}));
    EXPECT_EQ(m.statusMessage(), QStringLiteral("File other.php deleted."));
    EXPECT_EQ(m.selectedFile(), url(QStringLiteral("index.php")));
    EXPECT_EQ(m.content(), QStringLiteral("<?php // pending\n"));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return readBytes(at("index.php")) == "<?php // pending\n"; }, 3000));
    // "index.php" and "index.php-old": the plain path test does not take one for the other.
    writeFile(at("index.php-old"), "x");
    EXPECT_TRUE(m.deleteItem(CodeFileItem{url(QStringLiteral("index.php-old")), false}));
    EXPECT_TRUE(m.isEditable());
}

TEST_F(CodeIDEModelTest, DeletingAFolderRemovesLinksButNotWhatTheyPointTo)
{
    const QString outside = dir.path() + QStringLiteral("/outside");
    writeFile(outside + QStringLiteral("/keep.txt"), "keep");
    writeFile(at("app/file.txt"), "x");
    QDir().mkpath(at("app/deep"));
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(at("app/to-dir")).constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(outside + QStringLiteral("/keep.txt")).constData(),
                        QFile::encodeName(at("app/deep/to-file")).constData()), 0);
    CodeIDEModel& m = open();
    EXPECT_TRUE(m.deleteItem(CodeFileItem{url(QStringLiteral("app")), true}));
    EXPECT_FALSE(FileSystem::entryExists(at("app")));
    EXPECT_EQ(readBytes(outside + QStringLiteral("/keep.txt")), QByteArray("keep"));

    // An entry that cannot be removed reports why and stays listed: a read-only mount when the
    // test may mount one, else a folder without write permission.
    const QString locked = at(QStringLiteral("locked"));
    writeFile(locked + QStringLiteral("/x.txt"), "x");
    bool mounted = false;
    if (::mount("tmpfs", QFile::encodeName(locked).constData(), "tmpfs", 0, "size=64k") == 0) {
        mounted = true;
        writeFile(locked + QStringLiteral("/x.txt"), "x");
        ASSERT_EQ(::mount("tmpfs", QFile::encodeName(locked).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    } else {
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    }
    if (mounted || ::geteuid() != 0) {
        m.refreshTree();
        EXPECT_FALSE(m.deleteItem(CodeFileItem{QUrl::fromLocalFile(locked + QStringLiteral("/x.txt")), false}));
        EXPECT_TRUE(m.statusMessage().startsWith(QStringLiteral("Could not delete item: "))) << m.statusMessage().toStdString();
        EXPECT_TRUE(QFileInfo::exists(locked + QStringLiteral("/x.txt")));
    }
    if (mounted)
        ::umount2(QFile::encodeName(locked).constData(), MNT_DETACH);
    else
        ::chmod(QFile::encodeName(locked).constData(), 0755);
}

// The open file changed by another program, on real files with real processes (sh, mv, rm,
// touch): rewritten in place, replaced by renaming a new file over it, deleted and made again,
// deleted; with a clean text (taken in) and with unsaved edits (never written over, the user's
// choice of keeping their text or taking the file's), and the check before every write.
#include "platform/FileSystem.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"
#include "workspace/CodeIDEModel.h"
#include "WorkspaceTestKit.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using TestEnvironment::waitUntil;
using TestFiles::readBytes;
using TestFiles::writeFile;
using WorkspaceTestKit::projectAt;

namespace {

const QByteArray kOurs = "<?php // ours\n";
const QByteArray kTheirs = "<?php // formatted by another program\n";

struct Change {
    const char* name;
    // A shell script run in the project folder on index.php; $TEXT is the new text.
    const char* script;
};

const Change kChanges[] = {
    {"rewritten in place", "printf '%s' \"$TEXT\" > index.php"},
    {"replaced by renaming", "printf '%s' \"$TEXT\" > .index.php.tmp && mv -f .index.php.tmp index.php"},
    {"deleted and made again", "rm index.php && printf '%s' \"$TEXT\" > index.php"},
};

void PrintTo(const Change& c, std::ostream* os) { *os << c.name; }

// The files in the folder of save copies.
QStringList saveCopies()
{
    return QDir(FileSystem::saveCopyFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class DiskChangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path() + QStringLiteral("/site");
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/data")));
        writeFile(at("index.php"), "<?php // on disk\n");
        writeFile(at("other.php"), "<?php // other\n");
        model = std::make_unique<CodeIDEModel>(projectAt(root));
        model->selectFile(QUrl::fromLocalFile(at("index.php")));
        ASSERT_TRUE(waitUntil([&] { return !model->isLoadingFile(); }, 10000));
        ASSERT_TRUE(model->isEditable());
    }

    QString at(const QString& relative) const { return root + u'/' + relative; }

    // Runs `script` in the project folder in another process, to its end.
    void run(const char* script, const QByteArray& text = kTheirs)
    {
        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TEXT"), QString::fromUtf8(text));
        shell.setProcessEnvironment(env);
        shell.setWorkingDirectory(root);
        shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromUtf8(script)});
        ASSERT_TRUE(shell.waitForFinished(30000));
        ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    }

    // An unsaved edit, its autosave scheduled.
    void edit(const QByteArray& text = kOurs)
    {
        model->setContent(QString::fromUtf8(text));
        model->contentChanged();
    }

    QTemporaryDir dir;
    QString root;
    std::unique_ptr<CodeIDEModel> model;
};

class EachChange : public DiskChangeTest, public ::testing::WithParamInterface<Change> {};

} // namespace

TEST_P(EachChange, WithoutUnsavedEditsTheNewTextIsTakenIn)
{
    const Change c = GetParam();
    QSignalSpy conflicts(model.get(), &CodeIDEModel::diskConflictChanged);
    run(c.script);
    ASSERT_TRUE(waitUntil([&] { return model->content().toUtf8() == kTheirs; }, 10000)) << model->statusMessage().toStdString();
    EXPECT_EQ(model->statusMessage(), QStringLiteral("index.php changed on disk and was reloaded."));
    EXPECT_TRUE(model->isEditable());
    EXPECT_FALSE(model->isSavePending());
    EXPECT_EQ(conflicts.count(), 0);

    // Watched still (a file renamed into place is a new one): a second change is taken in too.
    run(c.script, "<?php // formatted once more\n");
    ASSERT_TRUE(waitUntil([&] { return model->content() == QStringLiteral("<?php // formatted once more\n"); }, 10000));

    // An edit now is saved over the new text, and the file stays watched after that save.
    edit("<?php // formatted once more, then edited\n");
    ASSERT_TRUE(waitUntil([&] { return !model->isSavePending(); }, 5000));
    EXPECT_EQ(readBytes(at("index.php")), QByteArray("<?php // formatted once more, then edited\n"));
    EXPECT_EQ(model->statusMessage(), QStringLiteral("Saved index.php."));
    run(c.script);
    ASSERT_TRUE(waitUntil([&] { return model->content().toUtf8() == kTheirs; }, 10000));
    EXPECT_EQ(conflicts.count(), 0);
}

TEST_P(EachChange, UnsavedEditsAreNeverWrittenOverTheOtherProgramsText)
{
    const Change c = GetParam();
    for (const bool keep : {true, false}) {
        SCOPED_TRACE(keep ? "Keep My Text" : "Take File's Text");
        run("printf '%s' \"$TEXT\" > index.php", "<?php // on disk\n");
        ASSERT_TRUE(waitUntil([&] { return model->content() == QStringLiteral("<?php // on disk\n") && !model->hasDiskConflict(); }, 10000));
        edit();
        ASSERT_TRUE(model->isSavePending());
        run(c.script);
        ASSERT_TRUE(waitUntil([&] { return model->hasDiskConflict(); }, 10000)) << model->statusMessage().toStdString();
        EXPECT_EQ(model->statusMessage(),
                  QStringLiteral("index.php changed on disk while it had unsaved edits: choose Keep My Text or Take File's Text."));
        EXPECT_EQ(model->content().toUtf8(), kOurs) << "the user's text stays in the editor";
        EXPECT_FALSE(model->isSavePending()) << "the autosave is not left to write";
        EXPECT_EQ(readBytes(at("index.php")), kTheirs);
        // Neither a save asked for nor another edit writes.
        EXPECT_FALSE(model->saveNow());
        edit(kOurs + "// more\n");
        EXPECT_FALSE(model->isSavePending());
        EXPECT_EQ(readBytes(at("index.php")), kTheirs);

        const QStringList copiesBefore = saveCopies();
        if (keep) {
            model->keepEditorText();
            EXPECT_FALSE(model->hasDiskConflict());
            EXPECT_EQ(readBytes(at("index.php")), kOurs + "// more\n");
            EXPECT_EQ(model->statusMessage(), QStringLiteral("Saved index.php."));
            EXPECT_EQ(saveCopies(), copiesBefore);
        } else {
            model->takeDiskText();
            EXPECT_FALSE(model->hasDiskConflict());
            EXPECT_EQ(model->content().toUtf8(), kTheirs);
            EXPECT_EQ(readBytes(at("index.php")), kTheirs);
            // The user's text is in the folder of save copies, named in the status line.
            const QStringList copies = saveCopies();
            ASSERT_EQ(copies.size(), copiesBefore.size() + 1);
            QString copy;
            for (const QString& name : copies)
                if (!copiesBefore.contains(name))
                    copy = FileSystem::saveCopyFolder() + u'/' + name;
            EXPECT_TRUE(QFileInfo(copy).fileName().startsWith(QStringLiteral("index (unsaved "))) << copy.toStdString();
            EXPECT_TRUE(copy.endsWith(QStringLiteral(").php"))) << copy.toStdString();
            EXPECT_EQ(readBytes(copy), kOurs + "// more\n");
            EXPECT_EQ(QFileInfo(copy).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
            EXPECT_EQ(model->statusMessage(),
                      QStringLiteral("index.php now has the text of the file on disk. Your text was kept in ") + copy + u'.');
            // Clean again: the next edit saves.
            edit("<?php // after taking theirs\n");
            ASSERT_TRUE(waitUntil([&] { return !model->isSavePending(); }, 5000));
            EXPECT_EQ(readBytes(at("index.php")), QByteArray("<?php // after taking theirs\n"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnDisk, EachChange, ::testing::ValuesIn(kChanges),
                         [](const ::testing::TestParamInfo<Change>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST_F(DiskChangeTest, EveryWriteChecksTheFileFirst)
{
    // The change is made and the save asked for before the watcher could tell of it.
    edit();
    run(kChanges[0].script);
    EXPECT_FALSE(model->saveNow());
    EXPECT_TRUE(model->hasDiskConflict());
    EXPECT_EQ(readBytes(at("index.php")), kTheirs);
    model->keepEditorText();
    EXPECT_EQ(readBytes(at("index.php")), kOurs);

    // A change that leaves the text as it was (touched, or written back) is no conflict: the
    // save goes on.
    QSignalSpy conflicts(model.get(), &CodeIDEModel::diskConflictChanged);
    edit(kOurs + "// more\n");
    run("touch -d '2001-02-03 04:05:06' index.php");
    EXPECT_TRUE(model->saveNow());
    EXPECT_EQ(readBytes(at("index.php")), kOurs + "// more\n");
    edit(kOurs);
    run("cp index.php copy.php && printf '%s' \"$TEXT\" > index.php", kOurs + "// more\n");
    ASSERT_TRUE(waitUntil([&] { return !model->isSavePending(); }, 5000));
    EXPECT_EQ(readBytes(at("index.php")), kOurs);
    EXPECT_EQ(conflicts.count(), 0);
}

TEST_F(DiskChangeTest, ASaveChecksTheFileAsItWrites)
{
    const QString path = at("index.php");
    const std::optional<FileSystem::FileStamp> loaded = FileSystem::stampOf(path);
    ASSERT_TRUE(loaded.has_value());
    struct Case {
        const char* name;
        const char* script;
    } cases[] = {
        {"the same size written in place", "printf '%s' '<?php // ON DISK\n' > index.php"},
        {"a new file renamed over it", "cp index.php .new && mv -f .new index.php"},
        {"only its time changed", "touch -d '2001-02-03 04:05:06' index.php"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, "<?php // on disk\n");
        const std::optional<FileSystem::FileStamp> before = FileSystem::stampOf(path);
        ASSERT_TRUE(before.has_value());
        run(c.script);
        const QByteArray now = readBytes(path);
        FileSystem::SaveCheck check;
        check.expected = before;
        QString error;
        EXPECT_FALSE(FileSystem::saveExistingFile(path, "<?php // ours\n", &error, &check));
        EXPECT_TRUE(check.changedOnDisk);
        EXPECT_EQ(readBytes(path), now);
        EXPECT_EQ(QDir(root).entryList(QDir::Files | QDir::Hidden), (QStringList{QStringLiteral("index.php"), QStringLiteral("other.php")}));
        // With the stamp it has now, the save goes through and tells the new one.
        check = FileSystem::SaveCheck();
        check.expected = FileSystem::stampOf(path);
        EXPECT_TRUE(FileSystem::saveExistingFile(path, "<?php // ours\n", &error, &check)) << error.toStdString();
        EXPECT_EQ(FileSystem::stampOf(path), check.written);
    }
}

TEST_F(DiskChangeTest, AFileDeletedOnDiskIsNotMadeAgain)
{
    for (const bool dirty : {false, true}) {
        SCOPED_TRACE(dirty ? "with unsaved edits" : "clean");
        writeFile(at("index.php"), "<?php // on disk\n");
        model->selectFile(QUrl::fromLocalFile(at("index.php")));
        ASSERT_TRUE(waitUntil([&] { return !model->isLoadingFile() && model->statusMessage() == QStringLiteral("index.php opened."); }, 10000));
        if (dirty)
            edit();
        run("rm index.php");
        ASSERT_TRUE(waitUntil([&] { return model->statusMessage() == QStringLiteral("index.php was deleted on disk."); }, 10000))
            << model->statusMessage().toStdString();
        EXPECT_TRUE(model->isEditable()) << "its text stays in the editor";
        EXPECT_EQ(model->content().toUtf8(), dirty ? kOurs : QByteArray("<?php // on disk\n"));
        edit(kOurs + "// typed after\n");
        ASSERT_TRUE(waitUntil([&] { return !model->isSavePending(); }, 5000));
        EXPECT_TRUE(model->statusMessage().startsWith(QStringLiteral("Could not save file: "))) << model->statusMessage().toStdString();
        EXPECT_FALSE(QFileInfo::exists(at("index.php")));

        // Closing keeps the text that had nowhere to go in the folder of save copies.
        const QStringList before = saveCopies();
        model->saveBeforeClosing();
        EXPECT_FALSE(QFileInfo::exists(at("index.php")));
        const QStringList after = saveCopies();
        ASSERT_EQ(after.size(), before.size() + 1);
        EXPECT_TRUE(model->statusMessage().startsWith(QStringLiteral("index.php could not be saved. Your text was kept in ")))
            << model->statusMessage().toStdString();
        EXPECT_TRUE(model->statusMessage().contains(after.last()) || model->statusMessage().contains(after.first()));
    }
}

TEST_F(DiskChangeTest, TextThatCannotBeWrittenIsKeptWhenTheFileIsLeft)
{
    edit();
    run(kChanges[1].script);
    ASSERT_TRUE(waitUntil([&] { return model->hasDiskConflict(); }, 10000));
    // Choosing another file: stopped once, with the prompt's message; chosen again, the text goes
    // to the folder of save copies, and the other file opens.
    model->selectFile(QUrl::fromLocalFile(at("other.php")));
    EXPECT_EQ(model->selectedFile(), QUrl::fromLocalFile(at("index.php")));
    EXPECT_TRUE(model->hasDiskConflict());
    model->selectFile(QUrl::fromLocalFile(at("other.php")));
    ASSERT_TRUE(waitUntil([&] { return !model->isLoadingFile(); }, 10000));
    EXPECT_EQ(model->selectedFile(), QUrl::fromLocalFile(at("other.php")));
    EXPECT_FALSE(model->hasDiskConflict());
    EXPECT_EQ(readBytes(at("index.php")), kTheirs);
    const QStringList copies = saveCopies();
    ASSERT_EQ(copies.size(), 1);
    const QString copy = FileSystem::saveCopyFolder() + u'/' + copies.first();
    EXPECT_EQ(readBytes(copy), kOurs);
    EXPECT_EQ(model->statusMessage(), QStringLiteral("other.php opened. Your text of index.php was kept in ") + copy + u'.');
}

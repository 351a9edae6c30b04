// The workspace's save against real crashes: child processes saving a 4 MB file back to back are
// killed with SIGKILL at random moments, and every time the file holds a whole version (or, where
// the file is overwritten in place, a whole copy of the new text is left and named on opening).
// Also: links followed, hard links and the file's mode, owner and group kept, long names, a
// failed save that leaves nothing behind, and what the workspace makes of what interrupted saves
// left: stale temporary files removed, side files never listed, a newer copy's text opened.
#include "platform/FileSystem.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"
#include "workspace/CodeIDEModel.h"
#include "WorkspaceTestKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <thread>
#include <iostream>
#include <optional>
#include <grp.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using TestFiles::readBytes;
using TestFiles::writeFile;
using WorkspaceTestKit::projectAt;

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr uid_t kNobody = 65534;

// Version `n` of the file: 4 MB (a little more for some versions) of one letter, then its number.
QByteArray version(qint64 n)
{
    QByteArray bytes(4 * kMiB + (n % 3) * 65536, char('a' + n % 26));
    bytes += "\nversion " + QByteArray::number(n) + '\n';
    return bytes;
}

// The version that `bytes` is whole, or nothing for a torn file.
std::optional<qint64> wholeVersion(const QByteArray& bytes)
{
    const qsizetype mark = bytes.lastIndexOf("\nversion ");
    if (mark < 0 || !bytes.endsWith('\n'))
        return std::nullopt;
    bool ok = false;
    const qint64 n = bytes.mid(mark + 9, bytes.size() - mark - 10).toLongLong(&ok);
    if (!ok || n < 0 || bytes != version(n))
        return std::nullopt;
    return n;
}

QByteArray bytesOf(const QString& path) { return QFile::encodeName(path); }

struct stat statOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(bytesOf(path).constData(), &st), 0) << path.toStdString();
    return st;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Sets an environment variable for one scope.
struct ScopedEnv {
    QByteArray name;
    QByteArray old;
    bool had;
    ScopedEnv(const char* n, const QString& value)
        : name(n), old(qgetenv(n)), had(qEnvironmentVariableIsSet(n))
    {
        qputenv(n, QFile::encodeName(value));
    }
    ~ScopedEnv()
    {
        if (had)
            qputenv(name.constData(), old);
        else
            qunsetenv(name.constData());
    }
};

// A child process that runs `body` (as the user nobody when asked) and reports through a pipe.
class Child {
public:
    // `body` writes one byte to `report` per completed step; it returns the exit status.
    Child(bool asNobody, const std::function<int(int report)>& body)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            if (asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
                ::_exit(3);
            ::_exit(body(fds[1]));
        }
        ::close(fds[1]);
        m_report = fds[0];
    }
    ~Child()
    {
        kill();
        if (m_report >= 0)
            ::close(m_report);
    }

    bool started() const { return m_pid > 0; }

    // Waits (bounded) for `count` more reported steps; false when the child ended or hung.
    bool waitForSteps(int count)
    {
        while (count > 0) {
            pollfd p{m_report, POLLIN, 0};
            if (::poll(&p, 1, 120000) <= 0)
                return false;
            char buffer[64];
            const ssize_t got = ::read(m_report, buffer, std::min<size_t>(sizeof buffer, size_t(count)));
            if (got <= 0)
                return false;
            count -= int(got);
        }
        return true;
    }

    // Kills with SIGKILL and reaps; returns the wait status.
    int kill()
    {
        if (m_pid <= 0)
            return m_status;
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return m_status;
    }

    // Waits for the child to end by itself; returns its exit code, or -1.
    int exitCode()
    {
        while (::waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_report = -1;
    int m_status = 0;
};

// Whether a child of this process can take the user nobody (root with the right to change users).
bool canBecomeNobody()
{
    if (::geteuid() != 0)
        return false;
    Child probe(true, [](int) { return 0; });
    return probe.started() && probe.exitCode() == 0;
}

// Back-to-back saves of versions `first`, `first + 1`, ... through the real save code.
int saveForever(const QString& path, qint64 first, int report)
{
    for (qint64 n = first;; ++n) {
        QString error;
        if (!FileSystem::saveExistingFile(path, version(n), &error))
            return 2;
        const char step = 1;
        if (::write(report, &step, 1) != 1)
            return 4;
    }
}

bool isTemporary(const QString& name) { return name.contains(QStringLiteral(".kovani-save-")); }
bool isCopy(const QString& name) { return name.contains(QStringLiteral(".kovani-copy")); }

struct SoakCase {
    const char* name;
    bool hardLink;        // a second name for the file: it is overwritten in place after a copy
    bool lockedFolder;    // a folder the saving user cannot add to: the copy goes elsewhere
};

void PrintTo(const SoakCase& c, std::ostream* os) { *os << c.name; }

class CrashDuringSave : public ::testing::TestWithParam<SoakCase> {};

} // namespace

TEST_P(CrashDuringSave, LeavesAWholeVersionEveryTime)
{
    const SoakCase c = GetParam();
    if (c.lockedFolder && !canBecomeNobody())
        GTEST_SKIP() << "needs root to save as another user";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + QStringLiteral("/site");
    const QString path = folder + QStringLiteral("/big.php");
    const QString copies = dir.path() + QStringLiteral("/data");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QDir().mkpath(copies));
    const ScopedEnv dataHome("XDG_DATA_HOME", copies);
    const QString copyFolder = FileSystem::saveCopyFolder();
    ASSERT_TRUE(copyFolder.startsWith(copies));
    writeFile(path, version(0));
    if (c.hardLink)
        ASSERT_EQ(::link(bytesOf(path).constData(), bytesOf(folder + QStringLiteral("/other-name.php")).constData()), 0);
    if (c.lockedFolder) {
        // The user nobody may write the file and the folder of copies, but not add to the file's folder.
        ASSERT_EQ(::chmod(bytesOf(dir.path()).constData(), 0755), 0);
        ASSERT_EQ(::chmod(bytesOf(folder).constData(), 0755), 0);
        ASSERT_EQ(::chmod(bytesOf(path).constData(), 0666), 0);
        ASSERT_EQ(::chmod(bytesOf(copies).constData(), 0777), 0);
    }
    const ino_t inode = statOf(path).st_ino;

    int torn = 0;
    int copiesLeft = 0;
    qint64 next = 1;
    for (int kill = 0; kill < 20; ++kill) {
        Child child(c.lockedFolder, [&](int report) { return saveForever(path, next, report); });
        ASSERT_TRUE(child.started());
        // A few whole saves, then a random moment inside the next ones.
        ASSERT_TRUE(child.waitForSteps(1 + int(QRandomGenerator::global()->bounded(3)))) << "the saving child stopped";
        ::usleep(QRandomGenerator::global()->bounded(40000u));
        const int status = child.kill();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended by itself: " << status;

        const std::optional<qint64> onDisk = wholeVersion(readBytes(path));
        if (c.hardLink)
            EXPECT_EQ(readBytes(folder + QStringLiteral("/other-name.php")), readBytes(path)) << "one file, two names";
        if (c.hardLink || c.lockedFolder)
            EXPECT_EQ(statOf(path).st_ino, inode) << "overwritten in place";

        // What the save left beside the file, or in the folder of copies.
        QStringList leftovers;
        for (const QString& where : {folder, copyFolder}) {
            for (const QString& name : entries(where)) {
                if (isTemporary(name) || isCopy(name))
                    leftovers.append(where + u'/' + name);
            }
        }
        const QList<FileSystem::LeftCopy> left = FileSystem::leftSaveCopies(path);
        const std::optional<QString> copy = left.isEmpty() ? std::nullopt : std::optional(left.first().path);
        if (!onDisk) {
            ++torn;
            // Only an in-place write can be caught half done, and then its copy is whole.
            ASSERT_TRUE(c.hardLink || c.lockedFolder) << "kill " << kill << ": the file is neither version";
            ASSERT_TRUE(copy.has_value()) << "kill " << kill << ": a torn file without a copy";
        }
        if (copy) {
            ++copiesLeft;
            EXPECT_TRUE(wholeVersion(readBytes(*copy)).has_value()) << "kill " << kill << ": the copy is torn";
        }
        EXPECT_LE(leftovers.size(), 1) << leftovers.join(u' ').toStdString();
        for (const QString& left : leftovers) {
            // A copy only where the file is overwritten in place.
            if (isCopy(left))
                EXPECT_TRUE(c.hardLink || c.lockedFolder) << left.toStdString();
            ASSERT_TRUE(QFile::remove(left));
        }

        // The next child goes on from a whole text: the copy's, when the file is torn.
        if (!onDisk) {
            const qint64 n = *wholeVersion(readBytes(*copy));
            writeFile(path, version(n));
        }
        next = std::max(next, wholeVersion(readBytes(path)).value_or(0) + 1) + 10;
    }
    // How often the kill fell into an in-place write (informative; it depends on timing).
    std::cout << "[          ] " << c.name << ": " << torn << " of 20 kills caught an in-place write, "
              << copiesLeft << " left a copy\n";
}

INSTANTIATE_TEST_SUITE_P(
    Save, CrashDuringSave,
    ::testing::Values(SoakCase{"OneName", false, false}, SoakCase{"HardLinked", true, false},
                      SoakCase{"LockedFolder", false, true}),
    [](const ::testing::TestParamInfo<SoakCase>& info) { return std::string(info.param.name); });

// ---- What a save keeps --------------------------------------------------------------------------

TEST(CrashSafeSave, ModeOwnerAndGroupAreKeptOnTheReplacedFile)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/index.php");
    struct Case {
        mode_t mode;
        bool otherOwner;
    };
    for (const Case c : {Case{0640, false}, Case{0755, false}, Case{0604, false}, Case{0664, true}}) {
        if (c.otherOwner && ::geteuid() != 0)
            continue;
        writeFile(path, "<?php // old\n");
        ASSERT_EQ(::chmod(bytesOf(path).constData(), c.mode), 0);
        if (c.otherOwner)
            ASSERT_EQ(::chown(bytesOf(path).constData(), 1234, 5678), 0);
        const struct stat before = statOf(path);
        QString error;
        ASSERT_TRUE(FileSystem::saveExistingFile(path, "<?php // new\n", &error)) << error.toStdString();
        const struct stat after = statOf(path);
        EXPECT_EQ(readBytes(path), QByteArray("<?php // new\n"));
        EXPECT_NE(after.st_ino, before.st_ino) << "replaced by renaming";
        EXPECT_EQ(after.st_mode, before.st_mode) << std::oct << c.mode;
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("index.php")}) << "nothing left beside it";
    }
}

TEST(CrashSafeSave, ALinkIsFollowedAndStaysALink)
{
    QTemporaryDir dir;
    const QString target = dir.path() + QStringLiteral("/real/index.php");
    const QString link = dir.path() + QStringLiteral("/site/index.php");
    writeFile(target, "<?php // old\n");
    ASSERT_EQ(::chmod(bytesOf(target).constData(), 0640), 0);
    ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/site")));
    ASSERT_EQ(::symlink("../real/index.php", bytesOf(link).constData()), 0);

    QString error;
    ASSERT_TRUE(FileSystem::saveExistingFile(link, "<?php // new\n", &error)) << error.toStdString();
    struct stat st {};
    ASSERT_EQ(::lstat(bytesOf(link).constData(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(QFile::symLinkTarget(link), target);
    EXPECT_EQ(readBytes(target), QByteArray("<?php // new\n"));
    EXPECT_EQ(statOf(target).st_mode & 07777, 0640u);
    // The temporary file was made beside the target, and is gone.
    EXPECT_EQ(entries(dir.path() + QStringLiteral("/site")), QStringList{QStringLiteral("index.php")});
    EXPECT_EQ(entries(dir.path() + QStringLiteral("/real")), QStringList{QStringLiteral("index.php")});
}

TEST(CrashSafeSave, AHardLinkedFileIsOverwrittenInPlaceAndItsCopyRemoved)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/index.php");
    const QString other = dir.path() + QStringLiteral("/linked.php");
    writeFile(path, "<?php // a long old text that is cut\n");
    ASSERT_EQ(::link(bytesOf(path).constData(), bytesOf(other).constData()), 0);
    // A copy left by an earlier crash is not touched by the next saves.
    const QString earlier = dir.path() + QStringLiteral("/.index.php.kovani-copy");
    writeFile(earlier, "<?php // left by a crash\n");
    const ino_t inode = statOf(path).st_ino;
    for (const QByteArray& text : {QByteArray("<?php // b\n"), QByteArray("<?php // longer than every text before\n")}) {
        QString error;
        ASSERT_TRUE(FileSystem::saveExistingFile(path, text, &error)) << error.toStdString();
        EXPECT_EQ(statOf(path).st_ino, inode);
        EXPECT_EQ(statOf(path).st_nlink, 2u);
        EXPECT_EQ(readBytes(other), text);
        EXPECT_EQ(entries(dir.path()),
                  (QStringList{QStringLiteral(".index.php.kovani-copy"), QStringLiteral("index.php"), QStringLiteral("linked.php")}));
        EXPECT_EQ(readBytes(earlier), QByteArray("<?php // left by a crash\n"));
    }
}

TEST(CrashSafeSave, LongNamesKeepTheirSideFilesWithinTheNameLimit)
{
    QTemporaryDir dir;
    // 255 bytes, the longest name there is, ending in a character of several bytes.
    const QString name = QString(252, u'n') + QStringLiteral("é.");
    ASSERT_EQ(QFile::encodeName(name).size(), 255);
    const QString path = dir.path() + u'/' + name;
    writeFile(path, "old");
    QString error;
    ASSERT_TRUE(FileSystem::saveExistingFile(path, "renamed into place", &error)) << error.toStdString();
    EXPECT_EQ(readBytes(path), QByteArray("renamed into place"));

    ASSERT_EQ(::link(bytesOf(path).constData(), bytesOf(dir.path() + QStringLiteral("/short")).constData()), 0);
    ASSERT_TRUE(FileSystem::saveExistingFile(path, "written in place", &error)) << error.toStdString();
    EXPECT_EQ(readBytes(path), QByteArray("written in place"));
    EXPECT_EQ(entries(dir.path()).size(), 2);
}

TEST(CrashSafeSave, AFailedSaveLeavesTheOldBytesAndNothingElse)
{
    QTemporaryDir dir;
    const QString mountPoint = dir.path() + QStringLiteral("/small");
    QDir().mkpath(mountPoint);
    if (::mount("tmpfs", bytesOf(mountPoint).constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    struct Unmount {
        QString path;
        ~Unmount() { ::umount2(QFile::encodeName(path).constData(), MNT_DETACH); }
    } unmount{mountPoint};
    const ScopedEnv dataHome("XDG_DATA_HOME", dir.path() + QStringLiteral("/data"));

    for (bool hardLink : {false, true}) {
        SCOPED_TRACE(hardLink ? "hard-linked" : "one name");
        const QString path = mountPoint + QStringLiteral("/index.php");
        const QByteArray old = "<?php\n" + QByteArray(100000, 'o') + "\n";
        writeFile(path, old);
        if (hardLink)
            ASSERT_EQ(::link(bytesOf(path).constData(), bytesOf(mountPoint + QStringLiteral("/linked.php")).constData()), 0);
        const QStringList before = entries(mountPoint);
        // Room for two pages more: not for a second whole text, nor for the file to grow by 20 kB.
        QFile filler(mountPoint + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        ASSERT_TRUE(filler.resize(filler.size() - 8192));

        QString error;
        EXPECT_FALSE(FileSystem::saveExistingFile(path, "<?php\n" + QByteArray(120000, 'n'), &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(readBytes(path), old);
        QStringList expected = before + QStringList{QStringLiteral("filler")};
        expected.sort();
        EXPECT_EQ(entries(mountPoint), expected) << "no temporary file or copy left";
        EXPECT_EQ(entries(FileSystem::saveCopyFolder()), QStringList());
        for (const QString& name : entries(mountPoint))
            ASSERT_TRUE(QFile::remove(mountPoint + u'/' + name));
    }
}

TEST(CrashSafeSave, ASaveAsAnotherUserKeepsTheFileItself)
{
    if (!canBecomeNobody())
        GTEST_SKIP() << "needs root to save as another user";
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(bytesOf(dir.path()).constData(), 0755), 0);
    const QString copies = dir.path() + QStringLiteral("/data");
    ASSERT_TRUE(QDir().mkpath(copies));
    ASSERT_EQ(::chmod(bytesOf(copies).constData(), 0777), 0);
    const ScopedEnv dataHome("XDG_DATA_HOME", copies);

    struct Case {
        const char* name;
        mode_t folderMode; // the file's folder, owned by root
        uid_t fileOwner;   // the file is writable by everyone
    };
    for (const Case c : {Case{"folder takes no new entries", 0755, 0}, Case{"owner cannot be given", 0777, 1234}}) {
        SCOPED_TRACE(c.name);
        const QString folder = dir.path() + QStringLiteral("/site-") + QString::number(c.folderMode, 8);
        const QString path = folder + QStringLiteral("/index.php");
        writeFile(path, "<?php // old\n");
        ASSERT_EQ(::chmod(bytesOf(folder).constData(), c.folderMode), 0);
        ASSERT_EQ(::chown(bytesOf(path).constData(), c.fileOwner, c.fileOwner), 0);
        ASSERT_EQ(::chmod(bytesOf(path).constData(), 0666), 0);
        const struct stat before = statOf(path);

        Child child(true, [&](int) {
            QString error;
            return FileSystem::saveExistingFile(path, "<?php // new\n", &error) ? 0 : 1;
        });
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.exitCode(), 0);
        const struct stat after = statOf(path);
        EXPECT_EQ(readBytes(path), QByteArray("<?php // new\n"));
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(entries(folder), QStringList{QStringLiteral("index.php")});
        EXPECT_EQ(entries(FileSystem::saveCopyFolder()), QStringList());
    }
}

// ---- What interrupted saves leave, at the next open ------------------------------------------

namespace {

// Opens `relative` and waits for its text; returns the status.
QString openIn(CodeIDEModel& model, const QString& root, const QString& relative)
{
    model.selectFile(QUrl::fromLocalFile(root + u'/' + relative));
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !model.isLoadingFile(); }, 30000));
    return model.statusMessage();
}

QStringList listed(const CodeIDEModel& model)
{
    QStringList names;
    for (const CodeFileItem& item : model.items(model.rootURL()))
        names.append(item.name());
    return names;
}

// Saves versions of the file back to back in a child and kills it as soon as an entry of its
// folder satisfies `caught`; the name caught, or nothing when the child got no further.
std::optional<QString> killWhen(const QString& path, qint64 first, const std::function<bool(const QString&)>& caught)
{
    const QString folder = QFileInfo(path).absolutePath();
    Child child(false, [&](int report) { return saveForever(path, first, report); });
    if (!child.started())
        return std::nullopt;
    // Bounded by the number of looks; each save takes a while, the looks are quick.
    for (int look = 0; look < 2000000; ++look) {
        for (const QString& name : entries(folder)) {
            if (caught(name)) {
                child.kill();
                return name;
            }
        }
    }
    return std::nullopt;
}

struct stat lstatOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(bytesOf(path).constData(), &st), 0) << path.toStdString();
    return st;
}

} // namespace

TEST(LeftBySaves, TheTreeListsNoSideFileAndOpeningRemovesTheStaleTemporaries)
{
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/site");
    const QString path = root + QStringLiteral("/big.php");
    writeFile(path, version(0));
    writeFile(root + QStringLiteral("/other.php"), "<?php // other\n");
    const ScopedEnv dataHome("XDG_DATA_HOME", dir.path() + QStringLiteral("/data"));

    // A save killed while it writes its temporary file.
    std::optional<QString> temporary;
    for (int attempt = 0; attempt < 20 && !temporary; ++attempt) {
        temporary = killWhen(path, 1 + attempt * 10, [](const QString& name) { return isTemporary(name); });
        // Renamed in place between the look and the kill: try again.
        if (temporary && !QFileInfo::exists(root + u'/' + *temporary))
            temporary.reset();
    }
    ASSERT_TRUE(temporary.has_value()) << "no save was caught writing its temporary file";
    EXPECT_TRUE(temporary->startsWith(QStringLiteral(".big.php.kovani-save-"))) << temporary->toStdString();
    EXPECT_TRUE(wholeVersion(readBytes(path)).has_value()) << "the file itself is whole";
    // Another file's temporary file, and a copy older than its file.
    const QString othersTemporary = root + QStringLiteral("/.other.php.kovani-save-5x7q2");
    writeFile(othersTemporary, "<?php // half");
    const QString olderCopy = root + QStringLiteral("/.big.php.kovani-copy");
    writeFile(olderCopy, "<?php // the text of a save long ago\n");
    struct timespec long_ago[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, bytesOf(olderCopy).constData(), long_ago, 0), 0);

    CodeIDEModel model(projectAt(root));
    EXPECT_EQ(listed(model), (QStringList{QStringLiteral("big.php"), QStringLiteral("other.php")}));
    const QByteArray onDisk = readBytes(path);
    EXPECT_EQ(openIn(model, root, QStringLiteral("big.php")),
              QStringLiteral("big.php opened. An interrupted save left a copy of its text in ") + olderCopy + u'.');
    EXPECT_EQ(model.content().toUtf8(), onDisk) << "a copy older than the file is not opened";
    EXPECT_FALSE(QFileInfo::exists(root + u'/' + *temporary)) << "the stale temporary file of its save is gone";
    EXPECT_TRUE(QFileInfo::exists(othersTemporary)) << "another file's is left until that file is opened";
    EXPECT_TRUE(QFileInfo::exists(olderCopy));
    EXPECT_EQ(openIn(model, root, QStringLiteral("other.php")), QStringLiteral("other.php opened."));
    EXPECT_FALSE(QFileInfo::exists(othersTemporary));

    // A save of the file removes them too.
    writeFile(othersTemporary, "<?php // half again");
    model.setContent(QStringLiteral("<?php // edited\n"));
    ASSERT_TRUE(model.saveNow());
    EXPECT_TRUE(TestEnvironment::waitUntil([&] { return !QFileInfo::exists(othersTemporary); }, 10000));
    EXPECT_EQ(entries(root), (QStringList{QStringLiteral(".big.php.kovani-copy"), QStringLiteral("big.php"),
                                          QStringLiteral("other.php")}));
}

TEST(LeftBySaves, TheTemporaryFileOfARunningSaveIsNotStale)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/index.php");
    writeFile(path, version(0));
    // Saves on another thread of this process while the clean-up runs over and over.
    std::atomic_bool done{false};
    int failures = 0;
    QString firstError;
    std::thread saver([&]() {
        for (qint64 n = 1; n <= 40; ++n) {
            QString error;
            if (!FileSystem::saveExistingFile(path, version(n), &error)) {
                if (failures++ == 0)
                    firstError = error;
            }
        }
        done = true;
    });
    int cleanUps = 0;
    while (!done) {
        FileSystem::removeStaleTemporaries(path);
        ++cleanUps;
    }
    saver.join();
    EXPECT_EQ(failures, 0) << firstError.toStdString();
    EXPECT_GT(cleanUps, 0);
    EXPECT_EQ(wholeVersion(readBytes(path)).value_or(-1), 40);
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("index.php")});
}

TEST(LeftBySaves, ATornInPlaceSaveOpensTheTextOfItsCopyAndTheNextSaveRepairsTheFile)
{
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/site");
    const QString path = root + QStringLiteral("/big.php");
    const QString other = root + QStringLiteral("/linked.php");
    writeFile(path, version(0));
    // A second name: the file is overwritten in place, after a whole copy of the new text.
    ASSERT_EQ(::link(bytesOf(path).constData(), bytesOf(other).constData()), 0);
    const ScopedEnv dataHome("XDG_DATA_HOME", dir.path() + QStringLiteral("/data"));
    const ino_t inode = statOf(path).st_ino;

    // Killed once the copy is written, while the file is overwritten.
    const QString copy = root + QStringLiteral("/.big.php.kovani-copy");
    QByteArray copyText;
    for (int attempt = 0; attempt < 20 && copyText.isEmpty(); ++attempt) {
        const auto caught = killWhen(path, 1 + attempt * 10, [](const QString& name) { return name == QStringLiteral(".big.php.kovani-copy"); });
        ASSERT_TRUE(caught.has_value()) << "the saving child stopped";
        const QByteArray inCopy = readBytes(copy);
        // The copy went, or the file was already whole with it: try again.
        if (!QFileInfo::exists(copy) || readBytes(path) == inCopy)
            ::unlink(bytesOf(copy).constData());
        else
            copyText = inCopy;
    }
    ASSERT_FALSE(copyText.isEmpty()) << "no save was caught writing in place";
    ASSERT_TRUE(wholeVersion(copyText).has_value()) << "the copy is whole";
    // Caught before the overwrite began: torn here as the overwrite does it, from the start, with
    // the file's time kept (it is the overwrite's own).
    if (wholeVersion(readBytes(path))) {
        const struct stat before = lstatOf(path);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_EQ(file.write(copyText.left(copyText.size() / 2)), copyText.size() / 2);
        file.close();
        const struct timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, bytesOf(path).constData(), times, 0), 0);
    }
    const QByteArray torn = readBytes(path);
    ASSERT_FALSE(wholeVersion(torn).has_value()) << "the file is torn";

    CodeIDEModel model(projectAt(root));
    EXPECT_EQ(listed(model), (QStringList{QStringLiteral("big.php"), QStringLiteral("linked.php")}));
    EXPECT_EQ(openIn(model, root, QStringLiteral("big.php")),
              QStringLiteral("big.php opened with the text an interrupted save was writing, from ") + copy
                  + QStringLiteral("; the next save repairs the file."));
    EXPECT_TRUE(model.isEditable());
    EXPECT_EQ(model.content().toUtf8(), copyText) << "the version being saved, not the torn text";
    EXPECT_EQ(readBytes(path), torn) << "nothing is written before the next save";

    // The next save, with no edit at all (here: choosing another file), repairs the file.
    EXPECT_EQ(openIn(model, root, QStringLiteral("linked.php")), QStringLiteral("linked.php opened."));
    EXPECT_EQ(readBytes(path), copyText);
    EXPECT_EQ(readBytes(other), copyText) << "one file, two names";
    EXPECT_EQ(statOf(path).st_ino, inode);
    EXPECT_FALSE(QFileInfo::exists(copy)) << "the copy goes once the save is synced";
    EXPECT_EQ(entries(root), (QStringList{QStringLiteral("big.php"), QStringLiteral("linked.php")}));
    EXPECT_EQ(entries(FileSystem::saveCopyFolder()), QStringList());
}

TEST(LeftBySaves, ACopyOlderThanTheFileIsNamedAndAWholeOneGoes)
{
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/site");
    writeFile(root + QStringLiteral("/index.php"), "<?php // edited by hand after the crash\n");
    writeFile(root + QStringLiteral("/done.php"), "<?php // the whole new text\n");
    const QString older = root + QStringLiteral("/.index.php.kovani-copy");
    writeFile(older, "<?php // the new text of a save interrupted long ago\n");
    struct timespec long_ago[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, bytesOf(older).constData(), long_ago, 0), 0);
    // A save that wrote the whole file and was stopped before its copy went.
    const QString whole = root + QStringLiteral("/.done.php.kovani-copy");
    writeFile(whole, "<?php // the whole new text\n");

    CodeIDEModel model(projectAt(root));
    EXPECT_EQ(openIn(model, root, QStringLiteral("index.php")),
              QStringLiteral("index.php opened. An interrupted save left a copy of its text in ") + older + u'.');
    EXPECT_EQ(model.content(), QStringLiteral("<?php // edited by hand after the crash\n"));
    EXPECT_EQ(openIn(model, root, QStringLiteral("done.php")), QStringLiteral("done.php opened."));
    EXPECT_FALSE(QFileInfo::exists(whole));
    ASSERT_TRUE(QFile::remove(older));
    EXPECT_EQ(openIn(model, root, QStringLiteral("index.php")), QStringLiteral("index.php opened."));
}

// The one running instance: the lock that decides it (held, held elsewhere, released when its
// holder is killed), where its socket lives (private runtime folder or the storage folder, never
// a folder others may write, also when the path is too long for a socket address), the
// listener surviving a descriptor flood or the loss of its socket, delivering commands, and
// dropping what is not a well-formed command.
#include "app/SablewickhavenApp.h"
#include "platform/InstanceChannel.h"
#include "platform/InstanceLock.h"
#include "platform/PrivateFolder.h"
#include "support/DescriptorFlood.h"
#include "support/ForeignListener.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <csignal>

#include <fcntl.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Received {
    QString command;
    QString argument;
};

class InstanceChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        storage = dir.path() + QStringLiteral("/support/Kovani");
        runtime = dir.path() + QStringLiteral("/runtime");
        ASSERT_TRUE(QDir().mkpath(runtime));
        ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
        path = runtime + u'/' + InstanceChannel::socketName(storage);
    }

    std::unique_ptr<InstanceChannel> makeChannel() { return std::make_unique<InstanceChannel>(storage, runtime); }

    // Starts listening and records every command that arrives.
    void listen(InstanceChannel& channel)
    {
        ASSERT_EQ(channel.claim(), InstanceChannel::Claim::listening) << channel.problem().toStdString();
        ASSERT_TRUE(channel.isListening()) << channel.problem().toStdString();
        ASSERT_EQ(channel.socketPath(), path);
        QObject::connect(&channel, &InstanceChannel::commandReceived, &channel,
                         [this](const QString& command, const QString& argument) {
                             received.push_back({command, argument});
                         });
    }

    // Sends from another thread, as a second process would, while this one runs its loop.
    bool sendFromOutside(const QString& command, const QString& argument)
    {
        bool delivered = false;
        std::atomic<bool> done = false;
        std::thread sender([&]() {
            delivered = InstanceChannel::send(command, argument, 3000, path);
            done = true;
        });
        TestEnvironment::waitUntil([&]() { return done.load(); }, 5000);
        sender.join();
        return delivered;
    }

    // The same through a launch's channel, which finds the socket itself.
    static bool sendThrough(const InstanceChannel& launch, const QString& command, const QString& argument)
    {
        bool delivered = false;
        std::atomic<bool> done = false;
        std::thread sender([&]() {
            delivered = launch.send(command, argument, 3000);
            done = true;
        });
        TestEnvironment::waitUntil([&]() { return done.load(); }, 5000);
        sender.join();
        return delivered;
    }

    // Writes raw bytes on one connection and closes it, from another thread.
    void writeRaw(const QByteArray& bytes)
    {
        std::atomic<bool> done = false;
        std::thread writer([&]() {
            QLocalSocket socket;
            socket.connectToServer(path, QIODevice::WriteOnly);
            if (socket.waitForConnected(2000)) {
                socket.write(bytes);
                while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(2000)) {
                }
                socket.disconnectFromServer();
                if (socket.state() != QLocalSocket::UnconnectedState)
                    socket.waitForDisconnected(2000);
            }
            done = true;
        });
        TestEnvironment::waitUntil([&]() { return done.load(); }, 10000);
        writer.join();
    }

    bool waitForCount(size_t count, int timeoutMs = 3000)
    {
        return TestEnvironment::waitUntil([&]() { return received.size() >= count; }, timeoutMs);
    }

    // Waits until the channel reads no connection any more: every connection accepted so far has
    // delivered its command or been dropped. Connections are accepted in the order they were
    // made, so once a later one has been delivered, this covers every earlier one too.
    static bool waitIdle(const InstanceChannel& channel)
    {
        return TestEnvironment::waitUntil([&]() {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return channel.openConnectionsForTesting() == 0;
        });
    }

    QTemporaryDir dir;
    QString storage;
    QString runtime;
    QString path;
    std::vector<Received> received;
};

mode_t modeOf(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode;
}

uid_t ownerOf(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return uid_t(-1);
    return info.st_uid;
}

// Another user's account: only root can give a folder to it.
constexpr uid_t kOtherUser = 65534;

} // namespace

TEST_F(InstanceChannelTest, DeliversARaiseAndAnArgumentUnchanged)
{
    auto channel = makeChannel();
    listen(*channel);
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QString()));
    const QString argument = QStringLiteral("https://127.0.0.1/cb?code=a%2Fb&state=\u00fc\u4e2d x");
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, argument));
    ASSERT_TRUE(waitForCount(2));
    EXPECT_EQ(received[0].command, InstanceChannel::kRaise);
    EXPECT_EQ(received[0].argument, QString());
    EXPECT_EQ(received[1].argument, argument);
}

TEST_F(InstanceChannelTest, SocketIsOpenOnlyToItsUser)
{
    auto channel = makeChannel();
    listen(*channel);
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 077, 0u) << std::oct << info.st_mode;
}

TEST_F(InstanceChannelTest, NothingListeningMeansNothingDelivered)
{
    EXPECT_FALSE(InstanceChannel::send(InstanceChannel::kRaise, QString(), 1000, path));
}

TEST_F(InstanceChannelTest, StaleSocketLeftByACrashIsTakenOver)
{
    // A bound socket whose process is gone: the file stays, nobody answers.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    ASSERT_LT(size_t(name.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(path));

    auto channel = makeChannel();
    listen(*channel);
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QString()));
    EXPECT_TRUE(waitForCount(1));
}

TEST_F(InstanceChannelTest, LeftoverLockFileAndPlainFileAreTakenOver)
{
    // A lock file left by an earlier run (its contents mean nothing), and a plain file at the socket.
    TestFiles::writeFile(storage + QStringLiteral("/Instance/Kovani.lock"), "999999999\nKovani\n");
    TestFiles::writeFile(path, "left over");
    auto channel = makeChannel();
    listen(*channel);
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QString()));
    EXPECT_TRUE(waitForCount(1));
}

TEST_F(InstanceChannelTest, ALiveInstanceKeepsItsSocket)
{
    auto first = makeChannel();
    listen(*first);
    {
        auto second = makeChannel();
        EXPECT_EQ(second->claim(), InstanceChannel::Claim::anotherInstance);
        EXPECT_FALSE(second->isListening());
    }
    // The refused claim neither removed the socket nor reached the first as a command.
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QString()));
    ASSERT_TRUE(waitForCount(1));
    ASSERT_TRUE(waitIdle(*first));
    EXPECT_EQ(received.size(), 1u);

    // Once the first has quit, the next launch becomes the instance.
    first.reset();
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(QFileInfo::exists(storage + QStringLiteral("/Instance/Kovani.address")));
    auto next = makeChannel();
    EXPECT_EQ(next->claim(), InstanceChannel::Claim::listening);
}

TEST_F(InstanceChannelTest, TheLockDecidesAndALostSocketComesBack)
{
    auto first = makeChannel();
    listen(*first);
    // Nobody answers at the name any more (removed, as a cleaner of the runtime folder would).
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_FALSE(InstanceChannel::send(InstanceChannel::kRaise, QString(), 500, path));
    {
        auto second = makeChannel();
        EXPECT_EQ(second->claim(), InstanceChannel::Claim::anotherInstance);
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    // The first sets its socket up again.
    ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return QFileInfo::exists(path); },
                                           InstanceChannel::kWatchIntervalMs * 10));
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QStringLiteral("back")));
    ASSERT_TRUE(waitForCount(1));
    EXPECT_EQ(received[0].argument, QStringLiteral("back"));
}

TEST_F(InstanceChannelTest, ASocketThatCannotBeMadeIsTriedAgain)
{
    // A folder in the socket's place: the name cannot be bound, and is not removed.
    ASSERT_TRUE(QDir().mkpath(path));
    auto first = makeChannel();
    ASSERT_EQ(first->claim(), InstanceChannel::Claim::listening);
    EXPECT_FALSE(first->isListening());
    EXPECT_TRUE(first->problem().contains(path)) << first->problem().toStdString();
    const SablewickhavenApp::LaunchDecision decision
        = SablewickhavenApp::decideLaunch(*first, {InstanceChannel::kRaise, QString()}, 500);
    EXPECT_FALSE(decision.exitCode);
    EXPECT_TRUE(decision.runOrphanCleanup);
    EXPECT_TRUE(decision.message.startsWith(QStringLiteral("Kovani cannot receive the requests of later launches yet")))
        << decision.message.toStdString();
    // It is still the one instance.
    auto second = makeChannel();
    EXPECT_EQ(second->claim(), InstanceChannel::Claim::anotherInstance);

    QObject::connect(first.get(), &InstanceChannel::commandReceived, first.get(),
                     [this](const QString& command, const QString& argument) {
                         received.push_back({command, argument});
                     });
    ASSERT_TRUE(QDir(path).removeRecursively());
    ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return first->isListening(); }, InstanceChannel::kWatchIntervalMs * 10));
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QStringLiteral("at last")));
    ASSERT_TRUE(waitForCount(1));
}

TEST_F(InstanceChannelTest, LaunchesRacingEachOtherEndWithOneHolder)
{
    // Each launch opens the folder and the lock file itself, as separate processes do.
    constexpr int kLaunches = 8;
    const QString folderPath = storage + QStringLiteral("/Instance");
    std::vector<std::unique_ptr<InstanceLock>> locks(kLaunches);
    std::vector<InstanceLock::State> states(kLaunches, InstanceLock::State::unknown);
    std::atomic<int> ready = 0;
    std::vector<std::thread> launches;
    for (int i = 0; i < kLaunches; ++i) {
        launches.emplace_back([&, i]() {
            locks[i] = std::make_unique<InstanceLock>();
            ++ready;
            while (ready.load() < kLaunches) {
            }
            const PrivateFolder folder = PrivateFolder::make(folderPath);
            states[i] = locks[i]->acquire(folder);
        });
    }
    for (std::thread& launch : launches)
        launch.join();
    int held = 0;
    for (int i = 0; i < kLaunches; ++i) {
        if (states[i] == InstanceLock::State::held)
            ++held;
        else
            EXPECT_EQ(states[i], InstanceLock::State::heldElsewhere) << i;
    }
    EXPECT_EQ(held, 1);
    auto channel = makeChannel();
    EXPECT_EQ(channel->claim(), InstanceChannel::Claim::anotherInstance);
}

TEST(InstanceLock, IsReleasedWhenItsHolderIsKilledAndItsServersLiveOn)
{
    QTemporaryDir dir;
    const PrivateFolder folder = PrivateFolder::make(dir.path() + QStringLiteral("/Instance"));
    ASSERT_TRUE(folder.isValid());
    int ready[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        // The holder takes the lock, then starts a long-running child as the instance starts its
        // servers.
        InstanceLock lock;
        const char state = lock.acquire(folder) == InstanceLock::State::held ? 'h' : 'x';
        // Its close-on-exec end closes when the server has started its program.
        int started[2];
        if (::pipe2(started, O_CLOEXEC) != 0)
            ::_exit(1);
        const pid_t server = ::fork();
        if (server == 0) {
            ::execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(started[1]);
        char none;
        while (::read(started[0], &none, 1) > 0) {
        }
        [[maybe_unused]] ssize_t w = ::write(ready[1], &state, 1);
        w = ::write(ready[1], &server, sizeof(server));
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char state = 0;
    pid_t server = -1;
    const bool reported = ::read(ready[0], &state, 1) == 1 && ::read(ready[0], &server, sizeof(server)) == sizeof(server);
    ::close(ready[0]);
    const auto endHolder = [&]() {
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
    };
    if (!reported || state != 'h' || server <= 0) {
        endHolder();
        FAIL() << "the holder did not take the lock";
    }

    InstanceLock other;
    EXPECT_EQ(other.acquire(folder), InstanceLock::State::heldElsewhere);
    endHolder();
    // The holder's server outlives it and holds nothing.
    EXPECT_EQ(::kill(server, 0), 0);
    EXPECT_EQ(other.acquire(folder), InstanceLock::State::held);
    ::kill(server, SIGKILL);
}

TEST_F(InstanceChannelTest, ASocketPathTooLongForAnAddressStillCarriesMessages)
{
    // A private runtime folder whose socket path does not fit a socket address (108 bytes).
    runtime = dir.path() + u'/' + QString(120, QLatin1Char('r'));
    ASSERT_TRUE(QDir().mkpath(runtime));
    ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
    path = runtime + u'/' + InstanceChannel::socketName(storage);
    ASSERT_GE(QFile::encodeName(path).size(), qsizetype(sizeof(sockaddr_un::sun_path)));

    auto first = makeChannel();
    listen(*first);
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));

    auto second = makeChannel();
    EXPECT_EQ(second->claim(), InstanceChannel::Claim::anotherInstance);
    EXPECT_TRUE(sendThrough(*second, InstanceChannel::kRaise, QStringLiteral("long")));
    ASSERT_TRUE(waitForCount(1));
    EXPECT_EQ(received[0].argument, QStringLiteral("long"));
}

TEST_F(InstanceChannelTest, TheSocketNeverLivesInAFolderOthersMayUse)
{
    const QString privateFolder = storage + QStringLiteral("/Instance");
    const QString open = dir.path() + QStringLiteral("/open");
    const QString foreign = dir.path() + QStringLiteral("/foreign");
    const QString missing = dir.path() + QStringLiteral("/missing");
    QDir().mkpath(open);
    ::chmod(QFile::encodeName(open).constData(), 0777);
    QDir().mkpath(foreign);
    ::chmod(QFile::encodeName(foreign).constData(), 0700);
    const bool canGiveAway = ::chown(QFile::encodeName(foreign).constData(), kOtherUser, kOtherUser) == 0;
    const struct {
        const char* what;
        QString runtime;
        QString expectedFolder;
    } cases[] = {
        {"private runtime folder", runtime, runtime},
        {"no runtime folder", QString(), privateFolder},
        {"runtime folder open to all", open, privateFolder},
        {"runtime folder of another user", foreign, privateFolder},
        {"runtime folder missing", missing, privateFolder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.runtime == foreign && !canGiveAway)
            continue;
        // Someone else's program took the name in the unsafe folder and in the temporary folder.
        std::unique_ptr<ForeignListener> squatter;
        if (!c.runtime.isEmpty() && c.runtime != c.expectedFolder && c.runtime != missing) {
            squatter = std::make_unique<ForeignListener>(c.runtime + u'/' + InstanceChannel::socketName(storage));
            ASSERT_TRUE(squatter->isListening());
        }
        ForeignListener inTemp(QDir::tempPath() + u'/' + InstanceChannel::socketName(storage));

        received.clear();
        {
            InstanceChannel first(storage, c.runtime);
            ASSERT_EQ(first.claim(), InstanceChannel::Claim::listening);
            ASSERT_TRUE(first.isListening()) << first.problem().toStdString();
            path = c.expectedFolder + u'/' + InstanceChannel::socketName(storage);
            EXPECT_EQ(first.socketPath(), path);
            EXPECT_TRUE(S_ISSOCK(modeOf(path)));
            EXPECT_EQ(modeOf(c.expectedFolder) & 0777, 0700u) << std::oct << modeOf(c.expectedFolder);
            EXPECT_EQ(ownerOf(c.expectedFolder), ::geteuid());
            QObject::connect(&first, &InstanceChannel::commandReceived, &first,
                             [this](const QString& command, const QString& argument) {
                                 received.push_back({command, argument});
                             });

            // A later launch with the same places reaches the first, and only the first.
            InstanceChannel second(storage, c.runtime);
            EXPECT_EQ(second.claim(), InstanceChannel::Claim::anotherInstance);
            EXPECT_TRUE(sendThrough(second, InstanceChannel::kOAuthRedirect, QStringLiteral("kovani:/cb?code=secret")));
            EXPECT_TRUE(waitForCount(1));
        }
        if (squatter)
            EXPECT_FALSE(squatter->receivedConnection());
        EXPECT_FALSE(inTemp.receivedConnection());
        // Nothing was left in the folders that were not used.
        if (c.runtime != c.expectedFolder && !c.runtime.isEmpty() && c.runtime != missing && !squatter)
            EXPECT_FALSE(QFileInfo::exists(c.runtime + u'/' + InstanceChannel::socketName(storage)));
        EXPECT_FALSE(QFileInfo::exists(missing));
    }
}

TEST_F(InstanceChannelTest, AnInstanceFolderThatIsNotPrivateIsMadePrivateOrLeavesTheLaunchUndecided)
{
    const QString folder = storage + QStringLiteral("/Instance");
    QDir().mkpath(folder);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    {
        // This user's folder, open to others: closed again.
        auto channel = makeChannel();
        listen(*channel);
        EXPECT_EQ(modeOf(folder) & 0777, 0700u);
    }
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/Kovani.lock")));
    if (::chown(QFile::encodeName(folder).constData(), kOtherUser, kOtherUser) != 0)
        GTEST_SKIP() << "another user's folder needs root";
    // Another user's folder: no lock is taken in it, and the launch cannot tell.
    auto channel = makeChannel();
    EXPECT_EQ(channel->claim(), InstanceChannel::Claim::undetermined);
    EXPECT_TRUE(channel->problem().contains(QStringLiteral("another user"))) << channel->problem().toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/Kovani.lock")));
}

TEST_F(InstanceChannelTest, TheListenerOutlivesADescriptorFlood)
{
    auto channel = makeChannel();
    listen(*channel);
    {
        DescriptorFlood flood(path);
        ASSERT_TRUE(flood.exhausted()) << flood.connections();
        // The listener meets the queued connections with no descriptor left to accept them.
        ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return channel->acceptRetryPendingForTesting(); }));
        EXPECT_TRUE(channel->isListening());
    }
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QStringLiteral("after")));
    ASSERT_TRUE(waitForCount(1));
    EXPECT_EQ(received[0].argument, QStringLiteral("after"));
    EXPECT_TRUE(channel->isListening());
}

TEST_F(InstanceChannelTest, AFloodOfIdleConnectionsIsServedInTurn)
{
    // More idle peers than are read at once: the last message still arrives, once the idle
    // ones have been cut off.
    auto channel = makeChannel();
    listen(*channel);
    std::vector<int> idle;
    for (int i = 0; i < InstanceChannel::kMaxConnections + 8; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        idle.push_back(fd);
        // Accepted in turn until the listener reads as many as it may; the rest stay queued.
        const int accepted = std::min(i + 1, InstanceChannel::kMaxConnections);
        ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return channel->openConnectionsForTesting() == accepted; })) << i;
    }
    bool delivered = false;
    std::atomic<bool> done = false;
    std::thread sender([&]() {
        delivered = InstanceChannel::send(InstanceChannel::kRaise, QStringLiteral("late"), InstanceChannel::kReceiveTimeoutMs * 4, path);
        done = true;
    });
    TestEnvironment::waitUntil([&]() { return done.load(); }, InstanceChannel::kReceiveTimeoutMs * 5);
    sender.join();
    EXPECT_TRUE(delivered);
    // The idle peers stay connected: the listener's own time limit makes room.
    EXPECT_TRUE(waitForCount(1, InstanceChannel::kReceiveTimeoutMs * 3));
    for (const int fd : idle)
        ::close(fd);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].argument, QStringLiteral("late"));
}

TEST_F(InstanceChannelTest, MalformedMessagesAreDroppedAndTheChannelKeepsWorking)
{
    auto channel = makeChannel();
    listen(*channel);
    const QByteArray good = InstanceChannel::encode(InstanceChannel::kRaise, QStringLiteral("x"));
    ASSERT_FALSE(good.isEmpty());
    QByteArray oversize = QByteArrayLiteral("kovani-instance/1\nraise\n");
    oversize += QByteArray(InstanceChannel::kMaxMessageBytes, 'a');
    oversize += '\n';
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"oversize", oversize},
        {"a megabyte", QByteArray(1024 * 1024, 'x')},
        {"wrong greeting", QByteArrayLiteral("kovani-instance/2\nraise\n\n")},
        {"unknown command", QByteArrayLiteral("kovani-instance/1\nquit\n\n")},
        {"command in another case", QByteArrayLiteral("kovani-instance/1\nRaise\n\n")},
        {"no final line break", QByteArrayLiteral("kovani-instance/1\nraise\n")},
        {"a line too many", QByteArrayLiteral("kovani-instance/1\nraise\na\nb\n")},
        {"carriage return", QByteArrayLiteral("kovani-instance/1\nraise\r\n\n")},
        {"tab in the argument", QByteArrayLiteral("kovani-instance/1\nraise\na\tb\n")},
        {"NUL in the argument", QByteArray("kovani-instance/1\nraise\na\0b\n", 27)},
        {"invalid UTF-8", QByteArrayLiteral("kovani-instance/1\nraise\n\xc3\x28\n")},
        {"binary noise", QByteArrayLiteral("\xff\xfe\x00\x01\x02")},
    };
    for (const auto& c : cases)
        writeRaw(c.bytes);
    writeRaw(good);
    ASSERT_TRUE(waitForCount(1));
    ASSERT_TRUE(waitIdle(*channel));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].argument, QStringLiteral("x"));
}

TEST_F(InstanceChannelTest, APeerThatNeverFinishesIsCutOff)
{
    auto channel = makeChannel();
    listen(*channel);
    std::atomic<bool> cutOff = false;
    std::thread peer([&]() {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (!socket.waitForConnected(2000))
            return;
        socket.write("kovani-instance/1\nraise\n");
        socket.waitForBytesWritten(1000);
        // The listener closes the connection after its time limit.
        cutOff = socket.waitForDisconnected(InstanceChannel::kReceiveTimeoutMs + 3000);
    });
    TestEnvironment::waitUntil([&]() { return cutOff.load(); }, InstanceChannel::kReceiveTimeoutMs + 4000);
    peer.join();
    EXPECT_TRUE(cutOff);
    EXPECT_TRUE(received.empty());
}

TEST_F(InstanceChannelTest, SenderRefusesWhatTheListenerWouldDrop)
{
    auto channel = makeChannel();
    listen(*channel);
    const struct {
        const char* what;
        QString command;
        QString argument;
    } cases[] = {
        {"unknown command", QStringLiteral("quit"), QString()},
        {"line break in the argument", InstanceChannel::kRaise, QStringLiteral("a\nb")},
        {"line separator in the argument", InstanceChannel::kRaise, QStringLiteral("a\u2028b")},
        {"too long", InstanceChannel::kRaise, QString(InstanceChannel::kMaxMessageBytes, QLatin1Char('a'))},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(InstanceChannel::encode(c.command, c.argument).isEmpty()) << c.what;
        EXPECT_FALSE(InstanceChannel::send(c.command, c.argument, 1000, path)) << c.what;
    }
    // Nothing went out: a command sent after them is the only one that arrives.
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QStringLiteral("after")));
    ASSERT_TRUE(waitForCount(1));
    ASSERT_TRUE(waitIdle(*channel));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].argument, QStringLiteral("after"));
}

// Whether another open of the lock file at the path finds it locked (by the channel under test).
bool lockedAtThePath(const QString& folderPath)
{
    const PrivateFolder folder = PrivateFolder::openExisting(folderPath);
    InstanceLock probe;
    return folder.isValid() && probe.acquire(folder) == InstanceLock::State::heldElsewhere;
}

TEST_F(InstanceChannelTest, ALockFileDeletedOrReplacedIsLockedAgain)
{
    auto channel = makeChannel();
    listen(*channel);
    const QString folder = storage + QStringLiteral("/Instance");
    const QString lockPath = folder + QStringLiteral("/Kovani.lock");
    ASSERT_TRUE(lockedAtThePath(folder));
    EXPECT_EQ(channel->recordedSocketPath(), path);
    const struct {
        const char* what;
        std::function<void()> change;
    } cases[] = {
        {"lock file deleted", [&]() { QFile::remove(lockPath); }},
        {"its folder deleted", [&]() { QDir(folder).removeRecursively(); }},
        {"lock file replaced",
         [&]() {
             TestFiles::writeFile(folder + QStringLiteral("/replacement"), "another file");
             ::rename(QFile::encodeName(folder + QStringLiteral("/replacement")).constData(), QFile::encodeName(lockPath).constData());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        EXPECT_FALSE(lockedAtThePath(folder));
        ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return lockedAtThePath(folder); }, InstanceChannel::kWatchIntervalMs * 10));
        ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return channel->recordedSocketPath() == path; },
                                               InstanceChannel::kWatchIntervalMs * 10));
        auto later = makeChannel();
        EXPECT_EQ(later->claim(), InstanceChannel::Claim::anotherInstance);
    }
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QStringLiteral("still here")));
    ASSERT_TRUE(waitForCount(1));
}

TEST_F(InstanceChannelTest, AFreeLockWhileAnInstanceAnswersIsLetGo)
{
    auto first = makeChannel();
    listen(*first);
    ASSERT_TRUE(QFile::remove(storage + QStringLiteral("/Instance/Kovani.lock")));
    // No event loop in between: the first has not locked the path again.
    auto second = makeChannel();
    EXPECT_EQ(second->claim(), InstanceChannel::Claim::anotherInstance);
    EXPECT_FALSE(second->isListening());
    // The first's socket was left alone and takes the launch's command; the lock let go is the
    // first's again.
    EXPECT_TRUE(sendThrough(*second, InstanceChannel::kRaise, QStringLiteral("handed over")));
    ASSERT_TRUE(waitForCount(1));
    EXPECT_EQ(received[0].argument, QStringLiteral("handed over"));
    EXPECT_TRUE(TestEnvironment::waitUntil([&]() { return lockedAtThePath(storage + QStringLiteral("/Instance")); },
                                           InstanceChannel::kWatchIntervalMs * 10));
}

TEST_F(InstanceChannelTest, TheSocketIsFoundFromTheStorageFolderWhateverTheLaunchsRuntimeFolder)
{
    auto first = makeChannel();
    listen(*first);
    const QString other = dir.path() + QStringLiteral("/other-runtime");
    QDir().mkpath(other);
    ::chmod(QFile::encodeName(other).constData(), 0700);
    const struct {
        const char* what;
        QString runtime;
    } cases[] = {
        {"another runtime folder", other},
        {"no runtime folder", QString()},
        {"a missing runtime folder", dir.path() + QStringLiteral("/missing")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InstanceChannel later(storage, c.runtime);
        EXPECT_EQ(later.claim(), InstanceChannel::Claim::anotherInstance);
        EXPECT_NE(later.socketPath(), path);
        EXPECT_EQ(later.recordedSocketPath(), path);
        const size_t before = received.size();
        EXPECT_TRUE(sendThrough(later, InstanceChannel::kRaise, QString::fromLatin1(c.what)));
        ASSERT_TRUE(waitForCount(before + 1));
        EXPECT_EQ(received.back().argument, QString::fromLatin1(c.what));
    }
}

TEST_F(InstanceChannelTest, TwoStorageFoldersWithOneRuntimeFolderKeepTheirOwnSockets)
{
    const QString otherStorage = dir.path() + QStringLiteral("/second-home/Kovani");
    auto first = makeChannel();
    listen(*first);
    InstanceChannel second(otherStorage, runtime);
    ASSERT_EQ(second.claim(), InstanceChannel::Claim::listening);
    ASSERT_TRUE(second.isListening());
    std::vector<Received> toSecond;
    QObject::connect(&second, &InstanceChannel::commandReceived, &second,
                     [&](const QString& command, const QString& argument) { toSecond.push_back({command, argument}); });
    EXPECT_NE(second.socketPath(), path);
    EXPECT_TRUE(second.socketPath().startsWith(runtime + u'/'));

    // A launch for each storage folder reaches its own instance only.
    for (const auto& [folder, argument] : {std::pair{storage, QStringLiteral("first")}, std::pair{otherStorage, QStringLiteral("second")}}) {
        InstanceChannel launch(folder, runtime);
        EXPECT_EQ(launch.claim(), InstanceChannel::Claim::anotherInstance);
        EXPECT_TRUE(sendThrough(launch, InstanceChannel::kRaise, argument));
    }
    ASSERT_TRUE(waitForCount(1));
    ASSERT_TRUE(TestEnvironment::waitUntil([&]() { return !toSecond.empty(); }));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].argument, QStringLiteral("first"));
    ASSERT_EQ(toSecond.size(), 1u);
    EXPECT_EQ(toSecond[0].argument, QStringLiteral("second"));
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_TRUE(QFileInfo::exists(second.socketPath()));
}

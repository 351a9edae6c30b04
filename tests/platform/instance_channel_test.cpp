// The one-instance channel: claiming the socket (fresh, stale, held by a live instance), the
// socket's access, delivering commands, and dropping what is not a well-formed command.
#include "platform/InstanceChannel.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Received {
    QString command;
    QString argument;
};

class InstanceChannelTest : public ::testing::Test {
protected:
    void SetUp() override { path = dir.path() + QStringLiteral("/Kovani.instance"); }

    // Starts listening and records every command that arrives.
    void listen(InstanceChannel& channel)
    {
        ASSERT_EQ(channel.claim(), InstanceChannel::Claim::listening);
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

    QTemporaryDir dir;
    QString path;
    std::vector<Received> received;
};

} // namespace

TEST_F(InstanceChannelTest, DeliversARaiseAndAnArgumentUnchanged)
{
    InstanceChannel channel(path);
    listen(channel);
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
    InstanceChannel channel(path);
    listen(channel);
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

    InstanceChannel channel(path);
    listen(channel);
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QString()));
    EXPECT_TRUE(waitForCount(1));
}

TEST_F(InstanceChannelTest, StaleLockAndPlainFileAreTakenOver)
{
    // A lock file of a process that no longer exists, and a leftover plain file at the socket.
    TestFiles::writeFile(path + QStringLiteral(".lock"),
                         "999999999\nKovani\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    TestFiles::writeFile(path, "left over");
    InstanceChannel channel(path);
    listen(channel);
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QString()));
    EXPECT_TRUE(waitForCount(1));
}

TEST_F(InstanceChannelTest, ALiveInstanceKeepsItsSocket)
{
    auto first = std::make_unique<InstanceChannel>(path);
    listen(*first);
    {
        InstanceChannel second(path);
        EXPECT_EQ(second.claim(), InstanceChannel::Claim::anotherInstance);
        EXPECT_FALSE(second.isListening());
    }
    // The refused claim neither removed the socket nor reached the first as a command.
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QString()));
    ASSERT_TRUE(waitForCount(1));
    TestEnvironment::waitUntil([]() { return false; }, 100);
    EXPECT_EQ(received.size(), 1u);

    // Once the first has quit, the next launch becomes the instance.
    first.reset();
    EXPECT_FALSE(QFileInfo::exists(path));
    InstanceChannel next(path);
    EXPECT_EQ(next.claim(), InstanceChannel::Claim::listening);
}

TEST_F(InstanceChannelTest, LaunchesRacingEachOtherEndWithOneInstance)
{
    constexpr int kLaunches = 6;
    std::vector<std::unique_ptr<InstanceChannel>> channels(kLaunches);
    std::vector<InstanceChannel::Claim> claims(kLaunches, InstanceChannel::Claim::failed);
    std::atomic<int> ready = 0;
    std::vector<std::thread> launches;
    for (int i = 0; i < kLaunches; ++i) {
        launches.emplace_back([&, i]() {
            auto channel = std::make_unique<InstanceChannel>(path);
            ++ready;
            while (ready.load() < kLaunches) {
            }
            claims[i] = channel->claim();
            channel->moveToThread(QCoreApplication::instance()->thread());
            channels[i] = std::move(channel);
        });
    }
    for (std::thread& launch : launches)
        launch.join();
    int listening = 0;
    for (int i = 0; i < kLaunches; ++i) {
        if (claims[i] == InstanceChannel::Claim::listening) {
            ++listening;
            QObject::connect(channels[i].get(), &InstanceChannel::commandReceived, channels[i].get(),
                             [this](const QString& command, const QString& argument) {
                                 received.push_back({command, argument});
                             });
        } else {
            EXPECT_EQ(claims[i], InstanceChannel::Claim::anotherInstance) << i;
        }
    }
    EXPECT_EQ(listening, 1);
    ASSERT_TRUE(sendFromOutside(InstanceChannel::kRaise, QString()));
    ASSERT_TRUE(waitForCount(1));
    TestEnvironment::waitUntil([]() { return false; }, 100);
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(InstanceChannelTest, MalformedMessagesAreDroppedAndTheChannelKeepsWorking)
{
    InstanceChannel channel(path);
    listen(channel);
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
    TestEnvironment::waitUntil([]() { return false; }, 200);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].argument, QStringLiteral("x"));
}

TEST_F(InstanceChannelTest, APeerThatNeverFinishesIsCutOff)
{
    InstanceChannel channel(path);
    listen(channel);
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
    InstanceChannel channel(path);
    listen(channel);
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
    TestEnvironment::waitUntil([]() { return false; }, 200);
    EXPECT_TRUE(received.empty());
}

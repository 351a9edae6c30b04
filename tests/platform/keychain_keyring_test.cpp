// The keychain layer against a real Secret Service (gnome-keyring on a private session bus).
#include "platform/Keychain.h"
#include "support/KeyringSession.h"
#include "support/TestEnvironment.h"

#include <QThread>

#include <gtest/gtest.h>

#include <optional>

namespace {

const QString kService = QStringLiteral("KovaniTest");

std::optional<Keychain::Result> waitFor(std::function<void(QObject*, std::function<void(const Keychain::Result&)>)> start)
{
    QObject context;
    std::optional<Keychain::Result> result;
    start(&context, [&](const Keychain::Result& r) { result = r; });
    TestEnvironment::waitUntil([&] { return result.has_value(); }, 20000);
    return result;
}

} // namespace

TEST(KeychainKeyring, RunsWithThePrivateKeyring)
{
    EXPECT_TRUE(KeyringSession::active());
    EXPECT_FALSE(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").isEmpty());
}

TEST(KeychainKeyring, WriteReadReplaceAndRemoveAnItem)
{
    auto missing = waitFor([](QObject* c, auto done) { Keychain::read(kService, "a", c, done); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, Keychain::Status::notFound) << missing->error.toStdString();

    const QByteArray value("tok\xc3\xa9\x00x", 7);
    auto written = waitFor([&](QObject* c, auto done) { Keychain::write(kService, "a", value, c, done); });
    ASSERT_TRUE(written);
    EXPECT_EQ(written->status, Keychain::Status::ok) << written->error.toStdString();
    auto read = waitFor([](QObject* c, auto done) { Keychain::read(kService, "a", c, done); });
    ASSERT_TRUE(read);
    EXPECT_EQ(read->status, Keychain::Status::ok);
    EXPECT_EQ(read->data, value);

    // Items are kept apart by service and account.
    auto otherAccount = waitFor([](QObject* c, auto done) { Keychain::read(kService, "b", c, done); });
    EXPECT_EQ(otherAccount->status, Keychain::Status::notFound);
    auto otherService = waitFor([](QObject* c, auto done) { Keychain::read("KovaniOther", "a", c, done); });
    EXPECT_EQ(otherService->status, Keychain::Status::notFound);

    auto removed = waitFor([](QObject* c, auto done) { Keychain::remove(kService, "a", c, done); });
    EXPECT_EQ(removed->status, Keychain::Status::ok);
    auto gone = waitFor([](QObject* c, auto done) { Keychain::read(kService, "a", c, done); });
    EXPECT_EQ(gone->status, Keychain::Status::notFound);
}

TEST(KeychainKeyring, OperationsRunInTheOrderAskedFor)
{
    // Fired without waiting: delete, write, delete, write; the last write wins.
    QObject context;
    QStringList order;
    Keychain::remove(kService, "o", &context, [&](const Keychain::Result&) { order << "remove1"; });
    Keychain::write(kService, "o", "one", &context, [&](const Keychain::Result&) { order << "write1"; });
    Keychain::remove(kService, "o", &context, [&](const Keychain::Result&) { order << "remove2"; });
    Keychain::write(kService, "o", "two", &context, [&](const Keychain::Result&) { order << "write2"; });
    std::optional<Keychain::Result> last;
    Keychain::read(kService, "o", &context, [&](const Keychain::Result& r) { last = r; });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return last.has_value(); }, 20000));
    EXPECT_EQ(order, (QStringList{"remove1", "write1", "remove2", "write2"}));
    EXPECT_EQ(last->data, "two");
}

TEST(KeychainKeyring, CompletionsGoToTheContextThreadAndNotAtAllWhenItIsGone)
{
    bool called = false;
    {
        QObject gone;
        Keychain::write(kService, "g", "x", &gone, [&](const Keychain::Result&) { called = true; });
    }
    QObject context;
    QThread* seenOn = nullptr;
    std::optional<Keychain::Result> r;
    Keychain::read(kService, "g", &context, [&](const Keychain::Result& result) {
        seenOn = QThread::currentThread();
        r = result;
    });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return r.has_value(); }, 20000));
    EXPECT_EQ(seenOn, QThread::currentThread());
    EXPECT_EQ(r->data, "x");
    EXPECT_FALSE(called);
}

TEST(KeychainKeyring, BlockingFormsFromAWorkerThread)
{
    Keychain::Result written, read, removed, after;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        written = Keychain::writeBlocking(kService, "w", "blocking");
        read = Keychain::readBlocking(kService, "w");
        removed = Keychain::removeBlocking(kService, "w");
        after = Keychain::readBlocking(kService, "w");
    }));
    worker->start();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return worker->isFinished(); }, 20000));
    EXPECT_EQ(written.status, Keychain::Status::ok);
    EXPECT_EQ(read.data, "blocking");
    EXPECT_EQ(removed.status, Keychain::Status::ok);
    EXPECT_EQ(after.status, Keychain::Status::notFound);
}

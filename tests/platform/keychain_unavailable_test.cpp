// Without a Secret Service (every test that is not a keyring test) the keychain fails at once.
#include "platform/Keychain.h"
#include "support/KeyringSession.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <optional>

TEST(KeychainUnavailable, EveryOperationReportsAFailureQuickly)
{
    ASSERT_FALSE(KeyringSession::active());
    QObject context;
    std::optional<Keychain::Result> read, written, removed;
    QElapsedTimer clock;
    clock.start();
    Keychain::read("Kovani", "access_token", &context, [&](const Keychain::Result& r) { read = r; });
    Keychain::write("Kovani", "access_token", "tok", &context, [&](const Keychain::Result& r) { written = r; });
    Keychain::remove("Kovani", "access_token", &context, [&](const Keychain::Result& r) { removed = r; });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return removed.has_value(); }, 20000));
    EXPECT_LT(clock.elapsed(), 10000);
    for (const auto& r : {*read, *written, *removed}) {
        EXPECT_NE(r.status, Keychain::Status::ok);
        EXPECT_NE(r.status, Keychain::Status::notFound);
        EXPECT_FALSE(r.error.isEmpty());
    }
}

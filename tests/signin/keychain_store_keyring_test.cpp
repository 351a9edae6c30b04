// The OAuth session in a real Secret Service: save, replace, retrieve, remove and their errors.
#include "platform/Keychain.h"
#include "signin/KeychainStore.h"
#include "signin/SignInFixtures.h"
#include "support/KeyringSession.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <memory>

using namespace SignInFixtures;

namespace {

template <typename F>
auto onWorker(F work)
{
    return std::async(std::launch::async, work).get();
}

std::shared_ptr<OAuthState> signedInState(const QString& accessToken)
{
    return state({{"access_token", accessToken}, {"refresh_token", "rt"}, {"id_token", IdTokens::make(claims())}});
}

} // namespace

TEST(KeychainStore, SaveReplaceRetrieveAndRemoveThroughTheKeyring)
{
    ASSERT_TRUE(KeyringSession::active());
    onWorker([] {
        KeychainStore store(QStringLiteral("auth"), {KeychainAttribute::useFileBasedKeychain()});
        DomainError error;
        EXPECT_FALSE(store.retrieveAuthSession(&error));
        EXPECT_EQ(error.domain, QStringLiteral("KeychainStoreErrorDomain"));
        EXPECT_EQ(error.code, 1);

        ASSERT_TRUE(store.saveAuthSession(AuthSession(signedInState("first")), &error));
        ASSERT_TRUE(store.saveAuthSession(AuthSession(signedInState("second")), &error));
        EXPECT_TRUE(store.lastUsedKeyedArchiver());
        auto session = store.retrieveAuthSession(&error);
        ASSERT_TRUE(session);
        EXPECT_EQ(session->authState()->accessToken(), QStringLiteral("second"));
        EXPECT_EQ(session->authState()->refreshToken(), QStringLiteral("rt"));
        EXPECT_EQ(session->userID(), QStringLiteral("1234567890"));
        EXPECT_EQ(session->userEmail(), QStringLiteral("ada@example.com"));
        EXPECT_TRUE(store.lastUsedKeyedUnarchiver());

        // One item of service "auth" and account "OAuth", seen directly.
        const Keychain::Result raw = Keychain::readBlocking(QStringLiteral("auth"), QStringLiteral("OAuth"));
        ASSERT_EQ(raw.status, Keychain::Status::ok);
        EXPECT_TRUE(raw.data.contains("OAuthFetcherAuthorization"));

        ASSERT_TRUE(store.removeAuthSession(&error));
        EXPECT_FALSE(store.removeAuthSession(&error));
        EXPECT_EQ(error.code, 9);
        EXPECT_EQ(error.userInfo.value("itemName").toString(), QStringLiteral("auth"));
    });
}

TEST(KeychainStore, DataThatIsNotASessionArchive)
{
    ASSERT_TRUE(KeyringSession::active());
    onWorker([] {
        KeychainStore store(QStringLiteral("auth"), {KeychainAttribute::useFileBasedKeychain()});
        DomainError error;
        ASSERT_EQ(Keychain::writeBlocking("auth", "OAuth", "not an archive").status, Keychain::Status::ok);
        EXPECT_FALSE(store.retrieveAuthSession(&error));
        EXPECT_FALSE(error.domain.isEmpty());

        // An archive of another class is not a session.
        KeyedArchiver archiver;
        archiver.encodeRootObject(*signedInState("x"));
        ASSERT_EQ(Keychain::writeBlocking("auth", "OAuth", archiver.encodedData()).status, Keychain::Status::ok);
        error = {};
        EXPECT_FALSE(store.retrieveAuthSession(&error));
        EXPECT_EQ(error.domain, QStringLiteral("KeychainStoreErrorDomain"));
        EXPECT_EQ(error.code, 7);
        EXPECT_EQ(error.userInfo.value("itemName").toString(), QStringLiteral("auth"));
    });
}

TEST(KeychainStore, EmptyItemNameIsNoService)
{
    onWorker([] {
        KeychainStore store(QString(), {KeychainAttribute::useFileBasedKeychain()});
        DomainError error;
        EXPECT_FALSE(store.saveAuthSession(AuthSession(signedInState("x")), &error));
        EXPECT_EQ(error.code, 2);
        error = {};
        EXPECT_FALSE(store.retrieveAuthSession(&error));
        EXPECT_EQ(error.code, 2);
        error = {};
        EXPECT_FALSE(store.removeAuthSession(&error));
        EXPECT_EQ(error.code, 2);
    });
}

TEST(KeychainStore, WithOrWithoutTheFileBasedKeychainTheItemHoldsTheSessionAlone)
{
    // The Secret Service has no accessibility classes: whichever the store asks for, the item is
    // the session's archive under service "auth" and account "OAuth", and either store reads it.
    ASSERT_TRUE(KeyringSession::active());
    onWorker([] {
        struct Case {
            const char* store;
            std::function<std::unique_ptr<KeychainStore>()> make;
        };
        const Case cases[] = {
            {"file-based keychain",
             [] { return std::make_unique<KeychainStore>(QStringLiteral("auth"), KeychainAttributes{KeychainAttribute::useFileBasedKeychain()}); }},
            {"no attributes", [] { return std::make_unique<KeychainStore>(QStringLiteral("auth")); }},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.store);
            const std::unique_ptr<KeychainStore> store = c.make();
            DomainError error;
            ASSERT_TRUE(store->saveAuthSession(AuthSession(signedInState(QStringLiteral("token of ") + c.store)), &error))
                << error.domain.toStdString();

            const Keychain::Result raw = Keychain::readBlocking(QStringLiteral("auth"), QStringLiteral("OAuth"));
            ASSERT_EQ(raw.status, Keychain::Status::ok);
            ASSERT_TRUE(store->lastUsedKeyedArchiver());
            EXPECT_EQ(raw.data, store->lastUsedKeyedArchiver()->encodedData());

            for (const Case& reader : cases) {
                const auto session = reader.make()->retrieveAuthSession(&error);
                ASSERT_TRUE(session) << reader.store;
                EXPECT_EQ(session->authState()->accessToken(), QStringLiteral("token of ") + c.store) << reader.store;
            }
            ASSERT_TRUE(store->removeAuthSession(&error));
            EXPECT_EQ(Keychain::readBlocking(QStringLiteral("auth"), QStringLiteral("OAuth")).status, Keychain::Status::notFound);
        }
    });
}

// The OAuth session in a real Secret Service: save, replace, retrieve, remove and their errors.
#include "platform/Keychain.h"
#include "signin/KeychainStore.h"
#include "signin/SignInFixtures.h"
#include "support/KeyringSession.h"

#include <gtest/gtest.h>

#include <future>

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

// Records what the store asks of the keychain.
struct RecordingHelper : KeychainHelper {
    KeychainAttributes attributes;
    std::optional<QString> lastAccessibility = QStringLiteral("unset");
    QString accountName() const override { return QStringLiteral("OAuth"); }
    KeychainAttributes keychainAttributes() const override { return attributes; }
    QVariantMap keychainQuery(const QString&) const override { return {}; }
    std::optional<QString> password(const QString&, DomainError*) const override { return std::nullopt; }
    std::optional<QByteArray> passwordData(const QString&, DomainError*) const override { return std::nullopt; }
    bool removePassword(const QString&, DomainError*) override { return true; }
    bool setPassword(const QString&, const QString&, DomainError*) override { return true; }
    bool setPassword(const QString&, const QString&, const std::optional<QString>&, DomainError*) override { return true; }
    bool setPasswordData(const QByteArray&, const QString&, const std::optional<QString>& accessibility, DomainError*) override
    {
        lastAccessibility = accessibility;
        return true;
    }
};

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

TEST(KeychainStore, AccessibilityOnlyWithoutTheFileBasedKeychain)
{
    auto fileBased = std::make_unique<RecordingHelper>();
    RecordingHelper* fileBasedHelper = fileBased.get();
    KeychainStore withAttribute(QStringLiteral("auth"), {KeychainAttribute::useFileBasedKeychain()}, std::move(fileBased));
    withAttribute.saveAuthSession(AuthSession(signedInState("x")));
    EXPECT_EQ(fileBasedHelper->lastAccessibility, std::nullopt);

    auto plain = std::make_unique<RecordingHelper>();
    RecordingHelper* plainHelper = plain.get();
    KeychainStore without(QStringLiteral("auth"), std::move(plain));
    without.saveAuthSession(AuthSession(signedInState("x")));
    EXPECT_EQ(plainHelper->lastAccessibility, QStringLiteral("AfterFirstUnlockThisDeviceOnly"));
}

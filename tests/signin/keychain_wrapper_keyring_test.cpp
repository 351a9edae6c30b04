// Generic-password items of the OAuth session in a real Secret Service (gnome-keyring on a
// private session bus).
#include "signin/KeychainWrapper.h"
#include "support/KeyringSession.h"

#include <future>

#include <QProcess>
#include <gtest/gtest.h>

namespace {

// The keychain is used from worker threads only.
template <typename F>
auto onWorker(F work)
{
    return std::async(std::launch::async, work).get();
}

class KeychainWrapperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(KeyringSession::active());
    }

    // Items of the Secret Service as another program sees them.
    static QString lookup(const QString& service, const QString& account)
    {
        QProcess tool;
        tool.start(QStringLiteral("secret-tool"), {QStringLiteral("search"), QStringLiteral("--all"),
                                                    QStringLiteral("server"), service, QStringLiteral("user"), account});
        tool.waitForFinished(10000);
        return QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError());
    }

    KeychainWrapper wrapper{QStringLiteral("OAuth"), {KeychainAttribute::useFileBasedKeychain()}};
};

} // namespace

TEST_F(KeychainWrapperTest, WriteReadReplaceAndDelete)
{
    onWorker([&] {
        DomainError error;
        EXPECT_FALSE(wrapper.passwordData(QStringLiteral("auth"), &error));
        EXPECT_EQ(error.domain, QStringLiteral("KeychainStoreErrorDomain"));
        EXPECT_EQ(error.code, 1);
        EXPECT_EQ(error.userInfo.value("itemName").toString(), QStringLiteral("auth"));

        ASSERT_TRUE(wrapper.setPasswordData(QByteArray("first\0bytes", 11), QStringLiteral("auth"), std::nullopt, &error));
        ASSERT_TRUE(wrapper.setPasswordData("second", QStringLiteral("auth"), std::nullopt, &error));
        const auto data = wrapper.passwordData(QStringLiteral("auth"), &error);
        ASSERT_TRUE(data);
        EXPECT_EQ(*data, QByteArray("second"));
        const QString listing = lookup(QStringLiteral("auth"), QStringLiteral("OAuth"));
        EXPECT_EQ(listing.count(QStringLiteral("[/")), 1) << qPrintable(listing); // exactly one item

        ASSERT_TRUE(wrapper.removePassword(QStringLiteral("auth"), &error));
        EXPECT_FALSE(wrapper.passwordData(QStringLiteral("auth"), &error));
        EXPECT_EQ(error.code, 1);
    });
}

TEST_F(KeychainWrapperTest, RemovingAMissingItemIsNotFoundAndEmptyDataOnlyDeletes)
{
    onWorker([&] {
        DomainError error;
        EXPECT_FALSE(wrapper.removePassword(QStringLiteral("auth"), &error));
        EXPECT_EQ(error.code, 9);
        EXPECT_EQ(error.userInfo.value("itemName").toString(), QStringLiteral("auth"));

        ASSERT_TRUE(wrapper.setPasswordData("kept?", QStringLiteral("auth"), std::nullopt, &error));
        ASSERT_TRUE(wrapper.setPasswordData({}, QStringLiteral("auth"), std::nullopt, &error));
        EXPECT_FALSE(wrapper.passwordData(QStringLiteral("auth"), &error));
        EXPECT_EQ(error.code, 1);
    });
}

TEST_F(KeychainWrapperTest, EmptyServiceNameIsNoServiceEverywhere)
{
    onWorker([&] {
        DomainError error;
        EXPECT_FALSE(wrapper.passwordData(QString(), &error));
        EXPECT_EQ(error.code, 2);
        error = {};
        EXPECT_FALSE(wrapper.removePassword(QString(), &error));
        EXPECT_EQ(error.code, 2);
        error = {};
        EXPECT_FALSE(wrapper.setPasswordData("x", QString(), std::nullopt, &error));
        EXPECT_EQ(error.code, 2);
        EXPECT_TRUE(error.userInfo.isEmpty());
    });
}

TEST_F(KeychainWrapperTest, TextPasswordsAreUtf8)
{
    onWorker([&] {
        DomainError error;
        ASSERT_TRUE(wrapper.setPassword(QStringLiteral("Grüße"), QStringLiteral("auth"), &error));
        EXPECT_EQ(wrapper.password(QStringLiteral("auth"), &error), QStringLiteral("Grüße"));
        ASSERT_TRUE(wrapper.setPasswordData("\xff\xfe", QStringLiteral("auth"), std::nullopt, &error));
        EXPECT_FALSE(wrapper.password(QStringLiteral("auth"), &error));
        EXPECT_EQ(error.code, 3);
    });
}

TEST_F(KeychainWrapperTest, QueryCarriesTheAttributes)
{
    const QVariantMap fileBased = wrapper.keychainQuery(QStringLiteral("auth"));
    EXPECT_EQ(fileBased.value("account").toString(), QStringLiteral("OAuth"));
    EXPECT_EQ(fileBased.value("service").toString(), QStringLiteral("auth"));
    EXPECT_EQ(fileBased.value("useDataProtectionKeychain"), QVariant(false));

    KeychainWrapper plain;
    EXPECT_EQ(plain.keychainQuery(QStringLiteral("auth")).value("useDataProtectionKeychain"), QVariant(true));
    EXPECT_FALSE(plain.keychainQuery(QStringLiteral("auth")).contains("accessGroup"));

    KeychainWrapper grouped(QStringLiteral("OAuth"), {KeychainAttribute::keychainAccessGroup(QStringLiteral("team.group"))});
    EXPECT_EQ(grouped.keychainQuery(QStringLiteral("auth")).value("accessGroup").toString(), QStringLiteral("team.group"));

    // Attributes compare by identity: only the shared instance is the file-based attribute.
    KeychainAttributes set{KeychainAttribute::useFileBasedKeychain()};
    EXPECT_TRUE(set.contains(KeychainAttribute::useFileBasedKeychain()));
    EXPECT_FALSE(set.contains(KeychainAttribute::keychainAccessGroup(QString())));
}

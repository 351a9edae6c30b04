// The bundle's sign-in configuration written at build time from the configured client IDs.
#include "signin/PropertyList.h"
#include "signin/SignInBundle.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(BundleConfiguration, ClientIdGivesTheRedirectSchemeAndTheKeys)
{
    QTemporaryDir dir;
    const QString resources = SignInBundle::write(dir.path(), QStringLiteral("123-Abc.apps.googleusercontent.com"),
                                                  QStringLiteral("999-server.apps.googleusercontent.com"));
    ASSERT_FALSE(resources.isEmpty());
    const auto info = PropertyList::readFile(dir.path() + "/Contents/Info.plist");
    ASSERT_TRUE(info);
    const QVariantList types = info->toMap().value("CFBundleURLTypes").toList();
    ASSERT_EQ(types.size(), 1);
    EXPECT_EQ(types[0].toMap().value("CFBundleURLSchemes").toList(),
              QVariantList{QStringLiteral("com.googleusercontent.apps.123-abc")});
    EXPECT_EQ(info->toMap().value("CFBundleExecutable").toString(), QStringLiteral("Kovani"));

    const auto google = PropertyList::readFile(resources + "/GoogleService-Info.plist");
    ASSERT_TRUE(google);
    const QVariantMap keys = google->toMap();
    EXPECT_EQ(keys.value("CLIENT_ID").toString(), QStringLiteral("123-Abc.apps.googleusercontent.com"));
    EXPECT_EQ(keys.value("REVERSED_CLIENT_ID").toString(), QStringLiteral("com.googleusercontent.apps.123-Abc"));
    EXPECT_EQ(keys.value("SERVER_CLIENT_ID").toString(), QStringLiteral("999-server.apps.googleusercontent.com"));
}

TEST(BundleConfiguration, NoServerClientIdLeavesItsKeyOut)
{
    QTemporaryDir dir;
    const QString resources = SignInBundle::write(dir.path(), QStringLiteral("a.b.c"));
    ASSERT_FALSE(resources.isEmpty());
    const auto google = PropertyList::readFile(resources + "/GoogleService-Info.plist");
    ASSERT_TRUE(google);
    EXPECT_FALSE(google->toMap().contains("SERVER_CLIENT_ID"));
    EXPECT_EQ(google->toMap().value("REVERSED_CLIENT_ID").toString(), QStringLiteral("c.b.a"));
}

TEST(BundleConfiguration, WithoutAClientIdNeitherPlistCarriesOne)
{
    QTemporaryDir dir;
    // A reconfiguration without a client ID overwrites the earlier files.
    ASSERT_FALSE(SignInBundle::write(dir.path(), QStringLiteral("x.y")).isEmpty());
    const QString resources = SignInBundle::write(dir.path(), QString());
    ASSERT_FALSE(resources.isEmpty());
    const auto info = PropertyList::readFile(dir.path() + "/Contents/Info.plist");
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->toMap().contains("CFBundleURLTypes"));
    const auto google = PropertyList::readFile(resources + "/GoogleService-Info.plist");
    ASSERT_TRUE(google);
    EXPECT_TRUE(google->toMap().isEmpty());
}

TEST(BundleConfiguration, TheBuildsOwnBundleIsReadable)
{
    EXPECT_TRUE(PropertyList::readFile(QStringLiteral(KOVANI_TEST_RESOURCES_DIR "/../Info.plist")));
    EXPECT_TRUE(PropertyList::readFile(QStringLiteral(KOVANI_TEST_RESOURCES_DIR "/GoogleService-Info.plist")));
}

// The bundle's client configuration as the Google button reads it.
#include "signin/GoogleOAuthConfig.h"
#include "signin/SignInBundle.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString writePlist(const QTemporaryDir& dir, const QByteArray& content)
{
    const QString path = dir.filePath("GoogleService-Info.plist");
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
    return path;
}

QByteArray plist(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + body + "</plist>";
}

} // namespace

TEST(GoogleOAuthConfig, UnusableFilesGiveNothing)
{
    QTemporaryDir dir;
    EXPECT_FALSE(GoogleOAuthConfig::fromResources(dir.path())) << "no file";
    EXPECT_FALSE(GoogleOAuthConfig::fromResources(QString()));
    const QByteArray cases[] = {
        "CLIENT_ID=abc",
        plist("<array><string>abc</string></array>"),
        plist("<dict><key>CLIENT_ID</key><integer>12</integer><key>REVERSED_CLIENT_ID</key><string>x</string></dict>"),
        plist("<dict><key>CLIENT_ID</key><string>a.b</string></dict>"),
        plist("<dict><key>REVERSED_CLIENT_ID</key><string>b.a</string></dict>"),
        plist("<dict/>"),
    };
    for (const QByteArray& content : cases)
        EXPECT_FALSE(GoogleOAuthConfig::fromFile(writePlist(dir, content))) << content.constData();
}

TEST(GoogleOAuthConfig, ServerClientIdAbsentEmptyOrSet)
{
    QTemporaryDir dir;
    struct Case {
        QByteArray server;
        std::optional<QString> serverClientId;
        QString audience;
    } cases[] = {
        {"", std::nullopt, "a.b"},
        {"<key>SERVER_CLIENT_ID</key><string></string>", QString(""), "a.b"},
        {"<key>SERVER_CLIENT_ID</key><true/>", std::nullopt, "a.b"},
        {"<key>SERVER_CLIENT_ID</key><string>server.b</string>", QString("server.b"), "server.b"},
    };
    // Keys that are not used are ignored, whatever their type.
    const QByteArray others[] = {"<integer>1</integer>", "<real>1</real>", "<date>2026-01-01T00:00:00Z</date>",
                                 "<data>AAAA</data>"};
    for (const Case& c : cases) {
        for (const QByteArray& other : others) {
            const auto config = GoogleOAuthConfig::fromFile(writePlist(
                dir, plist("<dict><key>CLIENT_ID</key><string>a.b</string><key>REVERSED_CLIENT_ID</key><string>b.a</string>"
                           "<key>OTHER</key>" + other + c.server + "</dict>")));
            ASSERT_TRUE(config) << c.server.constData() << other.constData();
            EXPECT_EQ(config->clientId, QStringLiteral("a.b"));
            EXPECT_EQ(config->reversedClientId, QStringLiteral("b.a"));
            EXPECT_EQ(config->serverClientId, c.serverClientId) << c.server.constData();
            EXPECT_EQ(config->expectedAudience(), c.audience) << c.server.constData();
        }
    }
}

TEST(GoogleOAuthConfig, ReadsTheGeneratedBundle)
{
    QTemporaryDir dir;
    const QString resources = SignInBundle::write(dir.path(), "123-abc.apps.googleusercontent.com", "srv.apps.googleusercontent.com");
    const auto config = GoogleOAuthConfig::fromResources(resources);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->clientId, QStringLiteral("123-abc.apps.googleusercontent.com"));
    EXPECT_EQ(config->expectedAudience(), QStringLiteral("srv.apps.googleusercontent.com"));
    EXPECT_FALSE(GoogleOAuthConfig::fromResources(SignInBundle::write(dir.path(), QString())));
}

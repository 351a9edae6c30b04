// The XML property-list reader.
#include "signin/PropertyList.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray plist(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

} // namespace

TEST(PropertyList, ReadsTheSupportedTypes)
{
    const auto value = PropertyList::parse(plist(R"(<dict>
  <!-- a comment -->
  <key>CLIENT_ID</key><string>123-abc.apps.example.com</string>
  <key>EMPTY</key><string/>
  <key>ESCAPED</key><string>a &amp; b &lt;c&gt;</string>
  <key>ON</key><true/>
  <key>OFF</key><false/>
  <key>COUNT</key><integer> -42 </integer>
  <key>CFBundleURLTypes</key>
  <array>
    <dict><key>CFBundleURLSchemes</key><array><string>com.example.apps.123-abc</string></array></dict>
  </array>
  <key>NONE</key><array/>
</dict>)"));
    ASSERT_TRUE(value);
    const QVariantMap map = value->toMap();
    EXPECT_EQ(map.value("CLIENT_ID"), QVariant(QStringLiteral("123-abc.apps.example.com")));
    EXPECT_EQ(map.value("EMPTY").typeId(), QMetaType::QString);
    EXPECT_TRUE(map.value("EMPTY").toString().isEmpty());
    EXPECT_EQ(map.value("ESCAPED").toString(), QStringLiteral("a & b <c>"));
    EXPECT_EQ(map.value("ON"), QVariant(true));
    EXPECT_EQ(map.value("OFF"), QVariant(false));
    EXPECT_EQ(map.value("COUNT").typeId(), QMetaType::LongLong);
    EXPECT_EQ(map.value("COUNT").toLongLong(), -42);
    const QVariantList types = map.value("CFBundleURLTypes").toList();
    ASSERT_EQ(types.size(), 1);
    EXPECT_EQ(types[0].toMap().value("CFBundleURLSchemes").toList().value(0).toString(),
              QStringLiteral("com.example.apps.123-abc"));
    EXPECT_EQ(map.value("NONE").typeId(), QMetaType::QVariantList);
    EXPECT_TRUE(map.value("NONE").toList().isEmpty());

    const auto array = PropertyList::parse(plist("<array><string>x</string></array>"));
    ASSERT_TRUE(array);
    EXPECT_EQ(array->typeId(), QMetaType::QVariantList);
}

TEST(PropertyList, AnythingElseFailsTheRead)
{
    const QByteArray cases[] = {
        "",
        "not xml at all",
        "{\"CLIENT_ID\": \"x\"}",
        "<dict><key>a</key><string>b</string></dict>",                   // no plist element
        plist(""),                                                        // no value
        plist("<dict><key>a</key><real>1.5</real></dict>"),
        plist("<dict><key>a</key><date>2026-01-01T00:00:00Z</date></dict>"),
        plist("<dict><key>a</key><data>AAAA</data></dict>"),
        plist("<dict><key>a</key></dict>"),                               // key without value
        plist("<dict><string>b</string></dict>"),                         // value without key
        plist("<dict><key>a</key><string>1</string><key>a</key><string>2</string></dict>"),
        plist("<dict><key>a</key><string>b<i>c</i></string></dict>"),
        plist("<dict><key>a</key><integer>12x</integer></dict>"),
        plist("<dict><key>a</key><integer>99999999999999999999</integer></dict>"),
        plist("<dict><key>a</key><integer></integer></dict>"),
        plist("<dict><key>a</key><true>yes</true></dict>"),
        plist("<dict>stray text<key>a</key><string>b</string></dict>"),
        plist("<string>a</string><string>b</string>"),                    // two top-level values
        plist("<dict><key>a</key><string>b</string>"),                    // unclosed
        plist("<dict><key>a</key><string>&undefined;</string></dict>"),
        plist("<dict/>") + "<extra/>",
    };
    for (const QByteArray& xml : cases)
        EXPECT_FALSE(PropertyList::parse(xml)) << xml.constData();
}

TEST(PropertyList, DeepNestingFailsInsteadOfExhaustingTheStack)
{
    QByteArray body;
    for (int i = 0; i < 100000; ++i)
        body += "<array>";
    for (int i = 0; i < 100000; ++i)
        body += "</array>";
    EXPECT_FALSE(PropertyList::parse(plist(body)));
}

TEST(PropertyList, ReadsAFileAndFailsForAMissingOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("GoogleService-Info.plist");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(plist("<dict><key>CLIENT_ID</key><string>id</string></dict>"));
    file.close();
    const auto value = PropertyList::readFile(path);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->toMap().value("CLIENT_ID").toString(), QStringLiteral("id"));
    EXPECT_FALSE(PropertyList::readFile(dir.filePath("missing.plist")));
    EXPECT_FALSE(PropertyList::readFile(dir.path())); // a folder
}

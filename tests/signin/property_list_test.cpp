// The property-list reader: the XML format and the binary one.
#include "signin/PropertyList.h"

#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include "signin/GoogleOAuthConfig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

QByteArray plist(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

// A small writer of the binary format, enough to build test files: each value is written as
// its own object (containers after their members), with the given reference and offset sizes.
class BinaryPlist {
public:
    explicit BinaryPlist(int refSize = 1, int offsetSize = 2) : m_refSize(refSize), m_offsetSize(offsetSize) {}

    quint64 add(const QVariant& value)
    {
        switch (value.typeId()) {
        case QMetaType::Bool:
            return object(QByteArray(1, value.toBool() ? '\x09' : '\x08'));
        case QMetaType::LongLong:
        case QMetaType::Int:
            return object(integer(value.toLongLong()));
        case QMetaType::Double: {
            const double d = value.toDouble();
            quint64 bits;
            std::memcpy(&bits, &d, sizeof d);
            return object('\x23' + bigEndian(bits, 8));
        }
        case QMetaType::QDateTime: {
            const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
            const double seconds = double(reference.msecsTo(value.toDateTime())) / 1000.0;
            quint64 bits;
            std::memcpy(&bits, &seconds, sizeof seconds);
            return object('\x33' + bigEndian(bits, 8));
        }
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            return object(head(0x40, bytes.size()) + bytes);
        }
        case QMetaType::QString: {
            const QString text = value.toString();
            bool ascii = true;
            for (QChar c : text)
                ascii = ascii && c.unicode() < 0x80;
            if (ascii)
                return object(head(0x50, text.size()) + text.toLatin1());
            QByteArray units;
            for (QChar c : text)
                units += bigEndian(c.unicode(), 2);
            return object(head(0x60, text.size()) + units);
        }
        case QMetaType::QVariantList: {
            QList<quint64> refs;
            for (const QVariant& item : value.toList())
                refs << add(item);
            return object(head(0xA0, refs.size()) + references(refs));
        }
        case QMetaType::QVariantMap: {
            const QVariantMap map = value.toMap();
            QList<quint64> keys, values;
            for (auto it = map.begin(); it != map.end(); ++it) {
                keys << add(it.key());
                values << add(it.value());
            }
            return object(head(0xD0, keys.size()) + references(keys) + references(values));
        }
        default:
            ADD_FAILURE() << "no binary form for " << value.typeName();
            return 0;
        }
    }

    // Any object, as raw bytes (for broken files).
    quint64 object(const QByteArray& bytes)
    {
        m_offsets << quint64(8 + m_objects.size());
        m_objects += bytes;
        return quint64(m_offsets.size() - 1);
    }

    QByteArray references(const QList<quint64>& refs) const
    {
        QByteArray out;
        for (quint64 r : refs)
            out += bigEndian(r, m_refSize);
        return out;
    }

    QByteArray file(quint64 top) const
    {
        QByteArray out = "bplist00" + m_objects;
        const quint64 table = quint64(out.size());
        for (quint64 o : m_offsets)
            out += bigEndian(o, m_offsetSize);
        out += QByteArray(6, '\0');
        out += char(m_offsetSize);
        out += char(m_refSize);
        out += bigEndian(quint64(m_offsets.size()), 8) + bigEndian(top, 8) + bigEndian(table, 8);
        return out;
    }

    static QByteArray bigEndian(quint64 value, int bytes)
    {
        QByteArray out(bytes, '\0');
        for (int i = bytes - 1; i >= 0; --i, value >>= 8)
            out[i] = char(value & 0xff);
        return out;
    }

private:
    static QByteArray integer(qint64 v)
    {
        if (v >= 0 && v < 0x100)
            return '\x10' + bigEndian(quint64(v), 1);
        if (v >= 0 && v < 0x10000)
            return '\x11' + bigEndian(quint64(v), 2);
        if (v >= 0 && v < 0x100000000LL)
            return '\x12' + bigEndian(quint64(v), 4);
        return '\x13' + bigEndian(quint64(v), 8);
    }
    static QByteArray head(int type, qsizetype length)
    {
        if (length < 15)
            return QByteArray(1, char(type | int(length)));
        return QByteArray(1, char(type | 0x0f)) + integer(length);
    }

    int m_refSize;
    int m_offsetSize;
    QByteArray m_objects;
    QList<quint64> m_offsets;
};

QVariantMap everyType()
{
    return QVariantMap{
        {"CLIENT_ID", QStringLiteral("123-abc.apps.example")},
        {"REVERSED_CLIENT_ID", QStringLiteral("example.apps.123-abc")},
        {"NAME", QStringLiteral("Caf\u00e9 \U0001F600 K\u00f8vani")},
        {"LONG", QString(300, u'w')},
        {"SMALL", QVariant::fromValue<qint64>(7)},
        {"MEDIUM", QVariant::fromValue<qint64>(70000)},
        {"NEGATIVE", QVariant::fromValue<qint64>(-42)},
        {"RATIO", 1.5},
        {"IS_ENABLED", true},
        {"IS_ADS_ENABLED", false},
        {"WHEN", QDateTime(QDate(2026, 3, 4), QTime(10, 0, 12), QTimeZone::utc())},
        {"BYTES", QByteArray("\x00\x01\xfe\xff", 4)},
        {"LIST", QVariantList{QStringLiteral("a"), QVariant::fromValue<qint64>(1), QVariantList{}, QVariantMap{}}},
        {"NESTED", QVariantMap{{"inner", QStringLiteral("x")}}},
    };
}

} // namespace

TEST(PropertyList, ReadsEveryXmlElement)
{
    const auto value = PropertyList::parse(plist(R"(<dict>
  <key>CLIENT_ID</key><string>123-abc.apps.example</string>
  <key>RATIO</key><real>1.5</real>
  <key>BIG</key><real>-6.02e23</real>
  <key>WHOLE</key><real>3</real>
  <key>NOT_A_NUMBER</key><real>nan</real>
  <key>INFINITE</key><real>-infinity</real>
  <key>WHEN</key><date>2026-03-04T10:00:12Z</date>
  <key>BYTES</key><data>
    AAH+
    /w==
  </data>
  <key>EMPTY_DATA</key><data></data>
  <key>HUGE</key><integer>18446744073709551615</integer>
  <key>IS_ENABLED</key><true/>
  <key>IS_ADS_ENABLED</key><false/>
  <key>LIST</key><array><real>0.25</real><date>2001-01-01T00:00:00Z</date><data>YQ==</data></array>
</dict>)"));
    ASSERT_TRUE(value);
    const QVariantMap map = value->toMap();
    EXPECT_EQ(map.value("CLIENT_ID").toString(), QStringLiteral("123-abc.apps.example"));
    EXPECT_EQ(map.value("RATIO").typeId(), QMetaType::Double);
    EXPECT_EQ(map.value("RATIO").toDouble(), 1.5);
    EXPECT_EQ(map.value("BIG").toDouble(), -6.02e23);
    EXPECT_EQ(map.value("WHOLE").toDouble(), 3.0);
    EXPECT_TRUE(std::isnan(map.value("NOT_A_NUMBER").toDouble()));
    EXPECT_EQ(map.value("INFINITE").toDouble(), -INFINITY);
    EXPECT_EQ(map.value("WHEN").toDateTime(), QDateTime(QDate(2026, 3, 4), QTime(10, 0, 12), QTimeZone::utc()));
    EXPECT_EQ(map.value("BYTES").toByteArray(), QByteArray("\x00\x01\xfe\xff", 4));
    EXPECT_EQ(map.value("EMPTY_DATA").typeId(), QMetaType::QByteArray);
    EXPECT_EQ(map.value("HUGE").toULongLong(), 18446744073709551615ULL);
    EXPECT_EQ(map.value("IS_ENABLED"), QVariant(true));
    const QVariantList list = map.value("LIST").toList();
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].toDouble(), 0.25);
    EXPECT_EQ(list[1].toDateTime(), QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()));
    EXPECT_EQ(list[2].toByteArray(), QByteArray("a"));

    // The client configuration ignores the keys it does not use, whatever their type.
    QTemporaryDir dir;
    TestFiles::writeFile(dir.filePath("GoogleService-Info.plist"), plist(R"(<dict>
  <key>CLIENT_ID</key><string>123-abc.apps.example</string>
  <key>REVERSED_CLIENT_ID</key><string>example.apps.123-abc</string>
  <key>PLIST_VERSION</key><real>1</real>
  <key>CREATED</key><date>2026-01-01T00:00:00Z</date>
  <key>ICON</key><data>AAAA</data>
</dict>)"));
    const auto config = GoogleOAuthConfig::fromResources(dir.path());
    ASSERT_TRUE(config);
    EXPECT_EQ(config->clientId, QStringLiteral("123-abc.apps.example"));
}

TEST(PropertyList, ReadsTheBinaryFormat)
{
    const QVariantMap expected = everyType();
    for (const auto& [refSize, offsetSize] : {std::pair{1, 1}, std::pair{1, 2}, std::pair{2, 4}, std::pair{4, 8}}) {
        BinaryPlist writer(refSize, offsetSize);
        const quint64 top = writer.add(expected);
        const QByteArray bytes = writer.file(top);
        if (offsetSize == 1 && bytes.size() > 0xff)
            continue; // offsets do not fit one byte
        const auto value = PropertyList::parse(bytes);
        ASSERT_TRUE(value) << refSize << "/" << offsetSize;
        EXPECT_EQ(value->toMap(), expected) << refSize << "/" << offsetSize;
    }

    // The client ID from a binary GoogleService-Info.plist.
    QTemporaryDir dir;
    BinaryPlist writer;
    TestFiles::writeFile(dir.filePath("GoogleService-Info.plist"), writer.file(writer.add(expected)));
    const auto config = GoogleOAuthConfig::fromResources(dir.path());
    ASSERT_TRUE(config);
    EXPECT_EQ(config->clientId, QStringLiteral("123-abc.apps.example"));
    EXPECT_EQ(config->reversedClientId, QStringLiteral("example.apps.123-abc"));
    EXPECT_FALSE(config->serverClientId);
}

TEST(PropertyList, BrokenBinaryFilesFailTheRead)
{
    using B = BinaryPlist;
    BinaryPlist good;
    const QByteArray valid = good.file(good.add(QVariantMap{{"CLIENT_ID", QStringLiteral("x")}}));
    const qsizetype trailer = valid.size() - 32;
    auto patched = [&](qsizetype at, const QByteArray& bytes) {
        QByteArray b = valid;
        b.replace(at, bytes.size(), bytes);
        return b;
    };
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    QList<Case> cases{
        {"header only", "bplist00"},
        {"cut short", valid.left(valid.size() - 1)},
        {"other version", patched(6, "01")},
        {"no offset size", patched(trailer + 6, QByteArray(1, '\0'))},
        {"offset size 9", patched(trailer + 6, QByteArray(1, '\x09'))},
        {"no reference size", patched(trailer + 7, QByteArray(1, '\0'))},
        {"no objects", patched(trailer + 8, B::bigEndian(0, 8))},
        {"object count past the table", patched(trailer + 8, B::bigEndian(quint64(1) << 62, 8))},
        {"top object past the count", patched(trailer + 16, B::bigEndian(99, 8))},
        {"table past the trailer", patched(trailer + 24, B::bigEndian(quint64(valid.size()), 8))},
        {"table inside the header", patched(trailer + 24, B::bigEndian(2, 8))},
    };
    {
        // An offset that points into the table itself.
        QByteArray b = valid;
        const quint64 table = QByteArray(valid.right(8)).toHex().toULongLong(nullptr, 16);
        b.replace(qsizetype(table), 2, B::bigEndian(table, 2));
        cases << Case{"offset into the table", b};
    }
    {
        // A string longer than the data.
        BinaryPlist w;
        cases << Case{"string past the end", w.file(w.object(QByteArray("\x5f\x13", 2) + B::bigEndian(quint64(1) << 40, 8) + "abc"))};
    }
    {
        // A dictionary that holds itself.
        BinaryPlist w;
        const quint64 key = w.add(QStringLiteral("self"));
        const quint64 self = w.object(QByteArray("\xd1", 1) + w.references({key, 1}));
        cases << Case{"a dictionary inside itself", w.file(self)};
    }
    {
        // A key that is not a string.
        BinaryPlist w;
        const quint64 key = w.add(QVariant::fromValue<qint64>(1));
        const quint64 value = w.add(QStringLiteral("v"));
        cases << Case{"integer key", w.file(w.object(QByteArray("\xd1", 1) + w.references({key, value})))};
    }
    {
        // A reference to no object.
        BinaryPlist w;
        cases << Case{"reference past the count", w.file(w.object(QByteArray("\xa1", 1) + w.references({200})))};
    }
    {
        // Forty arrays, each holding the one before twice: 2^40 values if read naively.
        BinaryPlist w(2, 2);
        quint64 previous = w.add(QStringLiteral("x"));
        for (int i = 0; i < 40; ++i)
            previous = w.object(QByteArray("\xa2", 1) + w.references({previous, previous}));
        cases << Case{"shared objects without end", w.file(previous)};
    }
    {
        BinaryPlist w;
        cases << Case{"null is no value", w.file(w.object(QByteArray(1, '\0')))};
    }
    for (const Case& c : cases)
        EXPECT_FALSE(PropertyList::parse(c.bytes)) << c.name;
    EXPECT_TRUE(PropertyList::parse(valid));
}

TEST(PropertyList, ASharedLongObjectIsNotCopiedWithoutEnd)
{
    // One 1 MiB data object, referenced from an array `count` times.
    auto sharedBlob = [](int count) {
        BinaryPlist w(2, 4);
        const quint64 blob = w.add(QByteArray(1 << 20, 'x'));
        QList<quint64> refs;
        for (int i = 0; i < count; ++i)
            refs << blob;
        return w.file(w.object(QByteArray("\xaf\x10", 2) + char(count) + w.references(refs)));
    };
    // A few copies are an ordinary file.
    const auto few = PropertyList::parse(sharedBlob(8));
    ASSERT_TRUE(few);
    ASSERT_EQ(few->toList().size(), 8);
    EXPECT_EQ(few->toList().last().toByteArray().size(), 1 << 20);
    // A hundred would hold 100 MiB read out of a 1 MiB file.
    EXPECT_FALSE(PropertyList::parse(sharedBlob(100)));
}

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
        plist("<dict><key>a</key></dict>"),                               // key without value
        plist("<dict><string>b</string></dict>"),                         // value without key
        plist("<dict><key>a</key><string>1</string><key>a</key><string>2</string></dict>"),
        plist("<dict><key>a</key><string>b<i>c</i></string></dict>"),
        plist("<dict><key>a</key><integer>12x</integer></dict>"),
        plist("<dict><key>a</key><integer>99999999999999999999</integer></dict>"),
        plist("<dict><key>a</key><integer></integer></dict>"),
        plist("<dict><key>a</key><true>yes</true></dict>"),
        plist("<dict><key>a</key><real>1.5x</real></dict>"),
        plist("<dict><key>a</key><real></real></dict>"),
        plist("<dict><key>a</key><date>yesterday</date></dict>"),
        plist("<dict><key>a</key><date>2026-13-01T00:00:00Z</date></dict>"),
        plist("<dict><key>a</key><data>A*AA</data></dict>"),
        plist("<dict><key>a</key><unknown/></dict>"),
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

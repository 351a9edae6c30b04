// config.json coding: strict decoding with its defaults, and the encoded form.
#include "app/AppConfig.h"
#include "support/TestFiles.h"

#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <limits>

using nlohmann::json;


namespace {

// A complete, valid file with one project and a signed-in user.
json validFile()
{
    return json::parse(R"({
      "selectedPhp": "/usr/bin/php",
      "phpMyAdminRoot": "/data/Kovani/Tools/phpMyAdmin",
      "phpMyAdminPort": 8081,
      "mysqlHost": "127.0.0.1",
      "mysqlPort": 3306,
      "mysqlUser": "root",
      "mysqlPassword": "kelp",
      "mysqlStartCommand": "brew services start mysql",
      "mysqlStopCommand": "brew services stop mysql",
      "projects": [
        {"id": "blog", "name": "Blog", "root": "/srv/blog", "port": 8200,
         "databaseName": "blog", "databaseUser": "bloguser", "databasePassword": "pw"}
      ],
      "user": {"name": "Ada Lovelace", "email": "ada@example.com", "avatarInitials": "AL",
               "passwordHash": "", "provider": "google", "apiToken": "tok"}
    })");
}

std::optional<AppConfig> decodeJson(const json& j)
{
    return ConfigCoding::decode(QByteArray::fromStdString(j.dump()));
}

struct DecodeCase {
    std::string name;
    std::function<void(json&)> edit;
    // Empty when decoding must fail; otherwise checks the decoded value.
    std::function<void(const AppConfig&)> check;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class Decoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decoding, FollowsTheRules)
{
    json j = validFile();
    GetParam().edit(j);
    const std::optional<AppConfig> decoded = decodeJson(j);
    if (!GetParam().check) {
        EXPECT_FALSE(decoded.has_value()) << j.dump();
        return;
    }
    ASSERT_TRUE(decoded.has_value()) << j.dump();
    GetParam().check(*decoded);
}

auto fails = std::function<void(const AppConfig&)>();
json& project(json& j) { return j["projects"][0]; }

std::vector<DecodeCase> decodeCases()
{
    std::vector<DecodeCase> cases;
    // Every top-level key except `user` is required and typed.
    const std::vector<std::pair<const char*, json>> required = {
        {"selectedPhp", 1}, {"phpMyAdminRoot", false}, {"phpMyAdminPort", "8081"}, {"mysqlHost", json::array()},
        {"mysqlPort", "3306"}, {"mysqlUser", 0}, {"mysqlPassword", json::object()},
        {"mysqlStartCommand", true}, {"mysqlStopCommand", 2}, {"projects", json::object()}};
    auto name = [](std::string n) { return n; };
    for (const auto& [key, wrong] : required) {
        const std::string k = key;
        cases.push_back({name("missing " + k), [k](json& j) { j.erase(k); }, fails});
        cases.push_back({name("null " + k), [k](json& j) { j[k] = nullptr; }, fails});
        const json w = wrong;
        cases.push_back({name("wrong type " + k), [k, w](json& j) { j[k] = w; }, fails});
    }
    // Required project keys.
    const std::vector<std::pair<const char*, json>> projectRequired = {
        {"id", 5}, {"name", json::array()}, {"root", true}, {"port", "8200"}};
    for (const auto& [key, wrong] : projectRequired) {
        const std::string k = key;
        cases.push_back({name("project missing " + k), [k](json& j) { project(j).erase(k); }, fails});
        cases.push_back({name("project null " + k), [k](json& j) { project(j)[k] = nullptr; }, fails});
        const json w = wrong;
        cases.push_back({name("project wrong type " + k), [k, w](json& j) { project(j)[k] = w; }, fails});
    }
    // Optional project keys: missing or null take their defaults, a wrong type fails.
    const std::vector<std::pair<const char*, const char*>> projectOptional = {
        {"databaseName", ""}, {"databaseUser", "root"}, {"databasePassword", "kelp"}};
    for (const auto& [key, fallback] : projectOptional) {
        const std::string k = key;
        const QString expected = QString::fromUtf8(fallback);
        auto field = [k](const Project& p) {
            return k == "databaseName" ? p.databaseName : k == "databaseUser" ? p.databaseUser : p.databasePassword;
        };
        auto check = [field, expected](const AppConfig& c) { EXPECT_EQ(field(c.projects.at(0)), expected); };
        cases.push_back({name("project missing " + k), [k](json& j) { project(j).erase(k); }, check});
        cases.push_back({name("project null " + k), [k](json& j) { project(j)[k] = nullptr; }, check});
        cases.push_back({name("project wrong type " + k), [k](json& j) { project(j)[k] = 1; }, fails});
    }
    cases.push_back({"project without all three optional keys",
                     [](json& j) {
                         for (const char* k : {"databaseName", "databaseUser", "databasePassword"})
                             project(j).erase(k);
                     },
                     [](const AppConfig& c) {
                         EXPECT_EQ(c.projects.at(0).databaseName, "");
                         EXPECT_EQ(c.projects.at(0).databaseUser, "root");
                         EXPECT_EQ(c.projects.at(0).databasePassword, "kelp");
                     }});
    cases.push_back({"project that is not an object", [](json& j) { j["projects"].push_back("blog"); }, fails});
    cases.push_back({"project that is null", [](json& j) { j["projects"].push_back(nullptr); }, fails});
    cases.push_back({"one bad project spoils the file",
                     [](json& j) { j["projects"].push_back(json{{"id", "x"}, {"name", "X"}, {"root", "/x"}}); }, fails});

    // Integers: JSON integers inside signed 64 bits, nothing else.
    auto withPort = [](json value) { return [value](json& j) { j["mysqlPort"] = value; }; };
    auto projectPort = [](json value) { return [value](json& j) { project(j)["port"] = value; }; };
    cases.push_back({"int64 max", withPort(std::numeric_limits<std::int64_t>::max()),
                     [](const AppConfig& c) { EXPECT_EQ(c.mysqlPort, std::numeric_limits<qint64>::max()); }});
    cases.push_back({"int64 min", withPort(std::numeric_limits<std::int64_t>::min()),
                     [](const AppConfig& c) { EXPECT_EQ(c.mysqlPort, std::numeric_limits<qint64>::min()); }});
    cases.push_back({"above int64", withPort(std::uint64_t(9223372036854775808ull)), fails});
    cases.push_back({"uint64 max", withPort(std::numeric_limits<std::uint64_t>::max()), fails});
    cases.push_back({"float", withPort(3306.0), fails});
    cases.push_back({"float fraction", withPort(3306.5), fails});
    cases.push_back({"boolean port", withPort(true), fails});
    cases.push_back({"project port above int64", projectPort(std::uint64_t(9223372036854775808ull)), fails});
    cases.push_back({"project port float", projectPort(8200.0), fails});
    // Values are taken as they stand.
    cases.push_back({"negative port is not validated", projectPort(-1),
                     [](const AppConfig& c) { EXPECT_EQ(c.projects.at(0).port, -1); }});
    cases.push_back({"huge port is not validated", withPort(99999),
                     [](const AppConfig& c) { EXPECT_EQ(c.mysqlPort, 99999); }});
    cases.push_back({"blank and empty texts stay",
                     [](json& j) { j["mysqlPassword"] = " "; j["phpMyAdminRoot"] = ""; project(j)["root"] = ""; },
                     [](const AppConfig& c) {
                         EXPECT_EQ(c.mysqlPassword, " ");
                         EXPECT_EQ(c.phpMyAdminRoot, "");
                         EXPECT_EQ(c.projects.at(0).root, "");
                     }});
    cases.push_back({"empty project list", [](json& j) { j["projects"] = json::array(); },
                     [](const AppConfig& c) { EXPECT_TRUE(c.projects.isEmpty()); }});

    // Keys are case-sensitive; unknown keys are ignored.
    cases.push_back({"key in other case", [](json& j) { j["MysqlHost"] = j["mysqlHost"]; j.erase("mysqlHost"); }, fails});
    cases.push_back({"unknown keys are ignored",
                     [](json& j) { j["theme"] = "dark"; project(j)["colour"] = 3; j["user"]["extra"] = json::array(); },
                     [](const AppConfig& c) { EXPECT_EQ(c.projects.at(0).id, "blog"); }});

    // The user profile.
    cases.push_back({"user missing", [](json& j) { j.erase("user"); },
                     [](const AppConfig& c) { EXPECT_FALSE(c.user.has_value()); }});
    cases.push_back({"user null", [](json& j) { j["user"] = nullptr; },
                     [](const AppConfig& c) { EXPECT_FALSE(c.user.has_value()); }});
    cases.push_back({"user present", [](json&) {},
                     [](const AppConfig& c) {
                         ASSERT_TRUE(c.user.has_value());
                         EXPECT_EQ(*c.user, (UserProfile{"Ada Lovelace", "ada@example.com", "AL", "", "google", "tok"}));
                     }});
    cases.push_back({"user empty object", [](json& j) { j["user"] = json::object(); }, fails});
    cases.push_back({"user text", [](json& j) { j["user"] = "ada"; }, fails});
    cases.push_back({"user array", [](json& j) { j["user"] = json::array(); }, fails});
    cases.push_back({"user false", [](json& j) { j["user"] = false; }, fails});
    for (const char* key : {"name", "email", "avatarInitials"}) {
        const std::string k = key;
        cases.push_back({name("user missing " + k), [k](json& j) { j["user"].erase(k); }, fails});
        cases.push_back({name("user null " + k), [k](json& j) { j["user"][k] = nullptr; }, fails});
        cases.push_back({name("user wrong type " + k), [k](json& j) { j["user"][k] = 7; }, fails});
    }
    cases.push_back({"user without optional keys",
                     [](json& j) {
                         for (const char* k : {"passwordHash", "provider", "apiToken"})
                             j["user"].erase(k);
                     },
                     [](const AppConfig& c) {
                         ASSERT_TRUE(c.user.has_value());
                         EXPECT_EQ(c.user->passwordHash, "");
                         EXPECT_EQ(c.user->provider, "email");
                         EXPECT_EQ(c.user->apiToken, "");
                     }});
    cases.push_back({"user with null optional keys",
                     [](json& j) {
                         for (const char* k : {"passwordHash", "provider", "apiToken"})
                             j["user"][k] = nullptr;
                     },
                     [](const AppConfig& c) {
                         ASSERT_TRUE(c.user.has_value());
                         EXPECT_EQ(c.user->provider, "email");
                     }});
    for (const char* key : {"passwordHash", "provider", "apiToken"}) {
        const std::string k = key;
        cases.push_back({name("user wrong type " + k), [k](json& j) { j["user"][k] = json::object(); }, fails});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Config, Decoding, ::testing::ValuesIn(decodeCases()),
                         [](const ::testing::TestParamInfo<DecodeCase>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return std::to_string(info.index) + "_" + n;
                         });

TEST(Decoding, MalformedTextIsRejected)
{
    const std::string good = validFile().dump();
    const std::vector<std::string> bad = {
        "", " ", "{", "[]", "null", "\"config\"", "42",
        good + "x",                                  // trailing garbage
        good + good,                                 // two documents
        "// comment\n" + good,                       // comments are not JSON
        good.substr(0, good.size() - 1) + ",}",     // trailing comma
        std::string("{\"mysqlHost\": \"\xff\"}"),    // invalid UTF-8
    };
    for (const std::string& text : bad)
        EXPECT_FALSE(ConfigCoding::decode(QByteArray::fromStdString(text)).has_value()) << text;
}

TEST(Decoding, AKeyTwiceInAnyObjectIsRejected)
{
    // A parser keeps one of the two values silently; the next save would lose the other.
    const std::string good = validFile().dump();
    auto withInserted = [&](const std::string& before, const std::string& text) {
        std::string changed = good;
        const auto at = changed.find(before);
        EXPECT_NE(at, std::string::npos) << before;
        changed.insert(at, text);
        return changed;
    };
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"projects twice", "{\"projects\":[]," + good.substr(1)},
        {"a text key twice", "{\"mysqlHost\":\"10.0.0.1\"," + good.substr(1)},
        {"a key twice in a project", withInserted("\"id\":", "\"port\":1,")},
        {"an unknown key twice", "{\"extra\":1,\"extra\":2," + good.substr(1)},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(ConfigCoding::decode(QByteArray::fromStdString(c.text)).has_value()) << c.name;

    // The same key in different objects, and many distinct keys in one, are fine.
    ASSERT_TRUE(ConfigCoding::decode(QByteArray::fromStdString(good)).has_value());
    std::string many = "{";
    for (int i = 0; i < 100; ++i)
        many += "\"unknown" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    EXPECT_TRUE(ConfigCoding::decode(QByteArray::fromStdString(many + good.substr(1))).has_value());
    EXPECT_FALSE(ConfigCoding::decode(QByteArray::fromStdString(many + "\"unknown7\":0," + good.substr(1))).has_value())
        << "a key repeated among many";
}

TEST(Decoding, StringsAreStrictUtf8)
{
    auto withHost = [](const std::string& literal) {
        std::string text = validFile().dump();
        const std::string from = "\"mysqlHost\":\"127.0.0.1\"";
        const auto at = text.find(from);
        text.replace(at, from.size(), "\"mysqlHost\":" + literal);
        return ConfigCoding::decode(QByteArray::fromStdString(text));
    };
    EXPECT_FALSE(withHost("\"a\xc3\"").has_value());           // truncated sequence
    EXPECT_FALSE(withHost("\"\xed\xa0\x80\"").has_value());    // encoded surrogate
    EXPECT_FALSE(withHost("\"\\ud800\"").has_value());         // lone surrogate escape
    auto ok = withHost("\"\\/h\\u00e9\xc3\xa9\\ud83d\\ude00\\u0000\"");
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(ok->mysqlHost, QString::fromUtf8("/h\xc3\xa9\xc3\xa9\xf0\x9f\x98\x80") + QChar(0));
}

TEST(Encoding, DefaultConfigurationIsPrettySortedWithEscapedSlashes)
{
    const QByteArray bytes = ConfigCoding::encode(AppConfig::defaults(QStringLiteral("/data/Kovani")));
    const QByteArray expected = R"({
  "mysqlHost": "127.0.0.1",
  "mysqlPassword": "kelp",
  "mysqlPort": 3306,
  "mysqlStartCommand": "brew services start mysql",
  "mysqlStopCommand": "brew services stop mysql",
  "mysqlUser": "root",
  "phpMyAdminPort": 8081,
  "phpMyAdminRoot": "\/data\/Kovani\/Tools\/phpMyAdmin",
  "projects": [
    {
      "databaseName": "",
      "databasePassword": "kelp",
      "databaseUser": "root",
      "id": "default",
      "name": "Default PHP Site",
      "port": 8080,
      "root": "\/data\/Kovani\/Sites\/default"
    }
  ],
  "selectedPhp": ""
})";
    EXPECT_EQ(bytes.toStdString(), expected.toStdString());
}

TEST(Encoding, UserIsWrittenWholeAndKeysSorted)
{
    AppConfig c = AppConfig::defaults(QStringLiteral("/s"));
    c.user = UserProfile{QStringLiteral("A/B"), QString(), QStringLiteral("AB"), QString(), QStringLiteral("email"), QString()};
    const QString text = QString::fromUtf8(ConfigCoding::encode(c));
    // Top-level keys in sorted order, "user" last, and all six profile keys even when empty.
    QStringList keys;
    static const QRegularExpression key(QStringLiteral("^  \"(\\w+)\":"), QRegularExpression::MultilineOption);
    for (auto it = key.globalMatch(text); it.hasNext();)
        keys << it.next().captured(1);
    EXPECT_EQ(keys, (QStringList{"mysqlHost", "mysqlPassword", "mysqlPort", "mysqlStartCommand", "mysqlStopCommand",
                                 "mysqlUser", "phpMyAdminPort", "phpMyAdminRoot", "projects", "selectedPhp", "user"}));
    const QString userPart = text.mid(text.indexOf(QStringLiteral("\"user\"")));
    QStringList userKeys;
    static const QRegularExpression inner(QStringLiteral("^    \"(\\w+)\":"), QRegularExpression::MultilineOption);
    for (auto it = inner.globalMatch(userPart); it.hasNext();)
        userKeys << it.next().captured(1);
    EXPECT_EQ(userKeys, (QStringList{"apiToken", "avatarInitials", "email", "name", "passwordHash", "provider"}));
    EXPECT_TRUE(text.contains(QStringLiteral("\"name\": \"A\\/B\"")));
    EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[^\\\\]/"))));

    c.user.reset();
    EXPECT_FALSE(QString::fromUtf8(ConfigCoding::encode(c)).contains(QStringLiteral("\"user\"")));
}

TEST(Encoding, RoundTripsEveryValue)
{
    AppConfig c = AppConfig::defaults(QStringLiteral("/tmp/a b/Kovani"));
    c.selectedPhp = QStringLiteral("/opt/php\\8.5/bin/php");
    c.mysqlPassword = QString::fromUtf8("p\"w\\d/\n\t\x01 caf\xc3\xa9 \xf0\x9f\x98\x80");
    c.mysqlPort = std::numeric_limits<qint64>::min();
    c.phpMyAdminPort = std::numeric_limits<qint64>::max();
    c.projects.append(Project{QStringLiteral("x"), QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac"), QStringLiteral("/r//\\/"), -5,
                              QStringLiteral("db"), QStringLiteral(""), QStringLiteral("")});
    c.user = UserProfile{QStringLiteral("N"), QStringLiteral("e@x"), QStringLiteral("N"), QString(64, u'a'),
                         QStringLiteral("google"), QStringLiteral("t/k")};
    const QByteArray bytes = ConfigCoding::encode(c);
    const auto back = ConfigCoding::decode(bytes);
    ASSERT_TRUE(back.has_value()) << bytes.toStdString();
    EXPECT_EQ(*back, c);
    // Non-ASCII is written as UTF-8, not as escapes.
    EXPECT_TRUE(bytes.contains("caf\xc3\xa9"));
    EXPECT_EQ(ConfigCoding::encode(*back), bytes);
}

TEST(Encoding, ProfileCodingStandsAlone)
{
    const UserProfile u{QStringLiteral("Ada"), QStringLiteral("a@x"), QStringLiteral("A"), QString(), QStringLiteral("email"), QString()};
    const json j = ConfigCoding::encodeProfile(u);
    EXPECT_EQ(j.size(), 6u);
    EXPECT_EQ(ConfigCoding::decodeProfile(j), u);
    EXPECT_FALSE(ConfigCoding::decodeProfile(json::array()).has_value());
}

TEST(PHPVersionCoding, AllThreeKeysRequired)
{
    const PHPVersion v{QStringLiteral("/usr/bin/php"), QStringLiteral("8.5.1"), true};
    const QByteArray bytes = ConfigCoding::encodePHPVersion(v);
    EXPECT_TRUE(bytes.contains("\\/usr\\/bin\\/php"));
    EXPECT_EQ(ConfigCoding::decodePHPVersion(bytes), v);
    for (const char* text : {R"({"binary":"/p","version":"8.5"})", R"({"binary":"/p","supported":true})",
                             R"({"version":"8.5","supported":true})", R"({"binary":"/p","version":"8.5","supported":1})",
                             R"({"binary":null,"version":"8.5","supported":true})", R"([])", "{"})
        EXPECT_FALSE(ConfigCoding::decodePHPVersion(text).has_value()) << text;
}

TEST(Records, EqualityAndHashingCoverEveryField)
{
    const Project base{QStringLiteral("a"), QStringLiteral("A"), QStringLiteral("/a"), 1, QStringLiteral("d"),
                       QStringLiteral("u"), QStringLiteral("p")};
    QList<Project> variants(7, base);
    variants[0].id = QStringLiteral("b");
    variants[1].name = QStringLiteral("B");
    variants[2].root = QStringLiteral("/b");
    variants[3].port = 2;
    variants[4].databaseName = QStringLiteral("e");
    variants[5].databaseUser = QStringLiteral("v");
    variants[6].databasePassword = QStringLiteral("q");
    QSet<Project> set{base, base};
    for (const Project& v : variants) {
        EXPECT_NE(v, base);
        set.insert(v);
    }
    EXPECT_EQ(set.size(), 8);

    const PHPVersion php{QStringLiteral("/p"), QStringLiteral("8.5.0"), true};
    EXPECT_EQ((QSet<PHPVersion>{php, php, {php.binary, php.version, false}}).size(), 2);
    const UserProfile u{QStringLiteral("n"), QStringLiteral("e"), QStringLiteral("N"), QString(), QStringLiteral("email"), QString()};
    UserProfile other = u;
    other.apiToken = QStringLiteral("t");
    EXPECT_EQ((QSet<UserProfile>{u, u, other}).size(), 2);
}

TEST(WebsiteTemplate, CasesAndTextValues)
{
    EXPECT_EQ(WebsiteTemplates::allCases(), (QList<WebsiteTemplate>{WebsiteTemplate::laravel, WebsiteTemplate::wordpress}));
    EXPECT_EQ(WebsiteTemplates::rawValue(WebsiteTemplate::laravel), "Laravel");
    EXPECT_EQ(WebsiteTemplates::rawValue(WebsiteTemplate::wordpress), "WordPress");
    EXPECT_EQ(WebsiteTemplates::fromRawValue(QStringLiteral("WordPress")), WebsiteTemplate::wordpress);
    for (const char* other : {"laravel", "Wordpress", "", " Laravel", "Symfony"})
        EXPECT_FALSE(WebsiteTemplates::fromRawValue(QString::fromUtf8(other)).has_value()) << other;
}

} // namespace

#include "app/AppConfig.h"

#include <nlohmann/json.hpp>

#include <limits>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

using nlohmann::json;

namespace {

std::string utf8(const QString& s) { return s.toStdString(); }
QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

// Reads a JSON string member. Missing/null and wrong type are kept apart by the callers.
enum class Presence { missing, null, present };

Presence presence(const json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end())
        return Presence::missing;
    if (it->is_null())
        return Presence::null;
    return Presence::present;
}

bool readString(const json& object, const char* key, QString& out)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return false;
    out = fromUtf8(it->get<std::string>());
    return true;
}

// Integers must be JSON integers within signed 64 bits.
bool readInt64(const json& object, const char* key, qint64& out)
{
    const auto it = object.find(key);
    if (it == object.end())
        return false;
    if (it->is_number_unsigned()) {
        const auto v = it->get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            return false;
        out = static_cast<qint64>(v);
        return true;
    }
    if (it->is_number_integer()) {
        out = it->get<std::int64_t>();
        return true;
    }
    return false;
}

// An optional text: missing or null takes the default; a present value must be a string.
bool readOptionalString(const json& object, const char* key, QString& out, const QString& fallback)
{
    switch (presence(object, key)) {
    case Presence::missing:
    case Presence::null:
        out = fallback;
        return true;
    case Presence::present:
        return readString(object, key, out);
    }
    return false;
}

std::optional<Project> decodeProject(const json& value)
{
    if (!value.is_object())
        return std::nullopt;
    Project p;
    if (!readString(value, "id", p.id) || !readString(value, "name", p.name) || !readString(value, "root", p.root)
        || !readInt64(value, "port", p.port))
        return std::nullopt;
    if (!readOptionalString(value, "databaseName", p.databaseName, QString())
        || !readOptionalString(value, "databaseUser", p.databaseUser, QStringLiteral("root"))
        || !readOptionalString(value, "databasePassword", p.databasePassword, QStringLiteral("kelp")))
        return std::nullopt;
    return p;
}

json encodeProject(const Project& p)
{
    json j = json::object();
    j["id"] = utf8(p.id);
    j["name"] = utf8(p.name);
    j["root"] = utf8(p.root);
    j["port"] = p.port;
    j["databaseName"] = utf8(p.databaseName);
    j["databaseUser"] = utf8(p.databaseUser);
    j["databasePassword"] = utf8(p.databasePassword);
    return j;
}

// Writes a slash inside a string as "\/". A slash can only occur inside strings in JSON text.
std::string escapeSlashes(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '/')
            out += "\\/";
        else
            out += c;
    }
    return out;
}

// The bytes as one JSON object; nothing for malformed JSON, another kind of value, or an object
// that holds a key twice (the parser would keep only the last value, and the next save would lose
// the first one silently).
std::optional<json> parseObject(const QByteArray& bytes)
{
    // The keys of the objects being read, innermost last: `levels` marks where each begins. An
    // object with many keys gets a set, so that no file costs a quadratic search.
    constexpr std::size_t kScanned = 16;
    struct Level {
        std::size_t start;
        std::unique_ptr<std::unordered_set<std::string>> many;
    };
    std::vector<std::string> keys;
    std::vector<Level> levels;
    bool duplicate = false;
    const json::parser_callback_t checkKeys = [&](int, json::parse_event_t event, json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
            levels.push_back({keys.size(), nullptr});
            break;
        case json::parse_event_t::object_end:
            if (!levels.empty()) {
                keys.resize(levels.back().start);
                levels.pop_back();
            }
            break;
        case json::parse_event_t::key: {
            if (levels.empty() || duplicate)
                break;
            const std::string& key = parsed.get_ref<const std::string&>();
            Level& level = levels.back();
            if (level.many) {
                duplicate = !level.many->insert(key).second;
                break;
            }
            for (std::size_t i = level.start; i < keys.size() && !duplicate; ++i)
                duplicate = keys[i] == key;
            keys.push_back(key);
            if (keys.size() - level.start > kScanned) {
                level.many = std::make_unique<std::unordered_set<std::string>>(keys.begin() + level.start, keys.end());
                keys.resize(level.start);
            }
            break;
        }
        default:
            break;
        }
        return true;
    };
    try {
        json j = json::parse(bytes.constBegin(), bytes.constEnd(), checkKeys);
        if (j.is_object() && !duplicate)
            return j;
    } catch (const json::exception&) {
    }
    return std::nullopt;
}

} // namespace

AppConfig AppConfig::defaults(const QString& storageRoot)
{
    AppConfig c;
    c.phpMyAdminRoot = storageRoot + QStringLiteral("/Tools/phpMyAdmin");
    Project p;
    p.id = QStringLiteral("default");
    p.name = QStringLiteral("Default PHP Site");
    p.root = storageRoot + QStringLiteral("/Sites/default");
    p.port = 8080;
    c.projects = {p};
    return c;
}

MySQLSettings MySQLSettings::from(const AppConfig& config)
{
    return {config.mysqlHost, config.mysqlPort, config.mysqlUser, config.mysqlPassword};
}

namespace WebsiteTemplates {

QList<WebsiteTemplate> allCases() { return {WebsiteTemplate::laravel, WebsiteTemplate::wordpress}; }

QString rawValue(WebsiteTemplate t)
{
    return t == WebsiteTemplate::laravel ? QStringLiteral("Laravel") : QStringLiteral("WordPress");
}

std::optional<WebsiteTemplate> fromRawValue(const QString& text)
{
    for (WebsiteTemplate t : allCases())
        if (rawValue(t) == text)
            return t;
    return std::nullopt;
}

} // namespace WebsiteTemplates

namespace ConfigCoding {

json encodeProfile(const UserProfile& u)
{
    json j = json::object();
    j["name"] = utf8(u.name);
    j["email"] = utf8(u.email);
    j["avatarInitials"] = utf8(u.avatarInitials);
    j["passwordHash"] = utf8(u.passwordHash);
    j["provider"] = utf8(u.provider);
    j["apiToken"] = utf8(u.apiToken);
    return j;
}

std::optional<UserProfile> decodeProfile(const json& value)
{
    if (!value.is_object())
        return std::nullopt;
    UserProfile u;
    if (!readString(value, "name", u.name) || !readString(value, "email", u.email)
        || !readString(value, "avatarInitials", u.avatarInitials))
        return std::nullopt;
    if (!readOptionalString(value, "passwordHash", u.passwordHash, QString())
        || !readOptionalString(value, "provider", u.provider, QStringLiteral("email"))
        || !readOptionalString(value, "apiToken", u.apiToken, QString()))
        return std::nullopt;
    return u;
}

QByteArray encode(const AppConfig& c)
{
    json j = json::object();
    j["selectedPhp"] = utf8(c.selectedPhp);
    j["phpMyAdminRoot"] = utf8(c.phpMyAdminRoot);
    j["phpMyAdminPort"] = c.phpMyAdminPort;
    j["mysqlHost"] = utf8(c.mysqlHost);
    j["mysqlPort"] = c.mysqlPort;
    j["mysqlUser"] = utf8(c.mysqlUser);
    j["mysqlPassword"] = utf8(c.mysqlPassword);
    j["mysqlStartCommand"] = utf8(c.mysqlStartCommand);
    j["mysqlStopCommand"] = utf8(c.mysqlStopCommand);
    json projects = json::array();
    for (const Project& p : c.projects)
        projects.push_back(encodeProject(p));
    j["projects"] = projects;
    if (c.user)
        j["user"] = encodeProfile(*c.user);
    // nlohmann's objects are std::maps, so keys come out sorted.
    const std::string text = escapeSlashes(j.dump(2, ' ', false, json::error_handler_t::replace));
    return QByteArray::fromStdString(text);
}

std::optional<AppConfig> decode(const QByteArray& bytes)
{
    const std::optional<json> parsed = parseObject(bytes);
    if (!parsed)
        return std::nullopt;
    const json& j = *parsed;
    AppConfig c;
    if (!readString(j, "selectedPhp", c.selectedPhp) || !readString(j, "phpMyAdminRoot", c.phpMyAdminRoot)
        || !readInt64(j, "phpMyAdminPort", c.phpMyAdminPort) || !readString(j, "mysqlHost", c.mysqlHost)
        || !readInt64(j, "mysqlPort", c.mysqlPort) || !readString(j, "mysqlUser", c.mysqlUser)
        || !readString(j, "mysqlPassword", c.mysqlPassword)
        || !readString(j, "mysqlStartCommand", c.mysqlStartCommand)
        || !readString(j, "mysqlStopCommand", c.mysqlStopCommand))
        return std::nullopt;
    const auto projects = j.find("projects");
    if (projects == j.end() || !projects->is_array())
        return std::nullopt;
    for (const json& item : *projects) {
        auto p = decodeProject(item);
        if (!p)
            return std::nullopt;
        c.projects.append(*p);
    }
    switch (presence(j, "user")) {
    case Presence::missing:
    case Presence::null:
        break;
    case Presence::present: {
        auto u = decodeProfile(j.at("user"));
        if (!u)
            return std::nullopt;
        c.user = *u;
        break;
    }
    }
    return c;
}

QByteArray encodePHPVersion(const PHPVersion& v)
{
    json j = json::object();
    j["binary"] = utf8(v.binary);
    j["version"] = utf8(v.version);
    j["supported"] = v.supported;
    return QByteArray::fromStdString(escapeSlashes(j.dump()));
}

std::optional<PHPVersion> decodePHPVersion(const QByteArray& bytes)
{
    const std::optional<json> parsed = parseObject(bytes);
    if (!parsed)
        return std::nullopt;
    const json& j = *parsed;
    PHPVersion v;
    const auto supported = j.find("supported");
    if (!readString(j, "binary", v.binary) || !readString(j, "version", v.version) || supported == j.end()
        || !supported->is_boolean())
        return std::nullopt;
    v.supported = supported->get<bool>();
    return v;
}

} // namespace ConfigCoding

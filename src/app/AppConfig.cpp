#include "app/AppConfig.h"

#include "app/ConfigReader.h"

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

// Builds the document as the library's own parser does and notes an object that holds a key
// twice (the library would keep only the last value, and the next save would lose the first).
// The library calls these members by name, so they stand in for the base's.
class DuplicateCheckingParser : public nlohmann::detail::json_sax_dom_parser<json> {
public:
    using Base = nlohmann::detail::json_sax_dom_parser<json>;
    using Base::Base;

    bool duplicate() const { return m_duplicate; }

    bool start_object(std::size_t elements)
    {
        m_levels.push_back({m_keys.size(), nullptr});
        return Base::start_object(elements);
    }

    bool end_object()
    {
        if (!m_levels.empty()) {
            m_keys.resize(m_levels.back().start);
            m_levels.pop_back();
        }
        return Base::end_object();
    }

    bool key(string_t& name)
    {
        if (!m_levels.empty() && !m_duplicate)
            note(name);
        return Base::key(name);
    }

private:
    // Few keys are compared one by one; an object with many gets a set, so that no file costs a
    // quadratic search.
    static constexpr std::size_t kScanned = 16;
    struct Level {
        std::size_t start;
        std::unique_ptr<std::unordered_set<std::string>> many;
    };

    void note(const std::string& name)
    {
        Level& level = m_levels.back();
        if (level.many) {
            m_duplicate = !level.many->insert(name).second;
            return;
        }
        for (std::size_t i = level.start; i < m_keys.size() && !m_duplicate; ++i)
            m_duplicate = m_keys[i] == name;
        m_keys.push_back(name);
        if (m_keys.size() - level.start > kScanned) {
            level.many = std::make_unique<std::unordered_set<std::string>>(m_keys.begin() + level.start, m_keys.end());
            m_keys.resize(level.start);
        }
    }

    // The keys of the objects being read, innermost last; each level marks where its own begin.
    std::vector<std::string> m_keys;
    std::vector<Level> m_levels;
    bool m_duplicate = false;
};

// The bytes as one JSON object; nothing for malformed JSON, another kind of value, or an object
// that holds a key twice.
std::optional<json> parseObject(const QByteArray& bytes)
{
    json j;
    DuplicateCheckingParser parser(j, /*allow_exceptions_=*/false);
    try {
        const bool parsed = json::sax_parse(bytes.constBegin(), bytes.constEnd(), &parser);
        if (parsed && !parser.is_errored() && !parser.duplicate() && j.is_object())
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
    // One pass from the text into the records: a settings file of many thousand projects costs
    // no document built and torn down first.
    return readConfig(bytes);
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

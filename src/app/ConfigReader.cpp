#include "app/ConfigReader.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

using nlohmann::json;

namespace {

// Keys of the objects being read, innermost last: a key twice in one object is noted. Few keys
// are compared one by one; an object with many gets a set, so that no file costs a quadratic
// search.
class KeyChecker {
public:
    void enter() { m_levels.push_back({m_keys.size(), nullptr}); }
    void leave()
    {
        if (m_levels.empty())
            return;
        m_keys.resize(m_levels.back().start);
        m_levels.pop_back();
    }
    // False when the innermost object has the key already.
    bool add(const std::string& name)
    {
        if (m_levels.empty())
            return true;
        Level& level = m_levels.back();
        if (level.many)
            return level.many->insert(name).second;
        for (std::size_t i = level.start; i < m_keys.size(); ++i) {
            if (m_keys[i] == name)
                return false;
        }
        m_keys.push_back(name);
        if (m_keys.size() - level.start > kScanned) {
            level.many = std::make_unique<std::unordered_set<std::string>>(m_keys.begin() + level.start, m_keys.end());
            m_keys.resize(level.start);
        }
        return true;
    }

private:
    static constexpr std::size_t kScanned = 16;
    struct Level {
        std::size_t start;
        std::unique_ptr<std::unordered_set<std::string>> many;
    };
    std::vector<std::string> m_keys;
    std::vector<Level> m_levels;
};

// The SAX events of the library's parser, turned into the records. Any value that breaks a rule
// stops the parse (a member returns false).
class Reader {
public:
    using number_integer_t = json::number_integer_t;
    using number_unsigned_t = json::number_unsigned_t;
    using number_float_t = json::number_float_t;
    using string_t = json::string_t;
    using binary_t = json::binary_t;

    std::optional<AppConfig> result() const
    {
        if (!m_done)
            return std::nullopt;
        return m_config;
    }

    bool null()
    {
        if (skipping())
            return true;
        switch (m_slot.kind) {
        case Kind::optionalText:
            *m_slot.text = m_slot.fallback;
            return filled();
        case Kind::user:
            m_config.user.reset();
            return filled();
        default:
            return false;
        }
    }
    bool boolean(bool) { return skipping(); }
    bool number_float(number_float_t, const string_t&) { return skipping(); }
    bool binary(binary_t&) { return skipping(); }
    bool number_integer(number_integer_t value)
    {
        if (skipping())
            return true;
        if (m_slot.kind != Kind::integer)
            return false;
        *m_slot.integer = value;
        return filled();
    }
    bool number_unsigned(number_unsigned_t value)
    {
        if (skipping())
            return true;
        if (m_slot.kind != Kind::integer || value > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            return false;
        *m_slot.integer = static_cast<qint64>(value);
        return filled();
    }
    bool string(string_t& value)
    {
        if (skipping())
            return true;
        if (m_slot.kind != Kind::text && m_slot.kind != Kind::optionalText)
            return false;
        *m_slot.text = QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
        return filled();
    }

    bool start_object(std::size_t)
    {
        m_keys.enter();
        if (m_skipDepth > 0) {
            ++m_skipDepth;
            return true;
        }
        if (m_frames.empty()) {
            if (m_done)
                return false;
            m_frames.push_back(Frame::top);
            return true;
        }
        if (m_frames.back() == Frame::projects) {
            m_project = Project();
            m_projectSeen = 0;
            m_frames.push_back(Frame::project);
            return true;
        }
        switch (m_slot.kind) {
        case Kind::skip:
            m_slot = {};
            m_skipDepth = 1;
            return true;
        case Kind::user:
            m_slot = {};
            m_profile = UserProfile();
            m_profileSeen = 0;
            m_frames.push_back(Frame::user);
            return true;
        default:
            return false;
        }
    }

    bool end_object()
    {
        m_keys.leave();
        if (m_skipDepth > 0) {
            --m_skipDepth;
            return true;
        }
        const Frame frame = m_frames.back();
        m_frames.pop_back();
        switch (frame) {
        case Frame::top:
            m_done = m_topSeen == kAllTop;
            return m_done;
        case Frame::project:
            if (m_projectSeen != kAllProject)
                return false;
            m_config.projects.append(std::move(m_project));
            return true;
        case Frame::user:
            if (m_profileSeen != kAllProfile)
                return false;
            m_config.user = std::move(m_profile);
            return true;
        case Frame::projects:
            return false;
        }
        return false;
    }

    bool start_array(std::size_t)
    {
        if (m_skipDepth > 0) {
            ++m_skipDepth;
            return true;
        }
        if (m_frames.empty() || m_frames.back() == Frame::projects)
            return false;
        switch (m_slot.kind) {
        case Kind::skip:
            m_slot = {};
            m_skipDepth = 1;
            return true;
        case Kind::projects:
            filled();
            m_frames.push_back(Frame::projects);
            return true;
        default:
            return false;
        }
    }

    bool end_array()
    {
        if (m_skipDepth > 0) {
            --m_skipDepth;
            return true;
        }
        if (m_frames.empty() || m_frames.back() != Frame::projects)
            return false;
        m_frames.pop_back();
        return true;
    }

    bool key(string_t& name)
    {
        if (!m_keys.add(name))
            return false;
        if (m_skipDepth > 0)
            return true;
        switch (m_frames.back()) {
        case Frame::top:
            m_slot = topSlot(name);
            return true;
        case Frame::project:
            m_slot = projectSlot(name);
            return true;
        case Frame::user:
            m_slot = profileSlot(name);
            return true;
        case Frame::projects:
            return false;
        }
        return false;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    enum class Frame { top, projects, project, user };
    enum class Kind { none, skip, text, optionalText, integer, projects, user };
    struct Slot {
        Kind kind = Kind::none;
        QString* text = nullptr;
        qint64* integer = nullptr;
        QString fallback;
        unsigned* seen = nullptr;
        unsigned bit = 0;
    };

    static constexpr unsigned kAllTop = (1u << 10) - 1;
    static constexpr unsigned kAllProject = (1u << 4) - 1;
    static constexpr unsigned kAllProfile = (1u << 3) - 1;

    // A value inside one that is ignored (or the ignored value itself, when it is a scalar).
    bool skipping()
    {
        if (m_skipDepth > 0)
            return true;
        if (m_slot.kind != Kind::skip)
            return false;
        m_slot = {};
        return true;
    }
    bool filled()
    {
        if (m_slot.seen)
            *m_slot.seen |= m_slot.bit;
        m_slot = {};
        return true;
    }

    static Slot skip()
    {
        Slot slot;
        slot.kind = Kind::skip;
        return slot;
    }
    Slot text(QString& target, unsigned* seen, unsigned bit) { return {Kind::text, &target, nullptr, {}, seen, bit}; }
    Slot integer(qint64& target, unsigned* seen, unsigned bit) { return {Kind::integer, nullptr, &target, {}, seen, bit}; }
    Slot optionalText(QString& target, const QString& fallback) { return {Kind::optionalText, &target, nullptr, fallback, nullptr, 0}; }

    Slot topSlot(const std::string& name)
    {
        AppConfig& c = m_config;
        unsigned* seen = &m_topSeen;
        if (name == "selectedPhp") return text(c.selectedPhp, seen, 1u << 0);
        if (name == "phpMyAdminRoot") return text(c.phpMyAdminRoot, seen, 1u << 1);
        if (name == "phpMyAdminPort") return integer(c.phpMyAdminPort, seen, 1u << 2);
        if (name == "mysqlHost") return text(c.mysqlHost, seen, 1u << 3);
        if (name == "mysqlPort") return integer(c.mysqlPort, seen, 1u << 4);
        if (name == "mysqlUser") return text(c.mysqlUser, seen, 1u << 5);
        if (name == "mysqlPassword") return text(c.mysqlPassword, seen, 1u << 6);
        if (name == "mysqlStartCommand") return text(c.mysqlStartCommand, seen, 1u << 7);
        if (name == "mysqlStopCommand") return text(c.mysqlStopCommand, seen, 1u << 8);
        if (name == "projects") return {Kind::projects, nullptr, nullptr, {}, seen, 1u << 9};
        if (name == "user") return {Kind::user, nullptr, nullptr, {}, nullptr, 0};
        return skip();
    }

    Slot projectSlot(const std::string& name)
    {
        Project& p = m_project;
        unsigned* seen = &m_projectSeen;
        if (name == "id") return text(p.id, seen, 1u << 0);
        if (name == "name") return text(p.name, seen, 1u << 1);
        if (name == "root") return text(p.root, seen, 1u << 2);
        if (name == "port") return integer(p.port, seen, 1u << 3);
        if (name == "databaseName") return optionalText(p.databaseName, QString());
        if (name == "databaseUser") return optionalText(p.databaseUser, QStringLiteral("root"));
        if (name == "databasePassword") return optionalText(p.databasePassword, QStringLiteral("kelp"));
        return skip();
    }

    Slot profileSlot(const std::string& name)
    {
        UserProfile& u = m_profile;
        unsigned* seen = &m_profileSeen;
        if (name == "name") return text(u.name, seen, 1u << 0);
        if (name == "email") return text(u.email, seen, 1u << 1);
        if (name == "avatarInitials") return text(u.avatarInitials, seen, 1u << 2);
        if (name == "passwordHash") return optionalText(u.passwordHash, QString());
        if (name == "provider") return optionalText(u.provider, QStringLiteral("email"));
        if (name == "apiToken") return optionalText(u.apiToken, QString());
        return skip();
    }

    AppConfig m_config;
    Project m_project;
    UserProfile m_profile;
    unsigned m_topSeen = 0;
    unsigned m_projectSeen = 0;
    unsigned m_profileSeen = 0;
    std::vector<Frame> m_frames;
    Slot m_slot;
    int m_skipDepth = 0;
    bool m_done = false;
    KeyChecker m_keys;
};

} // namespace

std::optional<AppConfig> readConfig(const QByteArray& bytes)
{
    Reader reader;
    try {
        if (!json::sax_parse(bytes.constBegin(), bytes.constEnd(), &reader))
            return std::nullopt;
    } catch (const json::exception&) {
        return std::nullopt;
    }
    return reader.result();
}

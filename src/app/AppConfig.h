#pragma once

#include <QHashFunctions>
#include <QList>
#include <QMetaType>
#include <QString>

#include <nlohmann/json_fwd.hpp>
#include <optional>

// The signed-in account, kept whole as AppConfig::user.
struct UserProfile {
    QString name;
    QString email;
    QString avatarInitials;
    QString passwordHash;               // 64 lowercase hex digits of SHA-256, or empty
    QString provider = QStringLiteral("email"); // "email" or "google"
    QString apiToken;

    bool operator==(const UserProfile&) const = default;
};

// One website.
struct Project {
    QString id;
    QString name;
    QString root;
    qint64 port = 0;
    QString databaseName;
    QString databaseUser = QStringLiteral("root");
    QString databasePassword = QStringLiteral("kelp");

    bool operator==(const Project&) const = default;
};

// The whole of config.json.
struct AppConfig {
    QString selectedPhp;
    QString phpMyAdminRoot;
    qint64 phpMyAdminPort = 8081;
    QString mysqlHost = QStringLiteral("127.0.0.1");
    qint64 mysqlPort = 3306;
    QString mysqlUser = QStringLiteral("root");
    QString mysqlPassword = QStringLiteral("kelp");
    QString mysqlStartCommand = QStringLiteral("brew services start mysql");
    QString mysqlStopCommand = QStringLiteral("brew services stop mysql");
    QList<Project> projects;
    std::optional<UserProfile> user;

    bool operator==(const AppConfig&) const = default;

    // The default configuration for a storage folder: phpMyAdmin in Tools/phpMyAdmin and the one
    // default website in Sites/default on port 8080.
    static AppConfig defaults(const QString& storageRoot);
};

// One PHP runtime found on the machine (in memory only).
struct PHPVersion {
    QString binary;
    QString version;
    bool supported = false;

    bool operator==(const PHPVersion&) const = default;
};

// Hashing covers every stored field, like equality.
inline size_t qHash(const UserProfile& u, size_t seed = 0)
{
    return qHashMulti(seed, u.name, u.email, u.avatarInitials, u.passwordHash, u.provider, u.apiToken);
}
inline size_t qHash(const Project& p, size_t seed = 0)
{
    return qHashMulti(seed, p.id, p.name, p.root, p.port, p.databaseName, p.databaseUser, p.databasePassword);
}
inline size_t qHash(const PHPVersion& v, size_t seed = 0) { return qHashMulti(seed, v.binary, v.version, v.supported); }

enum class WebsiteTemplate { laravel, wordpress };

namespace WebsiteTemplates {
QList<WebsiteTemplate> allCases();
QString rawValue(WebsiteTemplate t); // "Laravel", "WordPress"
std::optional<WebsiteTemplate> fromRawValue(const QString& text);
} // namespace WebsiteTemplates

// The MySQL connection settings handed to database creation and scaffolding.
struct MySQLSettings {
    QString host;
    qint64 port = 0;
    QString user;
    QString password;

    static MySQLSettings from(const AppConfig& config);
};

// config.json coding: pretty-printed, sorted keys, slashes escaped. Decoding is strict: a
// missing key, a wrong type or malformed JSON gives nothing.
namespace ConfigCoding {
QByteArray encode(const AppConfig& config);
std::optional<AppConfig> decode(const QByteArray& bytes);

// The profile alone, with its own keys.
nlohmann::json encodeProfile(const UserProfile& profile);
std::optional<UserProfile> decodeProfile(const nlohmann::json& value);

// PHPVersion with the keys "binary", "version", "supported", all required.
QByteArray encodePHPVersion(const PHPVersion& version);
std::optional<PHPVersion> decodePHPVersion(const QByteArray& bytes);
} // namespace ConfigCoding

Q_DECLARE_METATYPE(AppConfig)
Q_DECLARE_METATYPE(Project)

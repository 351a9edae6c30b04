#include "account/APIRecords.h"

#include <QRegularExpression>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <map>

using nlohmann::json;
using nlohmann::ordered_json;

namespace WireCoding {

namespace {
const QString kMissing = QStringLiteral("The data couldn\u2019t be read because it is missing.");
const QString kWrongFormat = QStringLiteral("The data couldn\u2019t be read because it isn\u2019t in the correct format.");
} // namespace

APIError missingKey(const QString& key)
{
    return {APIErrors::kDecodingDomain, 4865, kMissing,
            QStringLiteral("No value associated with key \"%1\".").arg(key)};
}

APIError missingValue(const QString& key)
{
    return {APIErrors::kDecodingDomain, 4865, kMissing,
            QStringLiteral("Expected a value for key \"%1\" but found null instead.").arg(key)};
}

APIError typeMismatch(const QString& key, const QString& expected)
{
    return {APIErrors::kDecodingDomain, 4864, kWrongFormat,
            QStringLiteral("Expected to decode %1 for key \"%2\" but found another type instead.").arg(expected, key)};
}

APIError corrupted(const QString& debugDescription)
{
    return {APIErrors::kDecodingDomain, 4864, kWrongFormat, debugDescription};
}

QString fromSnakeCase(const QString& key)
{
    qsizetype first = 0;
    while (first < key.size() && key[first] == u'_')
        ++first;
    if (first == key.size())
        return key;
    qsizetype last = key.size() - 1;
    while (last > first && key[last] == u'_')
        --last;
    const QStringList words = key.mid(first, last - first + 1).split(u'_', Qt::SkipEmptyParts);
    if (words.size() == 1)
        return key;
    QString joined = words[0].toLower();
    for (qsizetype i = 1; i < words.size(); ++i)
        joined += words[i].left(1).toUpper() + words[i].mid(1).toLower();
    return key.left(first) + joined + key.mid(last + 1);
}

std::variant<QDateTime, APIError> decodeDate(const json& value)
{
    if (!value.is_string())
        return typeMismatch(QStringLiteral("date"), QStringLiteral("String"));
    const QString text = QString::fromStdString(value.get<std::string>());
    // RFC 3339 internet date-time; the fraction is tried first, then the form without it.
    static const QRegularExpression withFraction(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})\\.(\\d+)(Z|[+-]\\d{2}:\\d{2})$"));
    static const QRegularExpression withoutFraction(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})()(Z|[+-]\\d{2}:\\d{2})$"));
    for (const QRegularExpression* pattern : {&withFraction, &withoutFraction}) {
        const QRegularExpressionMatch m = pattern->match(text);
        if (!m.hasMatch())
            continue;
        const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        const QString fraction = m.captured(7);
        const int millis = fraction.isEmpty() ? 0 : (fraction + QStringLiteral("00")).left(3).toInt();
        const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(), millis);
        if (!date.isValid() || !time.isValid())
            continue;
        const QString zone = m.captured(8);
        int offset = 0;
        if (zone != u"Z") {
            const int hours = zone.mid(1, 2).toInt();
            const int minutes = zone.mid(4, 2).toInt();
            if (hours > 23 || minutes > 59)
                continue;
            offset = (hours * 3600 + minutes * 60) * (zone[0] == u'-' ? -1 : 1);
        }
        return QDateTime(date, time, Qt::OffsetFromUTC, offset).toUTC();
    }
    return corrupted(QStringLiteral("Invalid ISO8601 date: ") + text);
}

} // namespace WireCoding

namespace {

using namespace WireCoding;

// ---- Encoding ----------------------------------------------------------------------------------

bool hasUnpairedSurrogate(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
                return true;
            ++i;
        } else if (c.isLowSurrogate()) {
            return true;
        }
    }
    return false;
}

class Writer {
public:
    void put(const char* key, const QString& value)
    {
        if (hasUnpairedSurrogate(value))
            m_failedKey = QString::fromLatin1(key);
        m_object[key] = value.toStdString();
    }
    void put(const char* key, const std::optional<QString>& value)
    {
        if (value)
            put(key, *value);
    }
    EncodedBody finish() const
    {
        if (!m_failedKey.isEmpty())
            return APIError{APIErrors::kEncodingDomain, 4866,
                            QStringLiteral("The data couldn\u2019t be written because it isn\u2019t in the correct format."),
                            QStringLiteral("The text of \"%1\" is not valid Unicode.").arg(m_failedKey)};
        return QByteArray::fromStdString(m_object.dump());
    }

private:
    ordered_json m_object = ordered_json::object();
    QString m_failedKey;
};

// ---- Decoding ----------------------------------------------------------------------------------

// One JSON object with its keys converted from snake case.
class Reader {
public:
    explicit Reader(const json& object)
    {
        for (auto it = object.begin(); it != object.end(); ++it)
            m_members[fromSnakeCase(QString::fromStdString(it.key()))] = &it.value();
    }

    // nullptr when absent or null.
    const json* find(const char* key) const
    {
        const auto it = m_members.find(QString::fromLatin1(key));
        if (it == m_members.end() || it->second->is_null())
            return nullptr;
        return it->second;
    }
    bool contains(const char* key) const { return m_members.count(QString::fromLatin1(key)) > 0; }

    std::optional<APIError> requiredString(const char* key, QString& out) const
    {
        if (!contains(key))
            return missingKey(QString::fromLatin1(key));
        const json* v = find(key);
        if (!v)
            return missingValue(QString::fromLatin1(key));
        if (!v->is_string())
            return typeMismatch(QString::fromLatin1(key), QStringLiteral("String"));
        out = QString::fromStdString(v->get<std::string>());
        return std::nullopt;
    }

    std::optional<APIError> optionalString(const char* key, std::optional<QString>& out) const
    {
        const json* v = find(key);
        if (!v)
            return std::nullopt;
        if (!v->is_string())
            return typeMismatch(QString::fromLatin1(key), QStringLiteral("String"));
        out = QString::fromStdString(v->get<std::string>());
        return std::nullopt;
    }

    std::optional<APIError> optionalInteger(const char* key, std::optional<qint64>& out) const
    {
        const json* v = find(key);
        if (!v)
            return std::nullopt;
        if (v->is_number_unsigned()) {
            const auto n = v->get<std::uint64_t>();
            if (n > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
                return corrupted(QStringLiteral("Parsed JSON number for key \"%1\" does not fit in Int.").arg(QString::fromLatin1(key)));
            out = static_cast<qint64>(n);
            return std::nullopt;
        }
        if (v->is_number_integer()) {
            out = v->get<std::int64_t>();
            return std::nullopt;
        }
        if (v->is_number_float()) {
            // A number written with a fraction or exponent is accepted when it is a whole number.
            const double d = v->get<double>();
            if (std::isfinite(d) && std::floor(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
                out = static_cast<qint64>(d);
                return std::nullopt;
            }
            return corrupted(QStringLiteral("Parsed JSON number for key \"%1\" does not fit in Int.").arg(QString::fromLatin1(key)));
        }
        return typeMismatch(QString::fromLatin1(key), QStringLiteral("Int"));
    }

    std::optional<APIError> requiredObject(const char* key, const json*& out) const
    {
        if (!contains(key))
            return missingKey(QString::fromLatin1(key));
        const json* v = find(key);
        if (!v)
            return missingValue(QString::fromLatin1(key));
        if (!v->is_object())
            return typeMismatch(QString::fromLatin1(key), QStringLiteral("Dictionary"));
        out = v;
        return std::nullopt;
    }

private:
    std::map<QString, const json*> m_members;
};

struct TooDeep {};

// The JSON value of the bytes, stopped at the first object or array nested past kMaxJSONDepth.
std::variant<json, APIError> parseValue(const QByteArray& bytes)
{
    const json::parser_callback_t depthLimit = [](int depth, json::parse_event_t event, json&) {
        if (depth >= kMaxJSONDepth && (event == json::parse_event_t::object_start || event == json::parse_event_t::array_start))
            throw TooDeep();
        return true;
    };
    try {
        return json::parse(bytes.constBegin(), bytes.constEnd(), depthLimit);
    } catch (const TooDeep&) {
        return corrupted(QStringLiteral("The given data was nested more than %1 levels deep.").arg(kMaxJSONDepth));
    } catch (const json::exception&) {
        return corrupted(QStringLiteral("The given data was not valid JSON."));
    }
}

std::variant<json, APIError> parseObject(const QByteArray& bytes)
{
    auto parsed = parseValue(bytes);
    if (std::holds_alternative<APIError>(parsed))
        return parsed;
    if (!std::get<json>(parsed).is_object())
        return typeMismatch(QStringLiteral("(top level)"), QStringLiteral("Dictionary"));
    return parsed;
}

std::variant<APIUser, APIError> decodeUser(const json& object)
{
    const Reader r(object);
    APIUser u;
    if (auto e = r.optionalInteger("id", u.id))
        return *e;
    if (auto e = r.requiredString("name", u.name))
        return *e;
    if (auto e = r.requiredString("email", u.email))
        return *e;
    if (auto e = r.optionalString("status", u.status))
        return *e;
    return u;
}

std::optional<APIError> readUser(const Reader& r, APIUser& out)
{
    const json* user = nullptr;
    if (auto e = r.requiredObject("user", user))
        return e;
    auto decoded = decodeUser(*user);
    if (auto* e = std::get_if<APIError>(&decoded))
        return *e;
    out = std::get<APIUser>(decoded);
    return std::nullopt;
}

} // namespace

std::optional<QString> WireCoding::errorMessage(const QByteArray& body)
{
    const auto parsed = parseObject(body);
    if (std::holds_alternative<APIError>(parsed))
        return std::nullopt;
    const json& object = std::get<json>(parsed);
    for (const char* key : {"message", "error"}) {
        const auto it = object.find(key);
        if (it != object.end() && it->is_string() && !it->get_ref<const std::string&>().empty())
            return QString::fromStdString(it->get<std::string>());
    }
    return std::nullopt;
}

EncodedBody AuthRequest::encode() const
{
    Writer w;
    w.put("name", name);
    w.put("email", email);
    w.put("password", password);
    w.put("device_id", deviceId);
    w.put("platform", platform);
    w.put("app_id", appId);
    return w.finish();
}

EncodedBody ChangePasswordRequest::encode() const
{
    Writer w;
    w.put("current_password", currentPassword);
    w.put("password", password);
    return w.finish();
}

EncodedBody PasswordResetRequest::encode() const
{
    Writer w;
    w.put("email", email);
    w.put("app_id", appId);
    return w.finish();
}

EncodedBody UpdateProfileRequest::encode() const
{
    Writer w;
    w.put("name", name);
    return w.finish();
}

EncodedBody GoogleRequest::encode() const
{
    Writer w;
    w.put("id_token", idToken);
    w.put("device_id", deviceId);
    w.put("platform", platform);
    w.put("app_id", appId);
    w.put("name", name);
    return w.finish();
}

EncodedBody EmptyRequest::encode() const
{
    return Writer().finish();
}

std::variant<AuthResponse, APIError> AuthResponse::decode(const QByteArray& bytes)
{
    auto parsed = parseObject(bytes);
    if (auto* e = std::get_if<APIError>(&parsed))
        return *e;
    const Reader r(std::get<json>(parsed));
    AuthResponse a;
    if (auto e = r.optionalString("tokenType", a.tokenType))
        return *e;
    if (auto e = r.optionalString("accessToken", a.accessToken))
        return *e;
    if (auto e = r.optionalString("token", a.token))
        return *e;
    if (auto e = readUser(r, a.user))
        return *e;
    return a;
}

std::variant<MeResponse, APIError> MeResponse::decode(const QByteArray& bytes)
{
    auto parsed = parseObject(bytes);
    if (auto* e = std::get_if<APIError>(&parsed))
        return *e;
    const Reader r(std::get<json>(parsed));
    MeResponse m;
    if (auto e = readUser(r, m.user))
        return *e;
    return m;
}

std::variant<APIMessageResponse, APIError> APIMessageResponse::decode(const QByteArray& bytes)
{
    auto parsed = parseObject(bytes);
    if (auto* e = std::get_if<APIError>(&parsed))
        return *e;
    const Reader r(std::get<json>(parsed));
    APIMessageResponse m;
    if (auto e = r.requiredString("message", m.message))
        return *e;
    return m;
}

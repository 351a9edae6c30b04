#include "oauth/KeyedArchive.h"

#include <QJsonArray>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <limits>

using ojson = nlohmann::ordered_json;

namespace {

const char* const ArchiverName = "Kovani.KeyedArchive";
constexpr int ArchiveVersion = 1;

std::string str(const QString& s) { return s.toStdString(); }
QString qstr(const std::string& s) { return QString::fromStdString(s); }

ojson wrapper(const char* type)
{
    ojson w = ojson::object();
    w["$type"] = type;
    return w;
}

bool isWrapper(const ojson& v, const char* type)
{
    if (!v.is_object())
        return false;
    auto it = v.find("$type");
    return it != v.end() && it->is_string() && it->get<std::string>() == type;
}

ojson jsonValue(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return nullptr;
    case QJsonValue::Bool:
        return value.toBool();
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (std::isfinite(d) && std::trunc(d) == d && d >= -9007199254740992.0 && d <= 9007199254740992.0)
            return static_cast<std::int64_t>(d);
        return d;
    }
    case QJsonValue::String:
        return str(value.toString());
    case QJsonValue::Array: {
        ojson w = wrapper("array");
        w["items"] = ojson::array();
        for (const QJsonValue& item : value.toArray())
            w["items"].push_back(jsonValue(item));
        return w;
    }
    case QJsonValue::Object: {
        ojson w = wrapper("dict");
        w["entries"] = ojson::object();
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            w["entries"][str(it.key())] = jsonValue(it.value());
        return w;
    }
    }
    return nullptr;
}

// Nesting beyond this is not a record of ours.
constexpr int MaxNesting = 64;

// Generic JSON values back from their archived form; false for anything that is not one.
bool fromJsonValue(const ojson& v, QJsonValue& out, int depth = 0)
{
    if (depth > MaxNesting)
        return false;
    if (v.is_null()) {
        out = QJsonValue(QJsonValue::Null);
    } else if (v.is_boolean()) {
        out = v.get<bool>();
    } else if (v.is_number_integer()) {
        if (v.is_number_unsigned() && v.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            return false;
        out = static_cast<qint64>(v.get<std::int64_t>());
    } else if (v.is_number_float()) {
        out = v.get<double>();
    } else if (v.is_string()) {
        out = qstr(v.get<std::string>());
    } else if (isWrapper(v, "array")) {
        auto items = v.find("items");
        if (items == v.end() || !items->is_array())
            return false;
        QJsonArray array;
        for (const ojson& item : *items) {
            QJsonValue element;
            if (!fromJsonValue(item, element, depth + 1))
                return false;
            array.append(element);
        }
        out = array;
    } else if (isWrapper(v, "dict")) {
        auto entries = v.find("entries");
        if (entries == v.end() || !entries->is_object())
            return false;
        QJsonObject object;
        for (auto it = entries->begin(); it != entries->end(); ++it) {
            QJsonValue element;
            if (!fromJsonValue(it.value(), element, depth + 1))
                return false;
            object.insert(qstr(it.key()), element);
        }
        out = object;
    } else {
        return false;
    }
    return true;
}

} // namespace

// ---- KeyedArchiver

KeyedArchiver::KeyedArchiver() = default;

void KeyedArchiver::setClassName(const QString& archivedName, const QString& className)
{
    m_classNames.insert(className, archivedName);
}

ojson KeyedArchiver::objectValue(const ArchivableObject& object)
{
    m_stack.push_back(ojson::object());
    object.encodeWithCoder(*this);
    ojson fields = std::move(m_stack.back());
    m_stack.pop_back();
    ojson w = wrapper("object");
    w["$class"] = str(m_classNames.value(object.archiveClassName(), object.archiveClassName()));
    w["fields"] = std::move(fields);
    return w;
}

void KeyedArchiver::put(const QString& key, ojson value)
{
    ojson& target = m_stack.empty() ? m_top : m_stack.back();
    target[str(key)] = std::move(value);
}

void KeyedArchiver::encodeRootObject(const ArchivableObject& object)
{
    m_top[str(KeyedArchiveRootObjectKey)] = objectValue(object);
}

QByteArray KeyedArchiver::encodedData() const
{
    ojson document = ojson::object();
    document["$archiver"] = ArchiverName;
    document["$version"] = ArchiveVersion;
    document["$top"] = m_top;
    return QByteArray::fromStdString(document.dump());
}

void KeyedArchiver::encodeString(const QString& key, const std::optional<QString>& value)
{
    if (value)
        put(key, str(*value));
}

void KeyedArchiver::encodeNull(const QString& key) { put(key, nullptr); }
void KeyedArchiver::encodeBool(const QString& key, bool value) { put(key, value); }
void KeyedArchiver::encodeInteger(const QString& key, qint64 value) { put(key, static_cast<std::int64_t>(value)); }

void KeyedArchiver::encodeDate(const QString& key, const std::optional<QDateTime>& value)
{
    if (!value)
        return;
    ojson w = wrapper("date");
    w["secondsSince1970"] = static_cast<double>(value->toMSecsSinceEpoch()) / 1000.0;
    put(key, std::move(w));
}

void KeyedArchiver::encodeURL(const QString& key, const std::optional<QUrl>& value)
{
    if (!value)
        return;
    ojson w = wrapper("url");
    w["value"] = str(value->toString(QUrl::FullyEncoded));
    put(key, std::move(w));
}

void KeyedArchiver::encodeStringMap(const QString& key, const std::optional<QMap<QString, QString>>& value)
{
    if (!value)
        return;
    ojson w = wrapper("dict");
    w["entries"] = ojson::object();
    for (auto it = value->cbegin(); it != value->cend(); ++it)
        w["entries"][str(it.key())] = str(it.value());
    put(key, std::move(w));
}

void KeyedArchiver::encodeJSONObject(const QString& key, const std::optional<QJsonObject>& value)
{
    if (value)
        put(key, jsonValue(*value));
}

void KeyedArchiver::encodeError(const QString& key, const std::optional<DomainError>& value)
{
    if (!value)
        return;
    ojson w = wrapper("error");
    w["domain"] = str(value->domain);
    w["code"] = static_cast<std::int64_t>(value->code);
    put(key, std::move(w));
}

void KeyedArchiver::encodeObject(const QString& key, const ArchivableObject* object)
{
    if (object)
        put(key, objectValue(*object));
}

// ---- KeyedUnarchiver

KeyedUnarchiver::KeyedUnarchiver(const QByteArray& data)
{
    // Objects nest a few levels deep; anything much deeper is refused before it is parsed.
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data.at(i);
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    if (deepest > 4 * MaxNesting) {
        failWith(KeyedArchiveReadCorruptError, QStringLiteral("The data is not a keyed archive."));
        return;
    }
    m_document = ojson::parse(data.constBegin(), data.constEnd(), nullptr, false);
    if (m_document.is_discarded() || !m_document.is_object()) {
        failWith(KeyedArchiveReadCorruptError, QStringLiteral("The data is not a keyed archive."));
        return;
    }
    auto archiver = m_document.find("$archiver");
    auto version = m_document.find("$version");
    auto top = m_document.find("$top");
    if (archiver == m_document.end() || *archiver != ArchiverName || version == m_document.end()
        || !version->is_number_integer() || version->get<std::int64_t>() != ArchiveVersion
        || top == m_document.end() || !top->is_object()) {
        failWith(KeyedArchiveReadCorruptError, QStringLiteral("The data is not a keyed archive of a known version."));
        return;
    }
    m_top = *top;
}

void KeyedUnarchiver::setClass(const QString& className, const QString& archivedName)
{
    m_classes.insert(archivedName, className);
}

void KeyedUnarchiver::failWith(qint64 code, const QString& description)
{
    if (!m_error)
        m_error = DomainError(KeyedArchiveErrorDomain, static_cast<int>(code), description);
}

const ojson* KeyedUnarchiver::value(const QString& key) const
{
    if (m_stack.empty())
        return nullptr;
    const ojson& fields = *m_stack.back();
    auto it = fields.find(str(key));
    return it == fields.end() ? nullptr : &*it;
}

void KeyedUnarchiver::wrongType(const QString& key, const char* expected)
{
    failWith(KeyedArchiveReadCorruptError,
             QStringLiteral("The value for key \"%1\" is not %2.").arg(key, QLatin1String(expected)));
}

bool KeyedUnarchiver::containsValue(const QString& key) const { return value(key) != nullptr; }

bool KeyedUnarchiver::isNull(const QString& key) const
{
    const ojson* v = value(key);
    return v && v->is_null();
}

std::optional<QString> KeyedUnarchiver::decodeString(const QString& key)
{
    const ojson* v = value(key);
    if (!v || v->is_null())
        return std::nullopt;
    if (!v->is_string()) {
        wrongType(key, "a text");
        return std::nullopt;
    }
    return qstr(v->get<std::string>());
}

std::optional<bool> KeyedUnarchiver::decodeBool(const QString& key)
{
    const ojson* v = value(key);
    if (!v || v->is_null())
        return std::nullopt;
    if (!v->is_boolean()) {
        wrongType(key, "a flag");
        return std::nullopt;
    }
    return v->get<bool>();
}

std::optional<qint64> KeyedUnarchiver::decodeInteger(const QString& key)
{
    const ojson* v = value(key);
    if (!v || v->is_null())
        return std::nullopt;
    if (!v->is_number_integer()
        || (v->is_number_unsigned() && v->get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))) {
        wrongType(key, "an integer");
        return std::nullopt;
    }
    return static_cast<qint64>(v->get<std::int64_t>());
}

std::optional<QDateTime> KeyedUnarchiver::decodeDate(const QString& key)
{
    const ojson* v = value(key);
    if (!v || v->is_null())
        return std::nullopt;
    if (isWrapper(*v, "date")) {
        auto seconds = v->find("secondsSince1970");
        if (seconds != v->end() && seconds->is_number()) {
            const double ms = std::round(seconds->get<double>() * 1000.0);
            if (std::isfinite(ms) && std::fabs(ms) < 9.0e15) {
                QDateTime date = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms), Qt::UTC);
                if (date.isValid())
                    return date;
            }
        }
    }
    wrongType(key, "a date");
    return std::nullopt;
}

std::optional<QUrl> KeyedUnarchiver::decodeURL(const QString& key)
{
    const ojson* v = value(key);
    if (!v || v->is_null())
        return std::nullopt;
    if (isWrapper(*v, "url")) {
        auto text = v->find("value");
        if (text != v->end() && text->is_string()) {
            QUrl url(qstr(text->get<std::string>()), QUrl::StrictMode);
            if (url.isValid())
                return url;
        }
    }
    wrongType(key, "a URL");
    return std::nullopt;
}

std::optional<QMap<QString, QString>> KeyedUnarchiver::decodeStringMap(const QString& key)
{
    const ojson* v = value(key);
    if (!v || v->is_null())
        return std::nullopt;
    if (isWrapper(*v, "dict")) {
        auto entries = v->find("entries");
        if (entries != v->end() && entries->is_object()) {
            QMap<QString, QString> map;
            bool ok = true;
            for (auto it = entries->begin(); it != entries->end() && ok; ++it) {
                ok = it.value().is_string();
                if (ok)
                    map.insert(qstr(it.key()), qstr(it.value().get<std::string>()));
            }
            if (ok)
                return map;
        }
    }
    wrongType(key, "a dictionary of texts");
    return std::nullopt;
}

std::optional<QJsonObject> KeyedUnarchiver::decodeJSONObject(const QString& key)
{
    const ojson* v = value(key);
    if (!v || v->is_null())
        return std::nullopt;
    QJsonValue result;
    if (isWrapper(*v, "dict") && fromJsonValue(*v, result) && result.isObject())
        return result.toObject();
    wrongType(key, "a dictionary");
    return std::nullopt;
}

std::optional<DomainError> KeyedUnarchiver::decodeError(const QString& key)
{
    const ojson* v = value(key);
    if (!v || v->is_null())
        return std::nullopt;
    if (isWrapper(*v, "error")) {
        auto domain = v->find("domain");
        auto code = v->find("code");
        if (domain != v->end() && domain->is_string() && code != v->end() && code->is_number_integer()) {
            const bool fits = code->is_number_unsigned()
                                  ? code->get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<int>::max())
                                  : code->get<std::int64_t>() >= std::numeric_limits<int>::min()
                                        && code->get<std::int64_t>() <= std::numeric_limits<int>::max();
            if (fits)
                return DomainError(qstr(domain->get<std::string>()), static_cast<int>(code->get<std::int64_t>()));
        }
    }
    wrongType(key, "an error");
    return std::nullopt;
}

const ojson* KeyedUnarchiver::enterObject(const QString& key, const QString& expectedClass)
{
    if (m_error)
        return nullptr;
    const ojson* v = value(key);
    if (!v || v->is_null())
        return nullptr;
    if (!isWrapper(*v, "object")) {
        wrongType(key, "an object");
        return nullptr;
    }
    auto cls = v->find("$class");
    auto fields = v->find("fields");
    if (cls == v->end() || !cls->is_string() || fields == v->end() || !fields->is_object()) {
        wrongType(key, "an object");
        return nullptr;
    }
    const QString archived = qstr(cls->get<std::string>());
    const QString className = m_classes.value(archived, archived);
    if (className != expectedClass) {
        failWith(KeyedArchiveReadCorruptError,
                 QStringLiteral("The value for key \"%1\" is of class \"%2\", not \"%3\".").arg(key, archived, expectedClass));
        return nullptr;
    }
    return &*fields;
}

#pragma once

// A keyed archive in our own stable JSON format.
//
//   {"$archiver": "Kovani.KeyedArchive", "$version": 1, "$top": {"root": <value>}}
//
// Values: a text is a JSON string, a flag a JSON bool, an integer a JSON integer, a null object
// JSON null; an absent value is simply not written. Everything else is a typed wrapper:
//   {"$type": "date", "secondsSince1970": <number>}
//   {"$type": "url", "value": "<absolute text>"}
//   {"$type": "array", "items": [<value>...]}
//   {"$type": "dict", "entries": {"<key>": <value>...}}
//   {"$type": "error", "domain": "<text>", "code": <integer>}
//   {"$type": "object", "$class": "<class name>", "fields": {"<key>": <value>...}}
// Keys keep the order in which they were written. Objects are decoded strictly: the recorded
// class (after the unarchiver's name mapping) must be the one asked for, and a value of the wrong
// type fails the whole decode.

#include "platform/DomainError.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QUrl>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

class KeyedArchiver;
class KeyedUnarchiver;

// The top-level key of an archive's root object.
inline const QString KeyedArchiveRootObjectKey = QStringLiteral("root");

// Error domain of the unarchiver: 4864 for data that is not a readable archive (including a wrong
// class or a value of the wrong type), 4865 for a missing root object.
inline const QString KeyedArchiveErrorDomain = QStringLiteral("Kovani.KeyedArchive");
enum KeyedArchiveErrorCode : qint64 { KeyedArchiveReadCorruptError = 4864, KeyedArchiveValueNotFoundError = 4865 };

// A record that can be archived. A class T that can also be decoded declares
//   static inline const QString ArchiveClassName = ...;
//   static std::shared_ptr<T> initWithCoder(KeyedUnarchiver& coder); // nullptr on failure
class ArchivableObject {
public:
    virtual ~ArchivableObject() = default;
    virtual QString archiveClassName() const = 0;
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

class KeyedArchiver {
public:
    KeyedArchiver();

    // Records objects of class `className` under `archivedName`.
    void setClassName(const QString& archivedName, const QString& className);

    void encodeRootObject(const ArchivableObject& object); // under KeyedArchiveRootObjectKey
    // The finished archive (UTF-8 JSON).
    QByteArray encodedData() const;

    // Used from encodeWithCoder: each writes one key of the object being encoded. An absent
    // optional writes nothing.
    void encodeString(const QString& key, const std::optional<QString>& value);
    void encodeNull(const QString& key);
    void encodeBool(const QString& key, bool value);
    void encodeInteger(const QString& key, qint64 value);
    void encodeDate(const QString& key, const std::optional<QDateTime>& value);
    void encodeURL(const QString& key, const std::optional<QUrl>& value);
    void encodeStringMap(const QString& key, const std::optional<QMap<QString, QString>>& value);
    void encodeJSONObject(const QString& key, const std::optional<QJsonObject>& value);
    // Only the domain and the code are kept.
    void encodeError(const QString& key, const std::optional<DomainError>& value);
    void encodeObject(const QString& key, const ArchivableObject* object);
    template <typename T>
    void encodeObject(const QString& key, const std::shared_ptr<T>& object)
    {
        encodeObject(key, static_cast<const ArchivableObject*>(object.get()));
    }

private:
    nlohmann::ordered_json objectValue(const ArchivableObject& object);
    void put(const QString& key, nlohmann::ordered_json value);

    QHash<QString, QString> m_classNames;
    std::vector<nlohmann::ordered_json> m_stack; // fields of the objects being encoded
    nlohmann::ordered_json m_top = nlohmann::ordered_json::object();
};

class KeyedUnarchiver {
public:
    // Reads the archive's frame; a failure is kept in error().
    explicit KeyedUnarchiver(const QByteArray& data);

    // Reads objects recorded under `archivedName` as class `className`.
    void setClass(const QString& className, const QString& archivedName);

    // The root object, which must be of class T; nullptr (and error()) otherwise.
    template <typename T>
    std::shared_ptr<T> decodeTopLevelObject()
    {
        if (m_error)
            return nullptr;
        if (!m_top.contains(KeyedArchiveRootObjectKey.toStdString())) {
            failWith(KeyedArchiveValueNotFoundError, QStringLiteral("The archive has no root object."));
            return nullptr;
        }
        m_stack = {&m_top};
        auto result = decodeObject<T>(KeyedArchiveRootObjectKey);
        m_stack.clear();
        if (!result)
            failWith(KeyedArchiveValueNotFoundError, QStringLiteral("The archive has no root object."));
        if (m_error)
            return nullptr;
        return result;
    }

    bool failed() const { return m_error.has_value(); }
    const std::optional<DomainError>& error() const { return m_error; }
    // Makes the whole decode fail (the first failure is kept).
    void failWith(qint64 code, const QString& description);

    // Used from initWithCoder, for keys of the object being decoded. A missing key (or, for the
    // optional values, a null) gives nothing; a value of another type gives nothing and fails.
    bool containsValue(const QString& key) const;
    bool isNull(const QString& key) const;
    std::optional<QString> decodeString(const QString& key);
    std::optional<bool> decodeBool(const QString& key);
    std::optional<qint64> decodeInteger(const QString& key);
    std::optional<QDateTime> decodeDate(const QString& key);
    std::optional<QUrl> decodeURL(const QString& key);
    std::optional<QMap<QString, QString>> decodeStringMap(const QString& key);
    std::optional<QJsonObject> decodeJSONObject(const QString& key);
    std::optional<DomainError> decodeError(const QString& key);

    template <typename T>
    std::shared_ptr<T> decodeObject(const QString& key)
    {
        const nlohmann::ordered_json* fields = enterObject(key, T::ArchiveClassName);
        if (!fields)
            return nullptr;
        m_stack.push_back(fields);
        std::shared_ptr<T> result = T::initWithCoder(*this);
        m_stack.pop_back();
        if (!result && !m_error)
            failWith(KeyedArchiveReadCorruptError,
                     QStringLiteral("The object for key \"%1\" could not be decoded as %2.").arg(key, T::ArchiveClassName));
        return m_error ? nullptr : result;
    }

private:
    const nlohmann::ordered_json* value(const QString& key) const; // nullptr when missing
    const nlohmann::ordered_json* enterObject(const QString& key, const QString& expectedClass);
    void wrongType(const QString& key, const char* expected);

    nlohmann::ordered_json m_document;
    nlohmann::ordered_json m_top;
    QHash<QString, QString> m_classes; // archived name -> class name
    std::vector<const nlohmann::ordered_json*> m_stack;
    std::optional<DomainError> m_error;
};

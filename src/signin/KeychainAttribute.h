#pragma once

#include <QSet>
#include <QString>

#include <memory>
#include <variant>

// One attribute of the keychain items the store addresses.
class KeychainAttribute {
public:
    struct UseFileBasedKeychain {};
    struct AccessGroup {
        QString name;
    };
    using Attribute = std::variant<UseFileBasedKeychain, AccessGroup>;

    // The one shared file-based-keychain attribute (sets compare attributes by identity).
    static std::shared_ptr<const KeychainAttribute> useFileBasedKeychain();
    static std::shared_ptr<const KeychainAttribute> keychainAccessGroup(const QString& name);

    const Attribute& attribute() const { return m_attribute; }

private:
    explicit KeychainAttribute(Attribute attribute) : m_attribute(std::move(attribute)) {}
    Attribute m_attribute;
};

using KeychainAttributes = QSet<std::shared_ptr<const KeychainAttribute>>;

inline size_t qHash(const std::shared_ptr<const KeychainAttribute>& attribute, size_t seed = 0)
{
    return ::qHash(attribute.get(), seed);
}

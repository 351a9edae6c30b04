#pragma once

#include "oauth/KeyedArchive.h"
#include "signin/AuthSession.h"
#include "signin/KeychainWrapper.h"

#include <QString>

#include <memory>
#include <optional>

// The OAuth session kept as one keychain item (a keyed archive of the AuthSession). Operations
// block while the keychain works: worker threads only.
class KeychainStore {
public:
    KeychainStore(QString itemName, KeychainAttributes keychainAttributes);
    KeychainStore(QString itemName, KeychainAttributes keychainAttributes, std::unique_ptr<KeychainHelper> keychainHelper);
    KeychainStore(QString itemName, std::unique_ptr<KeychainHelper> keychainHelper);
    explicit KeychainStore(QString itemName);

    const QString& itemName() const { return m_itemName; }
    void setItemName(const QString& name) { m_itemName = name; }
    const KeychainAttributes& keychainAttributes() const { return m_keychainAttributes; }
    void setKeychainAttributes(const KeychainAttributes& attributes) { m_keychainAttributes = attributes; }
    KeychainHelper& keychainHelper() const { return *m_keychainHelper; }

    // Each returns false (or nothing) and fills `error`, when given, on failure.
    bool saveAuthSession(const AuthSession& session, DomainError* error = nullptr);
    bool saveAuthSession(const AuthSession& session, const QString& itemName, DomainError* error = nullptr);
    bool removeAuthSession(DomainError* error = nullptr);
    bool removeAuthSession(const QString& itemName, DomainError* error = nullptr);
    std::shared_ptr<AuthSession> retrieveAuthSession(DomainError* error = nullptr);
    std::shared_ptr<AuthSession> retrieveAuthSession(const QString& itemName, DomainError* error = nullptr);

    // The accessibility a save asks for: none for the file-based keychain.
    std::optional<QString> saveAccessibility() const;

    const std::shared_ptr<KeyedArchiver>& lastUsedKeyedArchiver() const { return m_lastUsedKeyedArchiver; }
    const std::shared_ptr<KeyedUnarchiver>& lastUsedKeyedUnarchiver() const { return m_lastUsedKeyedUnarchiver; }

private:
    std::unique_ptr<KeychainHelper> m_keychainHelper;
    std::shared_ptr<KeyedArchiver> m_lastUsedKeyedArchiver;
    std::shared_ptr<KeyedUnarchiver> m_lastUsedKeyedUnarchiver;
    QString m_itemName;
    KeychainAttributes m_keychainAttributes;
};

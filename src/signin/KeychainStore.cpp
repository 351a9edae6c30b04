#include "signin/KeychainStore.h"

KeychainStore::KeychainStore(QString itemName, KeychainAttributes keychainAttributes)
    : KeychainStore(itemName, keychainAttributes,
                    std::make_unique<KeychainWrapper>(QStringLiteral("OAuth"), keychainAttributes))
{
}

KeychainStore::KeychainStore(QString itemName, KeychainAttributes keychainAttributes,
                             std::unique_ptr<KeychainHelper> keychainHelper)
    : m_keychainHelper(std::move(keychainHelper)), m_itemName(std::move(itemName)),
      m_keychainAttributes(std::move(keychainAttributes))
{
}

KeychainStore::KeychainStore(QString itemName, std::unique_ptr<KeychainHelper> keychainHelper)
    : m_keychainHelper(std::move(keychainHelper)), m_itemName(std::move(itemName)),
      m_keychainAttributes(m_keychainHelper->keychainAttributes())
{
}

KeychainStore::KeychainStore(QString itemName)
    : KeychainStore(std::move(itemName), {}, std::make_unique<KeychainWrapper>(QStringLiteral("OAuth"), KeychainAttributes{}))
{
}

std::optional<QString> KeychainStore::saveAccessibility() const
{
    if (m_keychainAttributes.contains(KeychainAttribute::useFileBasedKeychain()))
        return std::nullopt;
    return kKeychainAccessibleAfterFirstUnlockThisDeviceOnly;
}

bool KeychainStore::saveAuthSession(const AuthSession& session, DomainError* error)
{
    return saveAuthSession(session, m_itemName, error);
}

bool KeychainStore::saveAuthSession(const AuthSession& session, const QString& itemName, DomainError* error)
{
    auto archiver = std::make_shared<KeyedArchiver>();
    archiver->setClassName(AuthSession::StoredClassName, AuthSession::ArchiveClassName);
    archiver->encodeRootObject(session);
    const QByteArray data = archiver->encodedData();
    m_lastUsedKeyedArchiver = archiver;
    return m_keychainHelper->setPasswordData(data, itemName, saveAccessibility(), error);
}

bool KeychainStore::removeAuthSession(DomainError* error)
{
    return removeAuthSession(m_itemName, error);
}

bool KeychainStore::removeAuthSession(const QString& itemName, DomainError* error)
{
    return m_keychainHelper->removePassword(itemName, error);
}

std::shared_ptr<AuthSession> KeychainStore::retrieveAuthSession(DomainError* error)
{
    return retrieveAuthSession(m_itemName, error);
}

std::shared_ptr<AuthSession> KeychainStore::retrieveAuthSession(const QString& itemName, DomainError* error)
{
    const std::optional<QByteArray> data = m_keychainHelper->passwordData(itemName, error);
    if (!data)
        return nullptr;
    auto unarchiver = std::make_shared<KeyedUnarchiver>(*data);
    m_lastUsedKeyedUnarchiver = unarchiver;
    if (unarchiver->failed()) {
        if (error)
            *error = *unarchiver->error();
        return nullptr;
    }
    unarchiver->setClass(AuthSession::ArchiveClassName, AuthSession::StoredClassName);
    std::shared_ptr<AuthSession> session = unarchiver->decodeTopLevelObject<AuthSession>();
    if (!session) {
        if (error) {
            *error = KeychainStoreError::forItem(KeychainStoreErrorCode::failedToConvertKeychainDataToAuthSession, itemName);
            if (unarchiver->error())
                error->underlying = std::make_shared<const DomainError>(*unarchiver->error());
        }
        return nullptr;
    }
    return session;
}

#pragma once

#include "signin/SignInErrors.h"
#include "signin/KeychainAttribute.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

inline const QString kKeychainStoreErrorDomain = QStringLiteral("KeychainStoreErrorDomain");

// The store's error codes (domain "KeychainStoreErrorDomain").
enum class KeychainStoreErrorCode {
    unhandled = 0,
    passwordNotFound = 1,
    noService = 2,
    unexpectedPasswordData = 3,
    failedToCreateResponseStringFromAuthSession = 4,
    failedToConvertRedirectURItoURL = 5,
    failedToConvertAuthSessionToData = 6,
    failedToConvertKeychainDataToAuthSession = 7,
    failedToDeletePassword = 8,
    failedToDeletePasswordBecauseItemNotFound = 9,
    failedToSetPassword = 10,
};

namespace KeychainStoreError {
DomainError make(KeychainStoreErrorCode code, QVariantMap userInfo = {});
DomainError forItem(KeychainStoreErrorCode code, const QString& itemName);
DomainError unhandled(qint32 status);
} // namespace KeychainStoreError

// The item accessibility the store asks for where the platform has one.
inline const QString kKeychainAccessibleAfterFirstUnlockThisDeviceOnly = QStringLiteral("AfterFirstUnlockThisDeviceOnly");

// Keychain operations on generic-password items of one account, addressed by service name.
class KeychainHelper {
public:
    virtual ~KeychainHelper() = default;

    virtual QString accountName() const = 0;
    virtual KeychainAttributes keychainAttributes() const = 0;

    // Class, account and service of the item plus the attributes' effects.
    virtual QVariantMap keychainQuery(const QString& service) const = 0;
    // Each returns false and fills `error` (when given) on failure.
    virtual std::optional<QString> password(const QString& service, DomainError* error) const = 0;
    virtual std::optional<QByteArray> passwordData(const QString& service, DomainError* error) const = 0;
    virtual bool removePassword(const QString& service, DomainError* error) = 0;
    virtual bool setPassword(const QString& password, const QString& service, DomainError* error) = 0;
    virtual bool setPassword(const QString& password, const QString& service,
                             const std::optional<QString>& accessibility, DomainError* error) = 0;
    virtual bool setPasswordData(const QByteArray& data, const QString& service,
                                 const std::optional<QString>& accessibility, DomainError* error) = 0;
};

// Generic-password items in the Secret Service: the service is the item name. Operations block
// the calling thread while the process's keychain thread runs them: worker threads only.
class KeychainWrapper : public KeychainHelper {
public:
    explicit KeychainWrapper(QString accountName = QStringLiteral("OAuth"), KeychainAttributes attributes = {});

    QString accountName() const override { return m_accountName; }
    KeychainAttributes keychainAttributes() const override { return m_attributes; }

    QVariantMap keychainQuery(const QString& service) const override;
    std::optional<QString> password(const QString& service, DomainError* error) const override;
    std::optional<QByteArray> passwordData(const QString& service, DomainError* error) const override;
    bool removePassword(const QString& service, DomainError* error) override;
    bool setPassword(const QString& password, const QString& service, DomainError* error) override;
    bool setPassword(const QString& password, const QString& service,
                     const std::optional<QString>& accessibility, DomainError* error) override;
    bool setPasswordData(const QByteArray& data, const QString& service,
                         const std::optional<QString>& accessibility, DomainError* error) override;

private:
    QString m_accountName;
    KeychainAttributes m_attributes;
};

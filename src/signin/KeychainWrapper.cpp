#include "signin/KeychainWrapper.h"

#include "platform/Text.h"
#include "platform/Keychain.h"

namespace {

void fill(DomainError* out, const DomainError& error)
{
    if (out)
        *out = error;
}

} // namespace

namespace KeychainStoreError {

DomainError make(KeychainStoreErrorCode code, QVariantMap userInfo)
{
    return makeError(kKeychainStoreErrorDomain, int(code), {}, std::move(userInfo));
}

DomainError forItem(KeychainStoreErrorCode code, const QString& itemName)
{
    return make(code, {{QStringLiteral("itemName"), itemName}});
}

DomainError unhandled(qint32 status)
{
    return make(KeychainStoreErrorCode::unhandled, {{QStringLiteral("status"), status}});
}

} // namespace KeychainStoreError

KeychainWrapper::KeychainWrapper(QString accountName, KeychainAttributes attributes)
    : m_accountName(std::move(accountName)), m_attributes(std::move(attributes))
{
}

QVariantMap KeychainWrapper::keychainQuery(const QString& service) const
{
    QVariantMap query{
        {QStringLiteral("class"), QStringLiteral("genericPassword")},
        {QStringLiteral("account"), m_accountName},
        {QStringLiteral("service"), service},
        {QStringLiteral("useDataProtectionKeychain"), true},
    };
    for (const auto& attribute : m_attributes) {
        if (const auto* group = std::get_if<KeychainAttribute::AccessGroup>(&attribute->attribute()))
            query.insert(QStringLiteral("accessGroup"), group->name);
        else
            query.insert(QStringLiteral("useDataProtectionKeychain"), false);
    }
    return query;
}

std::optional<QByteArray> KeychainWrapper::passwordData(const QString& service, DomainError* error) const
{
    if (service.isEmpty()) {
        fill(error, KeychainStoreError::make(KeychainStoreErrorCode::noService));
        return std::nullopt;
    }
    const Keychain::Result result = Keychain::readBlocking(service, m_accountName);
    if (result.status == Keychain::Status::notFound) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::passwordNotFound, service));
        return std::nullopt;
    }
    if (result.status != Keychain::Status::ok) {
        fill(error, KeychainStoreError::unhandled(qint32(result.status)));
        return std::nullopt;
    }
    return result.data;
}

std::optional<QString> KeychainWrapper::password(const QString& service, DomainError* error) const
{
    const std::optional<QByteArray> data = passwordData(service, error);
    if (!data)
        return std::nullopt;
    std::optional<QString> text = Text::decodeUtf8(*data);
    if (!text) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::unexpectedPasswordData, service));
        return std::nullopt;
    }
    return *text;
}

bool KeychainWrapper::removePassword(const QString& service, DomainError* error)
{
    if (service.isEmpty()) {
        fill(error, KeychainStoreError::make(KeychainStoreErrorCode::noService));
        return false;
    }
    // The Secret Service reports deleting a missing item as success: look first.
    const Keychain::Result read = Keychain::readBlocking(service, m_accountName);
    if (read.status == Keychain::Status::notFound) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::failedToDeletePasswordBecauseItemNotFound, service));
        return false;
    }
    if (read.status != Keychain::Status::ok) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::failedToDeletePassword, service));
        return false;
    }
    const Keychain::Result removed = Keychain::removeBlocking(service, m_accountName);
    if (removed.status == Keychain::Status::notFound) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::failedToDeletePasswordBecauseItemNotFound, service));
        return false;
    }
    if (removed.status != Keychain::Status::ok) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::failedToDeletePassword, service));
        return false;
    }
    return true;
}

bool KeychainWrapper::setPassword(const QString& password, const QString& service, DomainError* error)
{
    return setPasswordData(password.toUtf8(), service, std::nullopt, error);
}

bool KeychainWrapper::setPassword(const QString& password, const QString& service,
                                  const std::optional<QString>& accessibility, DomainError* error)
{
    return setPasswordData(password.toUtf8(), service, accessibility, error);
}

bool KeychainWrapper::setPasswordData(const QByteArray& data, const QString& service,
                                      const std::optional<QString>& accessibility, DomainError* error)
{
    // The Secret Service has no accessibility classes; items are readable while the
    // collection is unlocked.
    Q_UNUSED(accessibility);
    if (service.isEmpty()) {
        fill(error, KeychainStoreError::make(KeychainStoreErrorCode::noService));
        return false;
    }
    DomainError removeError;
    if (!removePassword(service, &removeError)
        && removeError.code != int(KeychainStoreErrorCode::failedToDeletePasswordBecauseItemNotFound)) {
        fill(error, removeError);
        return false;
    }
    if (data.isEmpty())
        return true;
    const Keychain::Result written = Keychain::writeBlocking(service, m_accountName, data);
    if (written.status != Keychain::Status::ok) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::failedToSetPassword, service));
        return false;
    }
    return true;
}

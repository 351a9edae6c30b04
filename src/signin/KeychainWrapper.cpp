#include "signin/KeychainWrapper.h"

#include "platform/Text.h"

#include <QMetaObject>
#include <QThread>
#include <qt6keychain/keychain.h>

#include <future>

namespace {

struct JobResult {
    QKeychain::Error error = QKeychain::NoError;
    QByteArray data;
};

enum class Operation { Read, Write, Delete };

// The thread every keychain job of the process runs on; it lives for the process.
QObject* keychainContext()
{
    static QObject* context = []() {
        auto* thread = new QThread();
        thread->setObjectName(QStringLiteral("keychain"));
        thread->start();
        auto* object = new QObject();
        object->moveToThread(thread);
        return object;
    }();
    return context;
}

// Runs one job on the keychain thread and waits for its end.
JobResult runJob(Operation operation, const QString& service, const QString& key, const QByteArray& data = {})
{
    QObject* context = keychainContext();
    Q_ASSERT(QThread::currentThread() != context->thread());
    std::promise<JobResult> promise;
    std::future<JobResult> future = promise.get_future();
    QMetaObject::invokeMethod(context, [&]() {
        QKeychain::Job* job = nullptr;
        switch (operation) {
        case Operation::Read:
            job = new QKeychain::ReadPasswordJob(service);
            break;
        case Operation::Write: {
            auto* write = new QKeychain::WritePasswordJob(service);
            write->setBinaryData(data);
            job = write;
            break;
        }
        case Operation::Delete:
            job = new QKeychain::DeletePasswordJob(service);
            break;
        }
        job->setAutoDelete(true);
        job->setInsecureFallback(false);
        job->setKey(key);
        QObject::connect(job, &QKeychain::Job::finished, [&promise, operation](QKeychain::Job* finished) {
            JobResult result;
            result.error = finished->error();
            if (operation == Operation::Read && result.error == QKeychain::NoError)
                result.data = static_cast<QKeychain::ReadPasswordJob*>(finished)->binaryData();
            promise.set_value(result);
        });
        job->start();
    }, Qt::QueuedConnection);
    return future.get();
}

void fill(DomainError* out, const DomainError& error)
{
    if (out)
        *out = error;
}

} // namespace

namespace KeychainStoreError {

DomainError make(KeychainStoreErrorCode code, QVariantMap userInfo)
{
    return DomainError(kKeychainStoreErrorDomain, int(code), {}, std::move(userInfo));
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
    const JobResult result = runJob(Operation::Read, service, m_accountName);
    if (result.error == QKeychain::EntryNotFound) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::passwordNotFound, service));
        return std::nullopt;
    }
    if (result.error != QKeychain::NoError) {
        fill(error, KeychainStoreError::unhandled(qint32(result.error)));
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
    const JobResult read = runJob(Operation::Read, service, m_accountName);
    if (read.error == QKeychain::EntryNotFound) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::failedToDeletePasswordBecauseItemNotFound, service));
        return false;
    }
    if (read.error != QKeychain::NoError) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::failedToDeletePassword, service));
        return false;
    }
    const JobResult removed = runJob(Operation::Delete, service, m_accountName);
    if (removed.error == QKeychain::EntryNotFound) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::failedToDeletePasswordBecauseItemNotFound, service));
        return false;
    }
    if (removed.error != QKeychain::NoError) {
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
    const JobResult written = runJob(Operation::Write, service, m_accountName, data);
    if (written.error != QKeychain::NoError) {
        fill(error, KeychainStoreError::forItem(KeychainStoreErrorCode::failedToSetPassword, service));
        return false;
    }
    return true;
}

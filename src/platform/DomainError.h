#pragma once

#include <QMetaType>
#include <QString>
#include <QVariantMap>

#include <memory>

// A general error record: a domain, an integer code, a localized description, an
// optional underlying error and extra user information.
struct DomainError {
    QString domain;
    int code = 0;
    QString localizedDescription;
    QVariantMap userInfo;
    std::shared_ptr<const DomainError> underlying;

    DomainError() = default;
    DomainError(QString errorDomain, int errorCode, QString description = {}, QVariantMap info = {})
        : domain(std::move(errorDomain)), code(errorCode), localizedDescription(std::move(description)),
          userInfo(std::move(info))
    {
    }

    DomainError& withUnderlying(const DomainError& error)
    {
        underlying = std::make_shared<const DomainError>(error);
        return *this;
    }
};

Q_DECLARE_METATYPE(DomainError)

#pragma once

#include "platform/DomainError.h"

#include <QString>
#include <QVariantMap>

#include <optional>

// An error value without an underlying error.
inline DomainError makeError(const QString& domain, int code, std::optional<QString> description = std::nullopt,
                            QVariantMap userInfo = {})
{
    return DomainError(domain, code, description.value_or(QString()), std::move(userInfo));
}

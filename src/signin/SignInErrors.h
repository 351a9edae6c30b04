#pragma once

#include "platform/ErrorValue.h"

#include <QString>
#include <QVariantMap>

#include <optional>

// An error value without an underlying error.
inline ErrorValue makeError(const QString& domain, qint64 code, std::optional<QString> description = std::nullopt,
                            QVariantMap userInfo = {})
{
    return ErrorValue(domain, code, std::move(description), nullptr, std::move(userInfo));
}

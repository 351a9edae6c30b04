#include "platform/ErrorValue.h"

ErrorValue::ErrorValue(QString domain, qint64 code, std::optional<QString> description,
                       std::shared_ptr<const ErrorValue> underlying, QVariantMap userInfo)
    : domain(std::move(domain)), code(code), description(std::move(description)),
      underlying(std::move(underlying)), userInfo(std::move(userInfo))
{
}

QString ErrorValue::localizedDescription() const
{
    if (description)
        return *description;
    return QStringLiteral("The operation couldn\u2019t be completed. (%1 error %2.)").arg(domain).arg(code);
}

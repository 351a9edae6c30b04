#pragma once

#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>

// An error value: a domain, an integer code, an optional localized description, an optional
// underlying error and extra user information. Copies share the underlying chain.
struct ErrorValue {
    QString domain;
    qint64 code = 0;
    std::optional<QString> description; // the localized description, when one was given
    std::shared_ptr<const ErrorValue> underlying;
    QVariantMap userInfo; // extra entries besides the description and the underlying error

    ErrorValue() = default;
    ErrorValue(QString domain, qint64 code, std::optional<QString> description = std::nullopt,
               std::shared_ptr<const ErrorValue> underlying = nullptr, QVariantMap userInfo = {});

    // The description when given, else a generic text naming the domain and the code.
    QString localizedDescription() const;
};

Q_DECLARE_METATYPE(ErrorValue)

#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>
#include <memory>

// A few small values kept across runs (an ini file; the path comes from Platform), written
// owner-only (0600) in an owner-only folder (0700).
class UserDefaults {
public:
    explicit UserDefaults(const QString& file);

    QString string(const QString& key) const;
    bool boolean(const QString& key) const;
    bool contains(const QString& key) const;
    void set(const QString& key, const QVariant& value);

private:
    void sync();

    QString m_file;
    std::unique_ptr<QSettings> m_settings;
};

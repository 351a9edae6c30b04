#include "platform/UserDefaults.h"

UserDefaults::UserDefaults(const QString& file)
    : m_settings(std::make_unique<QSettings>(file, QSettings::IniFormat))
{
}

QString UserDefaults::string(const QString& key) const
{
    const QVariant v = m_settings->value(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

bool UserDefaults::boolean(const QString& key) const
{
    return m_settings->value(key).toBool();
}

bool UserDefaults::contains(const QString& key) const
{
    return m_settings->contains(key);
}

void UserDefaults::set(const QString& key, const QVariant& value)
{
    m_settings->setValue(key, value);
    m_settings->sync();
}

void UserDefaults::remove(const QString& key)
{
    m_settings->remove(key);
    m_settings->sync();
}

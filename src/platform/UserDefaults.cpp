#include "platform/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

UserDefaults::UserDefaults(const QString& file)
    : m_file(file)
    , m_settings(std::make_unique<QSettings>(file, QSettings::IniFormat))
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
    sync();
}

void UserDefaults::sync()
{
    // The file holds secrets (the phpMyAdmin cookie secret): owner-only, in an owner-only folder.
    // It exists with mode 0600 before the first write, and a replacing write keeps the mode.
    const QString folder = QFileInfo(m_file).absolutePath();
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    const QByteArray name = QFile::encodeName(m_file);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
    m_settings->sync();
    ::chmod(name.constData(), 0600);
}

#include "platform/Files.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

namespace Files {

bool writeWholeFile(const QString& path, const QByteArray& bytes, bool privateFile, QString* error)
{
    QSaveFile file(path);
    auto fail = [&]() {
        if (error)
            *error = file.errorString();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    if (privateFile)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        fail();
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return fail();
    return true;
}

bool makePath(const QString& path)
{
    QDir().mkpath(path);
    return QFileInfo(path).isDir();
}

bool isExecutableFile(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISREG(st.st_mode) && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

} // namespace Files

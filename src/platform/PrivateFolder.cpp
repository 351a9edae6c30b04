#include "platform/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

void setProblem(QString* problem, const QString& text)
{
    if (problem)
        *problem = text;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

PrivateFolder::~PrivateFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

PrivateFolder::PrivateFolder(PrivateFolder&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
{
}

PrivateFolder& PrivateFolder::operator=(PrivateFolder&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

PrivateFolder PrivateFolder::checked(int fd, const QString& path, bool makePrivate, QString* problem)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
        ::close(fd);
        setProblem(problem, path + QStringLiteral(" is not a folder"));
        return {};
    }
    if (info.st_uid != ::geteuid()) {
        ::close(fd);
        setProblem(problem, path + QStringLiteral(" belongs to another user"));
        return {};
    }
    if ((info.st_mode & 077) != 0 && !(makePrivate && ::fchmod(fd, 0700) == 0)) {
        ::close(fd);
        setProblem(problem, path + QStringLiteral(" is open to other users"));
        return {};
    }
    PrivateFolder folder;
    folder.m_fd = fd;
    folder.m_path = path;
    return folder;
}

PrivateFolder PrivateFolder::openExisting(const QString& path, QString* problem)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) {
        setProblem(problem, QStringLiteral("no absolute folder path"));
        return {};
    }
    const QString clean = QDir::cleanPath(path);
    const int fd = ::open(QFile::encodeName(clean).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        setProblem(problem, clean + QStringLiteral(": ") + systemError());
        return {};
    }
    return checked(fd, clean, false, problem);
}

PrivateFolder PrivateFolder::make(const QString& path, QString* problem)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) {
        setProblem(problem, QStringLiteral("no absolute folder path"));
        return {};
    }
    const QString clean = QDir::cleanPath(path);
    const QByteArray name = QFile::encodeName(clean);
    QDir().mkpath(QFileInfo(clean).absolutePath());
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
        setProblem(problem, clean + QStringLiteral(": ") + systemError());
        return {};
    }
    // O_NOFOLLOW: a link put in place of the folder is refused, not followed.
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        setProblem(problem, clean + QStringLiteral(": ") + systemError());
        return {};
    }
    return checked(fd, clean, true, problem);
}

QByteArray PrivateFolder::socketAddress(const QString& name) const
{
    if (m_fd < 0)
        return {};
    const QByteArray leaf = QFile::encodeName(name);
    const QByteArray plain = QFile::encodeName(m_path) + '/' + leaf;
    if (size_t(plain.size()) < sizeof(sockaddr_un::sun_path))
        return plain;
    const QByteArray viaDescriptor = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(m_fd);
    const QByteArray address = viaDescriptor + '/' + leaf;
    if (size_t(address.size()) >= sizeof(sockaddr_un::sun_path))
        return {};
    // Only where /proc is mounted does that name lead to this very folder.
    struct stat folder {};
    struct stat reached {};
    if (::fstat(m_fd, &folder) != 0 || ::stat(viaDescriptor.constData(), &reached) != 0
        || folder.st_dev != reached.st_dev || folder.st_ino != reached.st_ino)
        return {};
    return address;
}

#include "support/ForeignListener.h"

#include <QFile>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

ForeignListener::ForeignListener(const QString& path)
    : m_path(path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (size_t(name.size()) >= sizeof(address.sun_path))
        return;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return;
    }
    ::chmod(name.constData(), 0777);
    m_fd = fd;
}

ForeignListener::~ForeignListener()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(QFile::encodeName(m_path).constData());
    }
}

bool ForeignListener::receivedConnection(QByteArray* received)
{
    bool any = false;
    while (m_fd >= 0) {
        const int connection = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0)
            break;
        any = true;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(connection, buffer, sizeof(buffer))) > 0) {
            if (received)
                received->append(buffer, n);
        }
        ::close(connection);
    }
    return any;
}

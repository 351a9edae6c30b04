#include "support/DescriptorFlood.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int DescriptorFlood::openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

DescriptorFlood::DescriptorFlood(const QString& socketPath, int headroom, int maxConnections)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(socketPath);
    if (size_t(name.size()) >= sizeof(address.sun_path))
        return;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));

    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    m_softLimit = limit.rlim_cur;
    // New descriptors take the lowest free numbers, so the limit leaves about `headroom` of them.
    limit.rlim_cur = rlim_t(openDescriptors() + headroom);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    m_limited = true;
    while (int(m_descriptors.size()) < maxConnections) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            m_exhausted = errno == EMFILE;
            break;
        }
        m_descriptors.push_back(fd);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    }
}

DescriptorFlood::~DescriptorFlood()
{
    end();
}

void DescriptorFlood::end()
{
    for (const int fd : m_descriptors)
        ::close(fd);
    m_descriptors.clear();
    if (m_limited) {
        rlimit limit {};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = rlim_t(m_softLimit);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        m_limited = false;
    }
}

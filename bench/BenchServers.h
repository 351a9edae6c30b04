#pragma once

// Helpers of the benchmarks that run real PHP servers on loopback.

#include "app/AppModel.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>

#include <algorithm>
#include <arpa/inet.h>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace BenchServers {

// The bundle's own runtime, or $KOVANI_BENCH_PHP; the machine's PHP where the build carries none.
inline QString realPhp()
{
    const QString fromEnv = qEnvironmentVariable("KOVANI_BENCH_PHP");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString bundled = QStringLiteral(KOVANI_BENCH_RESOURCES_DIR "/php85/bin/php");
    return QFile::exists(bundled) ? bundled : QStringLiteral("/usr/bin/php");
}

// A free loopback port, never 8080 or 8081.
inline quint16 freePort()
{
    for (;;) {
        QTcpServer server;
        if (server.listen(QHostAddress::LocalHost, 0) && server.serverPort() != 8080 && server.serverPort() != 8081)
            return server.serverPort();
    }
}

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

inline bool connects(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// A site folder with an index.php, and a runtime wrapper that answers as supported PHP.
inline QString makeSite(const QString& folder)
{
    Files::makePath(folder);
    Files::writeWholeFile(folder + QStringLiteral("/index.php"), "<?php echo 'ok';\n");
    return folder;
}

inline QString makeWrapper(const QString& root)
{
    const QString wrapper = root + QStringLiteral("/bin/php");
    Files::makePath(root + QStringLiteral("/bin"));
    Files::writeWholeFile(wrapper, QStringLiteral("#!/bin/sh\nexec %1 \"$@\"\n").arg(realPhp()).toUtf8());
    QFile::setPermissions(wrapper, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return wrapper;
}

inline void selectRuntime(AppModel& model, const QString& wrapper)
{
    model.setPhpVersions({PHPVersion{wrapper, QStringLiteral("8.5.1"), true}});
    model.modifyConfig([&](AppConfig& c) { c.selectedPhp = wrapper; });
}

inline Project project(const QString& id, const QString& root, qint64 port)
{
    Project p;
    p.id = id;
    p.name = id;
    p.root = root;
    p.port = port;
    return p;
}

} // namespace BenchServers

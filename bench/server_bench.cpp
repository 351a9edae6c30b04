// Website servers on loopback, in one run:
//   1. startInternal until "started" against a bare `php -S` accepting its first connection;
//   2. requests per second through the router against `php -S` without a router;
//   3. stopProcess of a healthy server.
// Uses the machine's PHP (/usr/bin/php, or $KOVANI_BENCH_PHP) behind a wrapper that answers as a
// supported runtime.
#include "BenchPlatform.h"
#include "BenchServers.h"
#include "app/AppModel.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kStartRounds = 7;
constexpr int kRequests = 3000;

using namespace BenchServers;

// One HTTP/1.0 GET; returns the number of bytes received (0 on failure).
size_t get(quint16 port, const char* path)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    size_t received = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        char request[256];
        const int n = std::snprintf(request, sizeof request, "GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", path);
        if (::send(fd, request, n, 0) == n) {
            char buffer[8192];
            for (ssize_t r; (r = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                received += size_t(r);
        }
    }
    ::close(fd);
    return received;
}

double requestsPerSecond(quint16 port, const char* path)
{
    for (int i = 0; i < 50; ++i)
        get(port, path);
    QElapsedTimer timer;
    timer.start();
    int ok = 0;
    for (int i = 0; i < kRequests; ++i)
        ok += get(port, path) > 0 ? 1 : 0;
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (ok != kRequests)
        std::printf("  (only %d of %d requests answered)\n", ok, kRequests);
    return ok / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString root = dir.path();

    // Site, wrapper runtime, model.
    const QString site = root + QStringLiteral("/site");
    Files::makePath(site);
    Files::writeAtomically(site + QStringLiteral("/index.php"), "<?php echo 'front controller ', $_SERVER['REQUEST_URI'];\n");
    Files::writeAtomically(site + QStringLiteral("/style.css"), QByteArray(2048, 'x'));
    const QString wrapper = makeWrapper(root);

    AppModel model(benchPlatform(root));
    selectRuntime(model, wrapper);

    std::printf("PHP: %s; %d start rounds, %d requests per server\n\n", qPrintable(realPhp()), kStartRounds, kRequests);

    // 1. Start until "started" against a bare server's first accepted connection.
    std::vector<double> started, bare, stops;
    for (int round = 0; round < kStartRounds; ++round) {
        const quint16 port = freePort();
        QElapsedTimer timer;
        timer.start();
        model.startInternal(project(QStringLiteral("bench"), site, port));
        if (!waitUntil([&] { return model.isRunning(QStringLiteral("bench")); }, 10000)) {
            std::printf("start failed: %s\n", qPrintable(model.statusMessage()));
            model.shutdown();
            return 1;
        }
        started.push_back(timer.nsecsElapsed() / 1e6);

        timer.restart();
        model.stopProcess(QStringLiteral("bench"));
        stops.push_back(timer.nsecsElapsed() / 1e6);

        const quint16 barePort = freePort();
        Process::Spec spec;
        spec.program = realPhp();
        spec.arguments = {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(barePort), QStringLiteral("-t"), site};
        timer.restart();
        const Process::Launch launched = Process::spawn(spec);
        while (launched.pid > 0 && !connects(barePort) && timer.elapsed() < 10000)
            ::usleep(200);
        bare.push_back(timer.nsecsElapsed() / 1e6);
        ::kill(launched.pid, SIGTERM);
        Process::waitForExit(launched.pid);
    }
    std::printf("1. start to running (median)\n");
    std::printf("   startInternal -> \"started\":        %8.1f ms\n", median(started));
    std::printf("   bare php -S -> first accept:        %8.1f ms\n", median(bare));
    std::printf("   (the probe polls every 100 ms, so up to one pause is added)\n\n");

    // 2. Requests per second.
    const quint16 routedPort = freePort();
    model.startInternal(project(QStringLiteral("routed"), site, routedPort));
    if (!waitUntil([&] { return model.isRunning(QStringLiteral("routed")); }, 10000)) {
        std::printf("start failed: %s\n", qPrintable(model.statusMessage()));
        model.shutdown(); // a server still starting is not left behind
        return 1;
    }
    const quint16 barePort = freePort();
    Process::Spec spec;
    spec.program = realPhp();
    spec.arguments = {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(barePort), QStringLiteral("-t"), site};
    const Process::Launch bareServer = Process::spawn(spec);
    waitUntil([&] { return connects(barePort); }, 10000);

    std::printf("2. requests per second, sequential, loopback\n");
    std::printf("   router, front controller (/a/route): %8.0f req/s\n", requestsPerSecond(routedPort, "/a/route"));
    std::printf("   bare,   index.php (/):               %8.0f req/s\n", requestsPerSecond(barePort, "/"));
    std::printf("   router, static file (/style.css):    %8.0f req/s\n", requestsPerSecond(routedPort, "/style.css"));
    std::printf("   bare,   static file (/style.css):    %8.0f req/s\n\n", requestsPerSecond(barePort, "/style.css"));
    ::kill(bareServer.pid, SIGTERM);
    Process::waitForExit(bareServer.pid);

    // 3. Stop.
    std::printf("3. stopProcess of a healthy server (median of %d): %.1f ms (min %.1f, max %.1f)\n", kStartRounds,
                median(stops), *std::min_element(stops.begin(), stops.end()), *std::max_element(stops.begin(), stops.end()));

    model.shutdown();
    return 0;
}

// Website servers on loopback, in one run, each beside its floor measured in the same run:
//   1. startInternal until the website answers its first HTTP 200 (and until "started"), against
//      a bare `php -S` of the same folder until its first HTTP 200;
//   2. requests per second for the same URLs through the router and from `php -S` without one:
//      a front-controller route, the index, a 50 KB static file and a missing path;
//   3. stopProcess of a healthy server, against SIGTERM and reap of a bare `php -S`.
// Both sides run the bundle's PHP runtime (or $KOVANI_BENCH_PHP) as the application starts it:
// its arguments ("-d pcre.jit=0"), its php.ini and environment, and the server's workers.
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

struct Reply {
    size_t bytes = 0; // 0 on failure
    int status = 0;
};

// One HTTP/1.0 GET.
Reply get(quint16 port, const char* path)
{
    Reply reply;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return reply;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        char request[256];
        const int n = std::snprintf(request, sizeof request, "GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", path);
        if (::send(fd, request, n, 0) == n) {
            char buffer[16384];
            QByteArray head;
            for (ssize_t r; (r = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
                if (head.size() < 16)
                    head.append(buffer, std::min<ssize_t>(r, 16));
                reply.bytes += size_t(r);
            }
            // "HTTP/1.x NNN"
            if (head.size() >= 12)
                reply.status = head.mid(9, 3).toInt();
        }
    }
    ::close(fd);
    return reply;
}

bool answers200(quint16 port)
{
    return get(port, "/").status == 200;
}

double requestsPerSecond(quint16 port, const char* path, int* status)
{
    for (int i = 0; i < 50; ++i)
        *status = get(port, path).status;
    QElapsedTimer timer;
    timer.start();
    int ok = 0;
    for (int i = 0; i < kRequests; ++i)
        ok += get(port, path).bytes > 0 ? 1 : 0;
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (ok != kRequests)
        std::printf("  (only %d of %d requests answered)\n", ok, kRequests);
    return ok / seconds;
}

// PHP's own server without a router, started as the application starts its servers.
pid_t spawnBare(const AppModel& model, const QString& site, quint16 port)
{
    Process::Spec spec;
    spec.program = realPhp();
    spec.arguments = model.phpRuntimeArguments(
        {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("-t"), site}, realPhp());
    spec.environment = model.serverEnvironment(realPhp());
    spec.workingDirectory = site;
    spec.newProcessGroup = true;
    return Process::spawn(spec).pid;
}

// SIGTERM to a bare server and its workers, and its reaping.
void stopBare(pid_t pid)
{
    ::kill(-pid, SIGTERM);
    Process::waitForExit(pid);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString root = dir.path();

    // Site and model.
    const QString site = root + QStringLiteral("/site");
    Files::makePath(site);
    Files::writeWholeFile(site + QStringLiteral("/index.php"), "<?php echo 'front controller ', $_SERVER['REQUEST_URI'];\n");
    Files::writeWholeFile(site + QStringLiteral("/style.css"), QByteArray(50 * 1024, 'x'));
    AppModel model(benchPlatform(root));
    selectRuntime(model, realPhp());

    std::printf("PHP: %s; %d start rounds, %d requests per server\n\n", qPrintable(realPhp()), kStartRounds, kRequests);

    // 1. Start until the first HTTP 200, against a bare server's first HTTP 200.
    std::vector<double> started, answered, bare, stops, bareStops;
    for (int round = 0; round < kStartRounds; ++round) {
        const quint16 port = freePort();
        QElapsedTimer timer;
        timer.start();
        model.startInternal(project(QStringLiteral("bench"), site, port));
        double firstAnswer = -1;
        if (!waitUntil([&] {
                if (firstAnswer < 0 && answers200(port))
                    firstAnswer = timer.nsecsElapsed() / 1e6;
                return firstAnswer >= 0 && model.isRunning(QStringLiteral("bench"));
            }, 10000)) {
            std::printf("start failed: %s\n", qPrintable(model.statusMessage()));
            model.shutdown();
            return 1;
        }
        answered.push_back(firstAnswer);
        started.push_back(timer.nsecsElapsed() / 1e6);

        timer.restart();
        model.stopProcess(QStringLiteral("bench"));
        stops.push_back(timer.nsecsElapsed() / 1e6);

        const quint16 barePort = freePort();
        timer.restart();
        const pid_t pid = spawnBare(model, site, barePort);
        while (pid > 0 && !answers200(barePort) && timer.elapsed() < 10000)
            ::usleep(200);
        bare.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        stopBare(pid);
        bareStops.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("1. start (median of %d)                  Kovani      floor (bare php -S)\n", kStartRounds);
    std::printf("   to the first HTTP 200 on /:       %8.1f ms  %8.1f ms\n", median(answered), median(bare));
    std::printf("   to \"started\" (the probe's answer): %8.1f ms\n\n", median(started));

    // 2. Requests per second, the same URLs on both sides.
    const quint16 routedPort = freePort();
    model.startInternal(project(QStringLiteral("routed"), site, routedPort));
    if (!waitUntil([&] { return model.isRunning(QStringLiteral("routed")); }, 10000)) {
        std::printf("start failed: %s\n", qPrintable(model.statusMessage()));
        model.shutdown(); // a server still starting is not left behind
        return 1;
    }
    const quint16 barePort = freePort();
    const pid_t bareServer = spawnBare(model, site, barePort);
    waitUntil([&] { return answers200(barePort); }, 10000);

    std::printf("2. requests per second, sequential     router           floor (php -S, no router)\n");
    for (const char* path : {"/a/route", "/", "/style.css", "/missing/file.txt"}) {
        int routedStatus = 0;
        int bareStatus = 0;
        const double routed = requestsPerSecond(routedPort, path, &routedStatus);
        const double plain = requestsPerSecond(barePort, path, &bareStatus);
        std::printf("   %-18s %8.0f req/s (%d) %8.0f req/s (%d)  %.2fx\n", path, routed, routedStatus, plain, bareStatus,
                    plain / std::max(1.0, routed));
    }
    std::printf("   (/style.css is a 50 KB static file; the status of each side in brackets)\n\n");
    stopBare(bareServer);

    // 3. Stop.
    std::printf("3. stopProcess of a healthy server (median of %d): %.1f ms (min %.1f, max %.1f)\n", kStartRounds,
                median(stops), *std::min_element(stops.begin(), stops.end()), *std::max_element(stops.begin(), stops.end()));
    std::printf("   floor: SIGTERM + reap of a bare php -S and workers: %.1f ms; target <= 3x floor + 5 ms = %.1f ms\n",
                median(bareStops), 3 * median(bareStops) + 5);

    model.shutdown();
    return 0;
}

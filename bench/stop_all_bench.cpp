// Stopping website servers, in one run, each beside its floor measured in the same round:
//   Stop All of 20 running servers, against SIGTERM to 20 bare `php -S` and reaping them all;
//   one stopProcess of a single server, against SIGTERM and reap of one bare `php -S`.
// A round whose servers did not all start is counted and left out; the figures are printed all
// the same.
#include "BenchPlatform.h"
#include "BenchServers.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>

using namespace BenchServers;

namespace {

constexpr int kServers = 20;
constexpr int kRounds = 5;

// Starts `count` servers through the model and waits until all are confirmed.
bool startAll(AppModel& model, const QString& site, int count)
{
    QList<Project> projects;
    QSet<quint16> ports;
    while (projects.size() < count) {
        // Each server its own port: a port handed out twice would fail one start.
        const quint16 port = freePort();
        if (ports.contains(port))
            continue;
        ports.insert(port);
        projects.append(project(QStringLiteral("site-%1").arg(projects.size()), site, port));
    }
    model.modifyConfig([&](AppConfig& c) { c.projects = projects; });
    for (const Project& p : projects)
        model.startInternal(p);
    if (waitUntil([&] { return model.runningProjects().size() == count; }, 20000))
        return true;
    for (const Project& p : projects) {
        if (!model.runningProjects().contains(p.id))
            std::printf("   (%s on port %lld did not start)\n", qPrintable(p.id), p.port);
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString root = dir.path();
    const QString site = makeSite(root + QStringLiteral("/site"));
    AppModel model(benchPlatform(root));
    selectRuntime(model, makeWrapper(root));

    std::vector<double> stopAll, bare, single, bareSingle;
    int failedStarts = 0;
    QString failure;
    // Bare servers, all sent SIGTERM, then all reaped; the milliseconds that took.
    const auto bareStop = [&](int count) {
        std::vector<pid_t> pids;
        std::vector<quint16> ports;
        for (int i = 0; i < count; ++i) {
            Process::Spec spec;
            spec.program = realPhp();
            ports.push_back(freePort());
            spec.arguments = {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(ports.back()), QStringLiteral("-t"), site};
            pids.push_back(Process::spawn(spec).pid);
        }
        for (quint16 port : ports)
            waitUntil([&] { return connects(port); }, 10000);
        QElapsedTimer timer;
        timer.start();
        for (pid_t pid : pids)
            ::kill(pid, SIGTERM);
        for (pid_t pid : pids)
            ::waitpid(pid, nullptr, 0);
        return timer.nsecsElapsed() / 1e6;
    };
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        if (startAll(model, site, kServers)) {
            timer.start();
            model.stopAllProjects();
            stopAll.push_back(timer.nsecsElapsed() / 1e6);
        } else {
            ++failedStarts;
            failure = model.statusMessage();
            model.shutdown();
        }
        if (startAll(model, site, 1)) {
            timer.restart();
            model.stopProcess(QStringLiteral("site-0"));
            single.push_back(timer.nsecsElapsed() / 1e6);
        } else {
            ++failedStarts;
            failure = model.statusMessage();
            model.shutdown();
        }
        bare.push_back(bareStop(kServers));
        bareSingle.push_back(bareStop(1));
    }

    std::printf("Stopping servers (median of %d rounds)         Kovani    floor (SIGTERM + reap of bare php -S)\n", kRounds);
    std::printf("   Stop All of %d servers:               %8.1f ms  %8.1f ms  (%zu rounds)\n", kServers, median(stopAll),
                median(bare), stopAll.size());
    std::printf("   one stopProcess:                     %8.1f ms  %8.1f ms  (%zu rounds)\n", median(single),
                median(bareSingle), single.size());
    std::printf("   one stop, target <= 3x floor + 5 ms: %8.1f ms\n", 3 * median(bareSingle) + 5);
    if (failedStarts > 0)
        std::printf("   %d start(s) failed, left out; the last said: %s\n", failedStarts, qPrintable(failure));
    model.shutdown();
    return 0;
}

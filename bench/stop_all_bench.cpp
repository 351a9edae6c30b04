// Stopping many website servers, in one run:
//   Stop All of 20 running servers, against SIGTERM to 20 bare `php -S` and reaping them all;
//   one stopProcess of a single server, the unit Stop All is measured against.
#include "BenchPlatform.h"
#include "BenchServers.h"

#include <QElapsedTimer>
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
    for (int i = 0; i < count; ++i)
        projects.append(project(QStringLiteral("site-%1").arg(i), site, freePort()));
    model.modifyConfig([&](AppConfig& c) { c.projects = projects; });
    for (const Project& p : projects)
        model.startInternal(p);
    return waitUntil([&] { return model.runningProjects().size() == count; }, 20000);
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

    std::vector<double> stopAll, bare, single;
    for (int round = 0; round < kRounds; ++round) {
        if (!startAll(model, site, kServers)) {
            std::printf("start failed: %s\n", qPrintable(model.statusMessage()));
            model.shutdown();
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        model.stopAllProjects();
        stopAll.push_back(timer.nsecsElapsed() / 1e6);

        if (!startAll(model, site, 1))
            return 1;
        timer.restart();
        model.stopProcess(QStringLiteral("site-0"));
        single.push_back(timer.nsecsElapsed() / 1e6);

        // The floor: bare servers, all sent SIGTERM, then all reaped.
        std::vector<pid_t> pids;
        std::vector<quint16> ports;
        for (int i = 0; i < kServers; ++i) {
            Process::Spec spec;
            spec.program = realPhp();
            ports.push_back(freePort());
            spec.arguments = {QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(ports.back()), QStringLiteral("-t"), site};
            pids.push_back(Process::spawn(spec).pid);
        }
        for (quint16 port : ports)
            waitUntil([&] { return connects(port); }, 10000);
        timer.restart();
        for (pid_t pid : pids)
            ::kill(pid, SIGTERM);
        for (pid_t pid : pids)
            ::waitpid(pid, nullptr, 0);
        bare.push_back(timer.nsecsElapsed() / 1e6);
    }

    std::printf("Stopping servers (median of %d rounds)\n", kRounds);
    std::printf("   Stop All of %d servers:                %8.1f ms\n", kServers, median(stopAll));
    std::printf("   floor: SIGTERM + reap of %d bare php -S: %6.1f ms\n", kServers, median(bare));
    std::printf("   one stopProcess:                       %8.1f ms\n", median(single));
    std::printf("   Stop All / one stop:                   %8.2f (target <= 2)\n", median(stopAll) / std::max(0.001, median(single)));
    model.shutdown();
    return 0;
}

// `run` of /bin/true against a bare posix_spawn + waitpid of the same program.
#include "BenchPlatform.h"
#include "app/AppModel.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>

#if __has_include(<benchmark/benchmark.h>)
#include <benchmark/benchmark.h>
#define KOVANI_HAVE_BENCHMARK 1
#endif

extern char** environ;

namespace {

AppModel* model = nullptr;


void runTrue()
{
    const QString output = model->run(QStringLiteral("/bin/true"), {});
    if (!output.isEmpty())
        std::fprintf(stderr, "unexpected output: %s\n", qPrintable(output));
}

void spawnTrue()
{
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0)
        return;
    int status = 0;
    waitpid(pid, &status, 0);
}

} // namespace

#ifdef KOVANI_HAVE_BENCHMARK

static void BM_RunTrue(benchmark::State& state)
{
    for (auto _ : state)
        runTrue();
}
BENCHMARK(BM_RunTrue)->Unit(benchmark::kMicrosecond);

static void BM_PosixSpawnWaitpidTrue(benchmark::State& state)
{
    for (auto _ : state)
        spawnTrue();
}
BENCHMARK(BM_PosixSpawnWaitpidTrue)->Unit(benchmark::kMicrosecond);

#endif

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    AppModel instance(benchPlatform(root.path()));
    model = &instance;
#ifdef KOVANI_HAVE_BENCHMARK
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
#else
    constexpr int kRounds = 500;
    auto measure = [](void (*work)()) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kRounds; ++i)
            work();
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / kRounds;
    };
    std::printf("run(/bin/true):                %8.1f us per call\n", measure(runTrue));
    std::printf("posix_spawn + waitpid (/bin/true): %8.1f us per call\n", measure(spawnTrue));
#endif
    model = nullptr;
    return 0;
}

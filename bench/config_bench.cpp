// config.json with 500 projects: the start-up's load + migrate + save, and its parts, each followed
// by its floor (…_floor): a bare QJsonDocument parse, write, or both with the file read or saved.
#include "BenchPlatform.h"
#include "app/AppModel.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>

#if __has_include(<benchmark/benchmark.h>)
#include <benchmark/benchmark.h>
#define KOVANI_HAVE_BENCHMARK 1
#endif

namespace {

constexpr int kProjects = 500;

struct Fixture {
    QTemporaryDir root;
    Platform platform;
    QByteArray cleanFile;   // needs no repair
    QByteArray repairFile;  // every project needs a repair (old storage folder, empty password)
    QString configPath;
};
Fixture* fixture = nullptr;


AppConfig manyProjects(const Platform& p, const QString& rootsUnder, const QString& password)
{
    AppConfig c = AppConfig::defaults(p.storageRoot);
    for (int i = 0; i < kProjects; ++i) {
        const QString id = QStringLiteral("site-%1").arg(i);
        c.projects.append(Project{id, QStringLiteral("Site %1").arg(i), rootsUnder + u'/' + id, 9000 + i,
                                  QStringLiteral("site_%1").arg(i), QStringLiteral("root"), password});
    }
    return c;
}

void setUp()
{
    fixture = new Fixture;
    fixture->platform = benchPlatform(fixture->root.path());
    const Platform& p = fixture->platform;
    fixture->configPath = p.storageRoot + QStringLiteral("/config.json");
    fixture->cleanFile = ConfigCoding::encode(manyProjects(p, p.storageRoot + QStringLiteral("/Sites"), QStringLiteral("kelp")));
    fixture->repairFile = ConfigCoding::encode(
        manyProjects(p, p.applicationSupport + QStringLiteral("/KoVani/Sites"), QString()));
    Files::makePath(p.storageRoot);
}

void writeConfig(const QByteArray& bytes) { Files::writeWholeFile(fixture->configPath, bytes, true); }

// One start-up's settings work: bootstrap, load, migrate and (when repaired) save.
void startModel()
{
    AppModel model(fixture->platform);
    if (model.config().projects.size() != kProjects + 1)
        std::fprintf(stderr, "unexpected project count %d\n", int(model.config().projects.size()));
}

} // namespace

#ifdef KOVANI_HAVE_BENCHMARK

static void BM_LoadMigrateSave500(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        writeConfig(fixture->repairFile);
        state.ResumeTiming();
        startModel();
    }
}
BENCHMARK(BM_LoadMigrateSave500)->Unit(benchmark::kMillisecond);

static void BM_LoadNoRepair500(benchmark::State& state)
{
    writeConfig(fixture->cleanFile);
    for (auto _ : state)
        startModel();
}
BENCHMARK(BM_LoadNoRepair500)->Unit(benchmark::kMillisecond);

static void BM_LoadNoRepair500_floor(benchmark::State& state)
{
    writeConfig(fixture->cleanFile);
    for (auto _ : state) {
        QFile file(fixture->configPath);
        file.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(QJsonDocument::fromJson(file.readAll()));
    }
}
BENCHMARK(BM_LoadNoRepair500_floor)->Unit(benchmark::kMillisecond);

static void BM_Save500(benchmark::State& state)
{
    writeConfig(fixture->cleanFile);
    AppModel model(fixture->platform);
    for (auto _ : state)
        model.saveConfig();
}
BENCHMARK(BM_Save500)->Unit(benchmark::kMillisecond);

static void BM_Save500_floor(benchmark::State& state)
{
    const QJsonDocument document = QJsonDocument::fromJson(fixture->cleanFile);
    for (auto _ : state) {
        QSaveFile file(fixture->configPath);
        file.open(QIODevice::WriteOnly);
        file.write(document.toJson(QJsonDocument::Indented));
        file.commit();
    }
}
BENCHMARK(BM_Save500_floor)->Unit(benchmark::kMillisecond);

static void BM_Decode500(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ConfigCoding::decode(fixture->cleanFile));
}
BENCHMARK(BM_Decode500)->Unit(benchmark::kMillisecond);

static void BM_Decode500_floor(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(fixture->cleanFile));
}
BENCHMARK(BM_Decode500_floor)->Unit(benchmark::kMillisecond);

static void BM_Encode500(benchmark::State& state)
{
    const AppConfig c = *ConfigCoding::decode(fixture->cleanFile);
    for (auto _ : state)
        benchmark::DoNotOptimize(ConfigCoding::encode(c));
}
BENCHMARK(BM_Encode500)->Unit(benchmark::kMillisecond);

static void BM_Encode500_floor(benchmark::State& state)
{
    const QJsonDocument document = QJsonDocument::fromJson(fixture->cleanFile);
    for (auto _ : state)
        benchmark::DoNotOptimize(document.toJson(QJsonDocument::Indented));
}
BENCHMARK(BM_Encode500_floor)->Unit(benchmark::kMillisecond);

#endif

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    setUp();
    std::printf("config.json with %d projects: %lld bytes\n", kProjects + 1,
                static_cast<long long>(fixture->cleanFile.size()));
#ifdef KOVANI_HAVE_BENCHMARK
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
#else
    constexpr int kRounds = 50;
    auto measure = [](const QByteArray& file) {
        double total = 0;
        for (int i = 0; i < kRounds; ++i) {
            writeConfig(file);
            const auto start = std::chrono::steady_clock::now();
            startModel();
            total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        }
        return total / kRounds;
    };
    std::printf("load + migrate + save (every project repaired): %8.2f ms\n", measure(fixture->repairFile));
    std::printf("load, nothing to repair:                        %8.2f ms\n", measure(fixture->cleanFile));
#endif
    delete fixture;
    return 0;
}

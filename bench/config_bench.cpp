// config.json with 500 projects: the start-up's load + migrate + save, and its parts, each followed
// by its floor (…_floor): a bare QJsonDocument parse, write, or both with the file read or saved.
// With 5,000 and 50,000 projects: the load (migration checks included) and one change (a project
// removed, then saved), each next to its floor: a bare QJsonDocument parse of the file read, and a
// bare QJsonDocument write of the whole file. A change is timed as the main thread spends it and,
// separately, until its write is on disk.
#include "BenchPlatform.h"
#include "app/AppModel.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <map>
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
    // Clean files with many more projects, by count.
    std::map<int, QByteArray> largeFiles;
};
Fixture* fixture = nullptr;


AppConfig manyProjects(const Platform& p, const QString& rootsUnder, const QString& password, int count = kProjects)
{
    AppConfig c = AppConfig::defaults(p.storageRoot);
    for (int i = 0; i < count; ++i) {
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
    for (int count : {5000, 50000})
        fixture->largeFiles[count] =
            ConfigCoding::encode(manyProjects(p, p.storageRoot + QStringLiteral("/Sites"), QStringLiteral("kelp"), count));
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
    for (auto _ : state) {
        model.saveConfig();
        model.waitForConfigWrites(60000);
    }
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

// ---- 5,000 and 50,000 projects ----------------------------------------------------------------

static void BM_LoadNoRepair(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    writeConfig(fixture->largeFiles.at(count));
    for (auto _ : state) {
        AppModel model(fixture->platform);
        if (model.config().projects.size() != count + 1)
            state.SkipWithError("the file was not loaded");
    }
}
BENCHMARK(BM_LoadNoRepair)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

static void BM_LoadNoRepair_floor(benchmark::State& state)
{
    writeConfig(fixture->largeFiles.at(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        QFile file(fixture->configPath);
        file.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(QJsonDocument::fromJson(file.readAll()));
    }
}
BENCHMARK(BM_LoadNoRepair_floor)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

static void BM_Decode(benchmark::State& state)
{
    const QByteArray& file = fixture->largeFiles.at(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ConfigCoding::decode(file));
}
BENCHMARK(BM_Decode)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

static void BM_Decode_floor(benchmark::State& state)
{
    const QByteArray& file = fixture->largeFiles.at(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(file));
}
BENCHMARK(BM_Decode_floor)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

// One change as the main thread spends it: a project removed from the settings and saved. The
// write runs in the background and is waited for outside the timing.
static void BM_OneChange(benchmark::State& state)
{
    writeConfig(fixture->largeFiles.at(static_cast<int>(state.range(0))));
    AppModel model(fixture->platform);
    for (auto _ : state) {
        model.modifyConfig([](AppConfig& c) { c.projects.removeLast(); });
        model.saveConfig();
        state.PauseTiming();
        model.waitForConfigWrites(60000);
        state.ResumeTiming();
    }
}
// A fixed count: each round waits for its write outside the timing.
BENCHMARK(BM_OneChange)->Arg(5000)->Arg(50000)->Iterations(20)->Unit(benchmark::kMicrosecond);

// The same change until its write is on disk.
static void BM_OneChangeWritten(benchmark::State& state)
{
    writeConfig(fixture->largeFiles.at(static_cast<int>(state.range(0))));
    AppModel model(fixture->platform);
    for (auto _ : state) {
        model.modifyConfig([](AppConfig& c) { c.projects.removeLast(); });
        model.saveConfig();
        model.waitForConfigWrites(60000);
    }
}
BENCHMARK(BM_OneChangeWritten)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

static void BM_OneChange_floor(benchmark::State& state)
{
    QJsonDocument document = QJsonDocument::fromJson(fixture->largeFiles.at(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        QJsonObject object = document.object();
        QJsonArray projects = object.value(QStringLiteral("projects")).toArray();
        projects.removeLast();
        object.insert(QStringLiteral("projects"), projects);
        document.setObject(object);
        QSaveFile file(fixture->configPath);
        file.open(QIODevice::WriteOnly);
        file.write(document.toJson(QJsonDocument::Indented));
        file.commit();
    }
}
BENCHMARK(BM_OneChange_floor)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

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

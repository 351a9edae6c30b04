// Opening the window: from process start to the window's first finished paint (a fresh child
// process per iteration, offscreen), against the same for a standalone Qt hello-world executable
// of the same window size (the floor, bench/floor/hello_window.cpp, linked with Qt Widgets only),
// started alternately with the application in the same run (the application starts as it does
// for its users, the orphan clean-up included, with 200 websites in its settings); the clean-up
// alone for 2, 200 and 2,000 websites; and, in process, from building ContentView to its first
// paint.
#include "BenchPlatform.h"
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/SablewickhavenApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QVBoxLayout>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <sys/resource.h>
#include <cstdio>
#include <vector>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#if __has_include(<benchmark/benchmark.h>)
#include <benchmark/benchmark.h>
#define KOVANI_HAVE_BENCHMARK 1
#endif

extern char** environ;

namespace {

qint64 monotonicNanoseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}


// Ends the event loop once the watched widget has finished its first paint.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget* widget)
        : m_widget(widget)
    {
        widget->installEventFilter(this);
    }
    qint64 paintedAt = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_widget && event->type() == QEvent::Paint && paintedAt == 0) {
            m_widget->removeEventFilter(this);
            QCoreApplication::sendEvent(m_widget, event);
            paintedAt = monotonicNanoseconds();
            QTimer::singleShot(0, qApp, []() { QCoreApplication::exit(0); });
            return true;
        }
        return false;
    }

private:
    QWidget* m_widget;
};

// The start-up as the application runs it: the orphan clean-up included.
Platform startupPlatform(const QString& root)
{
    Platform p = benchPlatform(root);
    p.runOrphanCleanup = true;
    return p;
}

// A settings file with `count` websites in the storage folder under `root`.
void writeProjects(const QString& root, int count)
{
    AppModel model(benchPlatform(root));
    model.modifyConfig([count, &root](AppConfig& c) {
        for (int i = 0; i < count; ++i) {
            Project p;
            p.id = QStringLiteral("site-%1").arg(i);
            p.name = QStringLiteral("Site %1").arg(i);
            p.root = root + QStringLiteral("/sites/") + p.id;
            p.port = 10000 + i;
            c.projects.append(p);
        }
    });
    model.saveConfig();
}

double cpuMilliseconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The clean-up alone, for 2, 200 and 2,000 websites: from the model's start to the end of the
// clean-up, its processor time, and the processor time of the programs it ran.
void reportCleanup()
{
    std::printf("Orphan clean-up at start (median of 5)    wall       processor  its programs\n");
    for (int count : {2, 200, 2000}) {
        QTemporaryDir root;
        writeProjects(root.path(), count);
        std::vector<double> wall, cpu, children;
        for (int round = 0; round < 5; ++round) {
            auto done = std::make_shared<std::atomic<bool>>(false);
            Platform p = startupPlatform(root.path());
            p.orphanCleanupFinished = [done] { done->store(true); };
            const double cpuBefore = cpuMilliseconds(RUSAGE_SELF);
            const double childrenBefore = cpuMilliseconds(RUSAGE_CHILDREN);
            const qint64 start = monotonicNanoseconds();
            {
                AppModel model(p);
                while (!done->load())
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                wall.push_back(double(monotonicNanoseconds() - start) / 1e6);
            }
            cpu.push_back(cpuMilliseconds(RUSAGE_SELF) - cpuBefore);
            children.push_back(cpuMilliseconds(RUSAGE_CHILDREN) - childrenBefore);
        }
        for (std::vector<double>* v : {&wall, &cpu, &children})
            std::sort(v->begin(), v->end());
        std::printf("   %5d websites (model start included): %7.1f ms %7.1f ms %7.1f ms\n", count, wall[2], cpu[2], children[2]);
    }
    std::printf("   (the clean-up runs no program: one walk of /proc)\n\n");
}

// The child: a whole application start, printing the monotonic time of the first paint.
int runChild(int argc, char** argv, const char* root)
{
    QApplication app(argc, argv);
    SablewickhavenApp::prepare(app);
    ContentView window(startupPlatform(QString::fromLocal8Bit(root)));
    FirstPaint watcher(&window);
    window.show();
    app.exec();
    std::printf("%lld\n", static_cast<long long>(watcher.paintedAt));
    return watcher.paintedAt > 0 ? 0 : 1;
}

// Spawns `program` (this executable with "--child", or the hello-world) and returns the
// nanoseconds from just before the spawn to its first paint.
qint64 timeChild(const char* program, const QString& root, const char* mode = "--child")
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const QByteArray rootBytes = root.toLocal8Bit();
    char* childArgv[] = {const_cast<char*>(program), const_cast<char*>(mode), const_cast<char*>(rootBytes.constData()),
                         nullptr};
    pid_t pid = 0;
    const qint64 start = monotonicNanoseconds();
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, childArgv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return -1;
    }
    QByteArray text;
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    bool ok = false;
    const qint64 painted = text.trimmed().toLongLong(&ok);
    if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return painted - start;
}

const char* g_self = nullptr;

} // namespace

#ifdef KOVANI_HAVE_BENCHMARK
static void BM_WindowBuildToFirstPaint(benchmark::State& state)
{
    for (auto _ : state) {
        QTemporaryDir root;
        const qint64 start = monotonicNanoseconds();
        auto window = std::make_unique<ContentView>(benchPlatform(root.path()));
        FirstPaint watcher(window.get());
        window->show();
        QApplication::exec();
        state.SetIterationTime(double(watcher.paintedAt - start) / 1e9);
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowBuildToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
#endif

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argc, argv, argv[2]);
    g_self = "/proc/self/exe";
    char resolved[4096];
    const ssize_t length = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
    static QByteArray selfPath;
    if (length > 0) {
        selfPath = QByteArray(resolved, int(length));
        g_self = selfPath.constData();
    }
    // Whole starts, the application (with 200 websites to clean up after) and the floor
    // alternately.
    constexpr int kStarts = 15;
    std::vector<double> kovani, hello;
    for (int i = 0; i < kStarts; ++i) {
        QTemporaryDir root;
        {
            int fakeArgc = 1;
            QCoreApplication setup(fakeArgc, argv);
            writeProjects(root.path(), 200);
        }
        const qint64 elapsed = timeChild(g_self, root.path());
        const qint64 floor = timeChild(KOVANI_HELLO_WINDOW, root.path(), "--hello");
        if (elapsed < 0 || floor < 0) {
            std::printf("a child did not paint (application %lld, hello-world %lld)\n", static_cast<long long>(elapsed),
                        static_cast<long long>(floor));
            return 1;
        }
        kovani.push_back(double(elapsed) / 1e6);
        hello.push_back(double(floor) / 1e6);
    }
    std::sort(kovani.begin(), kovani.end());
    std::sort(hello.begin(), hello.end());
    std::printf("Process start to first paint (median of %d, alternating)\n", kStarts);
    std::printf("   Kovani:                                     %8.1f ms\n", kovani[kovani.size() / 2]);
    std::printf("   floor: standalone Qt hello-world, 1120x760: %8.1f ms  (ratio %.2f)\n\n", hello[hello.size() / 2],
                kovani[kovani.size() / 2] / std::max(0.001, hello[hello.size() / 2]));
    QApplication app(argc, argv);
    SablewickhavenApp::prepare(app);
    reportCleanup();
#ifdef KOVANI_HAVE_BENCHMARK
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
#endif
    return 0;
}

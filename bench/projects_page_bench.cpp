// The projects page with 20, 500 and 2,000 websites, in the window, each figure beside its floor
// measured in the same run: a plain QListView of the same rows (the lines a card shows, every row
// as high as the first, so the list measures one row and not each) in a window of the same size.
//   - first visit: building the page until it has painted; the floor shows the list view;
//   - longest block: the longest time the main thread did not return to its event loop while the
//     page opened, settled and was scrolled from top to bottom and back, half a view at a time;
//   - open+scroll: from the visit until the scrolling is done and the event loop has been quiet
//     for 300 ms;
//   - a later visit, one refresh (a website's running state changes) and one status message;
//   - memory: the resident size of a fresh process that opened and scrolled the page, against the
//     idle application (the same window and websites, the page never opened) and the list view.
#include "BenchPlatform.h"
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/SablewickhavenApp.h"
#include "services/ProjectsPage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListView>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 1120;
constexpr int kHeight = 760;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

QList<Project> projects(int count, const QString& root)
{
    QList<Project> list;
    for (int i = 0; i < count; ++i) {
        Project p;
        p.id = QStringLiteral("site-%1").arg(i);
        p.name = QStringLiteral("Website number %1").arg(i);
        p.root = root + QStringLiteral("/Sites/site-%1").arg(i);
        p.port = 9000 + i;
        list.append(p);
    }
    return list;
}

// A plain list: its rows share the first row's size instead of each being measured.
void makePlain(QListView& view)
{
    view.setUniformItemSizes(true);
}

// The lines of each card, for the list view.
QStringList rowTexts(const QList<Project>& list)
{
    QStringList rows;
    for (const Project& p : list) {
        const QString port = QString::number(p.port);
        rows.append(p.name + u'\n' + p.root + QStringLiteral("\nPort ") + port + QStringLiteral("\nURL: http://localhost:")
                    + port + QStringLiteral("\nAlt: http://127.0.0.1:") + port + QStringLiteral("\nDB: ")
                    + AppModel::slug(p.name) + QStringLiteral(" \u00B7 root@127.0.0.1:3306\nWebsite config"));
    }
    return rows;
}

struct Run {
    double first = 0;
    double longest = 0;
    double settled = 0;
};

// Runs the event loop: `step` runs at every turn until it returns false, then the loop runs until
// no turn has taken over 5 ms for 300 ms. The longest turn (a step's own time included) and the
// time until quiet are what the main thread was blocked for and how long the page took.
Run drive(const std::function<bool()>& step)
{
    Run run;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 quietSince = last;
    qint64 lastBusy = last;
    bool stepping = true;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&]() {
        const qint64 now = clock.nsecsElapsed();
        const double gap = (now - last) / 1e6;
        run.longest = std::max(run.longest, gap);
        if (gap > 5) {
            quietSince = now;
            lastBusy = now;
        }
        last = now;
        if (stepping) {
            stepping = step();
            quietSince = clock.nsecsElapsed();
        } else if (now - quietSince > 300'000'000 || now > 60'000'000'000LL) {
            run.settled = lastBusy / 1e6;
            loop.quit();
        }
    });
    tick.start();
    loop.exec();
    return run;
}

// Half a view down at a time to the bottom, then back to the top in four jumps.
std::function<bool()> scrolling(QScrollBar* bar)
{
    auto jumpsBack = std::make_shared<int>(4);
    auto down = std::make_shared<bool>(true);
    return [bar, jumpsBack, down]() {
        if (*down) {
            if (bar->value() >= bar->maximum())
                *down = false;
            else
                bar->setValue(bar->value() + std::max(1, bar->pageStep() / 2));
            return true;
        }
        if (*jumpsBack == 0)
            return false;
        --*jumpsBack;
        bar->setValue(*jumpsBack * bar->maximum() / 4);
        return true;
    };
}

long residentKilobytes()
{
    FILE* statm = std::fopen("/proc/self/statm", "r");
    long pages = 0;
    long resident = 0;
    if (statm) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The child for the memory figures: "idle", "page" or "list" with a number of websites.
int runChild(const char* mode, int count)
{
    QTemporaryDir dir;
    const QList<Project> list = projects(count, dir.path());
    if (std::strcmp(mode, "list") == 0) {
        QStringListModel rows(rowTexts(list));
        QListView view;
        makePlain(view);
        view.setModel(&rows);
        view.resize(kWidth, kHeight);
        view.show();
        drive(scrolling(view.verticalScrollBar()));
        std::printf("%ld\n", residentKilobytes());
        return 0;
    }
    ContentView window(benchPlatform(dir.path()));
    window.model().modifyConfig([&](AppConfig& c) { c.projects = list; });
    window.resize(kWidth, kHeight);
    window.show();
    bool visited = std::strcmp(mode, "idle") == 0;
    auto scroll = scrolling(window.pageArea()->verticalScrollBar());
    drive([&]() {
        if (!visited) {
            window.setSection(AppSection::projects);
            visited = true;
            return true;
        }
        return std::strcmp(mode, "idle") == 0 ? false : scroll();
    });
    std::printf("%ld\n", residentKilobytes());
    return 0;
}

long childKilobytes(const char* mode, int count)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), QString::fromLatin1(mode), QString::number(count)});
    if (!child.waitForFinished(300000))
        return -1;
    bool ok = false;
    const long kb = child.readAllStandardOutput().trimmed().toLong(&ok);
    return ok ? kb : -1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SablewickhavenApp::prepare(app);
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argv[2], std::atoi(argv[3]));

    std::printf("Projects page in a %dx%d window (median of 3 windows each; refresh and status: median of 7)\n",
                kWidth, kHeight);
    std::printf("   floor: a plain QListView (uniform row size) of the same rows in a window of the same size, same run\n");
    std::printf("   %-8s %17s %17s %19s %11s %11s %12s %26s\n", "websites", "first visit ms", "longest block ms",
                "open+scroll ms", "next ms", "refresh ms", "status ms", "memory MB (idle app)");
    std::printf("   %-8s %17s %17s %19s\n", "", "(floor)", "(floor)", "(floor)");
    for (const int count : {20, 500, 2000}) {
        std::vector<double> first, longest, settled, next, refresh, status;
        std::vector<double> floorFirst, floorLongest, floorSettled;
        for (int window = 0; window < 3; ++window) {
            QTemporaryDir dir;
            {
                ContentView view(benchPlatform(dir.path()));
                view.model().modifyConfig([&](AppConfig& c) { c.projects = projects(count, dir.path()); });
                view.resize(kWidth, kHeight);
                view.show();
                QCoreApplication::processEvents();
                bool visited = false;
                auto scroll = scrolling(view.pageArea()->verticalScrollBar());
                const Run run = drive([&]() {
                    if (!visited) {
                        QElapsedTimer timer;
                        timer.start();
                        view.setSection(AppSection::projects);
                        QCoreApplication::processEvents();
                        view.pageArea()->viewport()->repaint();
                        first.push_back(timer.nsecsElapsed() / 1e6);
                        visited = true;
                        return true;
                    }
                    return scroll();
                });
                longest.push_back(std::max(run.longest, first.back()));
                settled.push_back(run.settled);

                view.setSection(AppSection::dashboard);
                QCoreApplication::processEvents();
                QElapsedTimer timer;
                timer.start();
                view.setSection(AppSection::projects);
                QCoreApplication::processEvents();
                view.pageArea()->viewport()->repaint();
                next.push_back(timer.nsecsElapsed() / 1e6);
                for (int i = 0; i < 7; ++i) {
                    QMap<QString, qint32> running = view.model().runningProjects();
                    const QString id = QStringLiteral("site-%1").arg((i * 7) % count);
                    if (running.contains(id))
                        running.remove(id);
                    else
                        running.insert(id, 4242);
                    timer.restart();
                    view.model().setRunningProjects(running);
                    refresh.push_back(timer.nsecsElapsed() / 1e6);
                    QCoreApplication::processEvents();
                    timer.restart();
                    view.model().setStatusMessage(QStringLiteral("Status %1").arg(i));
                    status.push_back(timer.nsecsElapsed() / 1e6);
                }
            }
            {
                QStringListModel rows(rowTexts(projects(count, dir.path())));
                QListView list;
                makePlain(list);
                list.setModel(&rows);
                list.resize(kWidth, kHeight);
                bool shown = false;
                auto scroll = scrolling(list.verticalScrollBar());
                const Run run = drive([&]() {
                    if (!shown) {
                        QElapsedTimer timer;
                        timer.start();
                        list.show();
                        QCoreApplication::processEvents();
                        list.viewport()->repaint();
                        floorFirst.push_back(timer.nsecsElapsed() / 1e6);
                        shown = true;
                        return true;
                    }
                    return scroll();
                });
                floorLongest.push_back(std::max(run.longest, floorFirst.back()));
                floorSettled.push_back(run.settled);
            }
        }
        const long idle = childKilobytes("idle", count);
        const long page = childKilobytes("page", count);
        const long list = childKilobytes("list", count);
        char memory[64];
        std::snprintf(memory, sizeof memory, "%.0f (%.0f) %.2fx; list %.0f", page / 1024.0, idle / 1024.0,
                      double(page) / std::max(1L, idle), list / 1024.0);
        std::printf("   %-8d %8.1f (%6.1f) %8.1f (%6.1f) %9.0f (%7.0f) %11.1f %11.3f %12.3f %26s\n", count, median(first),
                    median(floorFirst), median(longest), median(floorLongest), median(settled), median(floorSettled),
                    median(next), median(refresh), median(status), memory);
    }
    std::printf("   (targets at 2,000: longest block under 50 ms; memory within 2x the idle application's; a status\n"
                "    message under 1 ms)\n");
    return 0;
}

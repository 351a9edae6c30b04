// The projects page with 20, 500 and 2,000 websites, in the window: the first visit (building
// the page until it has painted), until every website has its card, a later visit, one refresh
// of the rows (a website's running state changes) and one new status message.
#include "BenchPlatform.h"
#include "app/AppModel.h"
#include "app/ContentView.h"
#include "app/SablewickhavenApp.h"
#include "services/ProjectsPage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollArea>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

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

// Shows the section and lets the page lay out and paint.
double visit(ContentView& window, AppSection section)
{
    QElapsedTimer timer;
    timer.start();
    window.setSection(section);
    QCoreApplication::processEvents();
    window.pageArea()->viewport()->repaint();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SablewickhavenApp::prepare(app);

    std::printf("Projects page (median of 3 windows each; refresh: median of 20)\n");
    std::printf("   %-9s %14s %14s %14s %14s %16s %14s\n", "websites", "first visit ms", "all cards ms", "next visit ms",
                "refresh ms", "refresh/row us", "status ms");
    for (const int count : {20, 500, 2000}) {
        std::vector<double> first, all, next, refresh, status;
        for (int window = 0; window < 3; ++window) {
            QTemporaryDir dir;
            ContentView view(benchPlatform(dir.path()));
            view.model().modifyConfig([&](AppConfig& c) { c.projects = projects(count, dir.path()); });
            view.resize(1120, 760);
            view.show();
            QCoreApplication::processEvents();
            QElapsedTimer whole;
            whole.start();
            first.push_back(visit(view, AppSection::projects));
            auto* page = qobject_cast<ProjectsPage*>(view.page());
            while (page && page->rows().isEmpty())
                QCoreApplication::processEvents();
            all.push_back(whole.nsecsElapsed() / 1e6);
            visit(view, AppSection::dashboard);
            next.push_back(visit(view, AppSection::projects));
            for (int i = 0; i < 20 / 3 + 1; ++i) {
                QMap<QString, qint32> running = view.model().runningProjects();
                const QString id = QStringLiteral("site-%1").arg((i * 7) % count);
                if (running.contains(id))
                    running.remove(id);
                else
                    running.insert(id, 4242);
                QElapsedTimer timer;
                timer.start();
                view.model().setRunningProjects(running);
                refresh.push_back(timer.nsecsElapsed() / 1e6);
                QCoreApplication::processEvents();
                timer.restart();
                view.model().setStatusMessage(QStringLiteral("Status %1").arg(i));
                status.push_back(timer.nsecsElapsed() / 1e6);
            }
        }
        std::printf("   %-9d %14.1f %14.1f %14.1f %14.2f %16.2f %14.2f\n", count, median(first), median(all), median(next),
                    median(refresh), median(refresh) * 1000 / count, median(status));
    }
    std::printf("   (targets: 500 websites open under 300 ms; refresh under 5 ms at 2,000)\n");
    return 0;
}

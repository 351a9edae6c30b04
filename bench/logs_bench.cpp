// Pressing "Logs" on a website whose log is 1, 10 or 100 MB: the main thread's time (CPU time of
// the main thread from the press until the log box has painted the text), the wall time until
// then, against the floor measured in the same round: reading the file's last MiB and decoding it
// as UTF-8, and that text set into a bare QPlainTextEdit and painted.
#include "BenchPlatform.h"
#include "app/AppModel.h"
#include "app/LogBox.h"
#include "platform/Files.h"
#include "services/ProjectRow.h"
#include "services/ProjectsPage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int kRounds = 5;

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void writeLog(const QString& path, qint64 bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QByteArray chunk;
    for (int i = 0; chunk.size() < 1024 * 1024; ++i)
        chunk += "[Thu Dec 10 10:00:00 2026] 127.0.0.1:51234 [200]: GET /some/route?page=" + QByteArray::number(i) + ' '
            + QByteArray(240, 'x') + '\n';
    for (qint64 written = 0; written < bytes; written += chunk.size())
        file.write(chunk);
}

// Reads the last MiB and decodes it strictly as UTF-8; the text, and the milliseconds taken.
double readAndDecodeLastMiB(const QString& path, QString* text)
{
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    file.seek(std::max<qint64>(0, file.size() - 1024 * 1024));
    const QByteArray bytes = file.read(1024 * 1024);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = decoder.decode(bytes);
    const double ms = timer.nsecsElapsed() / 1e6;
    return bytes.isEmpty() || decoder.hasError() ? -1 : ms;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    AppModel model(benchPlatform(dir.path()));
    Project site;
    site.id = QStringLiteral("busy");
    site.name = QStringLiteral("Busy");
    site.root = dir.path();
    site.port = 9000;
    model.modifyConfig([&](AppConfig& c) { c.projects = {site}; });
    ProjectsPage page(model, {}, {}, {});
    page.resize(880, 900);
    page.show();
    QCoreApplication::processEvents();

    const QString log = model.logsURL() + QStringLiteral("/busy.log");
    std::printf("Logs of a large log (median of %d presses)\n", kRounds);
    std::printf("   %-8s %16s %14s %24s %26s\n", "log", "main thread ms", "wall ms", "floor: read+decode MiB ms",
                "floor: + bare setPlainText ms");
    QPlainTextEdit bare;
    bare.setReadOnly(true);
    bare.resize(880, 400);
    bare.show();
    for (const int megabytes : {1, 10, 100}) {
        writeLog(log, qint64(megabytes) * 1000 * 1000);
        std::vector<double> cpu, wall, floor, bareFloor;
        for (int round = 0; round < kRounds; ++round) {
            model.setSelectedLog(QString());
            QCoreApplication::processEvents();

            QEventLoop loop;
            QObject::connect(&model, &AppModel::selectedLogChanged, &loop, &QEventLoop::quit);
            QTimer::singleShot(60000, &loop, &QEventLoop::quit);
            QElapsedTimer timer;
            const double cpuStart = threadCpuMs();
            timer.start();
            model.showLog(site.id);
            if (model.selectedLog().isEmpty())
                loop.exec();
            page.logBox()->textView()->viewport()->repaint();
            wall.push_back(timer.nsecsElapsed() / 1e6);
            cpu.push_back(threadCpuMs() - cpuStart);
            bare.clear();
            QCoreApplication::processEvents();
            QString text;
            QElapsedTimer bareTimer;
            bareTimer.start();
            floor.push_back(readAndDecodeLastMiB(log, &text));
            bare.setPlainText(text);
            bare.viewport()->repaint();
            bareFloor.push_back(bareTimer.nsecsElapsed() / 1e6);
        }
        std::printf("   %4d MB  %16.1f %14.1f %24.2f %26.1f\n", megabytes, median(cpu), median(wall), median(floor),
                    median(bareFloor));
    }
    std::printf("   (target: 100 MB under 50 ms of main-thread time)\n");
    return 0;
}

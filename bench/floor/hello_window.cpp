// The floor of window_open_bench: a standalone Qt hello-world window of the window's size, linked
// with Qt Widgets only. Prints the monotonic time of its first finished paint, then quits.
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace {

long long monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget* widget)
        : m_widget(widget)
    {
        widget->installEventFilter(this);
    }
    long long paintedAt = 0;

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

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(1120, 760);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Hello, world")));
    FirstPaint watcher(&window);
    window.show();
    app.exec();
    std::printf("%lld\n", watcher.paintedAt);
    return watcher.paintedAt > 0 ? 0 : 1;
}

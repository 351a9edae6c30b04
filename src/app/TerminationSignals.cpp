#include "app/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};

void handleSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: when the pipe is full, a quit is already pending.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals* TerminationSignals::install()
{
    static TerminationSignals* instance = new TerminationSignals();
    return instance;
}

TerminationSignals::TerminationSignals()
    : QObject(QCoreApplication::instance())
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("Could not create the signal pipe: %s", strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);

    struct sigaction action {};
    action.sa_handler = handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

void TerminationSignals::drain()
{
    unsigned char bytes[64];
    for (;;) {
        const ssize_t count = ::read(g_pipe[0], bytes, sizeof bytes);
        if (count <= 0)
            break;
        for (ssize_t i = 0; i < count; ++i)
            emit received(bytes[i]);
    }
}

#include "SignalWatcher.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int kWatched[] = {SIGTERM, SIGINT, SIGHUP};
// One pipe per process: a signal handler can reach nothing else.
int s_pipe[2] = {-1, -1};

extern "C" void onSignal(int signo)
{
    const int saved = errno;
    const char byte = char(signo);
    // Nothing to do if the pipe is full: the run is stopping already.
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent), m_notifier(nullptr)
{
    if (s_pipe[0] < 0 && ::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("Cannot watch for stop signals: %s", strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readPending);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : kWatched) {
        ::sigaction(signo, &action, nullptr);
    }
}

SignalWatcher::~SignalWatcher()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (int signo : kWatched) {
        ::sigaction(signo, &action, nullptr);
    }
}

QString SignalWatcher::name(int signo)
{
    switch (signo) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signo);
    }
}

void SignalWatcher::readPending()
{
    char byte = 0;
    while (::read(s_pipe[0], &byte, 1) == 1) {
        emit received(int(byte));
    }
}

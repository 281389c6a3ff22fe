#include "SignalWatcher.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A signal handler can reach nothing but globals.
int s_pipe[2] = {-1, -1};

extern "C" void onSignal(int signo)
{
    const int saved = errno;
    const char byte = char(signo);
    // Nothing to do if the pipe is full: the process is stopping already.
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
    errno = saved;
}

void setAction(int signo, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signo, &action, nullptr);
}

} // namespace

SignalWatcher::SignalWatcher(std::initializer_list<int> watched, QObject* parent)
    : QObject(parent), m_watched(watched)
{
    Q_ASSERT(s_pipe[0] < 0);
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("Cannot watch for stop signals: %s", strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::deliverPending);
    for (int signo : m_watched) {
        setAction(signo, onSignal);
    }
}

SignalWatcher::~SignalWatcher()
{
    for (int signo : m_watched) {
        setAction(signo, SIG_DFL);
    }
    delete m_notifier;
    for (int& fd : s_pipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
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

int SignalWatcher::descriptor() const
{
    return s_pipe[0];
}

void SignalWatcher::deliverPending()
{
    char byte = 0;
    while (s_pipe[0] >= 0 && ::read(s_pipe[0], &byte, 1) == 1) {
        emit received(int(byte));
    }
}

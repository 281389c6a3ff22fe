#include "ExitSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Read end and write end of the pipe; the handler can reach nothing but globals.
int g_pipe[2] = {-1, -1};
constexpr int kQuitSignals[] = {SIGTERM, SIGINT};
} // namespace

ExitSignals::ExitSignals(QObject* parent) : QObject(parent)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("Cannot create the signal pipe: %s", strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ExitSignals::drain);

    struct sigaction action = {};
    action.sa_handler = &ExitSignals::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kQuitSignals) {
        sigaction(signalNumber, &action, nullptr);
    }
}

ExitSignals::~ExitSignals()
{
    delete m_notifier;
    for (int signalNumber : kQuitSignals) {
        std::signal(signalNumber, SIG_DFL);
    }
    for (int& fd : g_pipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void ExitSignals::onSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

void ExitSignals::drain()
{
    char bytes[16];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
}

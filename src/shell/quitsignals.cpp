#include "quitsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace
{

int g_pipe[2] = {-1, -1};
constexpr int handled[] = {SIGTERM, SIGHUP, SIGINT};

void onSignal(int signalNumber)
{
    const int saved = errno;
    // Back to the default action: if the window does not end, the next one ends the program.
    ::signal(signalNumber, SIG_DFL);
    const unsigned char n = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &n, 1);
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(QObject *parent) : QObject(parent)
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // one instance per process; without a pipe the default actions stay
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readPipe);
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : handled)
        ::sigaction(s, &sa, nullptr);
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    for (int s : handled)
        ::signal(s, SIG_DFL);
    delete m_notifier;
    for (int &fd : g_pipe) {
        ::close(fd);
        fd = -1;
    }
}

void QuitSignals::readPipe()
{
    unsigned char n = 0;
    while (::read(g_pipe[0], &n, 1) == 1)
        emit received(n);
}

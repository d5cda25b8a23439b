#include "quitsignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace
{

int g_pipe[2] = {-1, -1};
constexpr int handled[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> g_received[NSIG];

void onSignal(int signalNumber)
{
    if (g_received[signalNumber].fetch_add(1) >= 1)
        ::_exit(QuitSignals::exitCodeFor(signalNumber)); // asked twice: the person wants out now
    const int saved = errno;
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
    for (int s : handled) {
        g_received[s] = 0;
        ::sigaction(s, &sa, nullptr);
    }
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

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
std::atomic<int> g_first{0};
bool g_installed[NSIG] = {};

void onSignal(int signalNumber)
{
    if (g_received[signalNumber].fetch_add(1) >= 1)
        ::_exit(QuitSignals::exitCodeFor(signalNumber)); // asked twice: the person wants out now
    int none = 0;
    g_first.compare_exchange_strong(none, signalNumber);
    const int saved = errno;
    const unsigned char n = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &n, 1);
    errno = saved;
}

} // namespace

void QuitSignals::install()
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // without a pipe the default actions stay
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a blocked call returns EINTR and its caller decides
    for (int s : handled) {
        struct sigaction before {
        };
        ::sigaction(s, nullptr, &before);
        if (before.sa_handler == SIG_IGN)
            continue; // ignored by whoever started us (nohup): it stays so
        g_received[s] = 0;
        g_installed[s] = ::sigaction(s, &sa, nullptr) == 0;
    }
}

void QuitSignals::release()
{
    for (int s : handled) {
        if (g_installed[s])
            ::signal(s, SIG_DFL);
        g_installed[s] = false;
    }
    if (const int first = g_first.load())
        ::raise(first); // it came while we listened: it ends us now, as it would have
}

int QuitSignals::pending()
{
    return g_first.load();
}

QuitSignals::QuitSignals(QObject *parent) : QObject(parent)
{
    install();
    if (g_pipe[0] < 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readPipe);
}

QuitSignals::~QuitSignals()
{
    // The handlers stay for the rest of the process: a signal now still ends it cleanly, by
    // whoever listens next or by the end of main().
    delete m_notifier;
}

void QuitSignals::readPipe()
{
    unsigned char n = 0;
    while (::read(g_pipe[0], &n, 1) == 1)
        emit received(n);
}

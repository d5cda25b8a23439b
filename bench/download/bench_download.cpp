// Download speed of the window: the host's turnaround per block and a 64 KiB image at 115200
// baud against the protocol's minimum. The window runs with the real serial component, timer,
// clock and event pump; the virtual board runs in its own thread on a pseudo-terminal linked as
// COM1. (The idle window's cost is bench/idle's; the command line's, bench/cli's.)
#include "windowbench.h"

#include <QApplication>
#include <QThread>

#include <sys/prctl.h>

using namespace WindowBench;

namespace
{

void turnaround()
{
    BoardOnCom1 board(PtyBoard::Settings{});
    Window window(board.config);
    const QByteArray image = benchImage(1024 * 1024);
    std::vector<double> us;
    for (int run = 0; run < 3; ++run) {
        window.download(image);
        for (double t : turnarounds(board.takeTrace()))
            us.push_back(t);
    }
    const double median = percentile(us, 50), p99 = percentile(us, 99);
    std::printf("turnaround per block (reply C -> next block), %zu blocks, no pacing:\n",
                us.size());
    std::printf("  median %.3f ms (limit 0.5 ms, ratio %.2f)\n", median / 1000, median / 500);
    std::printf("  p99    %.3f ms (limit 2 ms, ratio %.2f)\n", p99 / 1000, p99 / 2000);
    std::printf("  max    %.3f ms\n", percentile(us, 100) / 1000);
}

void paced()
{
    constexpr int baud = 115200;
    PtyBoard::Settings settings;
    settings.baud = baud;
    settings.board.replyDelayMs = 0; // the line's own time is the board's only delay
    BoardOnCom1 board(settings);
    Window window(board.config);
    const int length = 64 * 1024;
    const QByteArray image = benchImage(length);

    // Every byte both ways at 11520 bytes/s, one tick for the request and one for the
    // length frame, and the click's own 200 ms beep before the first tick can run.
    const double hostBytes = 3 + 10 + length;
    const double boardBytes = 5.0 * (2 + length / 1024);
    const double minimum = (hostBytes + boardBytes) / (baud / 10.0) + 2 * 0.010 + 0.200;

    std::printf("64 KiB at %d baud (minimum %.4f s):\n", baud, minimum);
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const double took = window.download(image);
        if (took > 0)
            best = std::min(best, took);
        std::printf("  run %d: %.4f s, ratio %.4f\n", run + 1, took, took / minimum);
        QThread::msleep(50);
    }
    std::printf("  best ratio %.4f (limit 1.03)\n", best / minimum);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); // the board paces bytes 87 µs apart
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool all = args.size() < 2;
    if (all || args.contains(QStringLiteral("turnaround")))
        turnaround();
    if (all || args.contains(QStringLiteral("paced")))
        paced();
    return 0;
}

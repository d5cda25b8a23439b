// The command line against the window, in one run, on the same virtual board: a 64 KiB image
// at 115200 baud against the protocol's minimum, the time from the command's start to the
// first request on the wire, the turnaround per block, and what a trace costs.
//
// The board runs in its own thread on a pseudo-terminal linked as COM1; the window runs in
// this process with the real serial component and timer, the command line as its own process.
#include "windowbench.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcess>

#include <memory>
#include <sys/prctl.h>
#include <sys/resource.h>

using namespace WindowBench;

namespace
{

double median(const std::vector<double> &v)
{
    return percentile(v, 50);
}

// The command line measured: this build's, or another build's named by VANTREL_BENCH_CLI (to set
// two builds side by side in one run).
QString cliPath()
{
    return qEnvironmentVariable("VANTREL_BENCH_CLI", QStringLiteral(CLI_PATH));
}

// The line's own time for an image of `length` bytes at `baud` (10 bits a byte): the request,
// the length frame, the image and a reply to each, plus one 10 ms tick each for the request and
// the length frame.
double wireMinimum(int length, int baud)
{
    const int blocks = (length + 1023) / 1024;
    return (3 + 10 + length + 5.0 * (2 + blocks)) / (baud / 10.0) + 2 * 0.010;
}

// A board that paces the line at `baud` (0: no pacing) and answers without a delay of its own:
// the line's own time is its only delay.
PtyBoard::Settings pacedAt(int baud)
{
    PtyBoard::Settings settings;
    settings.baud = baud;
    settings.board.replyDelayMs = 0;
    return settings;
}

// The board, and both programs pointed at it.
struct Bench {
    explicit Bench(const PtyBoard::Settings &settings) : board(settings) {}

    std::vector<PtyBoard::Event> takeTrace() { return board.takeTrace(); }

    QString imageFile(const QByteArray &image)
    {
        const QString path = board.home.filePath(QStringLiteral("fw.bin"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size())
            qFatal("cannot write the image");
        return path;
    }

    // Seconds from the command's start to its exit; the CPU it used in `cpu`.
    double cli(const QString &image, const QStringList &extra = {}, double *cpu = nullptr,
               int baud = 115200)
    {
        const QStringList args = QStringList{"flash",
                                             image,
                                             "--port",
                                             "COM1",
                                             "--quiet",
                                             "--baud",
                                             QString::number(baud),
                                             "--no-auto-reset"} +
                                 extra;
        const auto start = std::chrono::steady_clock::now();
        QProcess p;
        p.start(cliPath(), args);
        p.waitForFinished(120000);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (p.exitCode() != 0)
            std::fprintf(stderr, "vantrel-cli failed (%d): %s\n", p.exitCode(),
                         p.readAllStandardError().constData());
        if (cpu) {
            rusage ru{};
            getrusage(RUSAGE_CHILDREN, &ru);
            const double total = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                                 double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
            *cpu = total - m_childCpu;
            m_childCpu = total;
        }
        return took.count();
    }

    // The window in a process of its own, as the command line runs: the board's thread then
    // wakes another process for both programs.
    void windowProcess(const QString &image)
    {
        QProcess p;
        p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("window-child"), image});
        p.waitForFinished(120000);
        if (p.exitCode() != 0)
            std::fprintf(stderr, "window child failed: %s\n", p.readAllStandardError().constData());
    }

    // Seconds from the click to the success text, the window in this process.
    double window(const QByteArray &image)
    {
        if (!m_window)
            m_window = std::make_unique<Window>(board.config);
        return m_window->download(image);
    }

    BoardOnCom1 board;
    std::unique_ptr<Window> m_window;
    double m_childCpu = 0;
};

void paced()
{
    constexpr int baud = 115200;
    Bench b(pacedAt(baud));
    const int length = 64 * 1024;
    const QByteArray image = benchImage(length);
    const QString file = b.imageFile(image);

    // Every byte both ways at 11520 bytes/s, one tick for the request and one for the length
    // frame; the window also beeps for 200 ms on the click before its first tick.
    const double cliMinimum = wireMinimum(length, baud);
    const double windowMinimum = cliMinimum + 0.200;
    std::printf("64 KiB at %d baud: minimum %.4f s (command line), %.4f s (window, with the "
                "click's beep)\n",
                baud, cliMinimum, windowMinimum);
    std::vector<double> cli, window;
    for (int run = 0; run < 5; ++run) {
        cli.push_back(b.cli(file) / cliMinimum);
        window.push_back(b.window(image) / windowMinimum);
        std::printf("  run %d: command line ratio %.4f, window ratio %.4f\n", run + 1, cli.back(),
                    window.back());
    }
    std::printf("  median ratio: command line %.4f, window %.4f (limit 1.01)\n", median(cli),
                median(window));
}

// 1 MiB at 921600 baud, the board pacing the line: what is left above the wire's own time is
// the host's turnaround and the board's reaction to each block, 1024 times over.
void fast()
{
    constexpr int baud = 921600;
    Bench b(pacedAt(baud));
    const int length = 1024 * 1024;
    const QString file = b.imageFile(benchImage(length));
    const double minimum = wireMinimum(length, baud);
    const double byteUs = 1e7 / baud;
    std::vector<double> ratio, board, host;
    for (int run = 0; run < 3; ++run) {
        ratio.push_back(b.cli(file, {}, nullptr, baud) / minimum);
        // The board's reaction: from a block taken whole to its reply written, less the reply's
        // own line time. The host's: from the reply written to the next block taken whole, less
        // the block's line time.
        const std::vector<PtyBoard::Event> trace = b.takeTrace();
        for (size_t i = 1; i < trace.size(); ++i) {
            const double us = double(trace[i].ns - trace[i - 1].ns) / 1e3;
            if (trace[i - 1].what == 'b' && trace[i].what == 'C')
                board.push_back(us - 5 * byteUs);
            else if (trace[i - 1].what == 'C' && trace[i].what == 'b')
                host.push_back(us - 1024 * byteUs);
        }
        std::printf("  run %d: ratio %.4f\n", run + 1, ratio.back());
    }
    std::printf("1 MiB at %d baud, command line: minimum %.3f s, median ratio %.4f (aim 1.02); "
                "per block, median: the board's reaction %.1f us, the host's %.1f us (%.4f and "
                "%.4f of the minimum over 1024 blocks)\n",
                baud, minimum, median(ratio), median(board), median(host),
                median(board) * 1024 / 1e6 / minimum, median(host) * 1024 / 1e6 / minimum);
}

void start()
{
    Bench b(pacedAt(0)); // no pacing: answers at once
    const QString file = b.imageFile(benchImage(1024));
    std::vector<double> ms;
    for (int run = 0; run < 10; ++run) {
        b.takeTrace();
        const int64_t t0 = PtyBoard::nowNs();
        b.cli(file);
        for (const PtyBoard::Event &e : b.takeTrace())
            if (e.what == 'A') { // written the moment the request was read
                ms.push_back(double(e.ns - t0) / 1e6);
                break;
            }
    }
    std::printf("command start to the first request on the wire, %zu runs: median %.1f ms, "
                "max %.1f ms (limit 30 ms)\n",
                ms.size(), median(ms), ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()));
}

void turnaround()
{
    PtyBoard::Settings settings;
    Bench b(settings);
    const QByteArray image = benchImage(1024 * 1024);
    const QString file = b.imageFile(image);
    std::vector<double> cli, window, windowApart;
    for (int run = 0; run < 3; ++run) {
        b.cli(file);
        for (double us : turnarounds(b.takeTrace()))
            cli.push_back(us);
        b.window(image);
        for (double us : turnarounds(b.takeTrace()))
            window.push_back(us);
        b.windowProcess(file);
        for (double us : turnarounds(b.takeTrace()))
            windowApart.push_back(us);
    }
    std::printf("turnaround per block (reply C -> next block), 1 MiB x 3, no pacing:\n"
                "  command line median %.1f us; window median %.1f us in the board's process "
                "(ratio %.2f), %.1f us in its own (ratio %.2f)\n",
                median(cli), median(window), median(cli) / median(window), median(windowApart),
                median(cli) / median(windowApart));
}

void traceCost()
{
    constexpr int baud = 115200;
    Bench b(pacedAt(baud));
    const QString file = b.imageFile(benchImage(64 * 1024));
    const QString trace = b.board.home.filePath(QStringLiteral("run.trace"));
    std::vector<double> plain, traced, plainCpu, tracedCpu;
    double cpu = 0;
    b.cli(file, {}, &cpu); // settles the children's CPU count
    for (int run = 0; run < 3; ++run) {
        plain.push_back(b.cli(file, {}, &cpu));
        plainCpu.push_back(cpu);
        traced.push_back(b.cli(file, {"--trace", trace}, &cpu));
        tracedCpu.push_back(cpu);
    }
    const double p = median(plain), t = median(traced);
    std::printf("--trace on 64 KiB at %d baud: %.4f s without, %.4f s with (%+.3f %%, limit "
                "0.2 %%); CPU %.1f ms without, %.1f ms with; trace %lld bytes\n",
                baud, p, t, 100.0 * (t - p) / p, 1000 * median(plainCpu), 1000 * median(tracedCpu),
                (long long)QFileInfo(trace).size());
}

// The window alone, on COM1 of the config folder XDG_CONFIG_HOME names: loads the image, clicks
// the download button and returns once the board has confirmed it.
int windowChild(const QString &imagePath)
{
    QFile f(imagePath);
    if (!f.open(QIODevice::ReadOnly))
        return 1;
    Window window(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/vantrel"));
    return window.download(f.readAll()) > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); // the board paces bytes 87 µs apart
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("window-child"))
        return windowChild(args[2]);
    const bool all = args.size() < 2;
    if (all || args.contains(QStringLiteral("start")))
        start();
    if (all || args.contains(QStringLiteral("turnaround")))
        turnaround();
    if (all || args.contains(QStringLiteral("paced")))
        paced();
    if (all || args.contains(QStringLiteral("fast")))
        fast();
    if (all || args.contains(QStringLiteral("trace")))
        traceCost();
    return 0;
}

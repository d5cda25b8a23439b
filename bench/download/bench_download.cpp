// Download speed: the host's turnaround per block, a 64 KiB image at 115200 baud against the
// protocol's minimum, and what the 10 ms timer costs while the window is idle.
//
// The window runs with the real serial component, timer, clock and event pump; the virtual
// board runs in its own thread on a pseudo-terminal linked as COM1.
#include "clock.h"
#include "dialogs.h"
#include "eventpump.h"
#include "form1.h"
#include "platform.h"
#include "portmap.h"
#include "ptyboard.h"
#include "qtserialcomponent.h"
#include "tone.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/prctl.h>
#include <thread>
#include <vector>

namespace
{

// Blocks for the tone's length, as the platform's tone does, without a sound device.
class SleepingTone : public Tone
{
public:
    void Beep(int, int durationMs) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(durationMs));
    }
};

class NoDialogs : public Dialogs
{
public:
    QString getOpenFileName(QWidget *, const QString &) override { return {}; }
    void information(QWidget *, const QString &, const QString &text) override
    {
        std::fprintf(stderr, "notice: %s\n", qPrintable(text));
    }
};

const QString successText = QStringLiteral("       下载成功");

QByteArray benchImage(int length)
{
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 131 + 17) & 0xFF);
    return data;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5));
    return v[i];
}

// One window against one board thread.
struct Setup {
    explicit Setup(const PtyBoard::Settings &settings) : board(settings)
    {
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        config = home.path() + QStringLiteral("/vantrel");
        QDir().mkpath(config + QStringLiteral("/ports"));
        if (!board.open())
            qFatal("no pseudo-terminal");
        QFile::link(board.slavePath(), config + QStringLiteral("/ports/com1"));
        board.tracing = true;
        thread = std::thread([this] { board.run(false); });

        ports = std::make_unique<PortMap>(config);
        comm = std::make_unique<QtSerialComponent>(*ports);
        comm->setLockDir(home.path());
        form = std::make_unique<Form1>(platform, *comm, config);
        form->Form_Load();
        form->Check1->setChecked(false); // no automatic reset
        form->Comboxzbtv->setCurrentIndex(form->Comboxzbtv->findText(QStringLiteral("115200")));
    }

    ~Setup()
    {
        form.reset();
        board.stop();
        thread.join();
    }

    // Clicks "单次下载" and runs events until the status line reads success; seconds taken.
    double download(const QByteArray &image)
    {
        form->image.replaceImage(image);
        form->Command1->setEnabled(true);
        const auto start = std::chrono::steady_clock::now();
        form->Command1->click();
        const auto limit = start + std::chrono::seconds(60);
        while (form->Label8->text() != successText && std::chrono::steady_clock::now() < limit)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (form->Label8->text() != successText)
            std::fprintf(stderr, "download did not finish: \"%s\" (board took %lld bytes)\n",
                         qPrintable(form->Label8->text()), (long long)board.received().size());
        return took.count();
    }

    QTemporaryDir home;
    QString config;
    PtyBoard board;
    std::thread thread;
    SleepingTone tone;
    SteadyClock clock;
    QtEventPump pump;
    NoDialogs dialogs;
    Platform platform{tone, clock, pump, dialogs};
    std::unique_ptr<PortMap> ports;
    std::unique_ptr<QtSerialComponent> comm;
    std::unique_ptr<Form1> form;
};

void turnaround()
{
    PtyBoard::Settings settings;
    Setup s(settings);
    const QByteArray image = benchImage(1024 * 1024);
    std::vector<double> us;
    for (int run = 0; run < 3; ++run) {
        s.download(image);
        s.board.stop();
        s.thread.join();
        // From the last byte of each reply C written to the last byte of the next block read.
        const auto &trace = s.board.trace;
        for (size_t i = 0; i + 1 < trace.size(); ++i)
            if (trace[i].what == 'C' && trace[i + 1].what == 'b')
                us.push_back(double(trace[i + 1].ns - trace[i].ns) / 1000.0);
        s.board.trace.clear();
        s.thread = std::thread([&s] { s.board.run(false); });
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
    Setup s(settings);
    const int length = 64 * 1024;
    const QByteArray image = benchImage(length);

    // Every byte both ways at 11520 bytes/s, one tick for the request and one for the
    // length frame, and the click's own 200 ms beep before the first tick can run.
    const int blocks = length / 1024;
    const double hostBytes = 3 + 10 + length;
    const double boardBytes = 5.0 * (2 + blocks);
    const double minimum = (hostBytes + boardBytes) / (baud / 10.0) + 2 * 0.010 + 0.200;

    std::printf("64 KiB at %d baud (minimum %.4f s):\n", baud, minimum);
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const double took = s.download(image);
        best = std::min(best, took);
        std::printf("  run %d: %.4f s, ratio %.4f\n", run + 1, took, took / minimum);
        QThread::msleep(50);
    }
    std::printf("  best ratio %.4f (limit 1.03)\n", best / minimum);
}

void idleCpu()
{
    PtyBoard::Settings settings;
    Setup s(settings);
    constexpr int seconds = 5;
    timespec a{}, b{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    const auto start = std::chrono::steady_clock::now();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const double cpu = double(b.tv_sec - a.tv_sec) + double(b.tv_nsec - a.tv_nsec) / 1e9;
    std::printf("idle window, 10 ms timer running: %.3f s CPU in %.2f s = %.3f %% of a core "
                "(limit 1 %%)\n",
                cpu, wall.count(), 100.0 * cpu / wall.count());
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
    if (all || args.contains(QStringLiteral("idle")))
        idleCpu();
    return 0;
}

// vantrel-cli against a tray of virtual boards (vantrel-vboard --boards, paced at 115200 baud):
// - tray: 64 KiB into 1 board alone, then 8 and 16 at once, in one run: the time of the whole
//   command against one board's, every image exact, the command's CPU against one core;
// - faulty: 8 boards, one silent after block 10 or pulled out at 50 %: how long the other
//   seven take against the same tray without a fault;
// - soak SECONDS: the station with boards plugged and pulled every few seconds: every plug
//   flashed once, the report complete, descriptors and memory of the station over time;
// - window: vantrel-station (offscreen) flashing 1, 8 and 16 boards as they are found: the time
//   until the report holds every board's row against one board's, and the window's CPU.
#include "settingsfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace
{

double cpuOfChildren()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Bench {
    QTemporaryDir home;
    QString config = home.filePath("vantrel");
    QString image = home.filePath("fw.bin");

    Bench()
    {
        QByteArray data(64 * 1024, Qt::Uninitialized);
        QRandomGenerator gen(7);
        for (char &c : data)
            c = char(gen.generate());
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            qFatal("cannot write the image");
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    }

    // The boards, linked as COM1..COMn; returns once every link is there.
    std::unique_ptr<QProcess> tray(int boards, const QStringList &extra = {})
    {
        QDir(config + "/ports").removeRecursively();
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(VBOARD_PATH,
                 QStringList{"--com", "1", "--boards", QString::number(boards), "--baud", "115200",
                             "--expect", image, "--config", config} +
                     extra);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            int linked = 0;
            for (int n = 1; n <= boards; ++n)
                linked += QFileInfo(config + QStringLiteral("/ports/com%1").arg(n)).isSymLink();
            if (linked == boards)
                return p;
            QThread::msleep(10);
        }
        qFatal("the tray did not come up");
    }

    // Ends the tray: how many boards took the image exactly.
    static int matches(QProcess &tray)
    {
        tray.terminate();
        tray.waitForFinished(5000);
        const QByteArray out = tray.readAllStandardOutput(); // "MATCH", or "COMk: MATCH"
        return int(out.count("MATCH\n") - out.count("MISMATCH\n"));
    }

    struct Run {
        int exit = -1;
        double seconds = 0, cpu = 0;
        QList<QJsonObject> ends; // each board's end object
    };

    Run flash(int boards)
    {
        Run r;
        const QStringList args{
            "flash",  image,    "--port", QStringLiteral("COM1-COM%1").arg(boards),
            "--json", "--baud", "115200", "--no-auto-reset"};
        const double cpu0 = cpuOfChildren();
        QElapsedTimer t;
        t.start();
        QProcess p;
        p.start(CLI_PATH, boards == 1 ? QStringList{"flash", image, "--port", "COM1", "--json",
                                                    "--baud", "115200", "--no-auto-reset"}
                                      : args);
        p.waitForFinished(300000);
        r.seconds = double(t.nsecsElapsed()) / 1e9;
        r.cpu = cpuOfChildren() - cpu0;
        r.exit = p.exitCode();
        for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o["event"] == "end")
                r.ends << o;
        }
        return r;
    }
};

void trayFigures(Bench &b)
{
    std::printf("== tray: 64 KiB at 115200 baud into each board, 3 runs each\n");
    std::vector<double> one, eight;
    for (int round = 0; round < 3; ++round) {
        for (int boards : {1, 8}) {
            auto tray = b.tray(boards);
            const Bench::Run r = b.flash(boards);
            const int ok = Bench::matches(*tray);
            (boards == 1 ? one : eight).push_back(r.seconds);
            std::printf("  %2d board(s): %.3f s, exit %d, %d exact image(s), CPU %.1f %% of a "
                        "core\n",
                        boards, r.seconds, r.exit, ok, 100 * r.cpu / r.seconds);
        }
    }
    std::printf("  median: 1 board %.3f s, 8 boards %.3f s: ratio %.4f (limit 1.05)\n", median(one),
                median(eight), median(eight) / median(one));

    auto tray = b.tray(16);
    const Bench::Run r = b.flash(16);
    const int ok = Bench::matches(*tray);
    std::printf("  16 boards: %.3f s, exit %d, %d exact images, vantrel-cli CPU %.3f s = %.1f %% "
                "of one core (limit 50 %%)\n",
                r.seconds, r.exit, ok, r.cpu, 100 * r.cpu / r.seconds);
}

void faultyFigures(Bench &b)
{
    std::printf("== faulty: 8 boards, COM3 faulty; the seven others' longest run\n");
    const auto slowestGood = [](const Bench::Run &r) {
        double worst = 0;
        for (const QJsonObject &e : r.ends)
            if (e["port"] != "COM3")
                worst = std::max(worst, e["elapsed_ms"].toDouble() / 1000);
        return worst;
    };
    for (const QString &fault :
         {QString(), QStringLiteral("silent-after=10"), QStringLiteral("vanish-after=32")}) {
        auto tray =
            b.tray(8, fault.isEmpty() ? QStringList() : QStringList{"--fault-on", "3=" + fault});
        const Bench::Run r = b.flash(8);
        const int ok = Bench::matches(*tray);
        int com3 = -1;
        for (const QJsonObject &e : r.ends)
            if (e["port"] == "COM3")
                com3 = e["exit_code"].toInt();
        std::printf("  %-16s exit %2d, COM3 exit %d, exact images %d, the others' longest "
                    "%.3f s\n",
                    fault.isEmpty() ? "no fault" : qPrintable(fault), r.exit, com3, ok,
                    slowestGood(r));
    }
}

long rssKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void soakFigures(Bench &b, int seconds)
{
    std::printf("== soak: the station for %d s, 4 boards plugged, flashed, pulled and plugged "
                "again\n",
                seconds);
    auto tray =
        b.tray(4, {"--stagger", "700", "--unplug-when-done", "300", "--replug-after", "1500"});
    const QString report = b.home.filePath("report.csv");
    QProcess station;
    station.start(CLI_PATH, {"station", b.image, "--all", "--quiet", "--baud", "115200",
                             "--no-auto-reset", "--report", report});
    station.waitForStarted();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < qint64(seconds) * 1000) {
        QThread::msleep(std::min<qint64>(qint64(seconds) * 100, 60000));
        const int fds = int(QDir(QStringLiteral("/proc/%1/fd").arg(station.processId()))
                                .entryList(QDir::NoDotAndDotDot | QDir::System)
                                .size());
        std::printf("  %4lld s: descriptors %d, RSS %ld kB\n", t.elapsed() / 1000, fds,
                    rssKb(station.processId()));
        std::fflush(stdout);
    }
    ::kill(pid_t(station.processId()), SIGINT);
    station.waitForFinished(10000);
    tray->terminate();
    tray->waitForFinished(5000);
    const QByteArray boardLog = tray->readAllStandardOutput();
    QFile f(report);
    f.open(QIODevice::ReadOnly);
    const QList<QByteArray> rows = f.readAll().trimmed().split('\n').mid(1);
    const int passed = int(std::count_if(
        rows.begin(), rows.end(), [](const QByteArray &r) { return r.contains(",success,0,"); }));
    for (const QByteArray &row : rows)
        if (!row.contains(",success,0,"))
            std::printf("  not flashed: %s\n", row.trimmed().constData());
    std::printf("  plugs %lld, downloads the boards took whole %lld (MATCH %lld), report rows "
                "%lld (success %d), station exit %d\n",
                boardLog.count(": plugged"), boardLog.count(": received"),
                boardLog.count(": MATCH"), rows.size(), passed, station.exitCode());
}

// The CPU time a process has used so far, from /proc/PID/stat (user and system).
double cpuOfProcess(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // The fields after the command's name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

qsizetype reportRows(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().count("\r\n") - 1; // the header
}

struct WindowRun {
    double seconds = 0, cpu = 0;
    double flashingShare = 0; // of a core, from the first second on
    qsizetype rows = 0;
    int exact = 0;
};

// The window, given the image and every port, until the report holds a row for each board.
WindowRun windowRun(Bench &b, int boards)
{
    auto tray = b.tray(boards);
    const QString report = b.home.filePath(QStringLiteral("window%1.csv").arg(boards));
    QFile::remove(report);
    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    window.setProcessEnvironment(env);
    window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer t;
    t.start();
    window.start(STATION_PATH, {b.image, "--all", "--report", report});
    window.waitForStarted();
    WindowRun r;
    // The window's start-up (Qt, fonts, the first layout) is over within a second: the CPU of
    // the flashing is counted from there.
    double cpuAtOne = -1, secondsAtOne = 0;
    while (t.elapsed() < 120000 && (r.rows = reportRows(report)) < boards) {
        QThread::msleep(5);
        if (cpuAtOne < 0 && t.elapsed() >= 1000) {
            secondsAtOne = double(t.nsecsElapsed()) / 1e9;
            cpuAtOne = cpuOfProcess(window.processId());
        }
    }
    r.seconds = double(t.nsecsElapsed()) / 1e9;
    r.cpu = cpuOfProcess(window.processId());
    r.flashingShare = (r.cpu - cpuAtOne) / (r.seconds - secondsAtOne);
    window.terminate();
    if (!window.waitForFinished(10000))
        window.kill();
    r.exact = Bench::matches(*tray);
    return r;
}

void windowFigures(Bench &b)
{
    std::printf("== window: vantrel-station, 64 KiB at 115200 baud into each board as it is "
                "found, 3 runs each\n");
    // The rates come from the settings file, as the main window stores them.
    StoredSettings settings = StoredSettings::defaults();
    settings.downloadRateIndex = int(downloadRates().indexOf(QStringLiteral("115200")));
    settings.autoReset = false;
    QDir().mkpath(b.config);
    writeSettingsFile(b.config + "/VANTREL_SET.SB", settings);
    std::map<int, std::vector<double>> seconds, cpu, flashing;
    for (int round = 0; round < 3; ++round)
        for (int boards : {1, 8, 16}) {
            const WindowRun r = windowRun(b, boards);
            seconds[boards].push_back(r.seconds);
            cpu[boards].push_back(100 * r.cpu / r.seconds);
            flashing[boards].push_back(100 * r.flashingShare);
            std::printf("  %2d board(s): %.3f s to the last row, %lld rows, %d exact, window CPU "
                        "%.1f %% of a core with its start, %.1f %% while flashing\n",
                        boards, r.seconds, qint64(r.rows), r.exact, 100 * r.cpu / r.seconds,
                        100 * r.flashingShare);
        }
    for (int boards : {8, 16})
        std::printf("  median: %d boards %.3f s against 1 board %.3f s: ratio %.4f; window CPU "
                    "%.1f %% of a core with its start, %.1f %% while flashing (limit 10 %%)\n",
                    boards, median(seconds[boards]), median(seconds[1]),
                    median(seconds[boards]) / median(seconds[1]), median(cpu[boards]),
                    median(flashing[boards]));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList what = app.arguments().mid(1);
    if (what.isEmpty())
        what = {"tray", "faulty", "window"};
    Bench b;
    if (what.contains("tray"))
        trayFigures(b);
    if (what.contains("faulty"))
        faultyFigures(b);
    if (what.contains("window"))
        windowFigures(b);
    if (const int i = what.indexOf("soak"); i >= 0)
        soakFigures(b, what.value(i + 1, "600").toInt());
    return 0;
}

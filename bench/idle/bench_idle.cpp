// The idle window's cost: the program is started as an operator starts it (on a fresh config
// folder, offscreen unless QT_QPA_PLATFORM says otherwise), left alone after its start-up, and
// the CPU time of all its threads over the next N seconds is printed as a share of one core.
// The system counts that time in 10 ms ticks: over 60 s one tick is 0.017 % of a core.
//
//   vantrel-bench-idle [seconds [program]]
//
// seconds: 5 by default, 60 for the figure the window is held to; program: the one built with
// this benchmark by default, another build to compare.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace
{

// CPU time so far of the process `pid`, threads that have ended included, in nanoseconds
// (user and system time from /proc, counted in clock ticks of 10 ms).
qint64 cpuNs(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    // The fields after the command's closing parenthesis; utime and stime are the 14th and 15th.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
    return ticks * 1'000'000'000 / sysconf(_SC_CLK_TCK);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    const QString path = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(VANTREL_PATH);

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(path, {});
    if (!program.waitForStarted()) {
        std::fprintf(stderr, "vantrel-bench-idle: cannot start %s\n", qPrintable(path));
        return 1;
    }
    // Start-up writes the settings file; a second more lets the window settle.
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(home.path() + QStringLiteral("/vantrel/VANTREL_SET.SB")) &&
           waited.elapsed() < 20000)
        QThread::msleep(20);
    QThread::sleep(1);

    const qint64 pid = program.processId();
    const qint64 before = cpuNs(pid);
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(seconds);
    const qint64 used = cpuNs(pid) - before;
    const double elapsed = double(wall.nsecsElapsed());
    ::kill(pid_t(pid), SIGTERM);
    program.waitForFinished(5000);

    std::printf("idle window over %.1f s: %.3f ms CPU = %.4f %% of a core (limit 0.1 %%)\n",
                elapsed / 1e9, double(used) / 1e6, 100.0 * double(used) / elapsed);
    return 0;
}

#include "boards.h"

#include "cliargs.h"
#include "configdir.h"
#include "endings.h"
#include "portmap.h"
#include "portname.h"
#include "portprobe.h"
#include "quitsignals.h"
#include "usage.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QThread>

#include <csignal>

// A run's events, carried from its thread to the BoardRuns' thread in the order they happen.
// Each carries copies only: the run and this object are gone by the time the last one is read.
class QueuedEvents : public RunEvents
{
public:
    QueuedEvents(BoardRuns &to, int index) : m_to(to), m_index(index) {}
    void start(const RunStart &s) override
    {
        post([to = &m_to, i = m_index, s] { to->onStart(i, s); });
    }
    void state(int step, qint64 ms) override
    {
        post([to = &m_to, i = m_index, step, ms] { to->onState(i, step, ms); });
    }
    void progress(qint32 block, qint32 blocks, qint64 sent, qint64 ms) override
    {
        post([to = &m_to, i = m_index, block, blocks, sent, ms] {
            to->onProgress(i, block, blocks, sent, ms);
        });
    }
    void traceCut(const QString &why) override
    {
        post([to = &m_to, i = m_index, why] { to->onTraceCut(i, why); });
    }
    void end(const QString &port, Ending ending, qint64 ms, const QString &message) override
    {
        post([to = &m_to, i = m_index, port, ending, ms, message] {
            to->onEnd(i, port, ending, ms, message);
        });
    }

private:
    template <typename F> void post(F &&f)
    {
        QMetaObject::invokeMethod(&m_to, std::forward<F>(f), Qt::QueuedConnection);
    }
    BoardRuns &m_to;
    const int m_index;
};

BoardRuns::BoardRuns(const CliArgs &args, const FlashPlan &plan, Reporter::Style style,
                     const QElapsedTimer &clock, QObject *parent)
    : QObject(parent), m_args(args), m_plan(plan), m_style(style), m_clock(clock)
{
    // On a terminal the lines are redrawn together, at most ten times a second.
    m_drawTimer.setInterval(100);
    connect(&m_drawTimer, &QTimer::timeout, this, [this] {
        if (m_dirty)
            redraw();
    });
    if (m_style == Reporter::Style::Terminal)
        m_drawTimer.start();
}

BoardRuns::~BoardRuns()
{
    m_stop.store(SIGTERM);
    for (const auto &[index, thread] : m_threads) {
        thread->wait();
        delete thread;
    }
}

int BoardRuns::launch(const PortTarget &target, const QString &device, const QString &tracePath)
{
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (it->second.port == target.name && !it->second.running()) {
            m_reporters.erase(it->first);
            it = m_rows.erase(it);
        } else {
            ++it;
        }
    }
    const int index = m_next++;
    BoardRow row;
    row.port = target.name;
    row.device = device;
    row.bytes = m_plan.image.span;
    row.beganMs = m_clock.elapsed();
    m_rows[index] = row;
    // Every event of a board goes through its own reporter: JSON and plain lines carry its port.
    m_reporters[index] =
        (m_style == Reporter::Style::Terminal ? nullptr : std::make_unique<Reporter>(m_style));
    QThread *thread = QThread::create([this, index, target, tracePath] {
        QueuedEvents events(*this, index);
        QString device;
        {
            BoardRun run(m_args, m_plan, target, events, m_clock, m_stop, tracePath);
            run.run(); // its end reached this object through `events`
            device = run.device();
        }
        QMetaObject::invokeMethod(
            this, [this, index, device] { onThreadDone(index, device); }, Qt::QueuedConnection);
    });
    thread->setObjectName(target.name);
    m_threads[index] = thread;
    thread->start();
    m_dirty = true;
    return index;
}

void BoardRuns::onStart(int index, const RunStart &s)
{
    m_rows[index].device = s.device;
    if (auto &r = m_reporters[index])
        r->start(s);
    m_dirty = true;
}

void BoardRuns::onState(int index, int step, qint64 ms)
{
    BoardRow &row = m_rows[index];
    row.step = step;
    if (step == 3 && row.blocksStartMs < 0)
        row.blocksStartMs = ms;
    if (auto &r = m_reporters[index])
        r->state(step, ms);
    m_dirty = true;
}

void BoardRuns::onProgress(int index, qint32 block, qint32 blocks, qint64 sent, qint64 ms)
{
    BoardRow &row = m_rows[index];
    row.bytesSent = sent;
    if (row.blocksStartMs < 0)
        row.blocksStartMs = ms;
    if (auto &r = m_reporters[index])
        r->progress(block, blocks, sent, ms);
    m_dirty = true;
}

void BoardRuns::onTraceCut(int index, const QString &why)
{
    if (auto &r = m_reporters[index])
        r->traceCut(why);
}

void BoardRuns::onEnd(int index, const QString &port, Ending ending, qint64 ms,
                      const QString &message)
{
    BoardRow &row = m_rows[index];
    row.ending = ending;
    row.endedMs = ms;
    row.message = message;
    if (auto &r = m_reporters[index])
        r->end(port, ending, ms, message);
    m_dirty = true;
}

void BoardRuns::onThreadDone(int index, const QString &device)
{
    BoardRow &row = m_rows[index];
    if (row.device.isEmpty())
        row.device = device;
    QThread *thread = m_threads[index];
    m_threads.erase(index);
    thread->wait();
    delete thread;
    if (m_style == Reporter::Style::Terminal)
        redraw();
    emit finished(index);
}

void BoardRuns::redraw()
{
    m_dirty = false;
    QByteArray text;
    if (m_linesDrawn > 0)
        text += "\033[" + QByteArray::number(m_linesDrawn) + "A"; // back to the first line
    const qint64 now = m_clock.elapsed();
    // One line per port, its latest run (a station flashes a port again and again).
    QStringList ports;
    QHash<QString, int> latest;
    for (const auto &[index, row] : m_rows) {
        if (!latest.contains(row.port))
            ports << row.port;
        latest[row.port] = index;
    }
    for (const QString &port : std::as_const(ports)) {
        const BoardRow &row = m_rows[latest[port]];
        const qint64 to = row.running() ? now : row.endedMs;
        const QString what = !row.running()  ? infoOf(row.ending).token
                             : row.step == 0 ? QStringLiteral("opening")
                                             : Reporter::stepName(row.step);
        const QString line =
            QStringLiteral("%1 %2 %3 %4 kB/s  %5")
                .arg(Reporter::shownName(row.port), -8)
                .arg(Reporter::shownName(row.device), -14)
                .arg(Reporter::percentBar(row.bytesSent, row.bytes, 20))
                .arg(Reporter::rateKBps(row.bytesSent, row.blocksStartMs, to), 6, 'f', 1)
                .arg(what);
        text += '\r' + line.toUtf8() + "\033[K\n";
    }
    m_linesDrawn = int(ports.size());
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

void BoardRuns::printTable() const
{
    if (m_style == Reporter::Style::Json || m_style == Reporter::Style::Quiet)
        return;
    int portWidth = 4, deviceWidth = 6;
    for (const auto &[index, row] : m_rows) {
        portWidth = qMax(portWidth, int(Reporter::shownName(row.port).size()));
        deviceWidth = qMax(deviceWidth, int(Reporter::shownName(row.device).size()));
    }
    QString table = QStringLiteral("\n%1  %2  %3  %4  %5\n")
                        .arg(QStringLiteral("PORT"), -portWidth)
                        .arg(QStringLiteral("DEVICE"), -deviceWidth)
                        .arg(QStringLiteral("OUTCOME"), -17)
                        .arg(QStringLiteral("SECONDS"), 8)
                        .arg(QStringLiteral("EXIT"), 4);
    for (const auto &[index, row] : m_rows)
        table +=
            QStringLiteral("%1  %2  %3  %4  %5\n")
                .arg(Reporter::shownName(row.port), -portWidth)
                .arg(row.device.isEmpty() ? QStringLiteral("-") : Reporter::shownName(row.device),
                     -deviceWidth)
                .arg(infoOf(row.ending).token, -17)
                .arg(row.seconds(), 8, 'f', 3)
                .arg(exitCodeOf(row.ending), 4);
    std::fputs(table.toUtf8().constData(), stdout);
    std::fflush(stdout);
    // On a terminal the lines above were redrawn in place: the reasons come after them.
    if (m_style == Reporter::Style::Terminal)
        for (const auto &[index, row] : m_rows)
            if (row.ending != Ending::Success)
                Usage::printError(Reporter::shownName(row.port) + QStringLiteral(": ") +
                                  Reporter::shownName(row.message));
}

void BoardRuns::printSummary(Reporter::Style style, int passed, int failed, qint64 elapsedMs,
                             const std::function<void(JsonLine &)> &more)
{
    if (style == Reporter::Style::Json) {
        JsonLine line;
        line.add("event", "summary").add("passed", passed).add("failed", failed);
        line.add("elapsed_ms", elapsedMs);
        if (more)
            more(line);
        std::printf("%s\n", line.finish().constData());
    } else if (style != Reporter::Style::Quiet) {
        std::printf("%d passed, %d failed in %.1f s\n", passed, failed, double(elapsedMs) / 1000.0);
    }
    std::fflush(stdout);
}

QList<PortTarget> allMappedPorts()
{
    const PortMap map(vantrelConfigDir());
    QList<PortTarget> targets;
    QStringList devices;
    for (int n = firstCom; n <= lastListedCom; ++n) {
        const QString device = map.deviceFor(n);
        // A device reached by two links is flashed once, under its first COM number.
        if (device.isEmpty() || devices.contains(device) ||
            hasNoHardware(QFileInfo(device).fileName()))
            continue;
        devices << device;
        targets << PortTarget{comName(n), n, QString()};
    }
    return targets;
}

QString givenTwice(const QString &command, const QList<PortTarget> &targets)
{
    const PortMap map(vantrelConfigDir());
    QHash<QString, QString> named; // device -> the first name given for it
    for (const PortTarget &t : targets) {
        const QString device =
            t.com > 0 ? map.deviceFor(t.com) : QFileInfo(t.path).canonicalFilePath();
        if (device.isEmpty())
            continue;
        if (const auto first = named.constFind(device); first != named.cend())
            return QStringLiteral("%1: %2 and %3 are one device (%4): a port is given twice")
                .arg(command, Reporter::shownName(*first), Reporter::shownName(t.name),
                     Reporter::shownName(device));
        named.insert(device, t.name);
    }
    return QString();
}

QString traceSharedByBoards(const QString &command, const CliArgs &args, qsizetype portCount)
{
    if (args.tracePath != QLatin1String("-") || (!args.allPorts && portCount <= 1))
        return QString();
    return QStringLiteral("%1: --trace - takes the trace of one board; with several, give a file "
                          "name (each board's trace goes to FILE.PORT)")
        .arg(command);
}

void reportRefusal(Reporter::Style style, const QList<PortTarget> &targets, const QString &refusal,
                   const QElapsedTimer &sinceStart, const std::function<void(JsonLine &)> &more)
{
    // The same image for every board: each is told, and none is flashed.
    for (const PortTarget &t : targets)
        Reporter(style, stdout, nullptr)
            .end(t.name, Ending::ImageRefused, sinceStart.elapsed(), refusal);
    Usage::printError(refusal);
    BoardRuns::printSummary(style, 0, int(targets.size()), sinceStart.elapsed(), more);
}

QString noPortsMessage()
{
    const PortMap map(vantrelConfigDir());
    if (const QString why = map.whyNoDevice(firstCom); map.usesLinks())
        return QStringLiteral("--all: no port stands for a device: %1")
            .arg(why.isEmpty() ? QStringLiteral("the ports folder %1 has no links to a serial "
                                                "device")
                                     .arg(map.linksDir())
                               : why);
    return QStringLiteral("--all: no port stands for a device; `vantrel-cli ports` lists them");
}

QString tracePathFor(const QString &trace, const QString &port)
{
    if (trace.isEmpty())
        return trace;
    QString suffix = port;
    suffix.replace(u'/', u'_');
    return trace + u'.' + suffix;
}

int runBoards(const CliArgs &args, const QElapsedTimer &sinceStart)
{
    QList<PortTarget> targets;
    if (args.allPorts)
        targets = allMappedPorts();
    else
        for (const QString &port : args.ports)
            targets << resolvePort(port);
    for (const QString &wrong :
         {givenTwice(QStringLiteral("flash"), targets),
          traceSharedByBoards(QStringLiteral("flash"), args, targets.size())})
        if (!wrong.isEmpty()) {
            Usage::printError(wrong);
            return exitCodeOf(Ending::Usage);
        }
    const Reporter::Style style = Reporter::styleFor(args.json, args.quiet);
    if (targets.isEmpty()) {
        Usage::printError(noPortsMessage());
        BoardRuns::printSummary(style, 0, 0, sinceStart.elapsed());
        return exitCodeOf(Ending::PortUnavailable);
    }

    QString refusal;
    const std::optional<FlashPlan> plan = makePlan(args, &refusal);
    if (!plan) {
        reportRefusal(style, targets, refusal, sinceStart);
        return exitCodeOf(Ending::SomeBoardsFailed);
    }

    BoardRuns runs(args, *plan, style, sinceStart);
    int signalled = 0;
    QuitSignals stopSignals;
    QObject::connect(&stopSignals, &QuitSignals::received, &runs, [&](int number) {
        signalled = number;
        runs.stopAll(number);
    });
    QEventLoop loop;
    QObject::connect(&runs, &BoardRuns::finished, &loop, [&] {
        if (runs.running() == 0)
            loop.quit();
    });
    // A signal that came while the image was read stops every run before its first request.
    if (const int early = QuitSignals::pending()) {
        signalled = early;
        runs.stopAll(early);
    }
    for (const PortTarget &t : targets)
        runs.launch(t, QString(), tracePathFor(args.tracePath, t.name));
    loop.exec();

    int passed = 0;
    for (const auto &[index, row] : runs.rows())
        passed += row.ending == Ending::Success;
    const int failed = int(runs.rows().size()) - passed;
    runs.printTable();
    BoardRuns::printSummary(style, passed, failed, sinceStart.elapsed());
    if (failed == 0)
        return exitCodeOf(Ending::Success);
    return signalled ? QuitSignals::exitCodeFor(signalled) : exitCodeOf(Ending::SomeBoardsFailed);
}

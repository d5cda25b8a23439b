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

BoardLines::BoardLines(const BoardRuns &runs, Reporter::Style style, const QElapsedTimer &clock)
    : m_runs(runs), m_clock(clock)
{
    if (style != Reporter::Style::Terminal)
        return;
    // The lines are redrawn together, at most ten times a second, and at once when a run ends.
    m_drawTimer.setInterval(100);
    connect(&m_drawTimer, &QTimer::timeout, this, [this] {
        if (m_dirty)
            redraw();
    });
    connect(&runs, &BoardRuns::changed, this, [this] { m_dirty = true; });
    connect(&runs, &BoardRuns::finished, this, [this] { redraw(); });
    m_drawTimer.start();
}

void BoardLines::finish()
{
    if (m_drawTimer.isActive() && m_dirty)
        redraw();
    m_drawTimer.stop();
}

BoardRuns::Listeners reportersFor(Reporter::Style style)
{
    // On a terminal the lines tell it all; elsewhere every event of a board goes through its own
    // reporter: JSON and plain lines carry its port.
    if (style == Reporter::Style::Terminal)
        return {};
    return [style](int) { return std::make_unique<Reporter>(style); };
}

void BoardLines::redraw()
{
    m_dirty = false;
    QByteArray text;
    if (m_linesDrawn > 0)
        text += "\033[" + QByteArray::number(m_linesDrawn) + "A"; // back to the first line
    const qint64 now = m_clock.elapsed();
    // One line per port, its latest run (a station flashes a port again and again).
    QStringList ports;
    QHash<QString, int> latest;
    for (const auto &[index, row] : m_runs.rows()) {
        if (!latest.contains(row.port))
            ports << row.port;
        latest[row.port] = index;
    }
    for (const QString &port : std::as_const(ports)) {
        const BoardRow &row = m_runs.rows().at(latest[port]);
        const qint64 to = row.running() ? now : row.endedMs;
        const QString what = !row.running()  ? infoOf(row.ending).token
                             : row.step == 0 ? QStringLiteral("opening")
                                             : stepName(row.step);
        const QString line = QStringLiteral("%1 %2 %3 %4 kB/s  %5")
                                 .arg(shownName(row.port), -8)
                                 .arg(shownName(row.device), -14)
                                 .arg(percentBar(row.bytesSent, row.bytes, 20))
                                 .arg(rateKBps(row.bytesSent, row.blocksStartMs, to), 6, 'f', 1)
                                 .arg(what);
        text += '\r' + line.toUtf8() + "\033[K\n";
    }
    m_linesDrawn = int(ports.size());
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

void printTable(Reporter::Style style, const BoardRuns &runs)
{
    if (style == Reporter::Style::Json || style == Reporter::Style::Quiet)
        return;
    int portWidth = 4, deviceWidth = 6;
    for (const auto &[index, row] : runs.rows()) {
        portWidth = qMax(portWidth, int(shownName(row.port).size()));
        deviceWidth = qMax(deviceWidth, int(shownName(row.device).size()));
    }
    QString table = QStringLiteral("\n%1  %2  %3  %4  %5\n")
                        .arg(QStringLiteral("PORT"), -portWidth)
                        .arg(QStringLiteral("DEVICE"), -deviceWidth)
                        .arg(QStringLiteral("OUTCOME"), -17)
                        .arg(QStringLiteral("SECONDS"), 8)
                        .arg(QStringLiteral("EXIT"), 4);
    for (const auto &[index, row] : runs.rows())
        table += QStringLiteral("%1  %2  %3  %4  %5\n")
                     .arg(shownName(row.port), -portWidth)
                     .arg(row.device.isEmpty() ? QStringLiteral("-") : shownName(row.device),
                          -deviceWidth)
                     .arg(infoOf(row.ending).token, -17)
                     .arg(row.seconds(), 8, 'f', 3)
                     .arg(exitCodeOf(row.ending), 4);
    std::fputs(table.toUtf8().constData(), stdout);
    std::fflush(stdout);
    // On a terminal the lines above were redrawn in place: the reasons come after them.
    if (style == Reporter::Style::Terminal)
        for (const auto &[index, row] : runs.rows())
            if (row.ending != Ending::Success)
                Usage::printError(shownName(row.port) + QStringLiteral(": ") +
                                  shownName(row.message));
}

void printSummary(Reporter::Style style, int passed, int failed, qint64 elapsedMs,
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
    printSummary(style, 0, int(targets.size()), sinceStart.elapsed(), more);
}

QList<PortTarget> givenPorts(const CliArgs &args)
{
    QList<PortTarget> targets;
    for (const QString &port : args.ports)
        targets << resolvePort(port);
    return targets;
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

int runBoards(const CliArgs &args, const QElapsedTimer &sinceStart)
{
    const QList<PortTarget> targets = args.allPorts ? allMappedPorts() : givenPorts(args);
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
        printSummary(style, 0, 0, sinceStart.elapsed());
        return exitCodeOf(Ending::PortUnavailable);
    }

    QString refusal;
    const std::optional<FlashPlan> plan = makePlan(args, &refusal);
    if (!plan) {
        reportRefusal(style, targets, refusal, sinceStart);
        return exitCodeOf(Ending::SomeBoardsFailed);
    }

    BoardRuns runs(*plan, limitsOf(args), sinceStart, reportersFor(style));
    BoardLines lines(runs, style, sinceStart);
    QObject::connect(&runs, &BoardRuns::traceCut, &runs, [&](int index, const QString &why) {
        printTraceCut(runs.rows().at(index).tracePath, why);
    });
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
    lines.finish();
    printTable(style, runs);
    printSummary(style, passed, failed, sinceStart.elapsed());
    if (failed == 0)
        return exitCodeOf(Ending::Success);
    return signalled ? QuitSignals::exitCodeFor(signalled) : exitCodeOf(Ending::SomeBoardsFailed);
}

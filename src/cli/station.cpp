#include "station.h"

#include "boards.h"
#include "cliargs.h"
#include "configdir.h"
#include "endings.h"
#include "portmap.h"
#include "portwatch.h"
#include "quitsignals.h"
#include "stationreport.h"
#include "usage.h"

#include <QEventLoop>
#include <QHash>

#include <cstdio>

namespace
{

// The ports given on the command line, resolved.
QList<PortTarget> targetsOf(const CliArgs &args)
{
    QList<PortTarget> targets;
    for (const QString &port : args.ports)
        targets << resolvePort(port);
    return targets;
}

class Station
{
public:
    Station(const CliArgs &args, const FlashPlan &plan, Reporter::Style style,
            const QElapsedTimer &clock, StationReport &report)
        : args(args), plan(plan), style(style), clock(clock), report(report),
          runs(args, plan, style, clock)
    {
    }

    int run();

private:
    std::unique_ptr<PortWatch> makeWatch() const;
    void announce() const;
    void appeared(const PortPresence &p);
    void gone(const PortPresence &p);
    void ended(int index);
    void launch(const PortPresence &p);
    void say(const char *event, const PortPresence &p);
    void rowLost(const StationRow &row, const QString &why);

    const CliArgs &args;
    const FlashPlan &plan;
    const Reporter::Style style;
    const QElapsedTimer &clock;
    StationReport &report;
    BoardRuns runs;

    bool runningOn(const QString &port) const;

    QHash<int, PortPresence> flashed;     // the runs going on: row -> the board it flashes
    QHash<QString, PortPresence> waiting; // port -> a board that came while its run went on
    int passed = 0, failed = 0, interrupted = 0;
    int rowsLost = 0; // report rows that could not be written
    bool stopping = false;
    QEventLoop loop;
};

void Station::say(const char *event, const PortPresence &p)
{
    if (style == Reporter::Style::Json) {
        JsonLine line;
        line.add("event", event).add("port", p.port).add("device", p.device);
        line.add("elapsed_ms", clock.elapsed());
        std::printf("%s\n", line.finish().constData());
    } else if (style == Reporter::Style::Plain) {
        std::printf("%s: %s %s\n", Reporter::shownName(p.port).toUtf8().constData(), event,
                    Reporter::shownName(p.device).toUtf8().constData());
    }
    std::fflush(stdout);
}

// A row the report could not take: told on standard error and in the JSON Lines; the station
// goes on, and its exit status tells the loss at the end.
void Station::rowLost(const StationRow &row, const QString &why)
{
    ++rowsLost;
    const QString message =
        infoOf(Ending::ReportRowLost)
            .message.arg(Reporter::shownName(report.path()), Reporter::shownName(row.port),
                         row.outcome, QString::number(row.exitCode), why);
    if (style == Reporter::Style::Json) {
        JsonLine line;
        line.add("event", "report_row_lost").add("port", row.port).add("report", report.path());
        line.add("outcome", row.outcome).add("exit_code", row.exitCode).add("message", message);
        line.add("elapsed_ms", clock.elapsed());
        std::printf("%s\n", line.finish().constData());
        std::fflush(stdout);
    }
    Usage::printError(message);
}

bool Station::runningOn(const QString &port) const
{
    for (const PortPresence &p : flashed)
        if (p.port == port)
            return true;
    return false;
}

void Station::appeared(const PortPresence &p)
{
    if (stopping)
        return;
    say("plugged", p);
    if (runningOn(p.port))
        waiting.insert(p.port, p); // its run ends first (the old board went away under it)
    else
        launch(p);
}

void Station::gone(const PortPresence &p)
{
    if (stopping)
        return;
    waiting.remove(p.port);
    say("unplugged", p);
}

void Station::launch(const PortPresence &p)
{
    // A COM number goes through the port map as the window's does; a device by its path.
    PortTarget target = resolvePort(p.port);
    // Numbered by the system's list, a COM number may stand for another device by now: the
    // board is flashed on the device it appeared on.
    if (target.com > 0 && !p.device.isEmpty() && !PortMap(vantrelConfigDir()).usesLinks())
        target = PortTarget{target.name, 0, p.device};
    if (target.com == 0)
        target.path = p.device.isEmpty() ? target.path : p.device;
    // Each run its own trace: FILE.PORT.MS, the milliseconds since the station started.
    const QString trace = tracePathFor(args.tracePath, p.port);
    flashed.insert(
        runs.launch(target, p.device,
                    trace.isEmpty() ? trace : trace + u'.' + QString::number(clock.elapsed())),
        p);
}

void Station::ended(int index)
{
    const BoardRow row = runs.rows().at(index); // a copy: a new run may forget it
    const PortPresence p = flashed.take(index);
    // A run that the closing Ctrl-C cut short neither passed nor failed.
    (row.ending == Ending::Success ? passed : row.interrupted() ? interrupted : failed) += 1;
    if (report.isOpen()) {
        StationRow r;
        r.port = row.port;
        r.device = row.device.isEmpty() ? p.device : row.device;
        r.byId = p.byId;
        r.usbSerial = p.usbSerial;
        r.imageSha256 = plan.sha256;
        r.bytes = plan.image.span;
        // The closing signal's cut, whichever signal it was, is an interruption.
        r.outcome =
            row.interrupted() ? infoOf(Ending::Interrupted).token : infoOf(row.ending).token;
        r.exitCode = exitCodeOf(row.ending);
        r.seconds = row.seconds();
        QString why;
        if (!report.append(r, &why))
            rowLost(r, why);
    }
    if (stopping) {
        if (runs.running() == 0)
            loop.quit();
        return;
    }
    if (waiting.contains(p.port))
        launch(waiting.take(p.port));
}

std::unique_ptr<PortWatch> Station::makeWatch() const
{
    PortWatch::Options options;
    options.configDir = vantrelConfigDir();
    if (args.allPorts)
        return std::make_unique<PortWatch>(options);
    return std::make_unique<PortWatch>(targetsOf(args), options);
}

void Station::announce() const
{
    if (style == Reporter::Style::Quiet)
        return;
    if (style != Reporter::Style::Json)
        Usage::printError(QStringLiteral("station: %1 (%2 bytes, sha256 %3); Ctrl-C ends it")
                              .arg(Reporter::shownName(plan.imagePath),
                                   QString::number(plan.image.span), plan.sha256.left(16)));
    QStringList names;
    for (const PortTarget &t : args.allPorts ? allMappedPorts() : targetsOf(args))
        names << Reporter::shownName(t.name);
    const QString now = names.isEmpty() ? QStringLiteral("none yet") : names.join(u", ");
    Usage::printError(args.allPorts
                          ? QStringLiteral("station: watching every port (now %1)").arg(now)
                          : QStringLiteral("station: watching %1").arg(now));
    const PortMap map(vantrelConfigDir());
    for (const PortTarget &t : args.allPorts ? QList<PortTarget>() : targetsOf(args))
        if (const QString why = t.com > 0 ? map.whyNoDevice(t.com) : QString(); !why.isEmpty())
            Usage::printError(QStringLiteral("station: %1 stands for no device yet: %2")
                                  .arg(Reporter::shownName(t.name), why));
}

int Station::run()
{
    std::unique_ptr<PortWatch> watch = makeWatch();
    QObject::connect(watch.get(), &PortWatch::appeared, &loop,
                     [this](const PortPresence &p) { appeared(p); });
    QObject::connect(watch.get(), &PortWatch::gone, &loop,
                     [this](const PortPresence &p) { gone(p); });
    QObject::connect(&runs, &BoardRuns::finished, &loop, [this](int index) { ended(index); });

    QuitSignals stopSignals;
    QObject::connect(&stopSignals, &QuitSignals::received, &loop, [&](int number) {
        stopping = true;
        watch.reset(); // no new boards from here on
        runs.stopAll(number);
        if (runs.running() == 0)
            loop.quit();
    });

    announce();
    watch->start(); // the boards present now appear at once
    loop.exec();

    const qint64 elapsed = clock.elapsed();
    // Boards per hour count the boards that passed, nothing else.
    const double perHour = elapsed > 0 ? passed * 3'600'000.0 / double(elapsed) : 0;
    BoardRuns::printSummary(style, passed, failed, elapsed, [&](JsonLine &line) {
        line.add("interrupted", interrupted).add("boards_per_hour", qint64(perHour + 0.5));
        line.add("report_rows_lost", rowsLost);
    });
    if (style == Reporter::Style::Terminal || style == Reporter::Style::Plain)
        std::printf("%d interrupted, %.0f boards per hour\n", interrupted, perHour);
    std::fflush(stdout);
    if (rowsLost > 0) // the record of the boards is incomplete: that comes first
        return exitCodeOf(Ending::ReportRowLost);
    // A run the closing signal cut short is no failure.
    return failed == 0 ? exitCodeOf(Ending::Success) : exitCodeOf(Ending::SomeBoardsFailed);
}

} // namespace

int runStation(const CliArgs &args, const QElapsedTimer &sinceStart)
{
    const QList<PortTarget> given = targetsOf(args);
    for (const QString &wrong :
         {givenTwice(QStringLiteral("station"), given),
          traceSharedByBoards(QStringLiteral("station"), args, given.isEmpty() ? 2 : given.size())})
        if (!wrong.isEmpty()) {
            Usage::printError(wrong);
            return exitCodeOf(Ending::Usage);
        }
    const Reporter::Style style = Reporter::styleFor(args.json, args.quiet);
    QString refusal;
    const std::optional<FlashPlan> plan = makePlan(args, &refusal);
    if (!plan) {
        // As flash on several ports: an end for each port watched now, then the summary.
        reportRefusal(style, args.allPorts ? allMappedPorts() : given, refusal, sinceStart,
                      [](JsonLine &line) { line.add("interrupted", 0).add("boards_per_hour", 0); });
        return exitCodeOf(Ending::ImageRefused);
    }
    StationReport report;
    if (!args.reportPath.isEmpty()) {
        QString why;
        if (!report.open(args.reportPath, &why)) {
            Usage::printError(QStringLiteral("--report: ") + Reporter::shownName(why));
            return exitCodeOf(Ending::Usage);
        }
    }
    Station station(args, *plan, style, sinceStart, report);
    return station.run();
}

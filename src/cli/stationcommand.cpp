#include "stationcommand.h"

#include "boards.h"
#include "cliargs.h"
#include "configdir.h"
#include "endings.h"
#include "portmap.h"
#include "quitsignals.h"
#include "station.h"
#include "stationreport.h"
#include "stationscreen.h"
#include "usage.h"

#include <QEventLoop>
#include <QHash>

#include <cstdio>

#include <unistd.h>

namespace
{

class StationCommand
{
public:
    StationCommand(const CliArgs &args, const FlashPlan &plan, Reporter::Style style,
                   const QElapsedTimer &clock, StationReport *report)
        : args(args), plan(plan), style(style), clock(clock),
          station(plan, optionsOf(args), clock, report, reportersFor(style)),
          screen(station, style == Reporter::Style::Terminal)
    {
    }

    int run();

private:
    static StationOptions optionsOf(const CliArgs &args);
    void announce() const;
    void say(const char *event, const PortPresence &p);
    void rowLost(const StationRow &row, const QString &why);
    void erredBelow();
    void summarize();

    const CliArgs &args;
    const FlashPlan &plan;
    const Reporter::Style style;
    const QElapsedTimer &clock;
    Station station;
    StationScreen screen;
};

StationOptions StationCommand::optionsOf(const CliArgs &args)
{
    StationOptions options;
    options.allPorts = args.allPorts;
    if (!args.allPorts)
        options.ports = givenPorts(args);
    options.limits = limitsOf(args);
    options.tracePath = args.tracePath;
    options.watch.configDir = vantrelConfigDir();
    return options;
}

void StationCommand::say(const char *event, const PortPresence &p)
{
    if (style == Reporter::Style::Json) {
        JsonLine line;
        line.add("event", event).add("port", p.port).add("device", p.device);
        line.add("elapsed_ms", clock.elapsed());
        std::printf("%s\n", line.finish().constData());
    } else if (style == Reporter::Style::Plain) {
        std::printf("%s: %s %s\n", shownName(p.port).toUtf8().constData(), event,
                    shownName(p.device).toUtf8().constData());
    }
    std::fflush(stdout);
}

// A row the report could not take: told on standard error and in the JSON Lines; the station
// goes on, and its exit status tells the loss at the end.
void StationCommand::rowLost(const StationRow &row, const QString &why)
{
    const QString message = infoOf(Ending::ReportRowLost)
                                .message.arg(shownName(args.reportPath), shownName(row.port),
                                             row.outcome, QString::number(row.exitCode), why);
    if (style == Reporter::Style::Json) {
        JsonLine line;
        line.add("event", "report_row_lost").add("port", row.port).add("report", args.reportPath);
        line.add("outcome", row.outcome).add("exit_code", row.exitCode).add("message", message);
        line.add("elapsed_ms", clock.elapsed());
        std::printf("%s\n", line.finish().constData());
        std::fflush(stdout);
    }
    Usage::printError(message);
    erredBelow();
}

// An error went to standard error: on the same terminal, the station's lines go on below it.
void StationCommand::erredBelow()
{
    if (style == Reporter::Style::Terminal && ::isatty(STDERR_FILENO))
        screen.setAside();
}

void StationCommand::announce() const
{
    if (style == Reporter::Style::Quiet)
        return;
    if (style != Reporter::Style::Json)
        Usage::printError(QStringLiteral("station: %1 (%2 bytes, sha256 %3); Ctrl-C ends it")
                              .arg(shownName(plan.imagePath), QString::number(plan.image.span),
                                   plan.sha256.left(16)));
    QStringList names;
    for (const PortTarget &t : args.allPorts ? allMappedPorts() : givenPorts(args))
        names << shownName(t.name);
    const QString now = names.isEmpty() ? QStringLiteral("none yet") : names.join(u", ");
    Usage::printError(args.allPorts
                          ? QStringLiteral("station: watching every port (now %1)").arg(now)
                          : QStringLiteral("station: watching %1").arg(now));
    const PortMap map(vantrelConfigDir());
    for (const PortTarget &t : args.allPorts ? QList<PortTarget>() : givenPorts(args))
        if (const QString why = t.com > 0 ? map.whyNoDevice(t.com) : QString(); !why.isEmpty())
            Usage::printError(QStringLiteral("station: %1 stands for no device yet: %2")
                                  .arg(shownName(t.name), why));
}

int StationCommand::run()
{
    QEventLoop loop;
    QObject::connect(&station, &Station::plugged, &loop,
                     [this](const PortPresence &p) { say("plugged", p); });
    QObject::connect(&station, &Station::unplugged, &loop,
                     [this](const PortPresence &p) { say("unplugged", p); });
    QObject::connect(&station, &Station::rowLost, &loop,
                     [this](const StationRow &row, const QString &why) { rowLost(row, why); });
    QObject::connect(&station, &Station::traceCut, &loop,
                     [this](const QString &path, const QString &why) {
                         printTraceCut(path, why);
                         erredBelow();
                     });
    QObject::connect(&station, &Station::stopped, &loop, &QEventLoop::quit);
    QuitSignals stopSignals;
    QObject::connect(&stopSignals, &QuitSignals::received, &loop,
                     [this](int number) { station.stop(number); });

    announce();
    station.start();
    loop.exec();
    screen.finish();
    if (style == Reporter::Style::Terminal)
        screen.printFailures();
    summarize();
    if (station.rowsLost() > 0) // the record of the boards is incomplete: that comes first
        return exitCodeOf(Ending::ReportRowLost);
    // A run the closing signal cut short is no failure.
    return station.totals().failed == 0 ? exitCodeOf(Ending::Success)
                                        : exitCodeOf(Ending::SomeBoardsFailed);
}

void StationCommand::summarize()
{
    StationTotals totals = station.totals();
    totals.elapsedMs = clock.elapsed(); // the summary's time, and the rate's over the same time
    const double perHour = totals.boardsPerHour();
    printSummary(style, totals.passed, totals.failed, totals.elapsedMs, [&](JsonLine &line) {
        line.add("interrupted", totals.interrupted);
        line.add("boards_per_hour", qint64(perHour + 0.5));
        line.add("report_rows_lost", station.rowsLost());
    });
    if (style == Reporter::Style::Terminal || style == Reporter::Style::Plain)
        std::printf("%d interrupted, %.0f boards per hour\n", totals.interrupted, perHour);
    std::fflush(stdout);
}

} // namespace

int runStation(const CliArgs &args, const QElapsedTimer &sinceStart)
{
    const QList<PortTarget> given = givenPorts(args);
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
            Usage::printError(QStringLiteral("--report: ") + shownName(why));
            return exitCodeOf(Ending::Usage);
        }
    }
    StationCommand command(args, *plan, style, sinceStart, report.isOpen() ? &report : nullptr);
    return command.run();
}

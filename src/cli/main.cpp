// vantrel-cli: the Vantrel download engine from a script, a Makefile or CI.
#include "boards.h"
#include "cliargs.h"
#include "convert.h"
#include "endings.h"
#include "flashrun.h"
#include "portscommand.h"
#include "reporter.h"
#include "station.h"
#include "usage.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    // A reader that goes away (`| head -1`) must not end a download half-way: writes to it
    // fail quietly instead, and the run goes on to its own end.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(Usage::programName());
    QCoreApplication::setApplicationVersion(Usage::version());

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const ParseResult parsed = parseCommandLine(arguments);
    if (!parsed.error.isEmpty()) {
        Usage::printError(
            parsed.error +
            QStringLiteral("\nTry '%1 --help' for more information.").arg(Usage::programName()));
        return exitCodeOf(Ending::Usage);
    }
    const CliArgs &args = parsed.args;
    switch (args.command) {
    case CliArgs::Command::Help:
        std::fputs(Usage::helpText().toUtf8().constData(), stdout);
        return exitCodeOf(Ending::Success);
    case CliArgs::Command::Version:
        std::fputs(Usage::versionText().toUtf8().constData(), stdout);
        return exitCodeOf(Ending::Success);
    case CliArgs::Command::Ports:
        return runPorts(args.json);
    case CliArgs::Command::Flash: {
        if (args.manyBoards())
            return runBoards(args, sinceStart);
        Reporter reporter(Reporter::styleFor(args.json, args.quiet));
        return runFlash(args, reporter, sinceStart);
    }
    case CliArgs::Command::Convert:
        return runConvert(args);
    case CliArgs::Command::Station:
        return runStation(args, sinceStart);
    case CliArgs::Command::None:
        break;
    }
    return exitCodeOf(Ending::Usage);
}

// vantrel-cli: the Vantrel download engine from a script, a Makefile or CI.
#include "boards.h"
#include "cliargs.h"
#include "convert.h"
#include "endings.h"
#include "flashrun.h"
#include "portscommand.h"
#include "quitsignals.h"
#include "reporter.h"
#include "standardfiles.h"
#include "stationcommand.h"
#include "usage.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace
{

int runCommand(const CliArgs &args, const QElapsedTimer &sinceStart)
{
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

// As GNU tools do: output that could not be written (a full disk, a closed pipe) is a failure,
// told on standard error, never an exit status of 0.
int closeStandardOutput(int status)
{
    errno = 0;
    const bool failedBefore = std::ferror(stdout) != 0;
    if (std::fflush(stdout) == 0 && !failedBefore)
        return status;
    const QString why = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QString();
    Usage::printError(why.isEmpty() ? QStringLiteral("write error on standard output")
                                    : QStringLiteral("write error on standard output: ") + why);
    return status == exitCodeOf(Ending::Success) ? exitCodeOf(Ending::Failure) : status;
}

// Only the commands that download listen to the quit signals; the others end by them as
// any program does.
bool listensToSignals(CliArgs::Command command)
{
    return command == CliArgs::Command::Flash || command == CliArgs::Command::Station;
}

} // namespace

int main(int argc, char *argv[])
{
    // Before any file is opened: a closed 0, 1 or 2 must not be taken by one.
    openMissingStandardFiles();
    // Before anything slow (reading a large image): Ctrl-C always ends a run as its own.
    QuitSignals::install();
    QElapsedTimer sinceStart;
    sinceStart.start();
    // A reader that goes away (`| head -1`) must not end a download half-way: writes to it
    // fail instead, the run goes on to its own end and its exit status tells of the loss.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(Usage::programName());
    QCoreApplication::setApplicationVersion(Usage::version());

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const ParseResult parsed = parseCommandLine(arguments);
    if (!parsed.error.isEmpty()) {
        // The error quotes what was typed: shown, never obeyed.
        Usage::printError(
            shownName(parsed.error) +
            QStringLiteral("\nTry '%1 --help' for more information.").arg(Usage::programName()));
        return exitCodeOf(Ending::Usage);
    }
    const CliArgs &args = parsed.args;
    if (!listensToSignals(args.command))
        QuitSignals::release();
    return closeStandardOutput(runCommand(args, sinceStart));
}

#include "flashrun.h"

#include "cliargs.h"
#include "configdir.h"
#include "imagefacts.h"
#include "quitsignals.h"
#include "reporter.h"
#include "settingsfile.h"
#include "usage.h"

RunLimits limitsOf(const CliArgs &args)
{
    return RunLimits{args.connectTimeoutS, args.doneTimeoutS};
}

void printTraceCut(const QString &tracePath, const QString &why)
{
    Usage::printError(QStringLiteral("--trace: %1 was cut short: %2").arg(tracePath, why));
}

FirmwareImage::Result readImage(const CliArgs &args, QString *refusal)
{
    using FirmwareImage::Naming;
    FirmwareImage::Result image =
        FirmwareImage::read(args.image, args.base, args.raw ? Naming::Raw : Naming::Checked);
    if (image.ok())
        return image;
    *refusal = FirmwareImage::refusalLine(image.refusal, shownName(args.image));
    if (image.refusal.kind == FirmwareImage::Refusal::Kind::Misnamed)
        *refusal += QStringLiteral("; rename it to .%1 to read it as such, or give --raw to send "
                                   "the file as it is")
                        .arg(FirmwareImage::extensionOf(image.refusal.found));
    return image;
}

std::optional<FlashPlan> makePlan(const CliArgs &args, QString *refusal)
{
    FlashPlan plan;
    // The rates and the automatic reset the window would use.
    const StoredSettings stored = readStoredSettings(vantrelSettingsPath(vantrelConfigDir()));
    plan.downloadRate = args.baud.value_or(downloadRates().value(stored.downloadRateIndex).toInt());
    plan.resetRate = args.resetBaud.value_or(resetRates().value(stored.resetRateIndex).toInt());
    plan.autoReset = args.autoReset.value_or(stored.autoReset);

    plan.imagePath = args.image;
    plan.image = readImage(args, refusal);
    if (!plan.image.ok())
        return std::nullopt;
    plan.sha256 = sha256Hex(plan.image.data);
    return plan;
}

int runFlash(const CliArgs &args, Reporter &reporter, const QElapsedTimer &sinceStart)
{
    const PortTarget target = resolvePort(args.ports.value(0));
    QString refusal;
    const std::optional<FlashPlan> plan = makePlan(args, &refusal);
    if (!plan) {
        reporter.end(target.name, Ending::ImageRefused, sinceStart.elapsed(), refusal);
        return exitCodeOf(Ending::ImageRefused);
    }
    // A signal that came while the image was read ends the run before the port is touched.
    if (const int early = QuitSignals::pending()) {
        const Ending ending = endingForSignal(early);
        reporter.end(target.name, ending, sinceStart.elapsed(), stopMessage(ending, early));
        return exitCodeOf(ending);
    }
    // From here on a signal ends the run as the stop button would.
    std::atomic<int> stop{0};
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::received, &quitSignals,
                     [&stop](int number) { stop.store(number); });
    BoardRun run(*plan, target, limitsOf(args), reporter, sinceStart, stop, args.tracePath);
    const Ending ending = run.run();
    if (const QString cut = run.traceFailure(); !cut.isEmpty())
        printTraceCut(args.tracePath, cut);
    return exitCodeOf(ending);
}

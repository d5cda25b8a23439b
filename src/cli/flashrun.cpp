#include "flashrun.h"

#include "cliargs.h"
#include "clock.h"
#include "configdir.h"
#include "dialogs.h"
#include "downloader.h"
#include "endings.h"
#include "eventpump.h"
#include "firmwareimage.h"
#include "imagebuffer.h"
#include "module1.h"
#include "platform.h"
#include "portmap.h"
#include "portprobe.h"
#include "protocol.h"
#include "qtserialcomponent.h"
#include "quitsignals.h"
#include "reporter.h"
#include "runview.h"
#include "settingsfile.h"
#include "tone.h"
#include "trace.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <csignal>

namespace
{

// No sound on the command line: a beep, and the alarm's pauses between beeps, take no time.
class SilentTone : public Tone
{
public:
    void Beep(int, int) override {}
};

// The command line never shows a dialog: ports are opened without notices.
class NoDialogs : public Dialogs
{
public:
    QString getOpenFileName(QWidget *, const QString &) override { return QString(); }
    void information(QWidget *, const QString &, const QString &) override {}
};

// The image file's format as the JSON start event names it.
QString formatToken(FirmwareImage::Format format)
{
    switch (format) {
    case FirmwareImage::Format::Binary:
        break;
    case FirmwareImage::Format::IntelHex:
        return QStringLiteral("intel_hex");
    case FirmwareImage::Format::SRecord:
        return QStringLiteral("srecord");
    case FirmwareImage::Format::Elf:
        return QStringLiteral("elf");
    }
    return QStringLiteral("binary");
}

// What the engine needs of a window, without one: the choices come from the command line and
// the settings file, and the progress goes to the run.
class CliView : public RunView
{
public:
    std::function<bool()> open;
    std::function<void()> blockSent;
    QString downloadBaud, resetBaud;
    qint16 autoResetValue = 0;

    bool openPort() override { return open(); }
    QString downloadBaudText() const override { return downloadBaud; }
    QString resetBaudText() const override { return resetBaud; }
    qint16 autoReset() const override { return autoResetValue; }
    qint16 previewBin() const override { return 0; }
    void ALL_KEY(bool) override {}
    void setCommand1Caption(const QString &) override {}
    void setCommand1Enabled(bool) override {}
    void setStatusText(const QString &) override {}
    // Called after each block has been handed to the port, and when a run starts.
    void setProgressWidth(int) override
    {
        if (blockSent)
            blockSent();
    }
    double progressTrackWidth() const override { return 8145; }
    void setPanelTexts(const QString &, const QString &) override {}
    void setPanelTop(int) override {}
    void setPanelVisible(bool) override {}
    void waitRunningEvents(std::chrono::milliseconds) override {}
};

QString portOpenMessage(const Module1::PortOpening &o, const PortTarget &target,
                        const QString &device)
{
    const QString where = device.isEmpty() ? target.name : device;
    switch (o.error) {
    case CommErrorNumber::InvalidPortNumber:
        if (target.com > 0)
            return QStringLiteral("%1 stands for no device; `vantrel-cli ports` lists the ports")
                .arg(target.name);
        return QStringLiteral("no such device %1").arg(target.path);
    case CommErrorNumber::PortInUse: {
        QStringList who;
        for (const Holder &h : holdersOf(device))
            who << QStringLiteral("pid %1 (%2)").arg(h.pid).arg(h.name);
        return QStringLiteral("%1 is held by another program%2; close it and try again")
            .arg(where, who.isEmpty() ? QString() : QStringLiteral(": ") + who.join(u", "));
    }
    case CommErrorNumber::PermissionDenied:
        return QStringLiteral("this user may not open %1: join its group (sudo usermod -aG "
                              "dialout $USER), then log out and in")
            .arg(where);
    default:
        return QStringLiteral("cannot open %1: %2").arg(where, o.text);
    }
}

} // namespace

struct BoardRun::Impl {
    Impl(const CliArgs &args, const FlashPlan &plan, const PortTarget &target, RunEvents &reporter,
         const QElapsedTimer &clock, const std::atomic<int> &stopRequest, const QString &tracePath)
        : args(args), plan(plan), reporter(reporter), clock(clock), stopRequest(stopRequest),
          tracePath(tracePath), ports(vantrelConfigDir()), comm(ports),
          download(comm, image, platform, view), target(target)
    {
    }

    int run();

    struct RunEnd {
        int code;
        QString outcome;
        QString message;
    };

    void observe();
    void tick();
    void blockSent();
    void stop(const RunEnd &ending);
    void stopBySignal(int number);
    void finish(const RunEnd &ending);
    qint64 elapsedMs() const { return clock.elapsed(); }

    const CliArgs &args;
    const FlashPlan &plan;
    RunEvents &reporter;
    const QElapsedTimer &clock;
    const std::atomic<int> &stopRequest;
    const QString tracePath;

    SilentTone tone;
    SteadyClock steadyClock;
    QtEventPump pump;
    NoDialogs dialogs;
    Platform platform{tone, steadyClock, pump, dialogs};
    PortMap ports;
    QtSerialComponent comm;
    ImageBuffer image;
    CliView view;
    Downloader download;

    PortTarget target;
    QString device;
    Module1::PortOpening opening;
    TraceWriter trace;
    QTimer timer;
    QEventLoop loop;
    QElapsedTimer inStep; // since the step began
    int step = 0;
    qint32 totalBlocks = 0;
    bool ending = false;
    RunEnd result{exitCodeOf(Ending::Failure), QStringLiteral("failure"), QString()};
};

void BoardRun::Impl::observe()
{
    const int now = download.DOWN_STEP;
    if (now == step || ending)
        return;
    if (now == 0) {
        // The engine ended the run by itself: the step it left tells how.
        const int from = step;
        step = 0;
        trace.step(0, Reporter::stepName(0));
        if (from == 4)
            finish({exitCodeOf(Ending::Success), QStringLiteral("success"),
                    QStringLiteral("download complete: the board confirmed all %1 bytes")
                        .arg(image.BIN_LEN)});
        else if (from == 2)
            finish({exitCodeOf(Ending::ConnectionFailed), QStringLiteral("connection_failed"),
                    QStringLiteral("connection failed: the board answered the request but "
                                   "not the length frame; check the hardware connection")});
        else
            finish({exitCodeOf(Ending::DownloadFailed), QStringLiteral("download_failed"),
                    QStringLiteral("download failed: block %1 of %2 went unanswered; check "
                                   "the hardware connection")
                        .arg(download.BIN_BLOCK_NO)
                        .arg(totalBlocks)});
        return;
    }
    // Steps only move forward; a reply can carry the run over a step (block 0 the last).
    for (int s = step + 1; s <= now; ++s) {
        trace.step(s, Reporter::stepName(s));
        reporter.state(s, elapsedMs());
    }
    step = now;
    inStep.start();
}

void BoardRun::Impl::blockSent()
{
    // The start of a run empties the bar too; only blocks come in steps 3 and 4.
    if (download.DOWN_STEP < 3)
        return;
    observe();
    const qint32 n = download.BIN_BLOCK_NO;
    const qint64 sent = qMin<qint64>(qint64(n + 1) * Protocol::blockSize, image.BIN_LEN);
    reporter.progress(n, totalBlocks, sent, elapsedMs());
}

void BoardRun::Impl::tick()
{
    if (ending)
        return;
    if (const int number = stopRequest.load(std::memory_order_relaxed)) {
        stopBySignal(number);
        return;
    }
    if (download.DOWN_ACTIVE && !comm.PortOpen()) {
        stop({exitCodeOf(Ending::PortVanished), QStringLiteral("port_vanished"),
              QStringLiteral("the port went away during the download (adapter unplugged?)")});
        return;
    }
    if (step == 1 && inStep.elapsed() > qint64(args.connectTimeoutS * 1000)) {
        stop({exitCodeOf(Ending::NoAnswer), QStringLiteral("no_answer"),
              QStringLiteral("the board did not answer the download request within %1 s; is "
                             "it in its bootloader, and is the rate right?")
                  .arg(args.connectTimeoutS)});
        return;
    }
    if (step == 4 && inStep.elapsed() > qint64(args.doneTimeoutS * 1000)) {
        stop({exitCodeOf(Ending::NoCompletion), QStringLiteral("no_completion"),
              QStringLiteral("the board took every block but sent no completion reply within "
                             "%1 s")
                  .arg(args.doneTimeoutS)});
        return;
    }
    download.Timer1_Timer();
    observe();
}

void BoardRun::Impl::stop(const RunEnd &e)
{
    if (ending)
        return;
    ending = true;
    if (download.DOWN_ACTIVE)
        download.Command1_Click(); // the stop button: the run ends and the port closes
    finish(e);
}

void BoardRun::Impl::finish(const RunEnd &e)
{
    ending = true;
    result = e;
    timer.stop();
    Module1::CLOSE_COM(comm);
    trace.note(QStringLiteral("end %1 %2").arg(e.outcome).arg(e.code));
    loop.exit(0);
}

void BoardRun::Impl::stopBySignal(int number)
{
    const bool interrupt = number == SIGINT;
    stop({QuitSignals::exitCodeFor(number),
          interrupt ? QStringLiteral("interrupted") : QStringLiteral("terminated"),
          interrupt
              ? QStringLiteral("interrupted: the download was stopped")
              : QStringLiteral("terminated by signal %1: the download was stopped").arg(number)});
}

int BoardRun::Impl::run()
{
    const auto endEarly = [&](int code, const QString &outcome, const QString &message) {
        reporter.end(target.name, outcome, code, elapsedMs(), message);
        return code;
    };
    view.downloadBaud = plan.downloadBaud;
    view.resetBaud = plan.resetBaud;
    view.autoResetValue = plan.autoReset;
    image.replaceImage(plan.image.data); // shared with the other boards, never copied
    image.BIN_PATH = plan.imagePath;
    image.LOAD_BIN();
    totalBlocks = Protocol::totalBlocks(image.BIN_BLOCKS, image.BIN_NO_REMAIN != 0);

    if (!tracePath.isEmpty()) {
        QString why;
        if (!trace.open(tracePath, clock, &why))
            return endEarly(exitCodeOf(Ending::Usage), QStringLiteral("usage"),
                            QStringLiteral("--trace: cannot write %1: %2").arg(tracePath, why));
        comm.setTap([this](QtSerialComponent::TapKind kind, const QByteArray &bytes) {
            switch (kind) {
            case QtSerialComponent::TapKind::Sent:
                trace.bytes("TX", bytes);
                break;
            case QtSerialComponent::TapKind::Received:
                trace.bytes("RX", bytes);
                break;
            case QtSerialComponent::TapKind::Discarded:
                trace.bytes("DROP", bytes);
                break;
            case QtSerialComponent::TapKind::Line:
                trace.line(QString::fromLatin1(bytes));
                break;
            }
        });
    }

    if (target.com == 0)
        comm.setDevicePath(target.path);
    device = comm.deviceFor(target.com > 0 ? target.com : 1);
    view.open = [this] {
        opening = Module1::openPortNumber(comm, target.com > 0 ? target.com : 1, view.downloadBaud,
                                          QStringLiteral("8"), QStringLiteral("1"));
        if (opening.opened()) {
            trace.note(QStringLiteral("open %1 (%2)").arg(target.name, device));
            trace.line(comm.Settings());
        }
        return opening.opened();
    };
    view.blockSent = [this] { blockSent(); };
    QObject::connect(&comm, &SerialComponent::OnComm, &loop, [this] {
        if (ending)
            return;
        download.MSComm1_OnComm();
        observe();
    });

    download.Command1_Click(); // opens the port and starts at step 1
    if (!download.DOWN_ACTIVE)
        return endEarly(exitCodeOf(Ending::PortUnavailable), QStringLiteral("port_unavailable"),
                        portOpenMessage(opening, target, device));

    RunStart start;
    start.port = target.name;
    start.device = device;
    start.image = plan.imagePath;
    start.format = formatToken(FirmwareImage::formatForPath(plan.imagePath));
    start.startAddress = plan.image.start;
    start.sha256 = plan.sha256;
    start.bytes = image.BIN_LEN;
    start.blocks = totalBlocks;
    start.baud = view.downloadBaud.toInt();
    start.resetBaud = view.resetBaud.toInt();
    start.autoReset = view.autoResetValue == 1;
    reporter.start(start);
    observe();

    // The window's 10 ms tick drives the requests and counts the time limits. The first one
    // runs at once: a script has waited long enough for the program to start.
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, &loop, [this] { tick(); });
    timer.start();
    QTimer::singleShot(0, &loop, [this] { tick(); });
    if (!ending)
        loop.exec();

    trace.close();
    reporter.end(target.name, result.outcome, result.code, elapsedMs(), result.message);
    return result.code;
}

std::optional<FlashPlan> makePlan(const CliArgs &args, QString *refusal)
{
    FlashPlan plan;
    // The rates and the automatic reset the window would use.
    SettingsDigits digits = settingsDigits(StoredSettings::defaults());
    readSettingsFile(vantrelSettingsPath(vantrelConfigDir()), digits);
    const StoredSettings stored = applicableSettings(digits);
    plan.downloadBaud =
        args.baud ? QString::number(*args.baud) : downloadRates().value(stored.downloadRateIndex);
    plan.resetBaud = args.resetBaud ? QString::number(*args.resetBaud)
                                    : resetRates().value(stored.resetRateIndex);
    plan.autoReset = args.autoReset.value_or(stored.autoReset) ? 1 : 0;

    plan.imagePath = args.image;
    plan.image = FirmwareImage::read(args.image, args.base);
    if (!plan.image.ok()) {
        *refusal = FirmwareImage::refusalLine(plan.image.refusal, args.image);
        return std::nullopt;
    }
    plan.sha256 = QString::fromLatin1(
        QCryptographicHash::hash(plan.image.data, QCryptographicHash::Sha256).toHex());
    return plan;
}

BoardRun::BoardRun(const CliArgs &args, const FlashPlan &plan, const PortTarget &target,
                   RunEvents &events, const QElapsedTimer &clock, const std::atomic<int> &stop,
                   const QString &tracePath)
    : d(std::make_unique<Impl>(args, plan, target, events, clock, stop, tracePath))
{
}

BoardRun::~BoardRun() = default;

int BoardRun::run()
{
    return d->run();
}

QString BoardRun::device() const
{
    return d->device;
}

int runFlash(const CliArgs &args, Reporter &reporter, const QElapsedTimer &sinceStart)
{
    const PortTarget target = resolvePort(args.ports.value(0));
    QString refusal;
    const std::optional<FlashPlan> plan = makePlan(args, &refusal);
    if (!plan) {
        reporter.end(target.name, QStringLiteral("image_refused"), exitCodeOf(Ending::ImageRefused),
                     sinceStart.elapsed(), refusal);
        return exitCodeOf(Ending::ImageRefused);
    }
    // From here on a signal ends the run as the stop button would.
    std::atomic<int> stop{0};
    QuitSignals stopSignals;
    QObject::connect(&stopSignals, &QuitSignals::received, &stopSignals,
                     [&stop](int number) { stop.store(number); });
    BoardRun run(args, *plan, target, reporter, sinceStart, stop, args.tracePath);
    return run.run();
}

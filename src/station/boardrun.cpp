#include "boardrun.h"

#include "clock.h"
#include "configdir.h"
#include "downloadengine.h"
#include "eventpump.h"
#include "imagefacts.h"
#include "portmap.h"
#include "portprobe.h"
#include "qtserialport.h"
#include "runtext.h"
#include "trace.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <chrono>

namespace
{

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

// The message follows the port's name ("COM7: ..."), so it names the device only where that is
// another name: a COM number's device, not a device given by its path.
QString portOpenMessage(const PortError &e, const PortTarget &target, const PortMap &ports)
{
    const QString device = e.device.isEmpty() ? target.path : e.device;
    const QString it = device.isEmpty() || device == target.name ? QStringLiteral("it") : device;
    switch (e.kind) {
    case PortError::Kind::NotFound:
        if (target.com > 0) {
            if (const QString why = ports.whyNoDevice(target.com); !why.isEmpty())
                return QStringLiteral("it stands for no device: %1").arg(why);
            return QStringLiteral("it stands for no device; `vantrel-cli ports` lists the ports");
        }
        return it == u"it" ? QStringLiteral("no such device")
                           : QStringLiteral("no such device %1").arg(it);
    case PortError::Kind::Busy: {
        if (e.holders.isEmpty() && openInThisProcess(e.device))
            return QStringLiteral("%1 is open in this run already, under another of its names")
                .arg(it);
        QStringList who;
        for (const Holder &h : e.holders)
            who << QStringLiteral("pid %1 (%2)").arg(h.pid).arg(h.name);
        return QStringLiteral("%1 is held by another program%2; close it and try again")
            .arg(it, who.isEmpty() ? QString() : QStringLiteral(": ") + who.join(u", "));
    }
    case PortError::Kind::PermissionDenied: {
        const Finding advice = accessFinding(device, deviceAccess(device));
        return advice.problem + QStringLiteral("; ") + advice.fix;
    }
    case PortError::Kind::Other:
    case PortError::Kind::None:
        break;
    }
    return QStringLiteral("cannot open %1: %2").arg(it, e.systemText);
}

std::chrono::milliseconds toMs(double seconds)
{
    return std::chrono::milliseconds(qint64(seconds * 1000));
}

} // namespace

struct BoardRun::Impl {
    Impl(const FlashPlan &plan, const PortTarget &target, const RunLimits &limits,
         RunEvents &reporter, const QElapsedTimer &clock, const std::atomic<int> &stopRequest,
         const QString &tracePath)
        : plan(plan), limits(limits), reporter(reporter), clock(clock), stopRequest(stopRequest),
          tracePath(tracePath), ports(vantrelConfigDir()), engine(pump, steadyClock), target(target)
    {
        engine.setSelfTicking(false); // ticked below, after a look at the stop request
    }

    Ending run();
    bool openTrace();
    bool openPort();
    void startEngine();
    void tick();
    void finished(DownloadOutcome outcome);
    RunStart runStart() const;
    qint64 elapsedMs() const { return clock.elapsed(); }

    const FlashPlan &plan;
    const RunLimits limits;
    RunEvents &reporter;
    const QElapsedTimer &clock;
    const std::atomic<int> &stopRequest;
    const QString tracePath;

    SteadyClock steadyClock;
    QtEventPump pump;
    PortMap ports;
    QtSerialPort port;
    DownloadEngine engine;

    PortTarget target;
    QString device;
    TraceWriter trace;
    QTimer timer;
    QEventLoop loop;
    int lastBlock = 0; // the block last handed to the port
    int stopSignal = 0;
    Ending ending = Ending::Failure;
    QString message;
    QString traceFailure;
};

bool BoardRun::Impl::openTrace()
{
    QString why;
    if (!trace.open(tracePath, clock, &why)) {
        ending = Ending::Usage;
        message = QStringLiteral("--trace: cannot write %1: %2").arg(tracePath, why);
        return false;
    }
    port.setTap([this](QtSerialPort::TapKind kind, const QByteArray &bytes) {
        switch (kind) {
        case QtSerialPort::TapKind::Sent:
            trace.bytes("TX", bytes);
            break;
        case QtSerialPort::TapKind::Received:
            trace.bytes("RX", bytes);
            break;
        case QtSerialPort::TapKind::Discarded:
            trace.bytes("DROP", bytes);
            break;
        case QtSerialPort::TapKind::Line:
            trace.line(QString::fromLatin1(bytes));
            break;
        }
    });
    return true;
}

bool BoardRun::Impl::openPort()
{
    const QString path = target.com > 0 ? ports.pathFor(target.com) : target.path;
    device = target.com > 0 ? ports.deviceFor(target.com) : QFileInfo(path).canonicalFilePath();
    const LineSettings line = LineSettings::eightNoneOne(plan.downloadRate);
    const PortError error = port.open(path, line);
    if (!error.ok()) {
        ending = Ending::PortUnavailable;
        message = portOpenMessage(error, target, ports);
        return false;
    }
    trace.note(QStringLiteral("open %1 (%2)").arg(target.name, device));
    trace.line(line.text());
    return true;
}

RunStart BoardRun::Impl::runStart() const
{
    RunStart start;
    start.port = target.name;
    start.device = device;
    start.image = plan.imagePath;
    start.format = formatToken(plan.image.format);
    start.startAddress = plan.image.start;
    start.sha256 = plan.sha256;
    start.bytes = plan.image.data.size();
    start.blocks = BlockSplit::of(start.bytes).blockCount();
    start.baud = plan.downloadRate;
    start.resetBaud = plan.resetRate;
    start.autoReset = plan.autoReset;
    return start;
}

void BoardRun::Impl::startEngine()
{
    QObject::connect(&engine, &DownloadEngine::stepEntered, &loop, [this](DownloadStep step) {
        trace.step(int(step), stepName(int(step)));
        reporter.state(int(step), elapsedMs());
    });
    QObject::connect(&engine, &DownloadEngine::blockSent, &loop,
                     [this](int index, int count, qint64 sent) {
                         lastBlock = index;
                         reporter.progress(index, count, sent, elapsedMs());
                     });
    QObject::connect(&engine, &DownloadEngine::finished, &loop,
                     [this](DownloadOutcome outcome) { finished(outcome); });
    DownloadRequest request;
    request.image = plan.image.data; // shared with the other boards, never copied
    request.port = &port;
    request.downloadRate = plan.downloadRate;
    request.resetRate = plan.resetRate;
    request.autoReset = plan.autoReset;
    request.connectLimit = toMs(limits.connectTimeoutS);
    request.completionLimit = toMs(limits.doneTimeoutS);
    request.endWhenPortLost = true;
    engine.start(request);
}

void BoardRun::Impl::tick()
{
    if (const int number = stopRequest.load(std::memory_order_relaxed)) {
        stopSignal = number;
        engine.stop(DownloadOutcome::Interrupted);
        return;
    }
    engine.tick();
}

void BoardRun::Impl::finished(DownloadOutcome outcome)
{
    timer.stop();
    port.close();
    trace.step(0, stepName(0));
    switch (outcome) {
    case DownloadOutcome::Success:
        ending = Ending::Success;
        message =
            infoOf(ending).message.arg(counted(plan.image.data.size(), QStringLiteral("byte")));
        break;
    case DownloadOutcome::NoAnswer:
        ending = Ending::NoAnswer;
        message = infoOf(ending)
                      .message.arg(limits.connectTimeoutS)
                      .arg(docFile(QStringLiteral("protocol.md")));
        break;
    case DownloadOutcome::ConnectionFailed:
        ending = Ending::ConnectionFailed;
        message = infoOf(ending).message;
        break;
    case DownloadOutcome::DownloadFailed:
        ending = Ending::DownloadFailed;
        message = infoOf(ending).message.arg(lastBlock).arg(
            counted(runStart().blocks, QStringLiteral("block")));
        break;
    case DownloadOutcome::NoCompletion:
        ending = Ending::NoCompletion;
        message = infoOf(ending).message.arg(limits.doneTimeoutS);
        break;
    case DownloadOutcome::PortLost:
        ending = Ending::PortVanished;
        message = infoOf(ending).message;
        break;
    case DownloadOutcome::Stopped:
    case DownloadOutcome::Interrupted:
        ending = endingForSignal(stopSignal);
        message = stopMessage(ending, stopSignal);
        break;
    }
    trace.note(QStringLiteral("end %1 %2").arg(infoOf(ending).token).arg(exitCodeOf(ending)));
    loop.exit(0);
}

Ending BoardRun::Impl::run()
{
    if ((!tracePath.isEmpty() && !openTrace()) || !openPort()) {
        reporter.end(target.name, ending, elapsedMs(), message);
        return ending;
    }
    reporter.start(runStart());
    startEngine();
    // The 10 ms tick drives the requests and counts the time limits. The first one runs at
    // once: a script has waited long enough for the program to start.
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, &loop, [this] { tick(); });
    timer.start();
    QTimer::singleShot(0, &loop, [this] { tick(); });
    loop.exec();

    trace.close();
    if (const QString cut = trace.failure(); !cut.isEmpty()) {
        traceFailure = cut;
        reporter.traceCut(cut);
    }
    reporter.end(target.name, ending, elapsedMs(), message);
    return ending;
}

BoardRun::BoardRun(const FlashPlan &plan, const PortTarget &target, const RunLimits &limits,
                   RunEvents &events, const QElapsedTimer &clock, const std::atomic<int> &stop,
                   const QString &tracePath)
    : d(std::make_unique<Impl>(plan, target, limits, events, clock, stop, tracePath))
{
}

BoardRun::~BoardRun() = default;

Ending BoardRun::run()
{
    return d->run();
}

QString BoardRun::device() const
{
    return d->device;
}

QString BoardRun::traceFailure() const
{
    return d->traceFailure;
}

QString stopMessage(Ending ending, int signalNumber)
{
    return ending == Ending::Interrupted ? infoOf(ending).message
                                         : infoOf(ending).message.arg(signalNumber);
}

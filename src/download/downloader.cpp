#include "downloader.h"

#include "imagebuffer.h"
#include "module1.h"
#include "platform.h"
#include "protocol.h"
#include "runview.h"
#include "serialcomponent.h"
#include "tone.h"

namespace
{

const QString idleCaption = QStringLiteral("单次下载");
const QString stopCaption = QStringLiteral("停 止");
const QString connectingText = QStringLiteral("连接中……");
const QString successText = QStringLiteral("       下载成功");
const QString checkHardwareText = QStringLiteral(" 请检查硬件连接");

} // namespace

Downloader::Downloader(SerialComponent &MSComm1, ImageBuffer &image, Platform &platform,
                       RunView &view)
    : MSComm1(MSComm1), image(image), platform(platform), view(view)
{
}

void Downloader::Command1_Click()
{
    if (!DOWN_ACTIVE) {
        if (view.openPort()) {
            ++m_runId;
            DOWN_ACTIVE = -1;
            view.setCommand1Caption(stopCaption);
            DOWN_STEP = 1;
            view.ALL_KEY(false);
            view.setCommand1Enabled(true);
            view.setProgressWidth(0);
            view.setStatusText(connectingText);
        }
    } else {
        DOWN_ACTIVE = 0;
        view.setCommand1Caption(idleCaption);
        DOWN_STEP = 0;
        Module1::CLOSE_COM(MSComm1);
        view.ALL_KEY(true);
    }
    platform.tone.Beep(beepFrequencyHz, beepDurationMs);
}

void Downloader::sendHex(const QString &hex)
{
    Module1::SEND_HEX(MSComm1, hex, platform.pump);
}

bool Downloader::setLineRate(const QString &baudText)
{
    // A rate typed into the box that the port refuses leaves the line as it is; that tick's
    // request is then not sent rather than sent at a rate nobody chose.
    try {
        MSComm1.setSettings(baudText + Protocol::LINE_SUFFIX);
        return true;
    } catch (const CommError &) {
        return false;
    }
}

void Downloader::Timer1_Timer()
{
    const quint64 run = m_runId;
    // After anything that runs events: has the operator stopped this run and started another?
    const auto sameRun = [&] { return m_runId == run; };

    switch (DOWN_STEP) {
    case 1:
        if (view.autoReset() == 1) {
            TICK_COUNT += 1;
            if (TICK_COUNT > Protocol::resetCycleLength)
                TICK_COUNT = 1;
            if (TICK_COUNT == 1) {
                if (setLineRate(view.resetBaudText()))
                    sendHex(Protocol::RESET_REQUEST);
            } else {
                if (setLineRate(view.downloadBaudText()))
                    sendHex(Protocol::DOWNLOAD_REQUEST);
            }
        } else {
            sendHex(Protocol::DOWNLOAD_REQUEST);
            if (sameRun())
                MSComm1.setInBufferCount(0);
        }
        break;
    case 2:
        TICK_COUNT += 1;
        if (Protocol::isLengthFrameTick(TICK_COUNT) &&
            Protocol::lengthField(image.BIN_BLOCKS, image.BIN_REMAIN)) {
            sendHex(Protocol::LENGTH_HEAD);
            // Reply B (to an earlier frame) handled while the head was pumping has already sent
            // block 0: the rest of this frame would land inside the image. A stop leaves
            // nothing to finish either.
            if (!sameRun() || DOWN_STEP != 2)
                break;
            SEND_BIN_LEN();
            sendHex(Protocol::LENGTH_TAIL);
            if (!sameRun())
                break;
        }
        if (TICK_COUNT > Protocol::lengthStepTickLimit)
            fail(Failure::Connection);
        break;
    case 3:
        TICK_COUNT += 1;
        if (TICK_COUNT > Protocol::blockStepTickLimit)
            fail(Failure::Download);
        break;
    default: // 0 idle, 4 waiting for completion: nothing to send, no limit
        break;
    }
}

void Downloader::MSComm1_OnComm()
{
    if (MSComm1.CommEvent() != CommEventCode::Receive)
        return;
    const QByteArray read = MSComm1.Input(); // consumed in every step, also when idle

    switch (DOWN_STEP) {
    case 1:
        if (Protocol::isReply(read, Protocol::Reply::A)) {
            image.LOAD_BIN();
            DOWN_STEP = 2;
            TICK_COUNT = 0;
        }
        break;
    case 2:
        if (Protocol::isReply(read, Protocol::Reply::B)) {
            TICK_COUNT = 0;
            image.LOAD_BIN();
            BIN_BLOCK_NO = 0;
            DOWN_STEP = 3;
            DOWN_LOAD_BIN(BIN_BLOCK_NO);
        }
        break;
    case 3:
        if (Protocol::isReply(read, Protocol::Reply::C)) {
            BIN_BLOCK_NO += 1;
            TICK_COUNT = 0;
            DOWN_LOAD_BIN(BIN_BLOCK_NO);
        }
        break;
    case 4:
        if (Protocol::isReply(read, Protocol::Reply::D))
            succeed();
        break;
    default:
        break;
    }
}

void Downloader::SEND_BIN_LEN()
{
    const auto field = Protocol::lengthField(image.BIN_BLOCKS, image.BIN_REMAIN);
    if (!field)
        return; // never put a length on the wire that does not describe the image
    MSComm1.setOutput(*field);
}

void Downloader::DOWN_LOAD_BIN(const qint32 &n)
{
    qint32 length = 0;
    if (n >= 0 && n < image.BIN_BLOCKS)
        length = Protocol::blockSize;
    else if (!image.BIN_NO_REMAIN && n == image.BIN_BLOCKS)
        length = image.BIN_REMAIN;
    else
        return;
    // Worked out only for a block of the image: a number far beyond it would overflow.
    const qint64 first = qint64(n) * Protocol::blockSize;
    if (first + length > image.BIN_DATA.size())
        return; // the split does not belong to these bytes: send nothing rather than a stub

    MSComm1.setOutput(image.BIN_DATA.mid(first, length));

    const qint32 total = Protocol::totalBlocks(image.BIN_BLOCKS, image.BIN_NO_REMAIN != 0);
    if (n == total - 1)
        DOWN_STEP = 4;
    view.setStatusText(Protocol::progressText(Protocol::progressPercent(n, total)));
    view.setProgressWidth(Protocol::progressWidth(view.progressTrackWidth(), n, total));
}

void Downloader::succeed()
{
    TICK_COUNT = 0;
    view.setStatusText(successText);
    view.ALL_KEY(true);
    DOWN_ACTIVE = 0;
    view.setCommand1Caption(idleCaption);
    Module1::CLOSE_COM(MSComm1);
    DOWN_STEP = 0;
}

void Downloader::fail(Failure failure)
{
    const bool connection = failure == Failure::Connection;
    const quint64 run = m_runId;

    TICK_COUNT = 0;
    DOWN_STEP = 0;
    view.setStatusText(connection ? QStringLiteral("连接失败") : QStringLiteral("下载失败"));
    view.setPanelTexts(connection ? QStringLiteral("    连接失败   ")
                                  : QStringLiteral("    下载失败   "),
                       checkHardwareText);
    view.setPanelTop(300 + 1500 * view.previewBin());
    view.setPanelVisible(true);
    for (int i = 0; i < 5; ++i) {
        platform.tone.Beep(beepFrequencyHz, beepDurationMs);
        view.waitRunningEvents(std::chrono::milliseconds(200));
    }
    view.setPanelVisible(false);
    // A stop clicked during the alarm has already closed the port and unlocked the controls;
    // the steps below repeat that harmlessly. A new run started after such a stop is not this
    // run's to end.
    if (m_runId != run)
        return;
    DOWN_ACTIVE = 0;
    view.setCommand1Caption(idleCaption);
    Module1::CLOSE_COM(MSComm1);
    view.ALL_KEY(true);
}

#include "downloadengine.h"

#include "bootloader.h"
#include "clock.h"
#include "eventpump.h"
#include "serialport.h"

DownloadEngine::DownloadEngine(EventPump &pump, Clock &clock, QObject *parent)
    : QObject(parent), m_pump(pump), m_clock(clock)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &DownloadEngine::tick);
}

DownloadEngine::~DownloadEngine()
{
    QObject::disconnect(m_receiving);
}

void DownloadEngine::setSelfTicking(bool on)
{
    m_selfTicking = on;
    updateTimer();
}

void DownloadEngine::start(const DownloadRequest &request)
{
    QObject::disconnect(m_receiving);
    m_request = request;
    m_port = request.port;
    m_split = BlockSplit::of(request.image.size());
    ++m_runId;
    if (m_port) {
        m_port->setReceiveFrame(Bootloader::replyLength);
        m_receiving = connect(m_port, &SerialPort::received, this, &DownloadEngine::receive);
    }
    enter(DownloadStep::Connect);
    updateTimer();
}

void DownloadEngine::stop(DownloadOutcome why)
{
    if (m_step != DownloadStep::Idle)
        end(why); // the connect step's tick count stays for the next run
    updateTimer();
}

void DownloadEngine::enter(DownloadStep step)
{
    m_step = step;
    m_stepStartMs = m_clock.nowMs();
    emit stepEntered(step);
}

void DownloadEngine::end(DownloadOutcome outcome)
{
    m_step = DownloadStep::Idle;
    QObject::disconnect(m_receiving);
    updateTimer();
    emit finished(outcome); // a handler may start the next run from here
}

void DownloadEngine::updateTimer()
{
    // The completion step has nothing to count unless a limit waits there.
    const bool needed = m_selfTicking && m_step != DownloadStep::Idle &&
                        (m_step != DownloadStep::Completion || m_request.completionLimit ||
                         m_request.endWhenPortLost);
    if (needed && !m_timer.isActive())
        m_timer.start();
    else if (!needed && m_timer.isActive())
        m_timer.stop();
}

void DownloadEngine::tick()
{
    if (m_step == DownloadStep::Idle || endedByLimit())
        return;
    const quint64 run = m_runId;
    switch (m_step) {
    case DownloadStep::Connect:
        tickConnect(run);
        break;
    case DownloadStep::Length:
        tickLength(run);
        break;
    case DownloadStep::Blocks:
        if (++m_tickCount > Bootloader::blockStepTickLimit) {
            m_tickCount = 0;
            end(DownloadOutcome::DownloadFailed);
        }
        break;
    case DownloadStep::Idle:
    case DownloadStep::Completion: // nothing to send, no tick limit
        break;
    }
    updateTimer();
}

bool DownloadEngine::endedByLimit()
{
    const DownloadRequest &r = m_request;
    if (r.endWhenPortLost && !(m_port && m_port->isOpen())) {
        end(DownloadOutcome::PortLost);
        return true;
    }
    const qint64 inStepMs = quint32(m_clock.nowMs() - m_stepStartMs); // modulo 2^32
    if (m_step == DownloadStep::Connect && r.connectLimit && inStepMs > r.connectLimit->count()) {
        end(DownloadOutcome::NoAnswer);
        return true;
    }
    if (m_step == DownloadStep::Completion && r.completionLimit &&
        inStepMs > r.completionLimit->count()) {
        end(DownloadOutcome::NoCompletion);
        return true;
    }
    return false;
}

void DownloadEngine::tickConnect(quint64 run)
{
    if (!m_request.autoReset) {
        send(Bootloader::downloadRequest);
        if (m_runId == run && m_port)
            m_port->clearInput();
        return;
    }
    if (++m_tickCount > Bootloader::resetCycleLength)
        m_tickCount = 1;
    // A rate the port refuses leaves the line as it is; that tick's request is then not sent
    // rather than sent at a rate nobody chose.
    if (m_tickCount == 1) {
        if (m_request.resetRate && setRate(*m_request.resetRate))
            send(Bootloader::resetRequest);
    } else if (setRate(m_request.downloadRate)) {
        send(Bootloader::downloadRequest);
    }
}

void DownloadEngine::tickLength(quint64 run)
{
    ++m_tickCount;
    const std::optional<QByteArray> field = Bootloader::lengthField(m_split);
    // A length the field cannot carry is never put on the wire: the step runs into its limit.
    if (Bootloader::isLengthFrameTick(m_tickCount) && field) {
        send(Bootloader::lengthHead);
        // Reply B (to an earlier frame) handled while the head was pumping has already sent
        // block 0: the rest of this frame would land inside the image. A stop leaves nothing to
        // finish either.
        if (m_runId != run || m_step != DownloadStep::Length)
            return;
        if (m_port)
            m_port->write(*field);
        send(Bootloader::lengthTail);
        if (m_runId != run)
            return;
    }
    if (m_tickCount > Bootloader::lengthStepTickLimit) {
        m_tickCount = 0;
        end(DownloadOutcome::ConnectionFailed);
    }
}

void DownloadEngine::receive(const QByteArray &frame)
{
    switch (m_step) {
    case DownloadStep::Connect:
        if (Bootloader::isReply(frame, Bootloader::Reply::A)) {
            m_tickCount = 0;
            enter(DownloadStep::Length);
        }
        break;
    case DownloadStep::Length:
        if (Bootloader::isReply(frame, Bootloader::Reply::B)) {
            m_tickCount = 0;
            m_block = 0;
            enter(DownloadStep::Blocks);
            sendBlock(0);
        }
        break;
    case DownloadStep::Blocks:
        if (Bootloader::isReply(frame, Bootloader::Reply::C)) {
            m_block += 1;
            m_tickCount = 0;
            sendBlock(m_block);
        }
        break;
    case DownloadStep::Completion:
        if (Bootloader::isReply(frame, Bootloader::Reply::D)) {
            m_tickCount = 0;
            end(DownloadOutcome::Success);
        }
        break;
    case DownloadStep::Idle: // read and dropped, as every frame that is not the step's reply
        break;
    }
    updateTimer();
}

void DownloadEngine::sendBlock(qint32 index)
{
    // A block number beyond the image writes and changes nothing: its reply waits in vain.
    const qint32 length = m_split.blockLength(index);
    if (length == 0)
        return;
    const qint64 first = qint64(index) * BlockSplit::blockSize;
    if (m_port)
        m_port->write(QByteArray::fromRawData(m_request.image.constData() + first, length));
    const qint32 count = m_split.blockCount();
    if (index == count - 1)
        enter(DownloadStep::Completion);
    emit blockSent(index, count, first + length);
}

void DownloadEngine::send(const QByteArray &request)
{
    // Written, the answers to earlier requests dropped, then the events that wait run: a reply,
    // a tick's work or a click can be handled inside this call.
    if (!m_port || !m_port->isOpen())
        return;
    m_port->write(request);
    m_port->clearInput();
    m_pump.processEvents();
}

bool DownloadEngine::setRate(qint32 baudRate)
{
    return m_port && m_port->setLineSettings(LineSettings::eightNoneOne(baudRate));
}

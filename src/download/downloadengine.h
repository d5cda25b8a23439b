#pragma once

#include "blocksplit.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <optional>

class Clock;
class EventPump;
class SerialPort;

// The steps of a download, in the order the bootloader takes them.
enum class DownloadStep {
    Idle,
    Connect,    // the download request (and with the automatic reset, the reset request)
    Length,     // the length frame
    Blocks,     // one block per acknowledgement
    Completion, // the last block is out: waiting for the completion reply
};

// How a download ended.
enum class DownloadOutcome {
    Success,          // the board sent the completion reply
    NoAnswer,         // no reply to the download request within the connect limit
    ConnectionFailed, // no reply to the length frame by the length step's tick limit
    DownloadFailed,   // no reply to a block by the block step's tick limit
    NoCompletion,     // every block taken, no completion reply within the completion limit
    PortLost,         // the port went away under the run
    Stopped,          // the operator stopped it
    Interrupted,      // the program was asked to end
};

// What a download needs: the image, the open port and how to talk to the board.
struct DownloadRequest {
    QByteArray image;           // the bytes to send, at most BlockSplit::maxLength
    SerialPort *port = nullptr; // open at the download rate; the caller closes it
    qint32 downloadRate = 0;
    // The reset request's rate. None when the operator typed something that is no rate: the
    // reset request is then never sent (the download requests still are).
    std::optional<qint32> resetRate;
    bool autoReset = false; // the reset request before connecting, every fifth tick

    // Limits the window does not set: give up when the board has not answered the download
    // request within connectLimit, or sent no completion reply within completionLimit of the
    // last block; end when the port goes away (otherwise the tick limits end such a run).
    std::optional<std::chrono::milliseconds> connectLimit;
    std::optional<std::chrono::milliseconds> completionLimit;
    bool endWhenPortLost = false;
};

// One download at a time into the board's serial bootloader, driven by the 10 ms tick and the
// port's receive event, told as events: each step entered, each block handed to the port, and
// the end as one outcome.
//
// Requests go out on ticks, and each one runs pending events after it is written, so a reply,
// a stop or even a new start can be handled in the middle of a tick; each block goes out the
// moment the reply to the previous one is handled. The handlers order their changes so that
// such a nested event always finds a consistent step, and a tick whose run was stopped and
// another started meanwhile leaves the rest of its work undone.
//
// The tick count of the connect step carries over from a run that was stopped to the next one,
// so the engine lives as long as the program's window.
class DownloadEngine : public QObject
{
    Q_OBJECT
public:
    DownloadEngine(EventPump &pump, Clock &clock, QObject *parent = nullptr);
    ~DownloadEngine() override;

    // Starts a run in the connect step. A run under way is replaced without an end of its own.
    void start(const DownloadRequest &request);
    // Ends the run under way with `why` (Stopped or Interrupted); nothing when idle.
    void stop(DownloadOutcome why = DownloadOutcome::Stopped);
    // The 10 ms tick: requests, time limits.
    void tick();
    // A frame from the port (the engine hears its own port's frames by itself).
    void receive(const QByteArray &frame);

    DownloadStep step() const { return m_step; }
    bool isRunning() const { return m_step != DownloadStep::Idle; }

    // By default the engine runs its own precise 10 ms timer while a run needs ticks. A caller
    // that ticks by hand (with its own timer, or a test) turns it off.
    void setSelfTicking(bool on);
    bool isTicking() const { return m_timer.isActive(); }

signals:
    void stepEntered(DownloadStep step);
    // Block `index` (from 0) of `count` was handed to the port; `bytesSent` counts the image
    // bytes written so far.
    void blockSent(int index, int count, qint64 bytesSent);
    // The last event of every run.
    void finished(DownloadOutcome outcome);

private:
    void enter(DownloadStep step);
    void end(DownloadOutcome outcome);
    bool endedByLimit();
    void tickConnect(quint64 run);
    void tickLength(quint64 run);
    void sendBlock(qint32 index);
    void send(const QByteArray &request);
    bool setRate(qint32 baudRate);
    void updateTimer();

    EventPump &m_pump;
    Clock &m_clock;
    QTimer m_timer;
    bool m_selfTicking = true;

    DownloadRequest m_request;
    QPointer<SerialPort> m_port;
    QMetaObject::Connection m_receiving;
    BlockSplit m_split;
    DownloadStep m_step = DownloadStep::Idle;
    int m_tickCount = 0;       // ticks counted in the step
    qint32 m_block = 0;        // the block last sent
    quint32 m_stepStartMs = 0; // the clock when the step began
    // Counts started runs: work that runs events remembers its run and stops when a new run
    // has started meanwhile.
    quint64 m_runId = 0;
};

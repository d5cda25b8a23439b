#pragma once

#include "boardrun.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

class QThread;

// One board's run as the station sees it.
struct BoardRow {
    QString port, device;
    QString tracePath; // "" without a trace
    int step = 0;
    qint64 bytes = 0, bytesSent = 0;
    qint64 beganMs = 0, blocksStartMs = -1, endedMs = -1;
    Ending ending = Ending::Failure; // once ended
    QString message;
    bool running() const { return endedMs < 0; }
    // Cut short by a signal or a stop: neither passed nor failed.
    bool interrupted() const
    {
        return !running() && (ending == Ending::Interrupted || ending == Ending::Terminated ||
                              ending == Ending::HungUp);
    }
    double seconds() const { return double(endedMs - beganMs) / 1000.0; }
};

// Many boards at once, each run on a thread of its own: a blocking wait on one port (the
// drain before a rate switch, a slow open) never holds up another board's blocks, and one
// board's fault touches only its own run. The runs' events come back to this object's thread,
// where they update the rows and go on to each run's listener, if any.
class BoardRuns : public QObject
{
    Q_OBJECT
public:
    // What hears one run's events besides the rows (the command line's lines); may be null.
    using Listeners = std::function<std::unique_ptr<RunEvents>(int index)>;

    BoardRuns(const FlashPlan &plan, const RunLimits &limits, const QElapsedTimer &clock,
              Listeners listeners = {}, QObject *parent = nullptr);
    ~BoardRuns() override;

    // Starts a run on `target`; its row index is returned. `tracePath` may be empty.
    int launch(const PortTarget &target, const QString &device, const QString &tracePath);
    // Asks every run to end as the stop button would (thread-safe, also from a signal's slot).
    void stopAll(int signalNumber) { m_stop.store(signalNumber); }
    int running() const { return int(m_threads.size()); }
    // The runs by index, in order. A port's earlier runs are forgotten when it is flashed again
    // (a station runs for days): only each port's latest run is kept.
    const std::map<int, BoardRow> &rows() const { return m_rows; }

signals:
    // A row changed: its run began, entered a step, sent a block or ended.
    void changed(int index);
    // The run's trace was cut short by a failed write.
    void traceCut(int index, const QString &why);
    // The run's thread is over; its row holds the ending.
    void finished(int index);

private:
    friend class QueuedEvents;
    void onStart(int index, const RunStart &s);
    void onState(int index, int step, qint64 ms);
    void onProgress(int index, qint32 block, qint32 blocks, qint64 sent, qint64 ms);
    void onTraceCut(int index, const QString &why);
    void onEnd(int index, const QString &port, Ending ending, qint64 ms, const QString &message);
    void onThreadDone(int index, const QString &device);

    const FlashPlan &m_plan;
    const RunLimits m_limits;
    const QElapsedTimer &m_clock;
    const Listeners m_listenerFor;
    std::atomic<int> m_stop{0};
    int m_next = 0;
    std::map<int, BoardRow> m_rows;
    std::map<int, std::unique_ptr<RunEvents>> m_listeners;
    std::map<int, QThread *> m_threads; // the runs going on
};

// One trace file per board: FILE.PORT ("trace.txt.COM3"; a path's slashes become '_'), or ""
// without a trace.
QString tracePathFor(const QString &trace, const QString &port);

// Every COMn the port map stands for now, but ports with no hardware behind them, each device
// once.
QList<PortTarget> allMappedPorts();

// The error for two of `targets` that lead to one device (COM1 and its device path, two links
// to one device), compared by the device's canonical path; "" when each leads to its own.
QString givenTwice(const QString &command, const QList<PortTarget> &targets);

#pragma once

#include "flashrun.h"
#include "reporter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

class QThread;

// One board's run as the station sees it.
struct BoardRow {
    QString port, device;
    int step = 0;
    qint64 bytes = 0, bytesSent = 0;
    qint64 beganMs = 0, blocksStartMs = -1, endedMs = -1;
    Ending ending = Ending::Failure; // once ended
    QString message;
    bool running() const { return endedMs < 0; }
    // Cut short by a signal: neither passed nor failed.
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
// where they are told: JSON Lines and plain lines through a Reporter per board, each line
// naming its port; on a terminal, one line per board redrawn in place.
class BoardRuns : public QObject
{
    Q_OBJECT
public:
    BoardRuns(const CliArgs &args, const FlashPlan &plan, Reporter::Style style,
              const QElapsedTimer &clock, QObject *parent = nullptr);
    ~BoardRuns() override;

    // Starts a run on `target`; its row index is returned. `tracePath` may be empty.
    int launch(const PortTarget &target, const QString &device, const QString &tracePath);
    // Asks every run to end as the stop button would (thread-safe, also from a signal's slot).
    void stopAll(int signalNumber) { m_stop.store(signalNumber); }
    int running() const { return int(m_threads.size()); }
    // The runs by index, in order. A port's earlier runs are forgotten when it is flashed again
    // (a station runs for days): only each port's latest run is kept.
    const std::map<int, BoardRow> &rows() const { return m_rows; }

    // Final words. The summary is the last JSON object; the table is for people.
    void printTable() const;
    static void printSummary(Reporter::Style style, int passed, int failed, qint64 elapsedMs,
                             const std::function<void(JsonLine &)> &more = {});
    Reporter::Style style() const { return m_style; }

signals:
    void finished(int index);

private:
    friend class QueuedEvents;
    void onStart(int index, const RunStart &s);
    void onState(int index, int step, qint64 ms);
    void onProgress(int index, qint32 block, qint32 blocks, qint64 sent, qint64 ms);
    void onTraceCut(int index, const QString &why);
    void onEnd(int index, const QString &port, Ending ending, qint64 ms, const QString &message);
    void onThreadDone(int index, const QString &device);
    void redraw();

    const CliArgs &m_args;
    const FlashPlan &m_plan;
    const Reporter::Style m_style;
    const QElapsedTimer &m_clock;
    std::atomic<int> m_stop{0};
    int m_next = 0;
    std::map<int, BoardRow> m_rows;
    std::map<int, std::unique_ptr<Reporter>> m_reporters; // not on a terminal
    std::map<int, QThread *> m_threads;                   // the runs going on
    QTimer m_drawTimer;
    int m_linesDrawn = 0;
    bool m_dirty = false;
};

// `flash IMAGE` on several ports (several --port, a range or --all): every board at once.
// Exit status 0 when every board confirmed its download, otherwise 10 (128 + n after a signal).
int runBoards(const CliArgs &args, const QElapsedTimer &sinceStart);

// One trace file per board: FILE.PORT ("trace.txt.COM3"; a path's slashes become '_'), or ""
// without --trace.
QString tracePathFor(const QString &trace, const QString &port);

// The ports of --all: every COMn the port map stands for now, but ports with no hardware behind
// them, each device once.
QList<PortTarget> allMappedPorts();
// Why --all found no port, for the error.
QString noPortsMessage();

// The error for two of `targets` that lead to one device (COM1 and its device path, two links
// to one device), compared by the device's canonical path; "" when each leads to its own.
QString givenTwice(const QString &command, const QList<PortTarget> &targets);
// The error for `--trace -` when several boards may run at once (their traces would mix on
// standard error); "" otherwise.
QString traceSharedByBoards(const QString &command, const CliArgs &args, qsizetype portCount);

// The image refused for every board: an end object (image_refused) for each port, the reason on
// standard error, then the summary (with the keys `more` adds).
void reportRefusal(Reporter::Style style, const QList<PortTarget> &targets, const QString &refusal,
                   const QElapsedTimer &sinceStart,
                   const std::function<void(JsonLine &)> &more = {});

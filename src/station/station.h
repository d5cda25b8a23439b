#pragma once

#include "boardruns.h"
#include "portwatch.h"
#include "stationreport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>

#include <memory>

// One watched port as the operator sees it: whether a board is in, what its run is doing,
// how the port's runs went.
struct Socket {
    enum class State {
        Waiting,     // no board
        Flashing,    // a run is going on
        Passed,      // flashed, the board still in
        Failed,      // its run failed, the board still in
        Interrupted, // its run was stopped, the board still in
    };
    QString port, device, byId;
    State state = State::Waiting;
    bool boardIn = false;
    int step = 0;         // the download step while flashing
    qint64 bytesSent = 0; // while flashing
    qint64 bytes = 0;
    Ending ending = Ending::Success; // of the last run that ended, when `ran`
    QString message;                 // its message
    bool ran = false;                // some run on this port has ended
    int passed = 0, failed = 0;
    int percent() const { return bytes > 0 ? int(bytesSent * 100 / bytes) : 0; }
};

// The station's counts, over the running time of the clock it was given.
struct StationTotals {
    int passed = 0, failed = 0, interrupted = 0;
    qint64 elapsedMs = 0;
    // Boards that passed, per hour of running time.
    double boardsPerHour() const
    {
        return elapsedMs > 0 ? passed * 3'600'000.0 / double(elapsedMs) : 0;
    }
};

// What a station watches and how it runs each board.
struct StationOptions {
    QList<PortTarget> ports; // in this order; empty with `allPorts`
    bool allPorts = false;   // every port of the map, also those that come later
    RunLimits limits;
    QString tracePath; // each run's trace goes to FILE.PORT.MS; "" for none
    PortWatch::Options watch;
};

// Flashes each board once when it appears on a watched port, and again when it has gone and come
// back, every board on a thread of its own. Each run that ends is counted (passed, failed, or
// interrupted when stop() cut it short) and written to the report when there is one.
class Station : public QObject
{
    Q_OBJECT
public:
    // `report` may be null; else it is open and outlives the station.
    Station(const FlashPlan &plan, StationOptions options, const QElapsedTimer &clock,
            StationReport *report, BoardRuns::Listeners listeners = {}, QObject *parent = nullptr);
    ~Station() override;

    // Starts watching: the boards present now are flashed at once.
    void start();
    // Takes no new board; the runs going on end as `signalNumber` (SIGINT for the stop button)
    // would end them, each port closed and its lock released. stopped() follows once no run is
    // left, also at once when none was going on.
    void stop(int signalNumber);
    bool isStopping() const { return m_stopping; }
    bool isStopped() const { return m_stopping && m_runs.running() == 0; }

    // The watched ports in order: the ports given, or every port the map had at the start and
    // each one that came later.
    const QList<Socket> &sockets() const { return m_sockets; }
    StationTotals totals() const;
    int rowsLost() const { return m_rowsLost; }
    const BoardRuns &runs() const { return m_runs; }
    const FlashPlan &plan() const { return m_plan; }

signals:
    void plugged(const PortPresence &presence);
    void unplugged(const PortPresence &presence);
    // A socket's state, step, progress or counts changed.
    void socketChanged(int socket);
    // A run ended and was counted.
    void runEnded(const BoardRow &row);
    // A row the report could not take; the station goes on.
    void rowLost(const StationRow &row, const QString &why);
    void traceCut(const QString &tracePath, const QString &why);
    void stopped();

private:
    void appeared(const PortPresence &p);
    void gone(const PortPresence &p);
    void launch(const PortPresence &p);
    void ended(int index);
    void finishStop();
    void writeRow(const BoardRow &row, const PortPresence &p);
    void rowChanged(int index);
    int socketFor(const QString &port);
    bool runningOn(const QString &port) const;

    const FlashPlan &m_plan;
    const StationOptions m_options;
    const QElapsedTimer &m_clock;
    StationReport *m_report;
    BoardRuns m_runs;
    std::unique_ptr<PortWatch> m_watch;

    QList<Socket> m_sockets;
    QHash<int, PortPresence> m_flashed;     // the runs going on: row -> the board it flashes
    QHash<QString, PortPresence> m_waiting; // port -> a board that came while its run went on
    StationTotals m_totals;
    int m_rowsLost = 0;
    bool m_stopping = false;
};

#include "station.h"

#include "configdir.h"
#include "portmap.h"

Station::Station(const FlashPlan &plan, StationOptions options, const QElapsedTimer &clock,
                 StationReport *report, BoardRuns::Listeners listeners, QObject *parent)
    : QObject(parent), m_plan(plan), m_options(std::move(options)), m_clock(clock),
      m_report(report), m_runs(plan, m_options.limits, clock, std::move(listeners))
{
    connect(&m_runs, &BoardRuns::changed, this, &Station::rowChanged);
    connect(&m_runs, &BoardRuns::finished, this, &Station::ended);
    connect(&m_runs, &BoardRuns::traceCut, this, [this](int index, const QString &why) {
        emit traceCut(m_runs.rows().at(index).tracePath, why);
    });
    for (const PortTarget &t : m_options.allPorts ? allMappedPorts() : m_options.ports)
        socketFor(t.name);
}

Station::~Station() = default;

void Station::start()
{
    m_watch = m_options.allPorts ? std::make_unique<PortWatch>(m_options.watch)
                                 : std::make_unique<PortWatch>(m_options.ports, m_options.watch);
    connect(m_watch.get(), &PortWatch::appeared, this, &Station::appeared);
    connect(m_watch.get(), &PortWatch::gone, this, &Station::gone);
    m_watch->start(); // the boards present now appear at once
}

void Station::stop(int signalNumber)
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_watch.reset(); // no new boards from here on
    m_waiting.clear();
    m_runs.stopAll(signalNumber);
    if (m_runs.running() == 0)
        finishStop();
}

void Station::finishStop()
{
    m_totals.elapsedMs = m_clock.elapsed(); // the running time ends here
    emit stopped();
}

StationTotals Station::totals() const
{
    StationTotals totals = m_totals;
    if (!isStopped())
        totals.elapsedMs = m_clock.elapsed();
    return totals;
}

int Station::socketFor(const QString &port)
{
    for (qsizetype i = 0; i < m_sockets.size(); ++i)
        if (m_sockets[i].port == port)
            return int(i);
    Socket socket;
    socket.port = port;
    socket.bytes = m_plan.image.span;
    m_sockets << socket;
    return int(m_sockets.size() - 1);
}

bool Station::runningOn(const QString &port) const
{
    for (const PortPresence &p : m_flashed)
        if (p.port == port)
            return true;
    return false;
}

void Station::appeared(const PortPresence &p)
{
    if (m_stopping)
        return;
    const int at = socketFor(p.port);
    Socket &socket = m_sockets[at];
    socket.boardIn = true;
    socket.device = p.device;
    socket.byId = p.byId;
    emit plugged(p);
    if (runningOn(p.port))
        m_waiting.insert(p.port, p); // its run ends first (the old board went away under it)
    else
        launch(p);
    emit socketChanged(at);
}

void Station::gone(const PortPresence &p)
{
    if (m_stopping)
        return;
    m_waiting.remove(p.port);
    const int at = socketFor(p.port);
    Socket &socket = m_sockets[at];
    socket.boardIn = false;
    if (socket.state != Socket::State::Flashing) // a run going on ends of its own
        socket.state = Socket::State::Waiting;
    emit unplugged(p);
    emit socketChanged(at);
}

void Station::launch(const PortPresence &p)
{
    // A COM number goes through the port map as the window's does; a device by its path.
    PortTarget target = resolvePort(p.port);
    // Numbered by the system's list, a COM number may stand for another device by now: the
    // board is flashed on the device it appeared on.
    if (target.com > 0 && !p.device.isEmpty() && !PortMap(m_options.watch.configDir).usesLinks())
        target = PortTarget{target.name, 0, p.device};
    if (target.com == 0)
        target.path = p.device.isEmpty() ? target.path : p.device;
    // Each run its own trace: FILE.PORT.MS, the milliseconds since the station started.
    const QString trace = tracePathFor(m_options.tracePath, p.port);
    const int index =
        m_runs.launch(target, p.device,
                      trace.isEmpty() ? trace : trace + u'.' + QString::number(m_clock.elapsed()));
    m_flashed.insert(index, p);
}

void Station::rowChanged(int index)
{
    const BoardRow &row = m_runs.rows().at(index);
    if (!row.running())
        return; // told once counted, when its thread is over
    const int at = socketFor(row.port);
    Socket &socket = m_sockets[at];
    socket.state = Socket::State::Flashing;
    socket.step = row.step;
    socket.bytesSent = row.bytesSent;
    emit socketChanged(at);
}

void Station::ended(int index)
{
    const BoardRow row = m_runs.rows().at(index); // a copy: a new run may forget it
    const PortPresence p = m_flashed.take(index);
    const bool passed = row.ending == Ending::Success;
    // A run that a stop cut short neither passed nor failed.
    (passed ? m_totals.passed : row.interrupted() ? m_totals.interrupted : m_totals.failed) += 1;
    const int at = socketFor(row.port);
    Socket &socket = m_sockets[at];
    socket.bytesSent = row.bytesSent;
    if (!row.interrupted()) {
        (passed ? socket.passed : socket.failed) += 1;
        socket.ending = row.ending;
        socket.message = row.message;
        socket.ran = true;
    }
    socket.state = !socket.boardIn     ? Socket::State::Waiting
                   : passed            ? Socket::State::Passed
                   : row.interrupted() ? Socket::State::Interrupted
                                       : Socket::State::Failed;
    writeRow(row, p);
    emit runEnded(row);
    emit socketChanged(at);
    if (m_stopping) {
        if (m_runs.running() == 0)
            finishStop();
        return;
    }
    if (m_waiting.contains(p.port))
        launch(m_waiting.take(p.port));
}

void Station::writeRow(const BoardRow &row, const PortPresence &p)
{
    if (!m_report)
        return;
    StationRow r;
    r.port = row.port;
    r.device = row.device.isEmpty() ? p.device : row.device;
    r.byId = p.byId;
    r.usbSerial = p.usbSerial;
    r.imageSha256 = m_plan.sha256;
    r.bytes = m_plan.image.span;
    // The closing signal's cut, whichever signal it was, is an interruption.
    r.outcome = row.interrupted() ? infoOf(Ending::Interrupted).token : infoOf(row.ending).token;
    r.exitCode = exitCodeOf(row.ending);
    r.seconds = row.seconds();
    QString why;
    if (!m_report->append(r, &why)) {
        ++m_rowsLost;
        emit rowLost(r, why);
    }
}

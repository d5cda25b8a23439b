#include "boardruns.h"

#include "configdir.h"
#include "portmap.h"
#include "portprobe.h"
#include "runtext.h"

#include <QFileInfo>
#include <QHash>
#include <QThread>

#include <csignal>

// A run's events, carried from its thread to the BoardRuns' thread in the order they happen.
// Each carries copies only: the run and this object are gone by the time the last one is read.
class QueuedEvents : public RunEvents
{
public:
    QueuedEvents(BoardRuns &to, int index) : m_to(to), m_index(index) {}
    void start(const RunStart &s) override
    {
        post([to = &m_to, i = m_index, s] { to->onStart(i, s); });
    }
    void state(int step, qint64 ms) override
    {
        post([to = &m_to, i = m_index, step, ms] { to->onState(i, step, ms); });
    }
    void progress(qint32 block, qint32 blocks, qint64 sent, qint64 ms) override
    {
        post([to = &m_to, i = m_index, block, blocks, sent, ms] {
            to->onProgress(i, block, blocks, sent, ms);
        });
    }
    void traceCut(const QString &why) override
    {
        post([to = &m_to, i = m_index, why] { to->onTraceCut(i, why); });
    }
    void end(const QString &port, Ending ending, qint64 ms, const QString &message) override
    {
        post([to = &m_to, i = m_index, port, ending, ms, message] {
            to->onEnd(i, port, ending, ms, message);
        });
    }

private:
    template <typename F> void post(F &&f)
    {
        QMetaObject::invokeMethod(&m_to, std::forward<F>(f), Qt::QueuedConnection);
    }
    BoardRuns &m_to;
    const int m_index;
};

BoardRuns::BoardRuns(const FlashPlan &plan, const RunLimits &limits, const QElapsedTimer &clock,
                     Listeners listeners, QObject *parent)
    : QObject(parent), m_plan(plan), m_limits(limits), m_clock(clock),
      m_listenerFor(std::move(listeners))
{
}

BoardRuns::~BoardRuns()
{
    m_stop.store(SIGTERM);
    for (const auto &[index, thread] : m_threads) {
        thread->wait();
        delete thread;
    }
}

int BoardRuns::launch(const PortTarget &target, const QString &device, const QString &tracePath)
{
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (it->second.port == target.name && !it->second.running()) {
            m_listeners.erase(it->first);
            it = m_rows.erase(it);
        } else {
            ++it;
        }
    }
    const int index = m_next++;
    BoardRow row;
    row.port = target.name;
    row.device = device;
    row.tracePath = tracePath;
    row.bytes = m_plan.image.span;
    row.beganMs = m_clock.elapsed();
    m_rows[index] = row;
    m_listeners[index] = m_listenerFor ? m_listenerFor(index) : nullptr;
    QThread *thread = QThread::create([this, index, target, tracePath] {
        QueuedEvents events(*this, index);
        QString device;
        {
            BoardRun run(m_plan, target, m_limits, events, m_clock, m_stop, tracePath);
            run.run(); // its end reached this object through `events`
            device = run.device();
        }
        QMetaObject::invokeMethod(
            this, [this, index, device] { onThreadDone(index, device); }, Qt::QueuedConnection);
    });
    thread->setObjectName(target.name);
    m_threads[index] = thread;
    thread->start();
    emit changed(index);
    return index;
}

void BoardRuns::onStart(int index, const RunStart &s)
{
    m_rows[index].device = s.device;
    if (auto &r = m_listeners[index])
        r->start(s);
    emit changed(index);
}

void BoardRuns::onState(int index, int step, qint64 ms)
{
    BoardRow &row = m_rows[index];
    row.step = step;
    if (step == 3 && row.blocksStartMs < 0)
        row.blocksStartMs = ms;
    if (auto &r = m_listeners[index])
        r->state(step, ms);
    emit changed(index);
}

void BoardRuns::onProgress(int index, qint32 block, qint32 blocks, qint64 sent, qint64 ms)
{
    BoardRow &row = m_rows[index];
    row.bytesSent = sent;
    if (row.blocksStartMs < 0)
        row.blocksStartMs = ms;
    if (auto &r = m_listeners[index])
        r->progress(block, blocks, sent, ms);
    emit changed(index);
}

void BoardRuns::onTraceCut(int index, const QString &why)
{
    if (auto &r = m_listeners[index])
        r->traceCut(why);
    emit traceCut(index, why);
}

void BoardRuns::onEnd(int index, const QString &port, Ending ending, qint64 ms,
                      const QString &message)
{
    BoardRow &row = m_rows[index];
    row.ending = ending;
    row.endedMs = ms;
    row.message = message;
    if (auto &r = m_listeners[index])
        r->end(port, ending, ms, message);
    emit changed(index);
}

void BoardRuns::onThreadDone(int index, const QString &device)
{
    BoardRow &row = m_rows[index];
    if (row.device.isEmpty())
        row.device = device;
    QThread *thread = m_threads[index];
    m_threads.erase(index);
    thread->wait();
    delete thread;
    emit finished(index);
}

QList<PortTarget> allMappedPorts()
{
    const PortMap map(vantrelConfigDir());
    QList<PortTarget> targets;
    QStringList devices;
    for (int n = firstCom; n <= lastListedCom; ++n) {
        const QString device = map.deviceFor(n);
        // A device reached by two links is flashed once, under its first COM number.
        if (device.isEmpty() || devices.contains(device) ||
            hasNoHardware(QFileInfo(device).fileName()))
            continue;
        devices << device;
        targets << PortTarget{comName(n), n, QString()};
    }
    return targets;
}

QString givenTwice(const QString &command, const QList<PortTarget> &targets)
{
    const PortMap map(vantrelConfigDir());
    QHash<QString, QString> named; // device -> the first name given for it
    for (const PortTarget &t : targets) {
        const QString device =
            t.com > 0 ? map.deviceFor(t.com) : QFileInfo(t.path).canonicalFilePath();
        if (device.isEmpty())
            continue;
        if (const auto first = named.constFind(device); first != named.cend())
            return QStringLiteral("%1: %2 and %3 are one device (%4): a port is given twice")
                .arg(command, shownName(*first), shownName(t.name), shownName(device));
        named.insert(device, t.name);
    }
    return QString();
}

QString tracePathFor(const QString &trace, const QString &port)
{
    if (trace.isEmpty())
        return trace;
    QString suffix = port;
    suffix.replace(u'/', u'_');
    return trace + u'.' + suffix;
}

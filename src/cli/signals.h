#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP, delivered as a Qt signal on the main thread (through a pipe the
// handler writes to), so that a run ends as the stop button ends it: port closed, lock
// released. A second SIGINT while the first is still being handled ends the process at once.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // The exit status that goes with a signal: 128 + its number.
    static int exitCodeFor(int signalNumber) { return 128 + signalNumber; }

signals:
    void received(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};

#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP (Ctrl-C, `kill`, a logout or a closed terminal) delivered as a Qt
// signal on the thread that made this object, so that a program ends as its stop or exit button
// ends it: port closed, lock released. The handler only writes the signal's number into a pipe.
// A second signal of the same kind, while the first is still being handled, ends the process at
// once with status 128 + its number. One instance per process; the default actions come back
// when it is destroyed.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

    // The exit status that goes with a signal: 128 + its number.
    static int exitCodeFor(int signalNumber) { return 128 + signalNumber; }

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

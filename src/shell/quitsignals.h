#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGHUP and SIGINT (a logout, `kill`, Ctrl-C in the terminal) into a Qt signal
// on the user-interface thread, so the program can end as its exit button does: port closed,
// lock released. The handler only writes the signal's number into a pipe; a second signal of
// the same kind, while the first is still being handled, ends the program at once.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override; // the default actions come back

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

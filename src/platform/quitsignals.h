#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT, SIGTERM and SIGHUP (Ctrl-C, `kill`, a logout or a closed terminal) delivered as a Qt
// signal on the thread that made this object, so that a program ends as its stop or exit button
// ends it: port closed, lock released. The handler only writes the signal's number into a pipe,
// so a blocking call it interrupts fails with EINTR rather than being restarted unseen.
//
// install() sets the handlers up for the whole process and is meant to run first thing in
// main(), before anything slow: a signal that comes before any QuitSignals object exists waits
// in the pipe and is delivered once one does (pending() tells of it at once). A signal that was
// ignored when the process started (nohup, a background job of a script) stays ignored. A
// second signal of the same kind, while the first is still being handled, ends the process at
// once with status 128 + its number. One instance at a time.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

    // Sets the handlers up once for the process; later calls do nothing.
    static void install();
    // For a program that will not listen: the default actions come back, and a signal that
    // came since install() takes its default action now.
    static void release();
    // The first signal received so far, 0 when none.
    static int pending();

    // The exit status that goes with a signal: 128 + its number.
    static int exitCodeFor(int signalNumber) { return 128 + signalNumber; }

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

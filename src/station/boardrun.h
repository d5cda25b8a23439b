#pragma once

#include "endings.h"
#include "firmwareimage.h"
#include "portname.h"
#include "runevents.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <memory>

// What every board of one station shares: the flat image and the line settings.
struct FlashPlan {
    QString imagePath;
    FirmwareImage::Result image;
    QString sha256;
    qint32 downloadRate = 0, resetRate = 0;
    bool autoReset = false;
};

// How long a board may keep a run waiting.
struct RunLimits {
    double connectTimeoutS = 30; // for the answer to the download request
    double doneTimeoutS = 10;    // for the completion reply after the last block
};

// One board's download on the calling thread: opens the port and runs the download engine
// against the board until the completion reply, a failure, a time limit or a stop request.
// Everything it makes lives on that thread, so several boards run side by side, each on a thread of
// its own, and a blocking wait on one port never holds up another.
class BoardRun
{
public:
    // `stop` is read at each 10 ms tick: a signal number (not 0) ends the run, with that
    // signal's ending. `tracePath` may be empty.
    BoardRun(const FlashPlan &plan, const PortTarget &target, const RunLimits &limits,
             RunEvents &events, const QElapsedTimer &clock, const std::atomic<int> &stop,
             const QString &tracePath);
    ~BoardRun();
    BoardRun(const BoardRun &) = delete;
    BoardRun &operator=(const BoardRun &) = delete;

    Ending run();
    // The device the port stood for when the run began ("" when it stood for none).
    QString device() const;
    // Why the run's trace was cut short by a failed write, "" when it was not.
    QString traceFailure() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The message of a run that a signal ended.
QString stopMessage(Ending ending, int signalNumber);

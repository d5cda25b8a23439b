#pragma once

#include "endings.h"
#include "firmwareimage.h"
#include "portname.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

struct CliArgs;
class Reporter;
class RunEvents;

// What every board of one command shares: the flat image and the line settings the window
// would use (its settings file), overridden by the command line.
struct FlashPlan {
    QString imagePath;
    FirmwareImage::Result image;
    QString sha256;
    qint32 downloadRate = 0, resetRate = 0;
    bool autoReset = false;
};

// The image file as the command line reads it: a file whose content is another firmware format
// than its name says is refused (`refusal` names the format found and the ways on), unless --raw
// takes every file byte for byte.
FirmwareImage::Result readImage(const CliArgs &args, QString *refusal);

// Reads the settings and the image. Empty, with the reason in `refusal`, when the image cannot
// be downloaded.
std::optional<FlashPlan> makePlan(const CliArgs &args, QString *refusal);

// One board's download on the calling thread: opens the port and runs the download engine
// against the board until the completion reply, a failure, a time limit or a stop request.
// Everything it makes lives on that thread, so several boards run side by side, each on a thread of
// its own, and a blocking wait on one port never holds up another.
class BoardRun
{
public:
    // `stop` is read at each 10 ms tick: a signal number (not 0) ends the run, with that
    // signal's ending. `tracePath` may be empty.
    BoardRun(const CliArgs &args, const FlashPlan &plan, const PortTarget &target,
             RunEvents &events, const QElapsedTimer &clock, const std::atomic<int> &stop,
             const QString &tracePath);
    ~BoardRun();
    BoardRun(const BoardRun &) = delete;
    BoardRun &operator=(const BoardRun &) = delete;

    Ending run();
    // The device the port stood for when the run began ("" when it stood for none).
    QString device() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// One board from the command line: the plan, the run, signals. Returns the exit status.
int runFlash(const CliArgs &args, Reporter &reporter, const QElapsedTimer &sinceStart);

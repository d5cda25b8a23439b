#pragma once

#include "boardrun.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

struct CliArgs;
class Reporter;

// The command line's time limits for a board.
RunLimits limitsOf(const CliArgs &args);
// Tells that a run's trace was cut short by a failed write.
void printTraceCut(const QString &tracePath, const QString &why);

// The image file as the command line reads it: a file whose content is another firmware format
// than its name says is refused (`refusal` names the format found and the ways on), unless --raw
// takes every file byte for byte.
FirmwareImage::Result readImage(const CliArgs &args, QString *refusal);

// Reads the settings and the image. Empty, with the reason in `refusal`, when the image cannot
// be downloaded.
std::optional<FlashPlan> makePlan(const CliArgs &args, QString *refusal);

// One board from the command line: the plan, the run, signals. Returns the exit status.
int runFlash(const CliArgs &args, Reporter &reporter, const QElapsedTimer &sinceStart);

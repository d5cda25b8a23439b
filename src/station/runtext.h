#pragma once

#include <QString>

// Words every front end uses to tell of a run.

// A file, port or device name for plain output: control characters (a line end, ESC, CSI)
// written as escapes "\n", "\x1b", so that a name can neither start a line of its own nor
// drive the terminal.
QString shownName(const QString &name);
// "1 block", "2 blocks": a count and its unit, the unit in the plural but for exactly one.
QString counted(qint64 count, const QString &unit);
// The download step's name: "idle", "connect", "length", "blocks", "completion".
QString stepName(int step);
// " 42% [#####.......]": the share of `bytes` sent, as a bar of `width` marks.
QString percentBar(qint64 sent, qint64 bytes, int width);
// kB/s since the first block went out at `blocksStartMs` (0 before it).
double rateKBps(qint64 sent, qint64 blocksStartMs, qint64 nowMs);
// Where the package puts a file of the documentation: "/usr/share/doc/vantrel/protocol.md".
QString docFile(const QString &name);

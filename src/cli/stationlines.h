#pragma once

#include "endings.h"
#include "station.h"

#include <QList>
#include <QString>
#include <QStringList>

// The station on a terminal, as lines of text: one per watched port (its name, what it is doing
// or how its last run went, its counts), then the totals. A pure function of the station's state,
// so that what the operator reads can be shown without a terminal.

// The lines for `sockets` and `totals`, none wider than `width` columns: the bar goes first, then
// the failure's reason, then the counts, and only then is a line cut (its port name first, so
// that it stays where it fits). Names are shown with their control characters escaped.
QStringList stationLines(const QList<Socket> &sockets, const StationTotals &totals, int width);

// Why a run ended as it did, in a few words for the operator: "no answer", "port vanished".
QString shortReason(Ending ending);

// The columns `text` takes on a terminal: two for a wide (East Asian) character, else one.
int columnsOf(const QString &text);

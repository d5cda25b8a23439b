#pragma once

#include "station.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

// The station on a terminal: the lines of stationLines() redrawn in place within the terminal's
// width, at most ten times a second and at least once a second (the running time goes on); the
// failed ports and their reasons at the end. Draws nothing when `onTerminal` is false.
class StationScreen
{
public:
    StationScreen(const Station &station, bool onTerminal);
    // Draws the last state once more and stops redrawing.
    void finish();
    // Something was written below the lines: the next ones are drawn below it.
    void setAside() { m_linesDrawn = 0; }
    // Each port that had a failed run: its name and the message of its last failure.
    void printFailures() const;

private:
    void redraw();

    const Station &m_station;
    QTimer m_drawTimer;
    QElapsedTimer m_sinceDrawn;
    QHash<QString, QString> m_lastFailure; // port -> the message of its last failed run
    int m_linesDrawn = 0;
    bool m_dirty = true;
};

// The terminal's width in columns: standard output's window size, else $COLUMNS, else 80.
int terminalColumns();

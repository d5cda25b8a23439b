#pragma once

#include "boardruns.h"
#include "flashrun.h"
#include "reporter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

struct CliArgs;

// On a terminal, one line per board redrawn in place as its run goes on; nothing elsewhere.
class BoardLines : public QObject
{
    Q_OBJECT
public:
    BoardLines(const BoardRuns &runs, Reporter::Style style, const QElapsedTimer &clock);
    // Draws the last state once more and stops redrawing.
    void finish();

private:
    void redraw();

    const BoardRuns &m_runs;
    const QElapsedTimer &m_clock;
    QTimer m_drawTimer;
    int m_linesDrawn = 0;
    bool m_dirty = false;
};

// A reporter for each run, but on a terminal, where the lines tell it all.
BoardRuns::Listeners reportersFor(Reporter::Style style);

// Final words. The summary is the last JSON object; the table is for people.
void printTable(Reporter::Style style, const BoardRuns &runs);
void printSummary(Reporter::Style style, int passed, int failed, qint64 elapsedMs,
                  const std::function<void(JsonLine &)> &more = {});

// `flash IMAGE` on several ports (several --port, a range or --all): every board at once.
// Exit status 0 when every board confirmed its download, otherwise 10 (128 + n after a signal).
int runBoards(const CliArgs &args, const QElapsedTimer &sinceStart);

// The ports given on the command line, resolved.
QList<PortTarget> givenPorts(const CliArgs &args);
// Why --all found no port, for the error.
QString noPortsMessage();

// The error for `--trace -` when several boards may run at once (their traces would mix on
// standard error); "" otherwise.
QString traceSharedByBoards(const QString &command, const CliArgs &args, qsizetype portCount);

// The image refused for every board: an end object (image_refused) for each port, the reason on
// standard error, then the summary (with the keys `more` adds).
void reportRefusal(Reporter::Style style, const QList<PortTarget> &targets, const QString &refusal,
                   const QElapsedTimer &sinceStart,
                   const std::function<void(JsonLine &)> &more = {});

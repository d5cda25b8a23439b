#include "stationscreen.h"

#include "runtext.h"
#include "stationlines.h"

#include <cstdio>
#include <cstdlib>

#include <sys/ioctl.h>
#include <unistd.h>

StationScreen::StationScreen(const Station &station, bool onTerminal) : m_station(station)
{
    QObject::connect(&station, &Station::runEnded, &m_drawTimer, [this](const BoardRow &row) {
        if (row.ending != Ending::Success && !row.interrupted())
            m_lastFailure.insert(row.port, row.message);
    });
    if (!onTerminal)
        return;
    m_drawTimer.setInterval(100);
    QObject::connect(&m_drawTimer, &QTimer::timeout, &m_drawTimer, [this] {
        if (m_dirty || m_sinceDrawn.hasExpired(1000))
            redraw();
    });
    QObject::connect(&station, &Station::socketChanged, &m_drawTimer, [this] { m_dirty = true; });
    m_sinceDrawn.start();
    m_drawTimer.start();
}

void StationScreen::finish()
{
    if (!m_drawTimer.isActive())
        return;
    m_drawTimer.stop();
    redraw();
}

void StationScreen::redraw()
{
    m_dirty = false;
    m_sinceDrawn.restart();
    // One column short of the width: a line that filled the last column would leave the cursor
    // waiting to wrap, and some terminals then erase that column or wrap the line.
    const QStringList lines =
        stationLines(m_station.sockets(), m_station.totals(), terminalColumns() - 1);
    QByteArray text;
    if (m_linesDrawn > 0)
        text += "\033[" + QByteArray::number(m_linesDrawn) + "A"; // back to the first line
    for (const QString &line : lines)
        text += '\r' + line.toUtf8() + "\033[K\n";
    m_linesDrawn = int(lines.size());
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

void StationScreen::printFailures() const
{
    QByteArray text;
    for (const Socket &s : m_station.sockets()) {
        if (s.failed == 0 || !m_lastFailure.contains(s.port))
            continue;
        text +=
            (shownName(s.port) + QStringLiteral(": ") + shownName(m_lastFailure[s.port])).toUtf8();
        if (s.failed > 1)
            text += " (the last of " + QByteArray::number(s.failed) + " failures)";
        text += '\n';
    }
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

int terminalColumns()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    // $COLUMNS as a shell sets it; anything else is no width.
    bool ok = false;
    const int columns = qEnvironmentVariable("COLUMNS").toInt(&ok);
    return ok && columns > 0 && columns <= 10000 ? columns : 80;
}

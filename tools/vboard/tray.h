#pragma once

#include "ptyboard.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace VBoard
{

// When the boards of a tray are plugged in and pulled out. Times in ms; -1: not set.
struct PlugSchedule {
    int unplugAfterMs = -1;    // a board stays plugged this long from each plug
    int replugAfterMs = -1;    // and stays out this long; -1: it never comes back
    int staggerMs = 0;         // board k (from 0) is first plugged k * staggerMs after the start
    int cycles = 0;            // plug cycles per board (a plug and its unplug); 0: no limit
    int unplugWhenDoneMs = -1; // pulled out this long after each completed download's last reply

    // Plugged every unplugAfterMs + replugAfterMs from the board's first plug.
    bool periodic() const { return unplugAfterMs >= 0 && replugAfterMs >= 0; }
};

// A tray of virtual boards, each on its own pseudo-terminal and thread, optionally linked as
// <ports>/comK. A board that is pulled out (by the schedule or by vanishing) loses its link and
// its terminal, so that the program's open port hangs up; plugged in again, it gets a new
// terminal and the link is made anew.
class Tray
{
public:
    struct Slot {
        int com = 0;  // 0: no link
        QString link; // <ports>/comK, or empty
        PtyBoard::Settings settings;
    };
    // Called on the board's own thread, with the slot's index.
    struct Events {
        std::function<void(int slot, const QString &slavePath)> plugged;
        std::function<void(int slot)> unplugged;
        // `count`: downloads this slot has taken, this one included.
        std::function<void(int slot, const QByteArray &image, int blocks, int count)> downloaded;
        std::function<void(int slot, const QString &error)> failed;
    };

    Tray(const QList<Slot> &sockets, const PlugSchedule &schedule, bool once, const Events &events);
    ~Tray();
    Tray(const Tray &) = delete;
    Tray &operator=(const Tray &) = delete;

    // Plays every board, each on its own thread, and returns when all have stopped: by stop(),
    // with `once` after a complete download, or when no plug is left in the schedule. Every
    // link made is removed by then, unless someone has relinked the name meanwhile.
    void run();
    // From any thread or a signal handler.
    void stop();

private:
    void play(int slot, int64_t firstPlugNs);
    bool plug(int slot);
    void pullOut(int slot);

    QList<Slot> m_sockets;
    PlugSchedule m_schedule;
    bool m_once;
    Events m_events;
    std::vector<std::unique_ptr<PtyBoard>> m_boards;
    std::atomic<bool> m_stopping{false};
};

} // namespace VBoard

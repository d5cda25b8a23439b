#pragma once

#include "board.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// Opens a pseudo-terminal with both sides in raw mode before any byte moves (a fresh pty
// echoes, translates CR and treats ^Z specially), the master non-blocking, both descriptors
// close-on-exec. False with errno set when there is none.
bool openRawPty(int &master, int &slave, QString &slavePath);

// The virtual board on a pseudo-terminal: the board's state machine fed from the master side,
// its replies written back at their due times, optionally paced at a baud rate (10 bits per
// byte, 8N1, both ways). The program under test opens the slave.
//
// service() does all the work that is due and tells when it wants to run next, so the board
// can run in its own loop (run()) or inside another event loop (a test's).
class PtyBoard
{
public:
    struct Settings {
        VBoard::Options board;
        int baud = 0;           // 0: no pacing
        int idleResetMs = 1000; // a download the host left this long is abandoned; 0: never
    };

    explicit PtyBoard(const Settings &settings);
    ~PtyBoard();
    PtyBoard(const PtyBoard &) = delete;
    PtyBoard &operator=(const PtyBoard &) = delete;

    // Opens the pseudo-terminal, both sides in raw mode before anything else. The slave stays
    // open here too, so that the master never reads a hang-up between the program's opens.
    // After unplug() it opens a new one: the board is plugged in again.
    bool open(QString *error = nullptr);
    // Closes both sides, as when the adapter is pulled out: the program's side reads a hang-up.
    // The board starts over waiting for a request; stop() still works while unplugged.
    void unplug();
    bool plugged() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Reads what the host wrote, feeds the board and writes what is due. When a host has closed
    // the slave (also by dying), the terminal's exclusive mode is cleared: Qt sets it on open
    // and clears it on close, so a killed host would otherwise leave the next one refused.
    // Returns the
    // monotonic time (ns) at which it wants to be called again, or -1 when only new input
    // can give it work.
    int64_t service();

    // Runs service() until stop() is called (from any thread or a signal handler), until
    // `unplugAtNs` (monotonic ns, when >= 0) has come, until the board vanishes
    // (Fault::VanishAfter), or with `once` until a download has been completed and its last
    // reply written.
    enum class RunEnd { Stopped, Completed, UnplugTime, Vanished };
    RunEnd run(bool once);
    void stop();
    // Sleeps until `ns` (monotonic), false when stop() woke it first.
    bool sleepUntil(int64_t ns);
    int64_t unplugAtNs = -1;

    // As when the adapter is pulled out: the program's side reads a hang-up.
    void closeMaster();
    // Writes bytes to the host at once, outside the protocol.
    void writeRaw(const QByteArray &bytes);

    VBoard::Board &board() { return m_board; }
    // Bytes written to the program that it has not read yet.
    int unreadByHost() const;
    // Every byte the host has written so far, in order.
    const QByteArray &received() const { return m_received; }

    // Timestamps (CLOCK_MONOTONIC, ns) of each reply's last byte written and of each block
    // taken complete, in order; kept when `tracing` is set.
    struct Event {
        char what; // 'A'..'D' for replies, 'b' for a block taken
        int64_t ns;
    };
    bool tracing = false;
    std::vector<Event> trace;
    // Called with the image each time a download has been taken whole, its last reply
    // already scheduled (lastDueNs()).
    std::function<void(const QByteArray &)> onDownload;
    // When the last byte waiting to be written is due (monotonic ns), or 0 when none is.
    int64_t lastDueNs() const { return m_pending.empty() ? 0 : m_pending.back().due; }

    static int64_t nowNs();

private:
    void readInput(int64_t now);
    void schedule(int64_t due, const VBoard::Write &write);
    void writeDue(int64_t now);
    void clearExclusiveAfterClose();
    bool drainWake();

    Settings m_settings;
    VBoard::Board m_board;
    int m_master = -1;
    int m_slave = -1;
    int m_wake[2] = {-1, -1};
    int m_closes = -1; // inotify: someone closed the slave
    bool m_vanished = false;
    QString m_slavePath;
    int64_t m_byteNs = 0;
    int64_t m_rxFree = 0; // the host-to-board line is busy until then
    int64_t m_txFree = 0; // the board-to-host line is busy until then
    int64_t m_lastActivity = 0;
    QByteArray m_received;

    struct Pending {
        int64_t due;
        QByteArray bytes;
        char reply;
    };
    std::deque<Pending> m_pending;
};

#include "tray.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <thread>

namespace
{

constexpr int64_t msNs = 1'000'000;
constexpr int64_t never = INT64_MAX;

} // namespace

namespace VBoard
{

Tray::Tray(const QList<Slot> &sockets, const PlugSchedule &schedule, bool once,
           const Events &events)
    : m_sockets(sockets), m_schedule(schedule), m_once(once), m_events(events)
{
    // Every board exists before run(), so that stop() can reach it from a signal handler.
    for (const Slot &slot : m_sockets)
        m_boards.push_back(std::make_unique<PtyBoard>(slot.settings));
}

Tray::~Tray() = default;

void Tray::run()
{
    const int64_t start = PtyBoard::nowNs();
    std::vector<std::thread> threads;
    for (int i = 0; i < m_sockets.size(); ++i)
        threads.emplace_back(
            [this, i, start] { play(i, start + i * m_schedule.staggerMs * msNs); });
    for (std::thread &t : threads)
        t.join();
}

void Tray::stop()
{
    m_stopping.store(true);
    for (const auto &board : m_boards)
        board->stop();
}

bool Tray::plug(int slot)
{
    PtyBoard &board = *m_boards[slot];
    const QString &link = m_sockets[slot].link;
    QString error;
    if (!board.open(&error)) {
        m_events.failed(slot, QStringLiteral("cannot open a pseudo-terminal: %1").arg(error));
        return false;
    }
    if (!link.isEmpty()) {
        // A new link even when the kernel hands out the same /dev/pts number again: whoever
        // watches the folder sees the name go and come back.
        const QFileInfo old(link);
        if (old.isSymLink() && old.exists() && old.canonicalFilePath() != board.slavePath()) {
            m_events.failed(slot, QStringLiteral("%1 leads to %2 now, another board's; not "
                                                 "taking it over")
                                      .arg(link, old.symLinkTarget()));
            board.unplug();
            return false;
        }
        if (old.isSymLink())
            QFile::remove(link);
        if (!QFile::link(board.slavePath(), link)) {
            m_events.failed(slot,
                            QStringLiteral("cannot link %1 to %2").arg(link, board.slavePath()));
            board.unplug();
            return false;
        }
    }
    m_events.plugged(slot, board.slavePath());
    return true;
}

void Tray::pullOut(int slot)
{
    PtyBoard &board = *m_boards[slot];
    const QString &link = m_sockets[slot].link;
    // The name goes first, then the terminal, as when udev removes an adapter's links.
    if (!link.isEmpty() && QFileInfo(link).symLinkTarget() == board.slavePath())
        QFile::remove(link);
    board.unplug();
}

void Tray::play(int slot, int64_t firstPlugNs)
{
    PtyBoard &board = *m_boards[slot];
    const PlugSchedule &s = m_schedule;
    const int64_t period = s.periodic() ? int64_t(s.unplugAfterMs + s.replugAfterMs) * msNs : 0;
    board.onDownload = [&](const QByteArray &image) {
        m_events.downloaded(slot, image, board.board().blocksReceived(),
                            board.board().downloadsCompleted());
        if (s.unplugWhenDoneMs >= 0) {
            const int64_t at =
                std::max(PtyBoard::nowNs(), board.lastDueNs()) + s.unplugWhenDoneMs * msNs;
            board.unplugAtNs = board.unplugAtNs < 0 ? at : std::min(board.unplugAtNs, at);
        }
    };

    int64_t plugAt = firstPlugNs;
    for (int cycle = 0; s.cycles == 0 || cycle < s.cycles; ++cycle) {
        if (m_stopping.load() || !board.sleepUntil(plugAt) || m_stopping.load() || !plug(slot))
            break;
        const int64_t pluggedAt = PtyBoard::nowNs();
        board.unplugAtNs = s.unplugAfterMs >= 0 ? pluggedAt + s.unplugAfterMs * msNs : -1;
        const PtyBoard::RunEnd end = board.run(m_once);
        if (end == PtyBoard::RunEnd::Stopped || end == PtyBoard::RunEnd::Completed ||
            m_stopping.load())
            break;
        pullOut(slot);
        m_events.unplugged(slot);
        if (period > 0) {
            // The next plug time of the schedule, also when the board vanished before its
            // unplug time.
            plugAt += period;
            plugAt = std::max(plugAt, PtyBoard::nowNs());
        } else {
            plugAt = s.replugAfterMs >= 0 ? PtyBoard::nowNs() + s.replugAfterMs * msNs : never;
        }
        if (plugAt == never)
            break;
    }
    if (board.plugged())
        pullOut(slot);
}

} // namespace VBoard

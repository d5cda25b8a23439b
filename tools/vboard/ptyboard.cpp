#include "ptyboard.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

constexpr int64_t msNs = 1'000'000;
constexpr int64_t awakeNs = 300'000; // the last 300 µs before a paced write

void makeRaw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
}

} // namespace

bool openRawPty(int &master, int &slave, QString &slavePath)
{
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    makeRaw(master);
    makeRaw(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    slavePath = QString::fromLocal8Bit(name);
    return true;
}

int64_t PtyBoard::nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

PtyBoard::PtyBoard(const Settings &settings) : m_settings(settings), m_board(settings.board)
{
    // 8N1: a start bit, eight data bits and a stop bit per byte.
    if (settings.baud > 0)
        m_byteNs = int64_t(10) * 1'000'000'000 / settings.baud;
    // Made here, so that stop() reaches the board before its first open and while unplugged.
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
}

PtyBoard::~PtyBoard()
{
    unplug();
    for (int fd : m_wake)
        if (fd >= 0)
            ::close(fd);
}

bool PtyBoard::open(QString *error)
{
    unplug();
    if ((m_wake[0] < 0 && ::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) ||
        !openRawPty(m_master, m_slave, m_slavePath)) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // The board keeps the slave open itself, so the terminal outlives a host that dies while
    // holding it; the host's close still shows as an inotify event on the device.
    m_closes = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_closes >= 0 && inotify_add_watch(m_closes, QFile::encodeName(m_slavePath).constData(),
                                           IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        ::close(m_closes);
        m_closes = -1;
    }
    m_lastActivity = nowNs();
    m_rxFree = m_txFree = 0;
    return true;
}

void PtyBoard::unplug()
{
    closeMaster();
    for (int *fd : {&m_slave, &m_closes}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_board.abandon();
    m_vanished = false;
}

void PtyBoard::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    m_pending.clear();
}

void PtyBoard::writeRaw(const QByteArray &bytes)
{
    schedule(0, {bytes, 0, 0});
    writeDue(nowNs());
}

void PtyBoard::readInput(int64_t now)
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            return; // EAGAIN: all read; EIO: nobody has the slave open besides us
        m_lastActivity = now;
        m_received.append(buf, n);
        for (ssize_t i = 0; i < n; ++i) {
            // The byte is complete on the board's side one frame after the line is free.
            int64_t complete = now;
            if (m_byteNs > 0) {
                complete = std::max(now, m_rxFree) + m_byteNs;
                m_rxFree = complete;
            }
            const int blocksBefore = m_board.blocksReceived();
            const int completed = m_board.downloadsCompleted();
            const QList<VBoard::Write> writes = m_board.feed(buf[i]);
            for (const VBoard::Write &w : writes)
                schedule(complete + w.delayMs * msNs, w);
            if (m_board.blocksReceived() != blocksBefore && m_board.blocksReceived() > 0) {
                if (tracing)
                    trace.push_back({'b', complete});
                if (onDownload && m_board.downloadsCompleted() != completed)
                    onDownload(m_board.image());
            }
            if (m_board.vanished()) {
                m_vanished = true; // what follows is lost with the adapter
                return;
            }
        }
    }
}

void PtyBoard::schedule(int64_t due, const VBoard::Write &write)
{
    // Writes keep their order: none overtakes an earlier one.
    if (!m_pending.empty())
        due = std::max(due, m_pending.back().due);
    if (m_byteNs <= 0) {
        m_pending.push_back({due, write.bytes, write.reply});
        return;
    }
    // Paced: the bytes cross the line one frame after another, and reach the host together
    // when the last has crossed, as a USB adapter hands over what it received in one packet.
    m_txFree = std::max(due, m_txFree) + m_byteNs * write.bytes.size();
    m_pending.push_back({m_txFree, write.bytes, write.reply});
}

void PtyBoard::writeDue(int64_t now)
{
    while (!m_pending.empty() && m_pending.front().due <= now) {
        // Bytes due together go out in one write; a reply ends a write so its time is exact.
        QByteArray chunk;
        char reply = 0;
        while (!m_pending.empty() && m_pending.front().due <= now && !reply) {
            chunk += m_pending.front().bytes;
            reply = m_pending.front().reply;
            m_pending.pop_front();
        }
        qsizetype done = 0;
        while (m_master >= 0 && done < chunk.size()) {
            const ssize_t n =
                ::write(m_master, chunk.constData() + done, size_t(chunk.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{m_master, POLLOUT, 0};
                ::poll(&p, 1, 10);
            } else {
                break;
            }
        }
        m_lastActivity = std::max(m_lastActivity, now);
        if (tracing && reply)
            trace.push_back({reply, nowNs()});
    }
}

void PtyBoard::clearExclusiveAfterClose()
{
    if (m_closes < 0)
        return;
    alignas(inotify_event) char buf[4096];
    bool closed = false;
    while (::read(m_closes, buf, sizeof buf) > 0)
        closed = true;
    if (closed)
        ::ioctl(m_slave, TIOCNXCL);
}

int64_t PtyBoard::service()
{
    if (m_master < 0)
        return -1;
    clearExclusiveAfterClose();
    int64_t now = nowNs();
    readInput(now);
    if (m_vanished) {
        closeMaster();
        return -1;
    }
    now = nowNs();
    writeDue(now);

    const int64_t idleNs = int64_t(m_settings.idleResetMs) * msNs;
    if (idleNs > 0 && m_board.midDownload() && m_pending.empty() &&
        now - m_lastActivity >= idleNs) {
        m_board.abandon();
    }

    int64_t next = m_pending.empty() ? -1 : m_pending.front().due;
    if (idleNs > 0 && m_board.midDownload() && m_pending.empty())
        next = m_lastActivity + idleNs;
    return next;
}

int PtyBoard::unreadByHost() const
{
    int waiting = 0;
    if (m_slave < 0 || ::ioctl(m_slave, FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

void PtyBoard::stop()
{
    const char c = 1;
    if (m_wake[1] >= 0) [[maybe_unused]]
        ssize_t n = ::write(m_wake[1], &c, 1); // async-signal-safe
}

bool PtyBoard::drainWake()
{
    char drain[64];
    bool woken = false;
    while (::read(m_wake[0], drain, sizeof drain) > 0)
        woken = true;
    return woken;
}

bool PtyBoard::sleepUntil(int64_t ns)
{
    for (;;) {
        const int64_t left = std::max<int64_t>(0, ns - nowNs());
        const timespec timeout{time_t(left / 1'000'000'000), long(left % 1'000'000'000)};
        pollfd p{m_wake[0], POLLIN, 0};
        const int r = ::ppoll(&p, 1, &timeout, nullptr);
        if (r > 0 && drainWake())
            return false;
        if (nowNs() >= ns)
            return true;
    }
}

PtyBoard::RunEnd PtyBoard::run(bool once)
{
    const int completedBefore = m_board.downloadsCompleted();
    for (;;) {
        int64_t next = service();
        if (m_master < 0)
            return m_vanished ? RunEnd::Vanished : RunEnd::Stopped;
        if (unplugAtNs >= 0) {
            if (nowNs() >= unplugAtNs)
                return RunEnd::UnplugTime;
            next = next < 0 ? unplugAtNs : std::min(next, unplugAtNs);
        }
        if (once && m_board.downloadsCompleted() > completedBefore && m_pending.empty()) {
            // Closing the master throws away what the program has not read yet: let it take
            // the last reply first. The terminal hands written bytes over asynchronously: give
            // it a moment first.
            for (int i = 0; i < 201 && (i == 0 || unreadByHost() > 0); ++i)
                if (!sleepUntil(nowNs() + 10 * msNs))
                    return RunEnd::Stopped;
            // A busy program may have read the reply without having handled it yet, and a
            // hang-up then fails its run: wait (1 s at most) for it to close its port.
            pollfd closing[2] = {{m_closes, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (m_closes >= 0 && ::poll(closing, 2, 1000) > 0 && (closing[1].revents & POLLIN)) {
                drainWake();
                return RunEnd::Stopped;
            }
            return RunEnd::Completed;
        }
        // On a paced line a byte is due to the microsecond, and waking from a sleep takes longer
        // than a byte's frame at high rates: the last stretch before a write is waited out awake.
        if (next >= 0 && m_byteNs > 0 && next - nowNs() <= awakeNs) {
            while (nowNs() < next) {
            }
            continue;
        }
        pollfd fds[3] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}, {m_closes, POLLIN, 0}};
        timespec timeout{};
        timespec *wait = nullptr;
        if (next >= 0) {
            const int64_t left =
                std::max<int64_t>(0, next - nowNs() - (m_byteNs > 0 ? awakeNs : 0));
            timeout.tv_sec = time_t(left / 1'000'000'000);
            timeout.tv_nsec = long(left % 1'000'000'000);
            wait = &timeout;
        }
        const int r = ::ppoll(fds, m_closes >= 0 ? 3 : 2, wait, nullptr);
        if (r < 0 && errno != EINTR)
            return RunEnd::Stopped;
        if (fds[1].revents & POLLIN) {
            drainWake();
            return RunEnd::Stopped;
        }
        if (fds[0].revents & (POLLHUP | POLLERR) && !(fds[0].revents & POLLIN)) {
            // Nobody else has the slave open: wait for the program rather than spin.
            const timespec pause{0, 10 * msNs};
            ::ppoll(&fds[1], 1, &pause, nullptr);
        }
    }
}

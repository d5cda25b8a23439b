#include "ptypeer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    termios tio{};
    tcgetattr(m_master, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_master, TCSANOW, &tio);
    tcgetattr(m_slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slave, TCSANOW, &tio);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_slavePath = QString::fromLocal8Bit(name);
}

PtyPeer::~PtyPeer()
{
    closeMaster();
    closeSlave();
}

QString PtyPeer::linkAs(const QString &portsDir, int n) const
{
    QDir().mkpath(portsDir);
    const QString link = portsDir + QStringLiteral("/com%1").arg(n);
    QFile::remove(link);
    QFile::link(m_slavePath, link);
    return link;
}

void PtyPeer::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        } else {
            break;
        }
    }
}

static QByteArray readFor(int fd, int firstMs, int quietMs, int limit)
{
    QByteArray out;
    int wait = firstMs;
    while (fd >= 0 && (limit < 0 || out.size() < limit)) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN))
            break;
        char buf[4096];
        const size_t want =
            limit < 0 ? sizeof buf : std::min<size_t>(sizeof buf, limit - out.size());
        const ssize_t n = ::read(fd, buf, want);
        if (n <= 0)
            break;
        out.append(buf, n);
        wait = quietMs;
    }
    return out;
}

QByteArray PtyPeer::readAvailable(int timeoutMs, int quietMs)
{
    return readFor(m_master, timeoutMs, quietMs, -1);
}

QByteArray PtyPeer::readExactly(int n, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (out.size() < n && t.elapsed() < timeoutMs) {
        const int left = int(timeoutMs - t.elapsed());
        out += readFor(m_master, left > 0 ? left : 0, 0, n - int(out.size()));
    }
    return out;
}

void PtyPeer::drain()
{
    readFor(m_master, 0, 0, -1);
}

void PtyPeer::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyPeer::closeSlave()
{
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}

#include "ptypeer.h"

#include "ptyboard.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    if (!openRawPty(m_master, m_slave, m_slavePath))
        qFatal("no pseudo-terminal");
}

PtyPeer::~PtyPeer()
{
    closeMaster();
    ::close(m_slave);
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
    for (qsizetype done = 0; m_master >= 0 && done < bytes.size();) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        else {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
}

QByteArray PtyPeer::read(int limit, int timeoutMs)
{
    QByteArray out;
    for (int wait = timeoutMs; m_master >= 0 && (limit < 0 || out.size() < limit); wait = 20) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN))
            break;
        char buf[4096];
        const ssize_t n =
            ::read(m_master, buf,
                   limit < 0 ? sizeof buf : std::min<size_t>(sizeof buf, limit - out.size()));
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

void PtyPeer::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

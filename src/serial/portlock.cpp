#include "portlock.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace PortLock
{

Claim claimDevice(const QString &device)
{
    Claim claim;
    const QByteArray path = QFile::encodeName(device);
    int fd;
    do {
        fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        claim.error = errno;
        switch (errno) {
        case EACCES:
        case EPERM:
            claim.status = Status::PermissionDenied;
            break;
        case EBUSY: // the tty is in exclusive mode and we are not root
            claim.status = Status::Busy;
            break;
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            claim.status = Status::NoDevice;
            break;
        default:
            claim.status = Status::Failed;
            break;
        }
        return claim;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        claim.error = errno;
        claim.status = errno == EWOULDBLOCK ? Status::Busy : Status::Failed;
        ::close(fd);
        return claim;
    }
    claim.status = Status::Claimed;
    claim.fd = fd;
    return claim;
}

bool isExclusive(int fd)
{
#ifdef TIOCGEXCL
    int exclusive = 0;
    return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
    (void)fd;
    return false;
#endif
}

QStringList lockFileNames(const QString &device)
{
    const QString uucp = QStringLiteral("LCK..") + device.mid(device.lastIndexOf(u'/') + 1);
    QString qtName = device;
    if (qtName.startsWith(QLatin1String("/dev/")))
        qtName.remove(0, 5);
    qtName.replace(u'/', u'_');
    qtName.prepend(QStringLiteral("LCK.."));
    return qtName == uucp ? QStringList{uucp} : QStringList{uucp, qtName};
}

pid_t lockFilePid(const QByteArray &content)
{
    auto isText = [](char c) {
        return (c >= '0' && c <= '9') || c == ' ' || c == '\t' || c == '\n';
    };
    if (content.size() == 4 && !std::all_of(content.begin(), content.end(), isText)) {
        qint32 pid = 0;
        std::memcpy(&pid, content.constData(), sizeof pid);
        return pid > 0 ? pid_t(pid) : 0;
    }
    qsizetype i = 0;
    while (i < content.size() && (content[i] == ' ' || content[i] == '\t'))
        ++i;
    qint64 pid = 0;
    const qsizetype start = i;
    while (i < content.size() && content[i] >= '0' && content[i] <= '9' && pid <= 0x7fffffff) {
        pid = pid * 10 + (content[i] - '0');
        ++i;
    }
    if (i == start || pid <= 0 || pid > 0x7fffffff)
        return 0;
    return pid_t(pid);
}

static bool isAlive(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

bool isLockedByOther(const QString &lockDir, const QString &device)
{
    const QStringList names = lockFileNames(device);
    for (const QString &name : names) {
        QFile file(lockDir + u'/' + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const pid_t pid = lockFilePid(file.read(64));
        if (pid != ::getpid() && isAlive(pid))
            return true;
    }
    return false;
}

} // namespace PortLock

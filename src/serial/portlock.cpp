#include "portlock.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

QString lockDir()
{
    const QString set = qEnvironmentVariable("VANTREL_LOCK_DIR");
    return set.isEmpty() ? QStringLiteral("/run/lock") : set;
}

bool readLockFile(const QString &path, qint64 maxBytes, QByteArray *content)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    struct stat st {
    };
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    QByteArray data(regular ? maxBytes : 0, '\0');
    qint64 got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    if (!regular)
        return false;
    data.truncate(got);
    *content = data;
    return true;
}

QString qtLockFilePath(const QString &device)
{
    // The folders Qt's serial port tries, in its order: the first readable one where the file
    // exists or that is writable.
    static const char *const folders[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                          "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                          "/var/lock/lockdev", "/run/lock"};
    const QString name = lockFileNames(device).constLast();
    for (const char *folder : folders) {
        const QByteArray path = QByteArray(folder) + '/' + QFile::encodeName(name);
        if (::access(folder, R_OK) == 0 &&
            (::access(path.constData(), F_OK) == 0 || ::access(folder, W_OK) == 0))
            return QFile::decodeName(path);
    }
    return QString();
}

bool isForeignLockPath(const QString &path)
{
    struct stat st {
    };
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0 &&
           !S_ISREG(st.st_mode);
}

static bool isAlive(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

bool isLockedByOther(const QString &lockDir, const QString &device)
{
    const QStringList names = lockFileNames(device);
    for (const QString &name : names) {
        QByteArray content;
        if (!readLockFile(lockDir + u'/' + name, 64, &content))
            continue;
        const pid_t pid = lockFilePid(content);
        if (pid != ::getpid() && isAlive(pid))
            return true;
    }
    return false;
}

} // namespace PortLock

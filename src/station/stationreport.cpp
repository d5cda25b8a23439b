#include "stationreport.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

StationReport::~StationReport()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool StationReport::open(const QString &path, QString *error)
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_path = path;
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do
        fd = ::open(name.constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        if (error)
            *error = QStringLiteral("cannot write the report %1: %2").arg(path, systemError(err));
        return false;
    }
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("cannot write the report %1: not a regular file").arg(path);
        return false;
    }
    m_fd = fd;
    QString why;
    if (!writeLine(header(), &why, true)) {
        if (error)
            *error = QStringLiteral("cannot write the report %1: %2").arg(path, why);
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

bool StationReport::append(const StationRow &row, QString *error)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    if (m_fd < 0) {
        if (error)
            *error = QStringLiteral("the report is not open");
        return false;
    }
    return writeLine(formatRow(row), error);
}

namespace
{

// How long a write waits for another station to let go of the report's lock: a row and its sync
// take milliseconds, so a lock held longer is a program that keeps it.
constexpr int lockWaitMs = 5000;

// The lock on the report file, held while it lives unless another program kept it past
// lockWaitMs.
class FileLock
{
public:
    explicit FileLock(int fd) : m_fd(fd)
    {
        const QDeadlineTimer deadline(lockWaitMs);
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired())
                return;
            ::usleep(2000);
        }
        m_held = true;
    }
    ~FileLock()
    {
        if (m_held)
            ::flock(m_fd, LOCK_UN);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    bool held() const { return m_held; }

private:
    int m_fd;
    bool m_held = false;
};

// Writes `out` in one write(2): 0 when it went in whole, else -1 with errno. A short write (a full
// disk, a file size limit) is an error of its own: ENOSPC, or EFBIG when the limit stopped it.
int writeWhole(int fd, const QByteArray &out)
{
    ssize_t n;
    do
        n = ::write(fd, out.constData(), size_t(out.size()));
    while (n < 0 && errno == EINTR);
    if (n == out.size())
        return 0;
    if (n >= 0) { // the rest would fail with the reason
        const ssize_t more = ::write(fd, out.constData() + n, size_t(out.size() - n));
        errno = more < 0 ? errno : ENOSPC;
    }
    return -1;
}

} // namespace

bool StationReport::writeLine(const QByteArray &line, QString *error, bool onlyIntoEmpty)
{
    const FileLock locked(m_fd);
    if (!locked.held()) {
        if (error)
            *error = QStringLiteral("another program kept the report locked for %1 s")
                         .arg(lockWaitMs / 1000);
        return false;
    }
    struct stat st {
    };
    if (::fstat(m_fd, &st) != 0)
        st.st_size = 0;
    if (onlyIntoEmpty && st.st_size > 0)
        return true; // another station wrote the header first, or the file has rows
    // A file left ending mid-line (edited by hand) gets its line ended first, in the same write.
    char last = '\n';
    if (st.st_size > 0 && ::pread(m_fd, &last, 1, st.st_size - 1) != 1)
        last = '\n';
    const QByteArray out = last != '\n' ? "\r\n" + line : line;
    int err = 0;
    if (writeWhole(m_fd, out) != 0) {
        err = errno;
        // What went in of the row is taken back: the file ends after its last whole row.
        if (::ftruncate(m_fd, st.st_size) != 0 && error) {
            *error = QStringLiteral("%1, and the part written could not be taken back: %2")
                         .arg(systemError(err), systemError(errno));
            return false;
        }
    } else if (::fdatasync(m_fd) != 0 && errno != EINVAL) { // EINVAL: nothing to sync
        err = errno;
    }
    if (err != 0 && error)
        *error = systemError(err);
    return err == 0;
}

QByteArray StationReport::header()
{
    return "time,port,device,by_id,usb_serial,image_sha256,bytes,outcome,exit_code,seconds\r\n";
}

QByteArray StationReport::field(const QString &text)
{
    QByteArray f = text.toUtf8();
    if (!f.contains(',') && !f.contains('"') && !f.contains('\r') && !f.contains('\n'))
        return f;
    f.replace('"', "\"\"");
    return '"' + f + '"';
}

QByteArray StationReport::formatRow(const StationRow &row)
{
    const QDateTime when = row.time.isValid() ? row.time : QDateTime::currentDateTimeUtc();
    const double seconds = std::isfinite(row.seconds) ? row.seconds : 0.0;
    const QStringList fields{when.toUTC().toString(Qt::ISODateWithMs),
                             row.port,
                             row.device,
                             row.byId,
                             row.usbSerial,
                             row.imageSha256,
                             QString::number(row.bytes),
                             row.outcome,
                             QString::number(row.exitCode),
                             QString::number(seconds, 'f', 3)};
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i)
        out += (i ? "," : "") + field(fields[i]);
    return out + "\r\n";
}

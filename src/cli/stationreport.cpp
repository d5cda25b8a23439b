#include "stationreport.h"

#include <QFile>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
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
    m_needsNewline = false;
    if (st.st_size > 0) {
        char last = 0;
        m_needsNewline = ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
        return true;
    }
    if (!writeLine(header(), error)) {
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

bool StationReport::writeLine(const QByteArray &line, QString *error)
{
    // A file left ending mid-line (edited by hand) gets its line ended first, in the same write.
    const QByteArray out = m_needsNewline ? "\r\n" + line : line;
    ssize_t n;
    do
        n = ::write(m_fd, out.constData(), size_t(out.size()));
    while (n < 0 && errno == EINTR);
    int err;
    if (n < 0) {
        err = errno;
    } else if (n != out.size()) {
        err = ENOSPC;          // a short write to a file: the disk is full
        m_needsNewline = true; // the next row starts a line of its own
    } else {
        m_needsNewline = false;
        if (::fdatasync(m_fd) == 0 || errno == EINVAL) // EINVAL: nothing to sync (a pipe)
            return true;
        err = errno;
    }
    if (error)
        *error = QStringLiteral("cannot write the report %1: %2").arg(m_path, systemError(err));
    return false;
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

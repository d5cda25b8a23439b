#include "trace.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TraceWriter::~TraceWriter()
{
    close();
}

FILE *TraceWriter::openRegular(const QString &path, QString *error)
{
    const QString notRegular = QStringLiteral("not a regular file");
    const QByteArray name = QFile::encodeName(path);
    struct stat st {
    };
    // A device is not even opened: opening some has effects of its own.
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = notRegular;
        return nullptr;
    }
    // Non-blocking: a FIFO without a reader fails at once (ENXIO) instead of waiting for one.
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int e = errno;
        *error = e == ENXIO || e == EISDIR ? notRegular : systemText(e);
        return nullptr;
    }
    FILE *file = nullptr;
    if (::fstat(fd, &st) != 0)
        *error = systemText(errno);
    else if (!S_ISREG(st.st_mode))
        *error = notRegular;
    else if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0)
        *error = systemText(errno);
    else if (!(file = ::fdopen(fd, "wb")))
        *error = systemText(errno);
    if (!file)
        ::close(fd);
    return file;
}

bool TraceWriter::open(const QString &path, const QElapsedTimer &clock, QString *error)
{
    QString why;
    m_ownsFile = path != QLatin1String("-");
    m_file = m_ownsFile ? openRegular(path, &why) : stderr;
    if (!m_file) {
        if (error)
            *error = why;
        return false;
    }
    m_clock = &clock;
    m_buffer.reserve(1 << 16);
    m_buffer += "# vantrel-cli trace: time in microseconds since the start (monotonic);\n"
                "# TX host to board, RX board to host, DROP received bytes thrown away unread,\n"
                "# LINE line settings, STEP the run's step, NOTE what the program did\n";
    return true;
}

void TraceWriter::stamp()
{
    const qint64 us = m_clock->nsecsElapsed() / 1000;
    m_buffer += QByteArray::number(us).rightJustified(12, ' ');
    m_buffer += ' ';
}

void TraceWriter::bytes(const char *direction, const QByteArray &data)
{
    if (!m_file)
        return;
    static const char digits[] = "0123456789ABCDEF";
    stamp();
    m_buffer += direction;
    const auto hex = [&](const char *p, qsizetype n) {
        for (qsizetype i = 0; i < n; ++i) {
            const auto b = quint8(p[i]);
            m_buffer += ' ';
            m_buffer += digits[b >> 4];
            m_buffer += digits[b & 15];
        }
    };
    if (data.size() <= 32) {
        hex(data.constData(), data.size());
        m_buffer += '\n';
    } else {
        m_buffer += ' ' + QByteArray::number(data.size()) + " bytes\n";
        for (qsizetype at = 0; at < data.size(); at += 32) {
            m_buffer += "             +";
            m_buffer += QByteArray::number(at, 16).toUpper().rightJustified(4, '0');
            m_buffer += ' ';
            hex(data.constData() + at, qMin<qsizetype>(32, data.size() - at));
            m_buffer += '\n';
        }
    }
    if (m_buffer.size() > (1 << 16))
        flush();
}

void TraceWriter::line(const QString &settings)
{
    if (!m_file || settings == m_lastLine)
        return;
    m_lastLine = settings;
    stamp();
    m_buffer += "LINE " + settings.toUtf8() + '\n';
}

void TraceWriter::step(int step, const QString &name)
{
    if (!m_file)
        return;
    stamp();
    m_buffer += "STEP " + QByteArray::number(step) + ' ' + name.toUtf8() + '\n';
    // A step is a good moment to put what we have on disk: a crash loses little.
    flush();
}

void TraceWriter::note(const QString &text)
{
    if (!m_file)
        return;
    stamp();
    m_buffer += "NOTE " + text.toUtf8() + '\n';
}

void TraceWriter::flush()
{
    if (m_failure.isEmpty()) {
        errno = 0;
        const size_t size = size_t(m_buffer.size());
        if (std::fwrite(m_buffer.constData(), 1, size, m_file) != size || std::fflush(m_file) != 0)
            m_failure = errno ? systemText(errno) : QStringLiteral("write error");
    }
    m_buffer.clear(); // after a failure, the rest of the trace is dropped as it comes
}

void TraceWriter::close()
{
    if (!m_file)
        return;
    flush();
    if (m_ownsFile && std::fclose(m_file) != 0 && m_failure.isEmpty())
        m_failure = systemText(errno);
    m_file = nullptr;
}

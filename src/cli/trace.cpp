#include "trace.h"

#include <QFile>

#include <cerrno>
#include <cstring>

TraceWriter::~TraceWriter()
{
    close();
}

bool TraceWriter::open(const QString &path, const QElapsedTimer &clock, QString *error)
{
    m_file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!m_file) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
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
    if (m_buffer.size() > (1 << 16)) {
        std::fwrite(m_buffer.constData(), 1, size_t(m_buffer.size()), m_file);
        m_buffer.clear();
    }
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
    std::fwrite(m_buffer.constData(), 1, size_t(m_buffer.size()), m_file);
    std::fflush(m_file);
    m_buffer.clear();
}

void TraceWriter::note(const QString &text)
{
    if (!m_file)
        return;
    stamp();
    m_buffer += "NOTE " + text.toUtf8() + '\n';
}

void TraceWriter::close()
{
    if (!m_file)
        return;
    std::fwrite(m_buffer.constData(), 1, size_t(m_buffer.size()), m_file);
    m_buffer.clear();
    std::fclose(m_file);
    m_file = nullptr;
}

#include "reporter.h"

#include "firmwareimage.h"
#include "usage.h"

#include <QStringList>

#include <unistd.h>

JsonLine &JsonLine::add(const char *k, const QString &value)
{
    key(k);
    m_text += quoted(value);
    return *this;
}

JsonLine &JsonLine::add(const char *k, qint64 value)
{
    key(k);
    m_text += QByteArray::number(value);
    return *this;
}

JsonLine &JsonLine::add(const char *k, bool value)
{
    key(k);
    m_text += value ? "true" : "false";
    return *this;
}

JsonLine &JsonLine::addNull(const char *k)
{
    key(k);
    m_text += "null";
    return *this;
}

JsonLine &JsonLine::addRaw(const char *k, const QByteArray &json)
{
    key(k);
    m_text += json;
    return *this;
}

void JsonLine::key(const char *k)
{
    if (m_text.size() > 1)
        m_text += ',';
    m_text += '"';
    m_text += k;
    m_text += "\":";
}

QByteArray JsonLine::quoted(const QString &text)
{
    // File and device names are bytes on Linux: whatever is not valid UTF-8 arrives here as
    // U+FFFD, so the output always stays valid JSON. A character beyond U+FFFF is two UTF-16
    // units, written together as its one UTF-8 sequence; a unit of a pair alone is U+FFFD.
    QByteArray out = "\"";
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        switch (u) {
        case u'"':
            out += "\\\"";
            break;
        case u'\\':
            out += "\\\\";
            break;
        case u'\n':
            out += "\\n";
            break;
        case u'\r':
            out += "\\r";
            break;
        case u'\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7f)
                out += QByteArray("\\u") + QByteArray::number(u, 16).rightJustified(4, '0');
            else if (QChar::isHighSurrogate(u) && i + 1 < text.size() &&
                     text[i + 1].isLowSurrogate())
                out += text.sliced(i++, 2).toUtf8();
            else
                out +=
                    QString(QChar::isSurrogate(u) ? QChar::ReplacementCharacter : text[i]).toUtf8();
        }
    }
    return out + '"';
}

Reporter::Reporter(Style style, FILE *out, FILE *err) : m_style(style), m_out(out), m_err(err) {}

Reporter::Style Reporter::styleFor(bool json, bool quiet)
{
    if (json)
        return Style::Json;
    if (quiet)
        return Style::Quiet;
    return ::isatty(STDOUT_FILENO) ? Style::Terminal : Style::Plain;
}

void Reporter::emitJson(const JsonLine &line)
{
    const QByteArray text = line.finish() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), m_out);
    std::fflush(m_out);
}

void Reporter::start(const RunStart &s)
{
    m_start = s;
    m_started = true;
    switch (m_style) {
    case Style::Json:
        emitJson(JsonLine()
                     .add("event", "start")
                     .add("port", s.port)
                     .add("device", s.device)
                     .add("image", s.image)
                     .add("format", s.format)
                     .add("start_address", FirmwareImage::hexAddress(s.startAddress))
                     .add("span", s.bytes)
                     .add("bytes", s.bytes)
                     .add("blocks", s.blocks)
                     .add("sha256", s.sha256)
                     .add("baud", s.baud)
                     .add("auto_reset", s.autoReset)
                     .add("reset_baud", s.resetBaud));
        break;
    case Style::Plain:
    case Style::Terminal: {
        const QString reset =
            s.autoReset ? QStringLiteral(", reset request at %1 baud").arg(s.resetBaud) : QString();
        const QString from = s.format == u"binary" ? QString()
                                                   : QStringLiteral(" from ") +
                                                         FirmwareImage::hexAddress(s.startAddress);
        const QString line = QStringLiteral("%1: %2 (%3%9, %4, sha256 %5) to %6 at %7 baud%8\n")
                                 .arg(shownName(s.port), shownName(s.image),
                                      counted(s.bytes, QStringLiteral("byte")),
                                      counted(s.blocks, QStringLiteral("block")), s.sha256.left(16),
                                      shownName(s.device), QString::number(s.baud), reset, from);
        std::fputs(line.toUtf8().constData(), m_out);
        std::fflush(m_out);
        break;
    }
    case Style::Quiet:
        break;
    }
}

void Reporter::state(int step, qint64 elapsedMs)
{
    m_step = step;
    if (step == 3 && m_blocksStartMs < 0)
        m_blocksStartMs = elapsedMs;
    switch (m_style) {
    case Style::Json:
        emitJson(JsonLine()
                     .add("event", "state")
                     .add("port", m_start.port)
                     .add("step", step)
                     .add("state", stepName(step))
                     .add("elapsed_ms", elapsedMs));
        break;
    case Style::Terminal:
        drawLine(elapsedMs);
        break;
    case Style::Plain:
        if (step == 1) {
            std::fprintf(m_out, "%s: connecting\n", shownName(m_start.port).toUtf8().constData());
            std::fflush(m_out);
        }
        break;
    case Style::Quiet:
        break;
    }
}

void Reporter::progress(qint32 block, qint32 blocks, qint64 bytesSent, qint64 elapsedMs)
{
    m_block = block;
    m_bytesSent = bytesSent;
    if (m_blocksStartMs < 0)
        m_blocksStartMs = elapsedMs;
    const int percent = m_start.bytes > 0 ? int(bytesSent * 100 / m_start.bytes) : 0;
    switch (m_style) {
    case Style::Json:
        emitJson(JsonLine()
                     .add("event", "progress")
                     .add("port", m_start.port)
                     .add("block", block)
                     .add("blocks", blocks)
                     .add("percent", percent)
                     .add("bytes_sent", bytesSent)
                     .add("elapsed_ms", elapsedMs));
        break;
    case Style::Terminal:
        // A redraw at most every 50 ms, and always for the last block.
        if (elapsedMs - m_lastDrawMs >= 50 || block + 1 == blocks)
            drawLine(elapsedMs);
        break;
    case Style::Plain:
        if (const int decile = percent / 10; decile > m_lastDecile) {
            m_lastDecile = decile;
            std::fprintf(m_out, "%s: %3d%% %lld/%lld bytes\n",
                         shownName(m_start.port).toUtf8().constData(), decile * 10,
                         (long long)bytesSent, (long long)m_start.bytes);
            std::fflush(m_out);
        }
        break;
    case Style::Quiet:
        break;
    }
}

void Reporter::drawLine(qint64 elapsedMs)
{
    m_lastDrawMs = elapsedMs;
    QString line;
    if (m_step == 1 || m_step == 2) {
        line = QStringLiteral("%1: %2").arg(shownName(m_start.port),
                                            m_step == 1 ? QStringLiteral("connecting")
                                                        : QStringLiteral("length"));
    } else {
        const double rate = rateKBps(m_bytesSent, m_blocksStartMs, elapsedMs);
        const double left = rate > 0 ? double(m_start.bytes - m_bytesSent) / 1024.0 / rate : 0;
        line = QStringLiteral("%1: %2 %5/%6 B %7 kB/s %8s left")
                   .arg(shownName(m_start.port), percentBar(m_bytesSent, m_start.bytes, 30))
                   .arg(m_bytesSent)
                   .arg(m_start.bytes)
                   .arg(rate, 0, 'f', 1)
                   .arg(left, 0, 'f', 0);
    }
    // Back to the line's start, the text, then clear what a longer earlier text left.
    std::fprintf(m_out, "\r%s\033[K", line.toUtf8().constData());
    std::fflush(m_out);
    m_lineOpen = true;
}

void Reporter::end(const QString &port, Ending ending, qint64 elapsedMs, const QString &message)
{
    const int exitCode = exitCodeOf(ending);
    const QString name = m_started ? m_start.port : port;
    switch (m_style) {
    case Style::Json: {
        JsonLine line;
        line.add("event", "end")
            .add("port", name)
            .add("outcome", infoOf(ending).token)
            .add("exit_code", exitCode)
            .add("elapsed_ms", elapsedMs)
            .add("message", message);
        if (!m_traceCut.isEmpty())
            line.add("trace_error", m_traceCut);
        emitJson(line);
        break;
    }
    case Style::Terminal:
        if (m_lineOpen) {
            if (exitCode == 0)
                drawLine(elapsedMs);
            std::fputc('\n', m_out);
            m_lineOpen = false;
        }
        [[fallthrough]];
    case Style::Plain:
        if (exitCode == 0) {
            std::fprintf(m_out, "%s: %s\n", shownName(name).toUtf8().constData(),
                         shownName(message).toUtf8().constData());
            std::fflush(m_out);
        }
        break;
    case Style::Quiet:
        break;
    }
    // Every failure is a message for the person, also with --json and --quiet.
    if (exitCode != 0 && m_err) {
        Usage::printError(shownName(name) + QStringLiteral(": ") + shownName(message), m_err);
    }
}

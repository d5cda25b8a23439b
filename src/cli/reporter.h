#pragma once

#include "endings.h"

#include <QByteArray>
#include <QString>

#include <cstdio>

// A JSON object written in the order its keys are added, on one line.
class JsonLine
{
public:
    JsonLine &add(const char *key, const QString &value);
    JsonLine &add(const char *key, const char *value) { return add(key, QString::fromUtf8(value)); }
    JsonLine &add(const char *key, qint64 value);
    JsonLine &add(const char *key, int value) { return add(key, qint64(value)); }
    JsonLine &add(const char *key, bool value);
    JsonLine &addNull(const char *key);
    JsonLine &addRaw(const char *key, const QByteArray &json); // an already formed value
    QByteArray finish() const { return m_text + '}'; }

    static QByteArray quoted(const QString &text);

private:
    void key(const char *key);
    QByteArray m_text = "{";
};

// Everything a download run tells the person or the script that started it.
struct RunStart {
    QString port, device, image, sha256;
    QString format;           // "binary", "intel_hex", "srecord" or "elf"
    quint64 startAddress = 0; // the address of the image's first byte (0 for a .bin)
    qint64 bytes = 0;         // also the span: every byte from the start address on

    qint32 blocks = 0;
    qint32 baud = 0, resetBaud = 0;
    bool autoReset = false;
};

// What a download run tells as it goes.
class RunEvents
{
public:
    virtual ~RunEvents() = default;
    virtual void start(const RunStart &s) = 0;
    virtual void state(int step, qint64 elapsedMs) = 0;
    virtual void progress(qint32 block, qint32 blocks, qint64 bytesSent, qint64 elapsedMs) = 0;
    // The run's trace was cut short by a failed write (told before end()).
    virtual void traceCut(const QString &why) { (void)why; }
    // The last event of every run, whatever its end. `port` is used when start() never ran.
    virtual void end(const QString &port, Ending ending, qint64 elapsedMs,
                     const QString &message) = 0;
};

// Where a run's progress goes: a line redrawn in place on a terminal, plain lines elsewhere,
// JSON Lines with --json, nothing but errors with --quiet. Data go to standard output, messages
// to standard error.
class Reporter : public RunEvents
{
public:
    enum class Style { Terminal, Plain, Json, Quiet };
    // Without `err`, failures are left to the caller to tell.
    Reporter(Style style, FILE *out = stdout, FILE *err = stderr);

    // The style for this process: --json and --quiet first, then whether stdout is a terminal.
    static Style styleFor(bool json, bool quiet);

    void start(const RunStart &s) override;
    void state(int step, qint64 elapsedMs) override;
    void progress(qint32 block, qint32 blocks, qint64 bytesSent, qint64 elapsedMs) override;
    void traceCut(const QString &why) override { m_traceCut = why; }
    void end(const QString &port, Ending ending, qint64 elapsedMs, const QString &message) override;

    static QString stepName(int step);
    // A file, port or device name for plain output: control characters (a line end, ESC, CSI)
    // written as escapes "\n", "\x1b", so that a name can neither start a line of its own nor
    // drive the terminal.
    static QString shownName(const QString &name);
    // "1 block", "2 blocks": a count and its unit, the unit in the plural but for exactly one.
    static QString counted(qint64 count, const QString &unit);
    // " 42% [#####.......]": the share of `bytes` sent, as a bar of `width` marks.
    static QString percentBar(qint64 sent, qint64 bytes, int width);
    // kB/s since the first block went out at `blocksStartMs` (0 before it).
    static double rateKBps(qint64 sent, qint64 blocksStartMs, qint64 nowMs);

private:
    void drawLine(qint64 elapsedMs);
    void emitJson(const JsonLine &line);

    Style m_style;
    FILE *m_out;
    FILE *m_err;
    RunStart m_start;
    QString m_traceCut; // why the trace was cut short, "" when it was not
    bool m_started = false;
    int m_step = 0;
    qint32 m_block = -1;
    qint64 m_bytesSent = 0;
    qint64 m_blocksStartMs = -1; // when the first block went out, for the rate
    int m_lastDecile = -1;
    bool m_lineOpen = false;
    qint64 m_lastDrawMs = -1000;
};

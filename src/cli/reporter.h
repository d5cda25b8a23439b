#pragma once

#include "endings.h"
#include "runevents.h"
#include "runtext.h"

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

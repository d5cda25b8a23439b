#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// A plain-text record of one run for a bug report: every byte sent and received, each
// line-settings change and each step, with the microseconds since the run started (monotonic).
//
//   # vantrel-cli trace: time in µs since the start; TX host to board, RX board to host,
//   # DROP received bytes thrown away unread, LINE settings, STEP the run's step
//          1234 LINE 115200,n,8,1
//         10342 TX 44 4D 46
//         12001 RX A1 A2 A3 2A 1A
//         20455 STEP 2 length
//         30120 TX 1024 bytes
//               +0000 00 01 02 ... (32 bytes a line, from this offset)
//
// Bytes are formatted as they come and written through a buffer, so tracing costs a small
// fraction of the download's time. The trace goes to a regular file (made when missing) or,
// for the name "-", to standard error; a FIFO, a device or a folder is refused, since writing
// to one could wait for ever. A write that fails ends the trace there and is remembered.
class TraceWriter
{
public:
    TraceWriter() = default;
    ~TraceWriter();
    TraceWriter(const TraceWriter &) = delete;
    TraceWriter &operator=(const TraceWriter &) = delete;

    // Creates (or empties) the file. False with a reason when it cannot.
    bool open(const QString &path, const QElapsedTimer &clock, QString *error);
    // Why the trace was cut short by a failed write; "" while every write went through.
    QString failure() const { return m_failure; }

    void bytes(const char *direction, const QByteArray &data);
    void line(const QString &settings); // written only when it differs from the last one
    void step(int step, const QString &name);
    void note(const QString &text);
    void close();

private:
    void stamp();
    void flush();
    static FILE *openRegular(const QString &path, QString *error);

    FILE *m_file = nullptr;
    bool m_ownsFile = false; // false for standard error
    QString m_failure;
    const QElapsedTimer *m_clock = nullptr;
    QString m_lastLine;
    QByteArray m_buffer;
};

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <mutex>

// One board's run, as a row of the station's report.
struct StationRow {
    QDateTime time; // when the run ended; the moment of writing when invalid
    QString port, device, byId, usbSerial;
    QString imageSha256; // hex
    qint64 bytes = 0;
    QString outcome;
    int exitCode = 0;
    double seconds = 0;
};

// The station's CSV report (RFC 4180, lines ending in CR LF), written row by row:
// time,port,device,by_id,usb_serial,image_sha256,bytes,outcome,exit_code,seconds
// The header goes into a new or empty file; a file that already has rows is appended to.
// Each row is one write(2) on a descriptor opened with O_APPEND, flushed to the disk before
// append() returns: a row written is not lost when the program is interrupted or dies
// afterwards. A row that does not fit (a full disk, a file size limit) is taken back: the file
// is cut to where it ended before, so it never holds half a row. Every write holds the file's
// lock (flock), so that two stations on one report neither both write the header nor cut each
// other's rows. Once open, append() may be called from any thread.
class StationReport
{
public:
    StationReport() = default;
    ~StationReport();
    StationReport(const StationReport &) = delete;
    StationReport &operator=(const StationReport &) = delete;

    // Opens (creating when missing) the report. On failure returns false and sets *error to a
    // message naming the file.
    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_fd >= 0; }
    // Writes one row. On failure returns false and sets *error (when given) to the reason; the
    // file is as it was before.
    bool append(const StationRow &row, QString *error = nullptr);
    QString path() const { return m_path; }

    static QByteArray header();
    static QByteArray formatRow(const StationRow &row);
    // A field as RFC 4180 writes it: quoted when it holds a comma, a quote, CR or LF.
    static QByteArray field(const QString &text);

private:
    // Writes `line` whole at the end of the file, or nothing; with `onlyIntoEmpty`, only when the
    // file is still empty. Holds the file's lock throughout.
    bool writeLine(const QByteArray &line, QString *error, bool onlyIntoEmpty = false);

    std::mutex m_lock; // the row order
    int m_fd = -1;
    QString m_path;
};

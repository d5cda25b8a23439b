#pragma once

#include "endings.h"

#include <QString>

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

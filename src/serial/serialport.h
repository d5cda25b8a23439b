#pragma once

#include "portprobe.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

// How the line carries each byte: the rate and the byte's frame.
struct LineSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, Two };

    qint32 baudRate = 9600;
    int dataBits = 8; // 5 to 8
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;

    // 8 data bits, no parity, 1 stop bit: the bootloader's line.
    static LineSettings eightNoneOne(qint32 baudRate) { return {baudRate}; }
    // A rate above 0 and 5 to 8 data bits.
    bool isValid() const { return baudRate > 0 && dataBits >= 5 && dataBits <= 8; }
    // "115200,n,8,1", as traces show it.
    QString text() const;
    bool operator==(const LineSettings &) const = default;
};

// Why a port could not be opened.
struct PortError {
    enum class Kind {
        None,             // opened
        NotFound,         // no device stands for the port
        Busy,             // another program holds it
        PermissionDenied, // the device exists, this user may not open it
        Other,            // anything else: see systemText
    };
    Kind kind = Kind::None;
    QString device;        // the device the port stands for ("" when none)
    QList<Holder> holders; // Busy: the programs that have it open, when they can be seen
    QString systemText;    // the system's words for the failure
    bool ok() const { return kind == Kind::None; }
};

// A serial port: opened on a device at given line settings, bytes written as they are, and
// received bytes handed over with the receive event, a frame at a time.
//
// While open: DTR asserted, RTS not asserted, no flow control; input that waited in the driver
// before the open is dropped.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens `path` (a device, or a link to one). Opening an open port fails with Kind::Other.
    virtual PortError open(const QString &path, const LineSettings &line) = 0;
    // Closing a closed port does nothing.
    virtual void close() = 0;
    // False also once the device has gone away under the open port (the port then closes).
    virtual bool isOpen() const = 0;

    // Applies to what is written afterwards: bytes already written leave the line at the old
    // settings first. False, with the line as it was, when the settings are refused.
    virtual bool setLineSettings(const LineSettings &line) = 0;
    virtual LineSettings lineSettings() const = 0;

    // The receive event hands over `bytes` bytes at a time, once that many wait; fewer wait
    // for more. 0 hands over whatever arrived.
    virtual void setReceiveFrame(int bytes) = 0;

    // Writes the bytes in order, in one piece, nothing added. Skipped on a closed port.
    virtual void write(const QByteArray &bytes) = 0;
    // Drops whatever waits to be received (also what the operating system still holds).
    virtual void clearInput() = 0;

signals:
    // Bytes taken from the port, oldest first. Raised on the port's thread, once per frame;
    // never raised inside its own handler (a handler that runs events sees later frames after
    // it returns).
    void received(const QByteArray &bytes);
};

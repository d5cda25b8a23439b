#pragma once

#include "serialport.h"

#include <functional>
#include <memory>

// The serial port over Qt's serial port module, with Linux's busy-port detection: a device is
// held by another program when another open file holds an exclusive flock on it, when the tty is
// in exclusive mode, or when a UUCP lock file names a live process. While the port is open it
// holds the flock on the device itself. A device that goes away under the open port closes it.
class QtSerialPort : public SerialPort
{
    Q_OBJECT
public:
    explicit QtSerialPort(QObject *parent = nullptr);
    ~QtSerialPort() override;

    PortError open(const QString &path, const LineSettings &line) override;
    void close() override;
    bool isOpen() const override;
    bool setLineSettings(const LineSettings &line) override;
    LineSettings lineSettings() const override;
    void setReceiveFrame(int bytes) override;
    void write(const QByteArray &bytes) override;
    void clearInput() override;

    // The UUCP lock folder consulted for busy detection (defaultLockDir unless set).
    void setLockDir(const QString &dir);

    // Sees every byte that crosses the port, in order: what is written, what is received, what
    // clearing the input drops, and each change of the line settings on the open port. For
    // traces; the port behaves the same with or without it.
    enum class TapKind { Sent, Received, Discarded, Line };
    using Tap = std::function<void(TapKind kind, const QByteArray &bytes)>;
    void setTap(Tap tap);

private:
    void dispatchReceive();

    struct Private;
    std::unique_ptr<Private> d;
};

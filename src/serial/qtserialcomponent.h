#pragma once

#include "serialcomponent.h"

#include <functional>
#include <memory>

class PortMap;

// The serial component over Qt's serial port module, with the Linux port map and busy-port
// detection: a port is held by another program when another open file holds an exclusive
// flock on the device, when the tty is in exclusive mode, or when a UUCP lock file names a
// live process. While a port is open this component holds the flock on the device itself.
// A device that goes away under an open port closes the port: PortOpen then reads false.
class QtSerialComponent : public SerialComponent
{
    Q_OBJECT
public:
    explicit QtSerialComponent(PortMap &ports, QObject *parent = nullptr);
    ~QtSerialComponent() override;

    short CommPort() const override;
    void setCommPort(int port) override;
    QString Settings() const override;
    void setSettings(const QString &settings) override;
    int InputMode() const override;
    void setInputMode(int mode) override;
    int RThreshold() const override;
    void setRThreshold(int threshold) override;
    int InputLen() const override;
    void setInputLen(int length) override;
    int InBufferCount() const override;
    void setInBufferCount(int count) override;
    bool PortOpen() const override;
    void setPortOpen(bool open) override;
    void setOutput(const QByteArray &bytes) override;
    QByteArray Input() override;
    int CommEvent() const override;
    QString deviceFor(int port) const override;

    // The UUCP lock folder consulted for busy detection, /run/lock unless set.
    void setLockDir(const QString &dir);

    // A device named by its path (/dev/ttyUSB0, a /dev/serial/by-id link) rather than by a COM
    // number: while set, opening opens this path and the port map is not consulted.
    void setDevicePath(const QString &path);

    // Sees every byte that crosses the component, in order: what is written, what a read
    // returns, what emptying the receive buffer drops, and each line-settings change on an
    // open port. For traces; the component behaves the same with or without it.
    enum class TapKind { Sent, Received, Discarded, Line };
    using Tap = std::function<void(TapKind kind, const QByteArray &bytes)>;
    void setTap(Tap tap);

private:
    void dispatchReceive();

    struct Private;
    std::unique_ptr<Private> d;
};

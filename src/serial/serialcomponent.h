#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <stdexcept>

// Error numbers raised by the serial component. Only PortInUse is ever tested by number by
// the program's logic; PermissionDenied exists because Linux has device permissions.
namespace CommErrorNumber
{
constexpr int InvalidPropertyValue = 380; // a settings text or value the component refuses
constexpr int InvalidPortNumber = 8002;   // no device stands for this port number
constexpr int PortInUse = 8005;           // another program holds the port
constexpr int PortNotOpen = 8012;         // the device could not be opened for another reason
constexpr int SetStateFailed = 8015;      // the line settings could not be applied
constexpr int PermissionDenied = 8099;    // the device exists, the user may not open it
} // namespace CommErrorNumber

// CommEvent values.
namespace CommEventCode
{
constexpr int None = 0;
constexpr int Receive = 2; // at least RThreshold bytes wait in the receive buffer
} // namespace CommEventCode

class CommError : public std::runtime_error
{
public:
    CommError(int number, const QString &text)
        : std::runtime_error(text.toStdString()), m_number(number)
    {
    }
    int number() const { return m_number; }

private:
    int m_number;
};

// The serial-port component of the main window: properties that are set before opening, a
// receive event, raw byte input and output. Failures raise CommError with a number.
//
// Defaults: port 1, "9600,n,8,1", InputMode 0, RThreshold 0, InputLen 0, port closed.
// While open: DTR asserted, RTS not asserted, no flow control.
class SerialComponent : public QObject
{
    Q_OBJECT
public:
    explicit SerialComponent(QObject *parent = nullptr) : QObject(parent) {}

    // Port number of the next open (1..255). Out of range raises InvalidPortNumber, and so
    // does a change while the port is open.
    virtual short CommPort() const = 0;
    virtual void setCommPort(int port) = 0;

    // "<baud>,<parity>,<data bits>,<stop bits>", for example "115200,n,8,1". A text the
    // component refuses raises InvalidPropertyValue and keeps the old settings. On an open
    // port the new settings apply to what is sent afterwards: bytes already written leave
    // the line at the old settings first.
    virtual QString Settings() const = 0;
    virtual void setSettings(const QString &settings) = 0;

    // 0 text, 1 binary. Input is returned as raw bytes either way.
    virtual int InputMode() const = 0;
    virtual void setInputMode(int mode) = 0;

    // The receive event is raised when at least RThreshold bytes wait (0: never).
    virtual int RThreshold() const = 0;
    virtual void setRThreshold(int threshold) = 0;

    // One read of Input takes at most InputLen bytes (0: everything waiting).
    virtual int InputLen() const = 0;
    virtual void setInputLen(int length) = 0;

    // Bytes waiting in the receive buffer. Setting 0 discards them all (also those the
    // operating system still holds); on a closed port setting it does nothing.
    virtual int InBufferCount() const = 0;
    virtual void setInBufferCount(int count) = 0;

    // Opening raises CommError: InvalidPortNumber (no such device), PortInUse (held by
    // another program), PermissionDenied, or PortNotOpen / SetStateFailed for the rest.
    // Opening an open port, and closing a closed one, do nothing.
    virtual bool PortOpen() const = 0;
    virtual void setPortOpen(bool open) = 0;

    // Writes the bytes in order, in one piece, nothing added. On a closed port (including a
    // port whose device went away) the write is skipped without an error.
    virtual void setOutput(const QByteArray &bytes) = 0;

    // Removes and returns the oldest waiting bytes, at most InputLen. Empty on a closed port.
    virtual QByteArray Input() = 0;

    // The reason for the latest receive event (CommEventCode).
    virtual int CommEvent() const = 0;

    // The device that a port number stands for, for display ("" when none).
    virtual QString deviceFor(int port) const = 0;

signals:
    // The receive event. Raised on the user-interface thread whenever at least RThreshold
    // bytes wait: once per arrival, and again after each Input read while at least that many
    // remain. Never raised re-entrantly from inside its own handler.
    void OnComm();
};

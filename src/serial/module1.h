#pragma once

#include <QString>

class SerialComponent;
class EventPump;
class Dialogs;
class QWidget;

// The port list that the scan fills (the port combo box, seen without its widget).
class PortList
{
public:
    virtual ~PortList() = default;
    // Removes every entry and the edit text.
    virtual void clear() = 0;
    virtual void insertItem(int index, const QString &text, const QString &toolTip) = 0;
    virtual int count() const = 0;
    virtual void setCurrentIndex(int index) = 0;
};

// The serial helpers. They take the serial component and what they read or fill as arguments
// and keep no state.
namespace Module1
{

// Probes COM1..COM16 and lists, in ascending order, every port that exists: free ports, ports
// held by another program and ports the user may not open. Every failure is absorbed; every
// port is left closed; the first entry is selected.
void SCAN_COM(SerialComponent &MSComm, PortList &ComboComm);

// Opens the port named by the port list's text ("COM3") at the baud list's text with the
// given data and stop bits. True only when this call opened the port. A port held by another
// program, or one the user may not open, is explained in a message box; every other failure
// returns false silently.
bool OPEN_COM(SerialComponent &MSComm, const QString &portText, const QString &baudText,
              const QString &dataBits, const QString &stopBits, Dialogs &dialogs,
              QWidget *parent = nullptr);

// What opening a port came to: `error` 0 when this call opened it, -1 when it was open already,
// otherwise the serial component's failure number, with its text.
struct PortOpening {
    int error = 0;
    QString text;
    bool opened() const { return error == 0; }
};

// OPEN_COM's work once the port number is known, with no notice: the line settings, binary
// input, an empty receive buffer, a receive event for every five bytes, reads of at most five
// bytes, then the open.
PortOpening openPortNumber(SerialComponent &MSComm, int port, const QString &baudText,
                           const QString &dataBits, const QString &stopBits);

// Closes the port if it is open.
void CLOSE_COM(SerialComponent &MSComm);

// Sends a hex sequence ("44 4D 46") as raw bytes in one write, discards whatever waits in the
// receive buffer, then runs pending events once. Skips a closed port and an empty text. A pair
// that is not hex throws HexFormatError to the caller with nothing sent; a failure of the
// write itself is absorbed.
void SEND_HEX(SerialComponent &MSComm, const QString &hex, EventPump &pump);

// The texts of the two port notices.
QString busyPortMessage(int port);
QString permissionMessage(int port, const QString &device);
extern const QString noticeTitle;

} // namespace Module1

#pragma once

#include <QList>
#include <QString>

class PortMap;
class SerialPort;

// A port the window lists: its name and the device it stands for.
struct ListedPort {
    QString name;   // "COM3"
    QString device; // "/dev/ttyUSB0"; "" when unknown
};

// Tries COM1 to COM16 in turn by opening each on `port` and closing it again, and lists every
// one that exists, in ascending order: free ports, ports held by another program and ports this
// user may not open (choosing one of those then tells why it cannot be used). Every failure is
// absorbed; the port is left closed.
QList<ListedPort> listOpenablePorts(SerialPort &port, const PortMap &map);

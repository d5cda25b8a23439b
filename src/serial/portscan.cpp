#include "portscan.h"

#include "portmap.h"
#include "serialport.h"

QList<ListedPort> listOpenablePorts(SerialPort &port, const PortMap &map)
{
    QList<ListedPort> listed;
    for (int n = 1; n <= 16; ++n) {
        const PortError error = port.open(map.pathFor(n), LineSettings());
        port.close();
        if (error.ok() || error.kind == PortError::Kind::Busy ||
            error.kind == PortError::Kind::PermissionDenied)
            listed.append({QStringLiteral("COM%1").arg(n), map.deviceFor(n)});
    }
    return listed;
}

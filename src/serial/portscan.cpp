#include "portscan.h"

#include "portmap.h"
#include "portname.h"
#include "serialport.h"

QList<ListedPort> listOpenablePorts(SerialPort &port, const PortMap &map)
{
    QList<ListedPort> listed;
    for (int n = firstCom; n <= lastListedCom; ++n) {
        const PortError error = port.open(map.pathFor(n), LineSettings());
        port.close();
        if (error.ok() || error.kind == PortError::Kind::Busy ||
            error.kind == PortError::Kind::PermissionDenied)
            listed.append({comName(n), map.deviceFor(n)});
    }
    return listed;
}

#pragma once

#include <QString>

// Where --port points: COMn through the window's port map, or a device by its path.
struct PortTarget {
    QString name; // as reported: "COM3" or the path as given
    int com = 0;  // n for COMn; 0 for a path
    QString path; // the path to open when com is 0
};

// "COMn" (any case, n = 1..255) is a COM number; anything else is a device path. A bare name
// such as "ttyUSB0" means /dev/ttyUSB0 when that exists.
PortTarget resolvePort(const QString &text);

#pragma once

#include "portlock.h"

#include <QList>
#include <QString>
#include <QStringList>

class PortMap;

// The sample udev rule the package installs in its documentation folder.
inline constexpr QLatin1String sampleUdevRule("/usr/share/doc/vantrel/70-vantrel-serial.rules");

// Where the system keeps what the port list reads. Tests point these at a folder of their own.
struct SystemPaths {
    QString dev = QStringLiteral("/dev");
    QString sys = QStringLiteral("/sys");
    QString proc = QStringLiteral("/proc");
    QString lockDir = PortLock::lockDir();
    QString udevLocal = QStringLiteral("/etc/udev/rules.d");
    QStringList udevSystem{QStringLiteral("/usr/lib/udev/rules.d"),
                           QStringLiteral("/lib/udev/rules.d")};
};

// A process that has a device open.
struct Holder {
    int pid = 0;
    QString name;
};

struct PortInfo {
    // NoHardware: a serial port the kernel keeps with no UART behind it (sysfs type 0).
    enum class State { Free, Busy, NotPermitted, Missing, NoHardware };
    QString port;   // "COM3"
    QString device; // canonical path, "" when the link is dangling
    QString byId;   // the /dev/serial/by-id name, "" when none
    QString usbVendor, usbProduct, usbSerial;
    QString driver;        // the kernel driver ("ftdi_sio"), "" when unknown
    int latencyTimer = -1; // ms, for USB-serial adapters that have one
    State state = State::Missing;
    QList<Holder> holders;
    QString group;      // the device's group
    QString brokenLink; // where the port's link leads when nothing is there, else ""
};

// Who may open a device, as its mode bits and names tell.
struct DeviceAccess {
    unsigned mode = 0; // the permission bits (0660)
    QString owner, group;
    bool joinedNotYet = false; // this user is in `group` on record, but not in this login
};

struct Finding {
    QString id; // "group", "modemmanager", "brltty", "latency"
    QString problem;
    QString fix;
};

// COM1..COM16 as the window numbers them (only those that stand for something).
QList<PortInfo> scanPorts(const PortMap &ports, const SystemPaths &paths = {});
// What a single device looks like: by-id name, USB facts, state.
PortInfo describeDevice(const QString &portName, const QString &path, const SystemPaths &paths);

// The processes other than this one with `device` open, and the process a UUCP lock names. The
// process that holds a pseudo-terminal's other end (a virtual board) is not among them.
QList<Holder> holdersOf(const QString &device, const SystemPaths &paths = {});
// True when this very process has `device` open.
bool openInThisProcess(const QString &device, const SystemPaths &paths = {});
// True for a serial port with no hardware behind it: the kernel's placeholder ttyS* ports.
bool hasNoHardware(const QString &ttyName, const SystemPaths &paths = {});

// The system's files as the port list and the station's watch read them:
// the first line of a file (at most 256 bytes, trimmed; "" when unreadable),
QString readSysLine(const QString &path);
// the sysfs folder of the USB device a tty hangs off (the nearest parent with idVendor; ""
// when it is not on USB),
QString usbDeviceDir(const QString &ttyName, const SystemPaths &paths);
// and the /dev/serial/by-id name that leads to `device` ("" when none).
QString byIdName(const QString &device, const SystemPaths &paths);

// What stands in the way of flashing on this system, each with its fix.
QList<Finding> diagnose(const QList<PortInfo> &ports, const SystemPaths &paths = {});
// The command that puts this user into `group`: "sudo usermod -aG dialout $USER". It takes
// effect at the next login.
QString joinGroupCommand(const QString &group);
// Who may open `device` now, read from the device and this user's groups.
DeviceAccess deviceAccess(const QString &device);
// What to do about a device this user may not open: join its group when that group may read and
// write it (never the group root), else give access with a udev rule. The finding "group".
Finding accessFinding(const QString &device, const DeviceAccess &access);

QString stateName(PortInfo::State state);

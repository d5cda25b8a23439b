#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Which device stands for COMn (the port list offers n = 1..16; higher numbers, typed by the
// operator, resolve the same way).
//
// When the folder <config>/ports/ exists, COMn is the device that the symlink
// <config>/ports/comN points to; without a link (or with a dangling one) there is no COMn.
// Otherwise COMn is the n-th serial device of the system: USB-serial (ttyUSB*) and ACM
// (ttyACM*) adapters first, then the others, each group in name order with numbers compared
// as numbers (ttyUSB2 before ttyUSB10). The system's list is read once.
class PortMap
{
public:
    using Lister = std::function<QStringList()>;

    explicit PortMap(const QString &configDir, Lister systemPorts = listSystemSerialPorts);

    // The path to open for COMn, or "" when there is none. In link mode this is the link
    // itself; its target is what deviceFor() shows.
    QString pathFor(int n) const;

    // The device COMn stands for, for display: the link's target (canonical) or the system
    // device; "" when there is none.
    QString deviceFor(int n) const;

    bool usesLinks() const;
    QString linksDir() const;

    // Why COMn stands for no device, for a message: the ports folder and what it lacks, or where
    // a broken link leads. "" when COMn stands for a device or the system's list numbers it.
    QString whyNoDevice(int n) const;

    // The system's serial devices (absolute paths), unordered.
    static QStringList listSystemSerialPorts();
    // Orders device paths as the port map numbers them.
    static QStringList orderSystemPorts(QStringList devices);

private:
    const QStringList &systemPorts() const;

    QString m_configDir;
    Lister m_lister;
    mutable QStringList m_system;
    mutable bool m_listed = false;
};

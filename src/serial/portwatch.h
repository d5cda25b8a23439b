#pragma once

#include "portmap.h"
#include "portname.h"
#include "portprobe.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <utility>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// A board as the watch sees it on one port.
struct PortPresence {
    QString port;   // "COM3", or the path as given
    QString device; // the device node the port leads to (canonical path)
    // What makes this presence this one: the link's inode and change time, the node's device
    // number and inode (and change time on devpts, where a reused pty keeps its inode), the USB
    // bus and device number. A link or node removed and made again gives a new identity.
    QByteArray identity;
    QString byId;      // the /dev/serial/by-id name, "" when none
    QString usbSerial; // the USB adapter's serial number, "" when none
};

// Tells which boards appear on and vanish from a set of ports, on the caller's thread.
//
// Each change noticed (udev's monitor for the "tty" subsystem, inotify on the ports folder, on
// the config folder that holds it, on /dev, /dev/serial/by-id and the folders of ports given
// as paths) leads to a rescan a short while later, so that a burst of events costs one scan;
// a slow rescan runs besides, so that nothing is missed when udev or inotify say nothing (no
// udev in a container, a pty replaced without its link being touched). A rescan compares each
// port's identity with the last one seen: a change is gone() and then appeared().
class PortWatch : public QObject
{
    Q_OBJECT
public:
    struct Options {
        QString configDir;                                            // holds the ports folder
        PortMap::Lister systemPorts = PortMap::listSystemSerialPorts; // when there is no folder
        SystemPaths paths;   // /dev (by-id names) and /sys (USB facts)
        int settleMs = 30;   // from a notification to its rescan
        int safetyMs = 800;  // the slow rescan: a change is found within 1 s even so
        bool useUdev = true; // false: inotify and the slow rescan only
    };

    // Watches the given ports (COMn through the port map, or device paths), in this order.
    PortWatch(const QList<PortTarget> &targets, Options options, QObject *parent = nullptr);
    // Watches every port: COM1..COM16 of the ports folder, or, while there is no such folder,
    // every serial device of the system in the port map's order (named COMn as the port map
    // numbers them, by path past COM16); each device once, none with no hardware behind it.
    explicit PortWatch(Options options, QObject *parent = nullptr);
    ~PortWatch() override;

    // Starts watching: the boards present now are appeared() before this returns, in port
    // order.
    void start();
    // Rescans at once (also what every notification leads to).
    void rescan();

signals:
    // A slot may delete the watch, or run an event loop (changes found meanwhile are
    // signalled after this one, in order).
    void appeared(const PortPresence &presence);
    void gone(const PortPresence &presence);

private:
    struct Slot {
        QString port;
        QString path; // what to open, "" when the port stands for nothing now
    };

    QList<Slot> currentSlots() const;
    // Every port: each device once, none with no hardware behind it.
    QList<Slot> everyPortOnce(const QList<Slot> &listed) const;
    // True when the ports are numbered by the system's list, which shifts as devices come.
    bool numbersShift() const;
    PortPresence presenceOf(const Slot &slot) const;
    void setUpUdev();
    void watchFolders();
    void readInotify();
    void readUdev();
    void scheduleRescan();

    QList<PortTarget> m_targets;
    bool m_all = false;
    Options m_options;

    QList<PortPresence> m_present;                  // port order
    QList<std::pair<bool, PortPresence>> m_pending; // (appeared?, presence) not yet signalled
    bool m_emitting = false;
    QTimer m_settle;
    QTimer m_safety;

    int m_inotify = -1;
    QSocketNotifier *m_inotifyNotifier = nullptr;
    udev *m_udev = nullptr;
    udev_monitor *m_monitor = nullptr;
    QSocketNotifier *m_udevNotifier = nullptr;
};

Q_DECLARE_METATYPE(PortPresence)

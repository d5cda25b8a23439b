#include "portwatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <libudev.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace
{

constexpr long DevptsMagic = 0x1cd1;

QByteArray changeTime(const struct stat &st)
{
    return QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_ctim.tv_nsec));
}

// udev has finished with a device (permissions, by-id link) once its database entry is
// initialized; a device udev does not know (a pty) counts as finished.
bool udevDone(udev *u, dev_t rdev)
{
    if (!u)
        return true;
    udev_device *d = udev_device_new_from_devnum(u, 'c', rdev);
    if (!d)
        return true;
    const bool done = udev_device_get_is_initialized(d) > 0;
    udev_device_unref(d);
    return done;
}

} // namespace

PortWatch::PortWatch(const QList<PortTarget> &targets, Options options, QObject *parent)
    : QObject(parent), m_options(std::move(options))
{
    for (const PortTarget &t : targets) {
        bool known = false;
        for (const PortTarget &k : m_targets)
            known = known || k.name == t.name;
        if (!known)
            m_targets.append(t);
    }
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &PortWatch::rescan);
    connect(&m_safety, &QTimer::timeout, this, &PortWatch::rescan);
}

PortWatch::PortWatch(Options options, QObject *parent) : PortWatch({}, std::move(options), parent)
{
    m_all = true;
}

PortWatch::~PortWatch()
{
    delete m_inotifyNotifier;
    delete m_udevNotifier;
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

void PortWatch::start()
{
    if (m_safety.isActive())
        return; // started already
    if (m_options.useUdev)
        setUpUdev();
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0) {
        m_inotifyNotifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
        connect(m_inotifyNotifier, &QSocketNotifier::activated, this, &PortWatch::readInotify);
    }
    m_safety.start(m_options.safetyMs);
    rescan();
}

void PortWatch::setUpUdev()
{
    // Without the daemon nothing is ever announced nor marked as initialized.
    if (::access("/run/udev/control", F_OK) != 0)
        return;
    m_udev = udev_new();
    if (m_udev)
        m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(m_monitor) < 0) {
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        if (m_udev)
            udev_unref(m_udev);
        m_monitor = nullptr;
        m_udev = nullptr;
        return;
    }
    m_udevNotifier =
        new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read, this);
    connect(m_udevNotifier, &QSocketNotifier::activated, this, &PortWatch::readUdev);
}

void PortWatch::watchFolders()
{
    if (m_inotify < 0)
        return;
    QStringList dirs{m_options.configDir, m_options.configDir + QStringLiteral("/ports"),
                     m_options.paths.dev + QStringLiteral("/serial"),
                     m_options.paths.dev + QStringLiteral("/serial/by-id")};
    if (!m_udev)
        dirs << m_options.paths.dev; // device nodes that appear with no udev to announce them
    for (const PortTarget &t : m_targets) {
        if (t.com == 0)
            dirs << QFileInfo(t.path).path();
    }
    dirs.removeDuplicates();
    constexpr uint32_t mask =
        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
    // Adding a watch that is already there keeps it; a folder made again gets a new one.
    for (const QString &dir : dirs) {
        if (!dir.isEmpty())
            ::inotify_add_watch(m_inotify, QFile::encodeName(dir).constData(), mask);
    }
}

void PortWatch::readInotify()
{
    alignas(inotify_event) char buf[4096];
    while (::read(m_inotify, buf, sizeof buf) > 0) {
    }
    scheduleRescan();
}

void PortWatch::readUdev()
{
    while (udev_device *d = udev_monitor_receive_device(m_monitor))
        udev_device_unref(d);
    scheduleRescan();
}

void PortWatch::scheduleRescan()
{
    // Not restarted by later events: a steady stream of them still rescans every settleMs.
    if (!m_settle.isActive())
        m_settle.start(m_options.settleMs);
}

QList<PortWatch::Slot> PortWatch::currentSlots() const
{
    const PortMap map(m_options.configDir, m_options.systemPorts);
    QList<Slot> list;
    if (m_all) {
        if (map.usesLinks()) {
            for (int n = firstCom; n <= lastListedCom; ++n)
                list.append({comName(n), map.pathFor(n)});
        } else {
            // Named by their COM numbers as the port map gives them, by path past the last.
            const QStringList devices = PortMap::orderSystemPorts(
                m_options.systemPorts ? m_options.systemPorts() : QStringList());
            for (qsizetype i = 0; i < devices.size(); ++i)
                list.append(
                    {i < lastListedCom ? comName(int(i) + firstCom) : devices[i], devices[i]});
        }
        return everyPortOnce(list);
    }
    for (const PortTarget &t : m_targets)
        list.append({t.name, t.com > 0 ? map.pathFor(t.com) : t.path});
    return list;
}

QList<PortWatch::Slot> PortWatch::everyPortOnce(const QList<Slot> &listed) const
{
    QList<Slot> kept;
    QStringList devices;
    for (const Slot &slot : listed) {
        const QString device = QFileInfo(slot.path).canonicalFilePath();
        if (!device.isEmpty() && (devices.contains(device) ||
                                  hasNoHardware(QFileInfo(device).fileName(), m_options.paths)))
            continue; // a second link to one device; a port with no hardware behind it
        devices << device;
        kept.append(slot);
    }
    return kept;
}

bool PortWatch::numbersShift() const
{
    return m_all && !PortMap(m_options.configDir, {}).usesLinks();
}

PortPresence PortWatch::presenceOf(const Slot &slot) const
{
    PortPresence p;
    p.port = slot.port;
    if (slot.path.isEmpty())
        return p;
    const QByteArray path = QFile::encodeName(slot.path);
    struct stat node {
    };
    if (::stat(path.constData(), &node) != 0 || !S_ISCHR(node.st_mode) ||
        !udevDone(m_udev, node.st_rdev))
        return p;
    p.device = QFileInfo(slot.path).canonicalFilePath();
    if (p.device.isEmpty())
        return p;

    struct stat link {
    };
    if (::lstat(path.constData(), &link) == 0 && S_ISLNK(link.st_mode))
        p.identity =
            "link " + QByteArray::number(quint64(link.st_ino)) + ' ' + changeTime(link) + ' ';
    p.identity += "node " + QByteArray::number(quint64(node.st_rdev)) + ' ' +
                  QByteArray::number(quint64(node.st_ino));
    // devpts numbers its inodes by the pty's index: only the change time tells a new pty from
    // an old one on the same path (to the kernel's clock tick, a few ms).
    struct statfs fs {
    };
    if (::statfs(path.constData(), &fs) == 0 && fs.f_type == DevptsMagic)
        p.identity += ' ' + changeTime(node);
    // A USB device gets a new device number each time it is plugged in.
    if (const QString usb = usbDeviceDir(QFileInfo(p.device).fileName(), m_options.paths);
        !usb.isEmpty()) {
        p.identity += " usb " + readSysLine(usb + QStringLiteral("/busnum")).toUtf8() + ' ' +
                      readSysLine(usb + QStringLiteral("/devnum")).toUtf8();
        p.usbSerial = readSysLine(usb + QStringLiteral("/serial"));
    }
    return p;
}

void PortWatch::rescan()
{
    watchFolders();
    // The same board on the same port: the same identity. Where the system's list numbers the
    // ports, a board keeps the name it was announced with while others come and go.
    const bool anyName = numbersShift();
    const auto find = [anyName](const QList<PortPresence> &list,
                                const PortPresence &p) -> const PortPresence * {
        for (const PortPresence &q : list) {
            if ((anyName || q.port == p.port) && q.identity == p.identity)
                return &q;
        }
        return nullptr;
    };
    QList<PortPresence> now;
    for (const Slot &slot : currentSlots()) {
        PortPresence p = presenceOf(slot);
        if (p.identity.isEmpty())
            continue;
        if (const PortPresence *old = find(m_present, p)) {
            now.append(*old); // as it was announced
        } else {
            p.byId = byIdName(p.device, m_options.paths);
            now.append(p);
        }
    }
    QList<PortPresence> left;
    QList<PortPresence> arrived;
    for (const PortPresence &old : std::as_const(m_present)) {
        if (!find(now, old))
            left.append(old);
    }
    for (const PortPresence &p : std::as_const(now)) {
        if (!find(m_present, p))
            arrived.append(p);
    }
    m_present = now;
    // Every departure before any arrival: a board that moved ports leaves its old one first.
    for (const PortPresence &p : std::as_const(left))
        m_pending.append({false, p});
    for (const PortPresence &p : std::as_const(arrived))
        m_pending.append({true, p});
    // A slot that runs an event loop may lead to another rescan: its changes queue up behind
    // these, so that the signals keep the order in which the changes were found.
    if (m_emitting)
        return;
    const QPointer<PortWatch> self(this);
    m_emitting = true;
    while (!m_pending.isEmpty()) {
        const auto [arrival, p] = m_pending.takeFirst();
        if (arrival)
            emit appeared(p);
        else
            emit gone(p);
        if (!self)
            return; // deleted by a slot
    }
    m_emitting = false;
}

#include "portprobe.h"

#include "portlock.h"
#include "portmap.h"
#include "portname.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QString groupName(gid_t gid)
{
    const group *g = ::getgrgid(gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
}

bool inGroupNow(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    gid_t groups[256];
    const int n = ::getgroups(256, groups);
    for (int i = 0; i < n; ++i)
        if (groups[i] == gid)
            return true;
    return false;
}

// In the group database, but not in this login's groups: a new login is needed.
bool inGroupOnRecord(gid_t gid)
{
    const passwd *pw = ::getpwuid(::getuid());
    if (!pw)
        return false;
    gid_t groups[256];
    int n = 256;
    if (::getgrouplist(pw->pw_name, pw->pw_gid, groups, &n) < 0)
        return false;
    for (int i = 0; i < n; ++i)
        if (groups[i] == gid)
            return true;
    return false;
}

QList<Holder> processesNamed(const QString &comm, const SystemPaths &paths)
{
    QList<Holder> found;
    const QStringList pids =
        QDir(paths.proc).entryList(QStringList() << QStringLiteral("[0-9]*"), QDir::Dirs);
    for (const QString &pid : pids) {
        if (readSysLine(paths.proc + u'/' + pid + QStringLiteral("/comm")) == comm)
            found.append({pid.toInt(), comm});
    }
    return found;
}

QString userName(uid_t uid)
{
    const passwd *pw = ::getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}

// True when the process whose /proc folder is `procDir` has `device` open.
bool hasOpen(const QString &procDir, const QString &device)
{
    const QString fdDir = procDir + QStringLiteral("/fd");
    const QStringList fds =
        QDir(fdDir).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &fd : fds)
        if (QFileInfo(fdDir + u'/' + fd).symLinkTarget() == device)
            return true;
    return false;
}

// N for a pseudo-terminal /dev/pts/N, else -1.
int ptyIndex(const QString &device)
{
    const QFileInfo info(device);
    bool ok = false;
    const int n = info.fileName().toInt(&ok);
    return ok && n >= 0 && info.path().endsWith(QLatin1String("/pts")) ? n : -1;
}

// True when the process holds the other end (the master) of pseudo-terminal `index`: the
// terminal's own board, not a program that competes for it.
bool holdsPtyMaster(const QString &procDir, int index)
{
    const QString fdDir = procDir + QStringLiteral("/fd");
    const QStringList fds =
        QDir(fdDir).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &fd : fds) {
        if (QFileInfo(QFileInfo(fdDir + u'/' + fd).symLinkTarget()).fileName() != u"ptmx")
            continue;
        QFile info(procDir + QStringLiteral("/fdinfo/") + fd);
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : info.read(4096).split('\n'))
            if (line.startsWith("tty-index:") && line.mid(10).trimmed().toInt() == index)
                return true;
    }
    return false;
}

// Ports the user may not open, each with what lets them in; one finding for each fix.
QList<Finding> groupFindings(const QList<PortInfo> &ports)
{
    QList<Finding> findings;
    QStringList fixes;
    for (const PortInfo &p : ports) {
        if (p.state != PortInfo::State::NotPermitted || p.device.isEmpty())
            continue;
        const Finding f = accessFinding(p.device, deviceAccess(p.device));
        if (!fixes.contains(f.fix)) {
            fixes << f.fix;
            findings.append(f);
        }
    }
    return findings;
}

Finding modemManagerFinding()
{
    return {QStringLiteral("modemmanager"),
            QStringLiteral("ModemManager is running: it sends AT commands to every new ttyACM "
                           "port for a few seconds, and the bootloader reads them"),
            QStringLiteral("sudo systemctl stop ModemManager, or install the udev rule in "
                           "%1, which keeps it off boards")
                .arg(sampleUdevRule)};
}

// brltty's rule claims CH340 and CP210x adapters unless a local rule of the same name (often a
// link to /dev/null) overrides it.
bool brlttyRuleActive(const SystemPaths &paths)
{
    for (const QString &dir : paths.udevSystem) {
        const QStringList rules =
            QDir(dir).entryList(QStringList() << QStringLiteral("*brltty*.rules"), QDir::Files);
        for (const QString &rule : rules) {
            const QFileInfo local(paths.udevLocal + u'/' + rule);
            if (!(local.exists() || local.isSymLink()))
                return true;
        }
    }
    return false;
}

Finding brlttyFinding()
{
    return {QStringLiteral("brltty"),
            QStringLiteral("brltty's udev rule is active: it claims CH340 and CP210x adapters, "
                           "which then vanish as soon as they appear"),
            QStringLiteral("without a braille display: sudo apt remove brltty (or sudo systemctl "
                           "mask brltty-udev.service), then plug the adapter in again")};
}

// USB-serial adapters that hold received bytes back before passing them on.
QList<Finding> latencyFindings(const QList<PortInfo> &ports)
{
    QList<Finding> findings;
    for (const PortInfo &p : ports) {
        if (p.latencyTimer <= 1)
            continue;
        const QString tty = QFileInfo(p.device).fileName();
        findings.append(
            {QStringLiteral("latency"),
             QStringLiteral("%1 (%2) holds received bytes up to %3 ms before passing them on: "
                            "each block waits that long for its reply")
                 .arg(p.port, p.device)
                 .arg(p.latencyTimer),
             QStringLiteral("echo 1 | sudo tee /sys/bus/usb-serial/devices/%1/latency_timer "
                            "(until the adapter is plugged in again)")
                 .arg(tty)});
    }
    return findings;
}

} // namespace

QString readSysLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.read(256)).trimmed();
}

QString usbDeviceDir(const QString &ttyName, const SystemPaths &paths)
{
    QString dir =
        QFileInfo(paths.sys + QStringLiteral("/class/tty/") + ttyName + QStringLiteral("/device"))
            .canonicalFilePath();
    for (int depth = 0; !dir.isEmpty() && depth < 8; ++depth) {
        if (QFileInfo::exists(dir + QStringLiteral("/idVendor")))
            return dir;
        const QString up = QFileInfo(dir).path();
        if (up == dir || up.size() <= paths.sys.size())
            break;
        dir = up;
    }
    return QString();
}

QString byIdName(const QString &device, const SystemPaths &paths)
{
    const QString byIdDir = paths.dev + QStringLiteral("/serial/by-id");
    for (const QFileInfo &link : QDir(byIdDir).entryInfoList(QDir::System | QDir::Files)) {
        if (link.isSymLink() && link.canonicalFilePath() == device)
            return link.fileName();
    }
    return QString();
}

QString stateName(PortInfo::State state)
{
    switch (state) {
    case PortInfo::State::Free:
        return QStringLiteral("free");
    case PortInfo::State::Busy:
        return QStringLiteral("busy");
    case PortInfo::State::NotPermitted:
        return QStringLiteral("not permitted");
    case PortInfo::State::NoHardware:
        return QStringLiteral("no hardware");
    case PortInfo::State::Missing:
        break;
    }
    return QStringLiteral("missing");
}

QList<Holder> holdersOf(const QString &device, const SystemPaths &paths)
{
    QList<Holder> holders;
    if (device.isEmpty())
        return holders;
    const QString self = QString::number(::getpid());
    const int pty = ptyIndex(device);
    const QStringList pids =
        QDir(paths.proc).entryList(QStringList() << QStringLiteral("[0-9]*"), QDir::Dirs);
    for (const QString &pid : pids) {
        const QString dir = paths.proc + u'/' + pid;
        if (pid == self || !hasOpen(dir, device) || (pty >= 0 && holdsPtyMaster(dir, pty)))
            continue;
        holders.append({pid.toInt(), readSysLine(dir + QStringLiteral("/comm"))});
    }
    for (const QString &name : PortLock::lockFileNames(device)) {
        QByteArray content;
        if (!PortLock::readLockFile(paths.lockDir + u'/' + name, 128, &content))
            continue;
        const pid_t pid = PortLock::lockFilePid(content);
        if (pid <= 0 || pid == ::getpid())
            continue;
        bool known = false;
        for (const Holder &h : holders)
            known = known || h.pid == pid;
        if (!known && QFileInfo::exists(paths.proc + u'/' + QString::number(pid)))
            holders.append({int(pid), readSysLine(paths.proc + u'/' + QString::number(pid) +
                                                  QStringLiteral("/comm"))});
    }
    return holders;
}

bool openInThisProcess(const QString &device, const SystemPaths &paths)
{
    return !device.isEmpty() && hasOpen(paths.proc + QStringLiteral("/self"), device);
}

bool hasNoHardware(const QString &ttyName, const SystemPaths &paths)
{
    return readSysLine(paths.sys + QStringLiteral("/class/tty/") + ttyName +
                       QStringLiteral("/type")) == QLatin1String("0");
}

PortInfo describeDevice(const QString &portName, const QString &path, const SystemPaths &paths)
{
    PortInfo info;
    info.port = portName;
    info.device = QFileInfo(path).canonicalFilePath();
    if (info.device.isEmpty()) {
        if (QFileInfo(path).isSymLink())
            info.brokenLink = QFileInfo(path).symLinkTarget();
        return info; // State::Missing
    }

    info.byId = byIdName(info.device, paths);
    const QString tty = QFileInfo(info.device).fileName();
    if (const QString usb = usbDeviceDir(tty, paths); !usb.isEmpty()) {
        info.usbVendor = readSysLine(usb + QStringLiteral("/idVendor"));
        info.usbProduct = readSysLine(usb + QStringLiteral("/idProduct"));
        info.usbSerial = readSysLine(usb + QStringLiteral("/serial"));
    }
    const QString dev = paths.sys + QStringLiteral("/class/tty/") + tty + QStringLiteral("/device");
    info.driver = QFileInfo(QFileInfo(dev + QStringLiteral("/driver")).symLinkTarget()).fileName();
    bool ok = false;
    const int latency = readSysLine(dev + QStringLiteral("/latency_timer")).toInt(&ok);
    info.latencyTimer = ok ? latency : -1;

    struct stat st {
    };
    if (::stat(QFile::encodeName(info.device).constData(), &st) == 0)
        info.group = groupName(st.st_gid);
    if (hasNoHardware(tty, paths)) {
        info.state = PortInfo::State::NoHardware;
        return info;
    }

    const PortLock::Claim claim = PortLock::claimDevice(info.device);
    switch (claim.status) {
    case PortLock::Status::Claimed:
        info.state =
            PortLock::isExclusive(claim.fd) || PortLock::isLockedByOther(paths.lockDir, info.device)
                ? PortInfo::State::Busy
                : PortInfo::State::Free;
        ::close(claim.fd);
        break;
    case PortLock::Status::Busy:
        info.state = PortInfo::State::Busy;
        break;
    case PortLock::Status::PermissionDenied:
        info.state = PortInfo::State::NotPermitted;
        break;
    case PortLock::Status::NoDevice:
        info.state = PortInfo::State::Missing;
        break;
    case PortLock::Status::Failed:
        info.state = PortInfo::State::Busy;
        break;
    }
    if (info.state == PortInfo::State::Busy)
        info.holders = holdersOf(info.device, paths);
    return info;
}

QList<PortInfo> scanPorts(const PortMap &ports, const SystemPaths &paths)
{
    QList<PortInfo> list;
    for (int n = firstCom; n <= lastListedCom; ++n) {
        const QString path = ports.pathFor(n);
        const QString link = ports.usesLinks() ? comLinkPath(ports.linksDir(), n) : QString();
        if (path.isEmpty() && !(!link.isEmpty() && QFileInfo(link).isSymLink()))
            continue;
        // A dangling link is described too: it shows where it leads.
        list.append(describeDevice(comName(n), path.isEmpty() ? link : path, paths));
    }
    return list;
}

QString joinGroupCommand(const QString &group)
{
    return QStringLiteral("sudo usermod -aG %1 $USER").arg(group);
}

DeviceAccess deviceAccess(const QString &device)
{
    DeviceAccess access;
    struct stat st {
    };
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return access;
    access.mode = st.st_mode & 0777;
    access.owner = userName(st.st_uid);
    access.group = groupName(st.st_gid);
    access.joinedNotYet = inGroupOnRecord(st.st_gid) && !inGroupNow(st.st_gid);
    return access;
}

Finding accessFinding(const QString &device, const DeviceAccess &access)
{
    const QString id = QStringLiteral("group");
    const bool groupMayUse = (access.mode & 060) == 060 && !access.group.isEmpty() &&
                             access.group != QLatin1String("root");
    if (groupMayUse && access.joinedNotYet)
        return {id,
                QStringLiteral("this user may not open %1: you were added to the group '%2' "
                               "that may, but this login does not have it yet")
                    .arg(device, access.group),
                QStringLiteral("log out and in again (a new terminal is not enough); `id` must "
                               "list %1")
                    .arg(access.group)};
    if (groupMayUse)
        return {id,
                QStringLiteral("this user may not open %1: the group '%2' may, and this user is "
                               "not in it")
                    .arg(device, access.group),
                joinGroupCommand(access.group) + QStringLiteral(", then log out and in")};
    return {id,
            QStringLiteral("this user may not open %1: only its owner (%2) may open it")
                .arg(device, access.owner.isEmpty() ? QStringLiteral("root") : access.owner),
            QStringLiteral("give access with a udev rule: copy the sample rule %1 to "
                           "/etc/udev/rules.d/ (with your adapter's vendor:product in it), run "
                           "sudo udevadm control --reload and plug the adapter in again")
                .arg(sampleUdevRule)};
}

QList<Finding> diagnose(const QList<PortInfo> &ports, const SystemPaths &paths)
{
    QList<Finding> findings = groupFindings(ports);
    if (!processesNamed(QStringLiteral("ModemManager"), paths).isEmpty())
        findings.append(modemManagerFinding());
    if (brlttyRuleActive(paths))
        findings.append(brlttyFinding());
    findings.append(latencyFindings(ports));
    return findings;
}

// What the port list tells about a port before anything is opened: the advice for a device this
// user may not open, who holds a device, ports with no hardware behind them, and how the
// station's watch names every port.
#include "files.h"
#include "portmap.h"
#include "portprobe.h"
#include "portwatch.h"
#include "ptypeer.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace
{

// A folder that plays /proc, /sys and the config folder.
struct FakeSystem {
    FakeSystem()
        : paths{root.filePath("dev"),  root.filePath("sys"), root.filePath("proc"),
                root.filePath("lock"), root.filePath("etc"), {root.filePath("lib")}}
    {
    }
    void file(const QString &path, const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(root.filePath(path)).path());
        writeBytes(root.filePath(path), content);
    }
    void link(const QString &target, const QString &path)
    {
        QDir().mkpath(QFileInfo(root.filePath(path)).path());
        QFile::link(target, root.filePath(path));
    }
    QTemporaryDir root;
    SystemPaths paths;
};

} // namespace

class TestPortProbe : public QObject
{
    Q_OBJECT
private slots:
    void accessAdvice_data()
    {
        QTest::addColumn<unsigned>("mode");
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("joinedNotYet");
        QTest::addColumn<QString>("says"); // in the problem or the fix
        QTest::addColumn<QString>("never");
        const QString rule = sampleUdevRule;
        // clang-format off
        QTest::newRow("group may read and write") << 0660u << "root" << "dialout" << false << "sudo usermod -aG dialout $USER" << "only its owner";
        QTest::newRow("joined, not in this login") << 0660u << "root" << "dialout" << true << "log out and in again" << "usermod";
        QTest::newRow("group may only write (a terminal)") << 0620u << "root" << "tty" << false << "only its owner (root)" << "usermod";
        QTest::newRow("owner alone") << 0600u << "root" << "root" << false << rule << "group root";
        QTest::newRow("group root may read and write") << 0660u << "root" << "root" << false << rule << "usermod";
        QTest::newRow("group may only read") << 0640u << "alice" << "dialout" << false << "only its owner (alice)" << "usermod";
        // clang-format on
    }

    void accessAdvice()
    {
        QFETCH(unsigned, mode);
        QFETCH(QString, owner);
        QFETCH(QString, group);
        QFETCH(bool, joinedNotYet);
        QFETCH(QString, says);
        QFETCH(QString, never);
        const Finding f = accessFinding("/dev/ttyUSB0", {mode, owner, group, joinedNotYet});
        const QString words = f.problem + u'\n' + f.fix;
        QCOMPARE(f.id, QStringLiteral("group"));
        QVERIFY2(f.problem.startsWith("this user may not open /dev/ttyUSB0"), qPrintable(words));
        QVERIFY2(words.contains(says), qPrintable(words));
        QVERIFY2(!words.contains(never), qPrintable(words));
        QVERIFY(!words.contains("group 'root'") && !words.contains("usermod -aG root"));
    }

    // The processes reported as holding /dev/pts/7: not this one, not the one that holds the
    // terminal's other end (the board), and a live process a lock file names.
    void holders_data()
    {
        QTest::addColumn<QStringList>("fds"); // "PID:FD:TARGET[:tty-index]"
        QTest::addColumn<QString>("lockPid");
        QTest::addColumn<QStringList>("held"); // "PID name"
        const QString self = QString::number(::getpid());
        // clang-format off
        QTest::newRow("another program") << QStringList{"200:3:/dev/pts/7"} << "" << QStringList{"200 minicom"};
        QTest::newRow("the board on its own terminal") << QStringList{"100:0:/dev/pts/7", "100:1:/dev/ptmx:7"} << "" << QStringList{};
        QTest::newRow("a board of another terminal") << QStringList{"100:0:/dev/pts/7", "100:1:/dev/ptmx:8"} << "" << QStringList{"100 vantrel-vboard"};
        QTest::newRow("the board, and a program") << QStringList{"100:0:/dev/pts/7", "100:1:/dev/pts/ptmx:7", "200:5:/dev/pts/7"} << "" << QStringList{"200 minicom"};
        QTest::newRow("this process") << QStringList{self + ":4:/dev/pts/7"} << "" << QStringList{};
        QTest::newRow("another terminal") << QStringList{"200:3:/dev/pts/70"} << "" << QStringList{};
        QTest::newRow("a lock file of this process") << QStringList{} << self << QStringList{};
        // clang-format on
    }

    void holders()
    {
        QFETCH(QStringList, fds);
        QFETCH(QString, lockPid);
        QFETCH(QStringList, held);
        FakeSystem sys;
        sys.file("proc/100/comm", "vantrel-vboard\n");
        sys.file("proc/200/comm", "minicom\n");
        for (const QString &fd : fds) {
            const QStringList f = fd.split(u':');
            sys.link(f[2], "proc/" + f[0] + "/fd/" + f[1]);
            if (f.size() > 3)
                sys.file("proc/" + f[0] + "/fdinfo/" + f[1],
                         "pos:\t0\ntty-index:\t" + f[3].toUtf8());
        }
        if (!lockPid.isEmpty())
            sys.file("lock/LCK..7", lockPid.toUtf8() + '\n');
        QStringList got;
        for (const Holder &h : holdersOf("/dev/pts/7", sys.paths))
            got << QStringLiteral("%1 %2").arg(h.pid).arg(h.name);
        QCOMPARE(got, held);
    }

    void openHere()
    {
        PtyPeer peer;
        const QString other = peer.slavePath();
        QVERIFY(openInThisProcess(other)); // the peer keeps its slave open
        QVERIFY(!openInThisProcess(other + "0"));
        QVERIFY(!openInThisProcess(QString()));
    }

    // Serial ports with no UART behind them (sysfs type 0) are listed as such and never
    // opened; the others keep their state.
    void noHardware_data()
    {
        QTest::addColumn<QByteArray>("type"); // "": no type file
        QTest::addColumn<QString>("state");
        QTest::newRow("placeholder") << QByteArray("0\n") << "no hardware";
        QTest::newRow("a 16550A") << QByteArray("4\n") << "free";
        QTest::newRow("no type (USB, pty)") << QByteArray() << "free";
        QTest::newRow("unreadable number") << QByteArray("x") << "free";
    }

    void noHardware()
    {
        QFETCH(QByteArray, type);
        QFETCH(QString, state);
        FakeSystem sys;
        PtyPeer tty;
        const QString name = QFileInfo(tty.slavePath()).fileName();
        if (!type.isEmpty())
            sys.file("sys/class/tty/" + name + "/type", type);
        const PortMap map(sys.root.filePath("config"),
                          [&] { return QStringList{tty.slavePath()}; });
        const QList<PortInfo> ports = scanPorts(map, sys.paths);
        QCOMPARE(ports.size(), 1);
        QCOMPARE(ports[0].port, QStringLiteral("COM1")); // numbered as before
        QCOMPARE(stateName(ports[0].state), state);
        QCOMPARE(hasNoHardware(name, sys.paths), state == "no hardware");
    }

    // Watching every port without a ports folder: the system's devices named by their COM
    // numbers, those with no hardware left out, each device once.
    void watchEverySystemPort()
    {
        FakeSystem sys;
        PtyPeer usb, placeholder, other;
        sys.file("sys/class/tty/" + QFileInfo(placeholder.slavePath()).fileName() + "/type", "0");
        PortWatch::Options o;
        o.configDir = sys.root.filePath("config");
        o.paths = sys.paths;
        o.useUdev = false;
        // The order the port map gives them: the placeholder keeps its number.
        const QStringList devices = PortMap::orderSystemPorts(
            {usb.slavePath(), placeholder.slavePath(), other.slavePath()});
        o.systemPorts = [&] { return devices; };
        PortWatch watch(o);
        QStringList seen;
        connect(&watch, &PortWatch::appeared, this,
                [&](const PortPresence &p) { seen << p.port + u'=' + p.device; });
        watch.start();
        QStringList expected;
        for (int i = 0; i < devices.size(); ++i)
            if (devices[i] != placeholder.slavePath())
                expected << QStringLiteral("COM%1=%2").arg(i + 1).arg(devices[i]);
        QCOMPARE(seen, expected);
    }
};

QTEST_MAIN(TestPortProbe)
#include "tst_portprobe.moc"

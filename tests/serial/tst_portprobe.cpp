// What the port list tells about a port before anything is opened, and the station's watch of them.
#include "files.h"
#include "portmap.h"
#include "portprobe.h"
#include "portwatch.h"
#include "ptypeer.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace
{

// A folder that plays /dev, /sys, /proc, the lock folder and the config folder.
struct FakeSystem {
    QTemporaryDir root;
    SystemPaths paths{root.filePath("dev"),  root.filePath("sys"), root.filePath("proc"),
                      root.filePath("lock"), root.filePath("etc"), {root.filePath("lib")}};
    // The path of a file in it, its folder made.
    QString at(const QString &path)
    {
        QDir().mkpath(QFileInfo(root.filePath(path)).path());
        return root.filePath(path);
    }
};

QString ttyName(const PtyPeer &tty)
{
    return QFileInfo(tty.slavePath()).fileName();
}

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
        QVERIFY2(words.contains(says) && !words.contains(never), qPrintable(words));
        QVERIFY(!words.contains("group 'root'") && !words.contains("usermod -aG root"));
    }

    // Who holds /dev/pts/7: not this process, not the board on the terminal's other end.
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
        writeBytes(sys.at("proc/100/comm"), "vantrel-vboard\n");
        writeBytes(sys.at("proc/200/comm"), "minicom\n");
        for (const QString &fd : fds) {
            const QStringList f = fd.split(u':');
            QFile::link(f[2], sys.at("proc/" + f[0] + "/fd/" + f[1]));
            if (f.size() > 3)
                writeBytes(sys.at("proc/" + f[0] + "/fdinfo/" + f[1]),
                           "pos:\t0\ntty-index:\t" + f[3].toUtf8());
        }
        if (!lockPid.isEmpty())
            writeBytes(sys.at("lock/LCK..7"), lockPid.toUtf8() + '\n');
        QStringList got;
        for (const Holder &h : holdersOf("/dev/pts/7", sys.paths))
            got << QStringLiteral("%1 %2").arg(h.pid).arg(h.name);
        QCOMPARE(got, held);
    }

    void openHere()
    {
        PtyPeer peer; // it keeps its slave open
        QVERIFY(openInThisProcess(peer.slavePath()));
        QVERIFY(!openInThisProcess(peer.slavePath() + "0"));
        QVERIFY(!openInThisProcess(QString()));
    }

    // Serial ports with no UART behind them (sysfs type 0) keep their number, are listed as such
    // and left out of the watch of every system port; the others are free and watched.
    void noHardware()
    {
        FakeSystem sys;
        PtyPeer ttys[4]; // sysfs type 0; 4 (a 16550A); none (USB, pty); unreadable
        const QByteArray types[4] = {"0\n", "4\n", "", "x"};
        QStringList devices;
        for (int i = 0; i < 4; ++i) {
            if (!types[i].isEmpty())
                writeBytes(sys.at("sys/class/tty/" + ttyName(ttys[i]) + "/type"), types[i]);
            devices << ttys[i].slavePath();
        }
        devices = PortMap::orderSystemPorts(devices);
        QStringList listed, watched, expectListed, expectWatched;
        for (const PortInfo &p :
             scanPorts(PortMap(sys.at("config"), [&] { return devices; }), sys.paths))
            listed << p.port + u' ' + stateName(p.state);
        PortWatch watch({.configDir = sys.at("config"),
                         .systemPorts = [&] { return devices; },
                         .paths = sys.paths,
                         .useUdev = false});
        connect(&watch, &PortWatch::appeared, this,
                [&](const PortPresence &p) { watched << p.port + u'=' + p.device; });
        watch.start();
        for (int i = 0; i < devices.size(); ++i) {
            const bool none = devices[i] == ttys[0].slavePath();
            expectListed
                << QStringLiteral("COM%1 %2").arg(i + 1).arg(none ? "no hardware" : "free");
            if (!none)
                expectWatched << QStringLiteral("COM%1=%2").arg(i + 1).arg(devices[i]);
        }
        QCOMPARE(listed, expectListed);
        QCOMPARE(watched, expectWatched);
    }
};

QTEST_MAIN(TestPortProbe)
#include "tst_portprobe.moc"

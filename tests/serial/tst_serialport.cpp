// The serial port over pseudo-terminals as a board and other programs see it; COM-number readings.
#include "portmap.h"
#include "portname.h"
#include "portscan.h"
#include "ptypeer.h"
#include "qtserialport.h"

#include <QtTest>

#include <ctime>
#include <fcntl.h>
#include <numeric>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// Holds a device through its real name, as another program would: by flock() or exclusive mode.
struct OtherProgram {
    explicit OtherProgram(const QString &device, bool exclusive = false)
        : fd(::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY))
    {
        exclusive ? ::ioctl(fd, TIOCEXCL) : ::flock(fd, LOCK_EX | LOCK_NB);
    }
    ~OtherProgram() { ::close(fd); }
    int fd;
};

speed_t speedOf(const PtyPeer &peer)
{
    termios t{};
    tcgetattr(peer.slaveFd(), &t);
    return cfgetospeed(&t);
}

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_home = std::make_unique<QTemporaryDir>(); }

    void sessionUntilTheDeviceIsGone()
    {
        PtyPeer peer;
        QtSerialPort port;
        port.setLockDir(m_home->path());
        QByteArray all(256, 0);
        std::iota(all.begin(), all.end(), char(0));
        port.write("closed: skipped");
        peer.write("stale");
        QVERIFY(port.open(peer.linkAs(ports(), 1), LineSettings::eightNoneOne(9600)).ok());
        port.write(all); // what waited before the open is gone
        QVERIFY(port.setLineSettings(LineSettings::eightNoneOne(115200))); // after bytes written
        port.write("DMF");
        QCOMPARE(peer.read(259), all + "DMF");
        QCOMPARE(speedOf(peer), speed_t(B115200));
        // Refused by the port (no rate, 9 bits) or the driver (no parity on a pty): nothing
        // changes.
        for (const LineSettings &refused : {LineSettings{0}, LineSettings{9600, 9},
                                            LineSettings{9600, 8, LineSettings::Parity::Even}})
            QVERIFY(!port.setLineSettings(refused));
        QCOMPARE(speedOf(peer), speed_t(B115200));
        QCOMPARE(port.lineSettings().text(), QStringLiteral("115200,n,8,1"));

        port.setReceiveFrame(5);
        QByteArrayList got;
        connect(&port, &SerialPort::received, this, [&](const QByteArray &b) { got << b; });
        peer.write("ABCD");
        QTest::qWait(30);
        QVERIFY(got.isEmpty()); // a frame waits until it is whole
        peer.write("E0123456789");
        QTRY_COMPARE(got, QByteArrayList({"ABCDE", "01234", "56789"}));
        peer.write("xyz");
        QTest::qWait(30);
        port.clearInput();
        port.setReceiveFrame(0);
        peer.write("!");
        QTRY_COMPARE(got.last(), QByteArray("!")); // "xyz" was dropped

        peer.closeMaster(); // the adapter is pulled out
        QTRY_VERIFY(!port.isOpen());
        port.write("DMF");
        const std::clock_t cpu = std::clock();
        QTest::qWait(200);
        QVERIFY2((std::clock() - cpu) * 1000 / CLOCKS_PER_SEC < 50, "the event loop spins");
        QCOMPARE(heldBy(peer), 0); // no hold on the device left
    }

    void open_data()
    {
        QTest::addColumn<QString>("state"); // held by "flock", "excl", a lock file "LCK <pid>"
        QTest::addColumn<int>("kind");
        const int ok = int(PortError::Kind::None), busy = int(PortError::Kind::Busy);
        QTest::newRow("free") << "free" << ok;
        QTest::newRow("flock by another open file") << "flock" << busy;
        QTest::newRow("tty in exclusive mode") << "excl" << busy;
        QTest::newRow("lock file, live process") << QString("LCK %1").arg(getppid()) << busy;
        QTest::newRow("lock file, dead process") << "LCK 2147483646" << ok;
        QTest::newRow("open already") << "open" << int(PortError::Kind::Other);
        QTest::newRow("missing") << "missing" << int(PortError::Kind::NotFound);
    }

    void open()
    {
        QFETCH(QString, state);
        PtyPeer peer;
        const QString link = peer.linkAs(ports(), 4);
        QtSerialPort port;
        port.setLockDir(m_home->path());
        std::unique_ptr<OtherProgram> other;
        if (state == "flock" || state == "excl")
            other = std::make_unique<OtherProgram>(peer.slavePath(), state == "excl");
        if (state.startsWith("LCK")) {
            QFile lock(m_home->filePath("LCK.." + QFileInfo(peer.slavePath()).fileName()));
            QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(state.mid(4).toLatin1() + "\n"));
        }
        if (state == "open")
            QVERIFY(port.open(link, LineSettings()).ok());

        const PortError error = port.open(state == "missing" ? link + "x" : link, LineSettings());
        QTEST(int(error.kind), "kind");
        QCOMPARE(port.isOpen(), error.ok() || state == "open");
        if (port.isOpen()) // while the port is open, another program sees the device locked
            QCOMPARE(heldBy(peer), -1);
        port.close();
        port.close(); // closing a closed port does nothing
        other.reset();
        QCOMPARE(heldBy(peer), 0); // no hold on the device left
    }

    void listsTheOpenablePorts()
    {
        PtyPeer a, b, c;
        a.linkAs(ports(), 3);
        b.linkAs(ports(), 16);
        c.linkAs(ports(), 9);
        b.linkAs(ports(), 17);                                       // never tried
        QFile::link(m_home->path() + "/nowhere", ports() + "/com5"); // dangling: no COM5
        OtherProgram holder(c.slavePath());                          // busy ports are listed too
        QtSerialPort port;
        const PortMap map(config());
        const QList<ListedPort> listed = listOpenablePorts(port, map);
        QStringList names;
        for (const ListedPort &p : listed)
            names << p.name;
        QCOMPARE(names, QStringList({"COM3", "COM9", "COM16"}));
        QCOMPARE(listed[0].device, a.slavePath());
        QVERIFY(!port.isOpen());

        QDir(ports()).removeRecursively();
        QDir().mkpath(ports());
        QVERIFY(listOpenablePorts(port, map).isEmpty());
    }

    // COMn as the window reads it (the number, "none" past 16 bits) and as the command line
    // does: COMn (0 for none), COMa-COMb (the ports, "!" if invalid).
    void comReading_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("window");
        QTest::addColumn<QString>("read");
        // clang-format off
        for (auto [text, read] : {std::pair{"COM16", "16"}, {"COM", "0"}, {"COM 1 2", "12"}, {"COM3x4", "3"}, {"ttyS5", "0"},
                                  {"COM2.5", "2"}, {"COM3.5", "4"}, {"COM1E1", "10"}, {"COM4E", "4"}, {"COM-3", "-3"},
                                  {"COM32767", "32767"}, {"COM32768", "none"}, {"COM1E30", "none"}})
            QTest::addRow("window %s", text) << QString(text) << true << QString(read);
        for (auto [text, read] : {std::pair{"cOm12", "12"}, {"COM007", "7"}, {"COM255", "255"}, {"COM256", "0"},
                                  {"COM0", "0"}, {"COM0003", "0"}, {"COM3x", "0"}, {" COM3", "0"}, {"COM-1", "0"},
                                  {"COM１", "0"}, {"/dev/ttyUSB0", "0"}, {"com7-8", "COM7 COM8"},
                                  {"COM254-COM255", "COM254 COM255"}, {"COM8-COM1", "!"}, {"COM0-COM3", "!"},
                                  {"COM1-COM256", "!"}, {"COM1-COM1000", "0"}, {"COM1-", "0"}, {"1-8", "0"}})
            QTest::addRow("command line %s", text) << QString(text) << false << QString(read);
        // clang-format on
    }

    void comReading()
    {
        QFETCH(QString, text);
        if (QFETCH(bool, window); window) {
            const auto n = portNumberFromText(text);
            QTEST(n ? QString::number(*n) : "none", "read");
            return;
        }
        const std::optional<ComRange> range = parseComRange(text);
        const PortTarget target = resolvePort(text); // reported by its one spelling
        const QString read = range ? (range->valid() ? range->names().join(' ') : "!")
                                   : QString::number(parseComName(text).value_or(0));
        QTEST(read, "read");
        QCOMPARE(target.com, range ? 0 : read.toInt());
        QVERIFY(target.com == 0 || target.name == QStringLiteral("COM%1").arg(target.com));
    }

private:
    static int heldBy(const PtyPeer &peer) { return ::flock(peer.slaveFd(), LOCK_EX | LOCK_NB); }
    QString config() const { return m_home->path() + "/vantrel"; }
    QString ports() const { return config() + "/ports"; }
    std::unique_ptr<QTemporaryDir> m_home;
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"

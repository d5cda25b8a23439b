#include "fakes.h"
#include "module1.h"
#include "portmap.h"
#include "ptypeer.h"
#include "qtserialcomponent.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{

class ListedPorts : public PortList
{
public:
    QStringList items, tips;
    int current = -1;
    void clear() override { items.clear(), tips.clear(), current = -1; }
    void insertItem(int i, const QString &t, const QString &tip) override
    {
        items.insert(i, t);
        tips.insert(i, tip);
    }
    int count() const override { return int(items.size()); }
    void setCurrentIndex(int i) override { current = i; }
};

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

} // namespace

// The port helpers over pseudo-terminals linked into the port map, with the real component.
class TestModule1 : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QDir().mkpath(ports());
        m_map = std::make_unique<PortMap>(m_home->path() + "/vantrel");
    }

    void scanListsExistingPortsInOrder()
    {
        PtyPeer a, b, c;
        a.linkAs(ports(), 3);
        b.linkAs(ports(), 16);
        c.linkAs(ports(), 9);
        b.linkAs(ports(), 17);                                       // never probed
        QFile::link(m_home->path() + "/nowhere", ports() + "/com5"); // dangling: no COM5
        OtherProgram holder(c.slavePath());                          // busy ports are listed too

        QtSerialComponent comm(*m_map);
        ListedPorts list;
        list.items << "stale";
        Module1::SCAN_COM(comm, list);
        QCOMPARE(list.items, QStringList({"COM3", "COM9", "COM16"}));
        QCOMPARE(list.tips[0], a.slavePath());
        QCOMPARE(list.current, 0);
        QVERIFY(!comm.PortOpen());

        QDir(ports()).removeRecursively();
        QDir().mkpath(ports());
        Module1::SCAN_COM(comm, list);
        QVERIFY(list.items.isEmpty());
        QCOMPARE(list.current, -1);
    }

    void openCom_data()
    {
        QTest::addColumn<QString>("portText");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QString>("state"); // of COM4: "free", "open" (by us), held by "flock",
                                            // "excl" (exclusive mode) or a lock file "LCK <pid>"
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("message");

        // clang-format off
        QTest::newRow("free") << "COM4" << "115200" << "free" << true << "";
        QTest::newRow("typed rate") << "COM4" << "250000" << "free" << true << "";
        const QString busy = "COM4已被其它程序打开，请选择其它串口！";
        QTest::newRow("flock by another open file") << "COM4" << "115200" << "flock" << false << busy;
        QTest::newRow("tty in exclusive mode") << "COM4" << "115200" << "excl" << false << busy;
        QTest::newRow("lock file, live process") << "COM4" << "115200" << QString("LCK %1").arg(getppid()) << false << busy;
        QTest::newRow("lock file, dead process") << "COM4" << "115200" << "LCK 2147483646" << true << "";
        QTest::newRow("already open") << "COM4" << "115200" << "open" << false << "";
        QTest::newRow("missing") << "COM9" << "115200" << "free" << false << "";
        QTest::newRow("COM alone") << "COM" << "115200" << "free" << false << "";
        QTest::newRow("beyond 16 bits") << "COM99999" << "115200" << "free" << false << "";
        QTest::newRow("refused rate") << "COM4" << "fast" << "free" << false << "";
        // clang-format on
    }

    void openCom()
    {
        QFETCH(QString, portText);
        QFETCH(QString, baud);
        QFETCH(QString, state);
        QFETCH(bool, result);
        QFETCH(QString, message);

        PtyPeer peer;
        peer.linkAs(ports(), 4);
        QtSerialComponent comm(*m_map);
        comm.setLockDir(m_home->path());
        FakeDialogs dialogs;
        std::unique_ptr<OtherProgram> other;
        if (state == "flock" || state == "excl")
            other = std::make_unique<OtherProgram>(peer.slavePath(), state == "excl");
        QFile lock(m_home->filePath("LCK.." + QFileInfo(peer.slavePath()).fileName()));
        if (state.startsWith("LCK"))
            QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(state.mid(4).toLatin1() + "\n"));
        lock.close();
        if (state == "open")
            QVERIFY(Module1::OPEN_COM(comm, "COM4", "9600", "8", "1", dialogs));

        QCOMPARE(Module1::OPEN_COM(comm, portText, baud, "8", "1", dialogs), result);
        QCOMPARE(dialogs.messages.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(dialogs.messages[0].title, QStringLiteral("提示信息!"));
            QCOMPARE(dialogs.messages[0].text, message);
        }
        QCOMPARE(comm.PortOpen(), result || state == "open");
        if (comm.PortOpen()) // while we hold the port, another program sees it locked
            QCOMPARE(::flock(peer.slaveFd(), LOCK_EX | LOCK_NB), -1);
        Module1::CLOSE_COM(comm);
        Module1::CLOSE_COM(comm); // closing a closed port does nothing
        other.reset();
        QCOMPARE(::flock(peer.slaveFd(), LOCK_EX | LOCK_NB), 0); // we keep no hold on the device
    }

private:
    QString ports() const { return m_home->path() + "/vantrel/ports"; }
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<PortMap> m_map;
};

QTEST_GUILESS_MAIN(TestModule1)
#include "tst_module1.moc"

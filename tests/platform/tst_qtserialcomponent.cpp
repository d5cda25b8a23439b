#include "portmap.h"
#include "ptypeer.h"
#include "qtserialcomponent.h"

#include <QDir>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <memory>

namespace
{

int errorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const CommError &e) {
        return e.number();
    }
    return 0;
}

// A board on a pty, linked as COM1 in a fresh config folder, and the component under test
// looking for lock files in an empty folder of its own.
struct Rig {
    QTemporaryDir config;
    QTemporaryDir locks;
    PtyPeer peer;
    PortMap map{config.path()};
    QtSerialComponent com{map};
    Rig()
    {
        peer.linkAs(config.path() + "/ports", 1);
        com.setLockDir(locks.path());
    }
    termios line() const
    {
        termios t{};
        tcgetattr(peer.slaveFd(), &t);
        return t;
    }
    speed_t speed() const
    {
        const termios t = line();
        return cfgetospeed(&t);
    }
};

int openFds()
{
    return int(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size());
}

double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

} // namespace

class TestQtSerialComponent : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
        const pid_t child = fork();
        if (child == 0)
            _exit(0);
        waitpid(child, nullptr, 0);
        m_deadPid = child;
    }

    void settingsText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("download rate") << "115200,n,8,1" << true;
        QTest::newRow("parity and stop bits") << "1200,E,7,2" << true;
        QTest::newRow("mark, 6 bits") << "300,m,6,1" << true;
        QTest::newRow("1.5 stop bits with 5 data bits") << "110,s,5,1.5" << true;
        QTest::newRow("unusual rate") << "250000,o,8,1" << true;
        QTest::newRow("1.5 stop bits with 8 data bits") << "9600,n,8,1.5" << false;
        QTest::newRow("zero rate") << "0,n,8,1" << false;
        QTest::newRow("rate too large") << "99999999999,n,8,1" << false;
        QTest::newRow("rate with a blank") << " 9600,n,8,1" << false;
        QTest::newRow("bad parity") << "9600,x,8,1" << false;
        QTest::newRow("9 data bits") << "9600,n,9,1" << false;
        QTest::newRow("field missing") << "9600,n,8" << false;
    }
    void settingsText()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        Rig r;
        r.com.setSettings("4800,n,8,1");
        QCOMPARE(errorOf([&] { r.com.setSettings(text); }), accepted ? 0 : 380);
        QCOMPARE(r.com.Settings(), accepted ? text : QString("4800,n,8,1"));
        if (accepted)
            return;
        // On an open port a refused text leaves the port and its line as they were.
        r.com.setSettings("4800,n,8,1");
        r.com.setPortOpen(true);
        QCOMPARE(errorOf([&] { r.com.setSettings(text); }), 380);
        QVERIFY(r.com.PortOpen());
        QCOMPARE(r.speed(), speed_t(B4800));
    }

    void openAndClose()
    {
        Rig r;
        QCOMPARE(r.com.deviceFor(1), r.peer.slavePath());
        r.com.setSettings("19200,n,8,2"); // a pty keeps 8 bits and no parity whatever it is told
        r.com.setPortOpen(true);
        QVERIFY(r.com.PortOpen());
        const termios t = r.line();
        QCOMPARE(cfgetospeed(&t), speed_t(B19200));
        QCOMPARE(t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS), tcflag_t(CS8 | CSTOPB));
        QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
        // Qt's lock file carries the device's own name, not the link's.
        const QString qtLock = "/run/lock/LCK.." + r.peer.slavePath().mid(5).replace('/', '_');
        QVERIFY(QFile::exists(qtLock));

        r.com.setPortOpen(true); // already open: nothing happens
        QVERIFY(r.com.PortOpen());
        QCOMPARE(errorOf([&] { r.com.setCommPort(2); }), 8002);
        r.com.setPortOpen(false);
        QVERIFY(!r.com.PortOpen());
        QVERIFY(!QFile::exists(qtLock));
        r.com.setPortOpen(false);
        QCOMPARE(r.com.CommPort(), short(1));

        QFile::link(r.config.path() + "/gone", r.config.path() + "/ports/com3");
        QCOMPARE(errorOf([&] { r.com.setCommPort(0); }), 8002);
        QCOMPARE(errorOf([&] { r.com.setCommPort(256); }), 8002);
        QCOMPARE(errorOf([&] { r.com.setInputMode(2); }), 380);
        QCOMPARE(errorOf([&] { r.com.setRThreshold(-1); }), 380);
        QCOMPARE(errorOf([&] { r.com.setInputLen(-1); }), 380);
        QCOMPARE(errorOf([&] { r.com.setInBufferCount(3); }), 380);
        for (int port : {2, 3, 255}) { // no link, dangling link, never linked
            r.com.setCommPort(port);
            QCOMPARE(errorOf([&] { r.com.setPortOpen(true); }), 8002);
            QVERIFY(!r.com.PortOpen());
        }
    }

    void busy_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<QString>("lockName"); // for a lock file: "classic" or "qt"
        QTest::addColumn<QByteArray>("lockText");
        QTest::addColumn<bool>("busy");
        const pid_t live = getppid();
        const QByteArray binary(reinterpret_cast<const char *>(&live), 4);
        QTest::newRow("flock under the device's own path") << "flock"
                                                           << "" << QByteArray() << true;
        QTest::newRow("tty in exclusive mode") << "exclusive"
                                               << "" << QByteArray() << true;
        QTest::newRow("another component") << "component"
                                           << "" << QByteArray() << true;
        QTest::newRow("Qt port under the device's own path") << "qt"
                                                             << "" << QByteArray() << true;
        QTest::newRow("lock file, padded pid")
            << "lockfile"
            << "classic" << QString::asprintf("%10d\n", live).toLatin1() << true;
        QTest::newRow("lock file, Qt's name and format")
            << "lockfile"
            << "qt" << QByteArray::number(live) + "\nprogram\nhost\n"
            << true;
        QTest::newRow("lock file, binary pid") << "lockfile"
                                               << "classic" << binary << true;
        QTest::newRow("lock file, dead process")
            << "lockfile"
            << "classic" << QByteArray::number(m_deadPid) + "\n"
            << false;
        QTest::newRow("lock file, this process") << "lockfile"
                                                 << "qt" << QByteArray::number(getpid()) + "\n"
                                                 << false;
        QTest::newRow("lock file without a pid") << "lockfile"
                                                 << "classic" << QByteArray("x\n") << false;
    }
    void busy()
    {
        QFETCH(QString, holder);
        QFETCH(QString, lockName);
        QFETCH(QByteArray, lockText);
        QFETCH(bool, busy);
        Rig r;
        const QString device = r.peer.slavePath();
        int fd = -1;
        std::unique_ptr<QtSerialComponent> other;
        QSerialPort qtPort(device);
        QFile lock(
            r.locks.path() + "/LCK.." +
            (lockName == "qt" ? device.mid(5).replace('/', '_') : QFileInfo(device).fileName()));
        if (holder == "flock" || holder == "exclusive") {
            fd = open(device.toLocal8Bit(), O_RDWR | O_NOCTTY);
            QCOMPARE(holder == "flock" ? flock(fd, LOCK_EX | LOCK_NB) : ioctl(fd, TIOCEXCL), 0);
        } else if (holder == "component") {
            other = std::make_unique<QtSerialComponent>(r.map);
            other->setPortOpen(true);
        } else if (holder == "qt") {
            QVERIFY(qtPort.open(QIODevice::ReadWrite));
        } else {
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(lockText);
            lock.close();
        }

        QCOMPARE(errorOf([&] { r.com.setPortOpen(true); }), busy ? 8005 : 0);
        QCOMPARE(r.com.PortOpen(), !busy);

        // Once the holder lets go, the port opens.
        r.com.setPortOpen(false);
        if (fd >= 0) {
            ioctl(fd, TIOCNXCL); // as a well-behaved program does when it closes
            close(fd);
        }
        other.reset();
        qtPort.close();
        lock.remove();
        r.com.setPortOpen(true);
        QVERIFY(r.com.PortOpen());
    }

    void permissionDenied()
    {
        if (geteuid() != 0)
            QSKIP("needs root to drop to an unprivileged user");
        Rig r;
        QFile::setPermissions(r.config.path(), QFile::permissions(r.config.path()) |
                                                   QFile::ExeOther | QFile::ReadOther);
        // The child becomes "nobody" and finds the pty (owned by root, mode 620) closed to it.
        const pid_t child = fork();
        if (child == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(1);
            const int error = errorOf([&] {
                QtSerialComponent com(r.map);
                com.setPortOpen(true);
            });
            _exit(error == 8099 ? 0 : 2);
        }
        int status = -1;
        QElapsedTimer waited;
        waited.start();
        while (waitpid(child, &status, WNOHANG) == 0 && waited.elapsed() < 5000)
            QTest::qWait(10);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void everyByteValueBothWays()
    {
        Rig r;
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        r.com.setOutput(all); // closed: skipped
        r.com.setPortOpen(true);
        QCOMPARE(r.peer.readAvailable(50), QByteArray());
        r.com.setOutput(all);
        QCOMPARE(r.peer.readExactly(256), all);
        r.peer.write(all);
        QTRY_COMPARE(r.com.InBufferCount(), 256);
        QCOMPARE(r.com.Input(), all);
    }

    void receiveEvent()
    {
        Rig r;
        r.com.setRThreshold(5);
        r.com.setInputLen(5);
        r.com.setPortOpen(true);
        QByteArrayList got;
        int depth = 0, maxDepth = 0, wrongEvents = 0;
        bool read = true;
        std::function<void()> inside;
        connect(&r.com, &SerialComponent::OnComm, this, [&] {
            maxDepth = qMax(maxDepth, ++depth);
            wrongEvents += r.com.CommEvent() != 2;
            got.append(read ? r.com.Input() : QByteArray());
            if (auto f = std::exchange(inside, nullptr))
                f();
            --depth;
        });

        r.peer.write("ABCD");
        QTest::qWait(30);
        QVERIFY(got.isEmpty()); // below the threshold
        r.peer.write("E0123456789");
        QTRY_COMPARE(got, QByteArrayList({"ABCDE", "01234", "56789"}));
        QCOMPARE(r.com.InBufferCount(), 0);

        // More bytes arrive while the handler pumps events: handled after it returns.
        got.clear();
        inside = [&] {
            r.peer.write("VWXYZ");
            QTRY_VERIFY(r.com.InBufferCount() >= 5);
        };
        r.peer.write("abcde");
        QTRY_COMPARE(got, QByteArrayList({"abcde", "VWXYZ"}));
        QCOMPARE(maxDepth, 1);

        // A handler that reads nothing gets one event per arrival, not an endless loop.
        got.clear();
        read = false;
        r.peer.write("12345");
        QTRY_COMPARE(got.size(), 1);
        QTest::qWait(30);
        QCOMPARE(got.size(), 1);
        QCOMPARE(r.com.InBufferCount(), 5);
        QCOMPARE(wrongEvents, 0);

        r.com.setInputLen(0);
        QCOMPARE(r.com.Input(), QByteArray("12345"));
    }

    void staleAndDiscardedInput()
    {
        Rig r;
        r.peer.write("stale");
        r.com.setPortOpen(true);
        QTest::qWait(30);
        QCOMPARE(r.com.InBufferCount(), 0);
        r.peer.write("12345678");
        QTRY_COMPARE(r.com.InBufferCount(), 8);
        r.com.setInBufferCount(0);
        QCOMPARE(r.com.InBufferCount(), 0);
        QCOMPARE(r.com.Input(), QByteArray());
    }

    void settingsChangeKeepsWrittenBytes()
    {
        Rig r;
        r.com.setPortOpen(true);
        QByteArray reset;
        for (int i = 0; i < 20; ++i)
            reset.append(char(0xA0 + i));
        r.com.setOutput(reset);
        r.com.setSettings("115200,n,8,1");
        r.com.setOutput("DMF");
        QCOMPARE(r.peer.readExactly(23), reset + "DMF");
        QCOMPARE(r.speed(), speed_t(B115200));

        // A line the driver refuses (a pty has no parity) fails, and the port goes on as before.
        QCOMPARE(errorOf([&] { r.com.setSettings("9600,e,8,1"); }), 8015);
        QCOMPARE(r.com.Settings(), QString("115200,n,8,1"));
        QCOMPARE(r.speed(), speed_t(B115200));
        r.com.setOutput("DMF");
        QCOMPARE(r.peer.readExactly(3), QByteArray("DMF"));
    }

    void deviceGoneClosesThePort()
    {
        Rig r;
        const int fdsBefore = openFds();
        r.com.setPortOpen(true);
        r.peer.closeMaster(); // the adapter is pulled out
        QTRY_VERIFY(!r.com.PortOpen());
        r.com.setOutput("DMF");
        const double cpu = cpuMs();
        QTest::qWait(200);
        QVERIFY2(cpuMs() - cpu < 50, "the event loop spins after the device went away");
        QCOMPARE(openFds(), fdsBefore - 1); // only the peer's master is gone

        PtyPeer next; // the adapter plugged in again
        next.linkAs(r.config.path() + "/ports", 1);
        r.com.setPortOpen(true);
        r.com.setOutput("DMF");
        QCOMPARE(next.readExactly(3), QByteArray("DMF"));
    }

private:
    QTemporaryDir m_home;
    pid_t m_deadPid = 0;
};

QTEST_GUILESS_MAIN(TestQtSerialComponent)
#include "tst_qtserialcomponent.moc"

#include "files.h"
#include "portmap.h"
#include "ptyboard.h"
#include "ptypeer.h"
#include "qtserialcomponent.h"
#include "tone.h"

#include <QtTest>

#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

class TestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit()); }

    void portMap()
    {
        QTemporaryDir config;
        PortMap map(config.path(), [] {
            return QStringList{"/dev/ttyS10", "/dev/ttyS2", "/dev/ttyUSB10", "/dev/ttyACM1",
                               "/dev/ttyUSB2"};
        });
        QStringList system;
        for (int n = 0; n <= 6; ++n)
            system << map.pathFor(n);
        QCOMPARE(system, (QStringList{"", "/dev/ttyACM1", "/dev/ttyUSB2", "/dev/ttyUSB10",
                                      "/dev/ttyS2", "/dev/ttyS10", ""}));
    }

    void sessionUntilTheDeviceIsGone()
    {
        QTemporaryDir config, locks;
        PtyPeer peer;
        PortMap map(config.path());
        QtSerialComponent com(map);
        peer.linkAs(config.path() + "/ports", 1);
        com.setLockDir(locks.path());
        const auto speed = [&peer] {
            termios t{};
            tcgetattr(peer.slaveFd(), &t);
            return cfgetospeed(&t);
        };
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        com.setOutput("closed: skipped");
        peer.write("stale");
        com.setPortOpen(true); // drops what waited before the open
        com.setOutput(all);
        com.setSettings("115200,n,8,1"); // after bytes already written
        com.setOutput("DMF");
        QCOMPARE(peer.read(259), all + "DMF");
        QCOMPARE(speed(), speed_t(B115200));
        // Refused by the component (2^64 + 9600) or by the driver (no parity): nothing changes.
        for (const char *refused : {"18446744073709561216,n,8,1", "9600,n,8,1.5", "9600,e,8,1"})
            QVERIFY_THROWS_EXCEPTION(CommError, com.setSettings(refused));
        QCOMPARE(speed(), speed_t(B115200));
        peer.write(all);
        QTRY_COMPARE(com.InBufferCount(), 256);
        QCOMPARE(com.Input(), all);

        com.setRThreshold(5);
        com.setInputLen(5);
        QByteArrayList got;
        connect(&com, &SerialComponent::OnComm, this, [&] { got.append(com.Input()); });
        peer.write("ABCD");
        QTest::qWait(30);
        QVERIFY(got.isEmpty());
        peer.write("E0123456789");
        QTRY_COMPARE(got, QByteArrayList({"ABCDE", "01234", "56789"}));

        peer.closeMaster(); // the adapter is pulled out
        QTRY_VERIFY(!com.PortOpen());
        com.setOutput("DMF");
        const std::clock_t cpu = std::clock();
        QTest::qWait(200);
        QVERIFY2((std::clock() - cpu) * 1000 / CLOCKS_PER_SEC < 50, "the event loop spins");
        QCOMPARE(flock(peer.slaveFd(), LOCK_EX | LOCK_NB), 0); // no hold on the device left
    }

    void beepTakesItsLength_data()
    {
        QTest::addColumn<QByteArray>("config"); // ALSA's; none: the system's, with no card here
        QTest::newRow("no sound card") << QByteArray();
        QTest::newRow("null device") << QByteArray("pcm.!default { type null }");
        // ALSA's file output into a FIFO nobody reads, as a hung sound server behaves.
        QTest::newRow("stalled output") << QByteArray(
            "pcm.!default { type file slave.pcm { type null } file \"@\" format raw }");
    }
    // A beep holds the window for its own length, also without a card or with a stalled output.
    void beepTakesItsLength()
    {
        QFETCH(QByteArray, config);
        QTemporaryDir dir;
        const QByteArray fifo = QFile::encodeName(dir.filePath("fifo"));
        QVERIFY(mkfifo(fifo.constData(), 0600) == 0);
        writeBytes(dir.filePath("asound.conf"), config.replace('@', fifo));
        if (!config.isEmpty())
            qputenv("ALSA_CONFIG_PATH", QFile::encodeName(dir.filePath("asound.conf")));
        QTemporaryFile err;
        QVERIFY(err.open());
        const int saved = dup(STDERR_FILENO);
        dup2(err.handle(), STDERR_FILENO);
        AlsaTone tone;
        QList<qint64> spent;
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer t;
            t.start();
            tone.Beep(5000, 200);
            spent << t.elapsed();
        }
        dup2(saved, STDERR_FILENO);
        close(saved);
        for (qint64 ms : spent)
            QVERIFY2(ms >= 199 && ms < 240, QByteArray::number(ms));
        QVERIFY(err.seek(0)); // the descriptor's offset stands after what was written
        QCOMPARE(err.readAll(), QByteArray());
        qunsetenv("ALSA_CONFIG_PATH");
        if (!config.contains("file"))
            return;
        // The first tone is still waiting for the FIFO: a reader lets it play out and end.
        const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
        pollfd p{reader, POLLIN, 0};
        QVERIFY(reader >= 0 && ::poll(&p, 1, 5000) == 1); // its samples arrive
        char buf[65536];
        while (::poll(&p, 1, 5000) == 1 && ::read(reader, buf, sizeof buf) > 0) {
        }
        ::close(reader);
    }

    // A host that dies with the board's terminal open leaves it in exclusive mode (Qt clears it
    // only on a proper close); the board clears it, so the next host is not refused.
    void virtualBoardClearsExclusiveModeAfterItsHost()
    {
        PtyBoard board({});
        QVERIFY(board.open());
        const QByteArray slave = QFile::encodeName(board.slavePath());
        const int host = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(host >= 0 && ::ioctl(host, TIOCEXCL) == 0);
        ::close(host); // as the kernel does for a killed host: no TIOCNXCL
        board.service();
        const int next = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        int exclusive = -1;
        QVERIFY(next >= 0 && ::ioctl(next, TIOCGEXCL, &exclusive) == 0);
        ::close(next);
        QCOMPARE(exclusive, 0);
    }

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"

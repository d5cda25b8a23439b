// The platform services: the COM-number map, the tone, the wait that runs events.
#include "delay.h"
#include "fakes.h"
#include "files.h"
#include "portmap.h"
#include "tone.h"

#include <QtTest>

#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
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

    void beepTakesItsLength_data()
    {
        QTest::addColumn<QByteArray>("config"); // ALSA's; none: the system's, with no card here
        QTest::newRow("no sound card") << QByteArray();
        QTest::newRow("null device") << QByteArray("pcm.!default { type null }");
        QTest::newRow("stalled output, as a hung sound server") << QByteArray(
            "pcm.!default { type file slave.pcm { type null } file \"@\" format raw }");
    }
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
            tone.beep(5000, 200);
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

    void waitsForTheClock_data()
    {
        QTest::addColumn<int>("ms");
        QTest::addColumn<quint32>("start");
        QTest::addColumn<quint32>("minElapsed");
        QTest::addColumn<bool>("pumps");
        QTest::newRow("zero returns at once") << 0 << 100u << 0u << false;
        QTest::newRow("negative returns at once") << -5 << 100u << 0u << false;
        QTest::newRow("one millisecond") << 1 << 100u << 1u << true;
        QTest::newRow("across the wrap") << 200 << 0xFFFFFFF0u << 200u << true;
    }

    void waitsForTheClock()
    {
        QFETCH(int, ms);
        QFETCH(quint32, start);
        QFETCH(quint32, minElapsed);
        FakePlatform fp; // the clock moves only when the pump is asked to wait: no spinning on it
        fp.clock.now = start;
        fp.pump.runQtEvents = false;
        waitRunningEvents(std::chrono::milliseconds(ms), fp.clock, fp.pump);
        const quint32 elapsed = fp.clock.now - start;
        QVERIFY2(elapsed - minElapsed <= 1, qPrintable(QString::number(elapsed)));
        QTEST(fp.pump.pumps > 0, "pumps");
        QVERIFY(fp.pump.pumps <= 2);
    }

    void realClockDoesNotSpin()
    {
        SteadyClock clock;
        QtEventPump pump;
        QElapsedTimer wall;
        wall.start();
        const std::clock_t cpu0 = std::clock();
        waitRunningEvents(std::chrono::milliseconds(120), clock, pump);
        const double cpuMs = double(std::clock() - cpu0) * 1000.0 / CLOCKS_PER_SEC;
        QVERIFY(wall.elapsed() >= 119);
        QVERIFY2(cpuMs < 60, qPrintable(QStringLiteral("%1 ms of CPU").arg(cpuMs)));
    }

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"

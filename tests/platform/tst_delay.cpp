#include "delay.h"
#include "fakes.h"

#include <QtTest>

class TestDelay : public QObject
{
    Q_OBJECT
private slots:
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
        QFETCH(bool, pumps);

        FakeClock clock; // moves only when the pump is asked to wait: no spinning on the clock
        clock.now = start;
        FakePump pump;
        pump.runQtEvents = false;
        pump.clock = &clock;
        waitRunningEvents(std::chrono::milliseconds(ms), clock, pump);
        const quint32 elapsed = clock.now - start;
        QVERIFY2(elapsed >= minElapsed && elapsed <= minElapsed + 1,
                 qPrintable(QString::number(elapsed)));
        QCOMPARE(pump.pumps > 0, pumps);
        QVERIFY(pump.pumps <= 2);
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
};

QTEST_GUILESS_MAIN(TestDelay)
#include "tst_delay.moc"

#include "portmap.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestPortMap : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit()); }

    void order_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("none") << QStringList{} << QStringList{};
        QTest::newRow("adapters before uarts") << QStringList{"/dev/ttyS0", "/dev/ttyUSB0"}
                                               << QStringList{"/dev/ttyUSB0", "/dev/ttyS0"};
        QTest::newRow("numbers as numbers")
            << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyUSB1"}
            << QStringList{"/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB10"};
        QTest::newRow("acm and usb form one group")
            << QStringList{"/dev/ttyUSB0", "/dev/ttyS1", "/dev/ttyACM1", "/dev/ttyACM0"}
            << QStringList{"/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyUSB0", "/dev/ttyS1"};
        QTest::newRow("others in name order")
            << QStringList{"/dev/ttyS10", "/dev/ttyS2", "/dev/ttyAMA0", "/dev/ttyS1"}
            << QStringList{"/dev/ttyAMA0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS10"};
        QTest::newRow("duplicates once")
            << QStringList{"/dev/ttyS0", "/dev/ttyS0"} << QStringList{"/dev/ttyS0"};
    }
    void order()
    {
        QFETCH(QStringList, devices);
        QFETCH(QStringList, expected);
        QCOMPARE(PortMap::orderSystemPorts(devices), expected);
    }

    void systemModeNumbersTheOrderedListAndCachesIt()
    {
        QTemporaryDir config;
        int listings = 0;
        QStringList devices{"/dev/ttyS0", "/dev/ttyUSB3"};
        PortMap map(config.path(), [&] {
            ++listings;
            return devices;
        });
        QVERIFY(!map.usesLinks());
        QCOMPARE(map.pathFor(1), QString("/dev/ttyUSB3"));
        QCOMPARE(map.deviceFor(2), QString("/dev/ttyS0"));
        QCOMPARE(map.pathFor(0), QString());
        QCOMPARE(map.pathFor(3), QString());
        QCOMPARE(listings, 1);

        devices = {"/dev/ttyS0"}; // an adapter pulled out: seen only after refresh()
        QCOMPARE(map.pathFor(1), QString("/dev/ttyUSB3"));
        map.refresh();
        QCOMPARE(map.pathFor(1), QString("/dev/ttyS0"));
        QCOMPARE(listings, 2);
    }

    void linkModeFollowsTheLinks()
    {
        QTemporaryDir config;
        const QString ports = config.path() + "/ports";
        QVERIFY(QDir().mkpath(ports));
        QFile target(config.path() + "/device");
        QVERIFY(target.open(QIODevice::WriteOnly));
        const QString device = QFileInfo(target.fileName()).canonicalFilePath();
        QVERIFY(QFile::link(target.fileName(), ports + "/com1"));
        QVERIFY(QFile::link(ports + "/com1", ports + "/com16")); // a chain of links
        QVERIFY(QFile::link(config.path() + "/gone", ports + "/com3"));
        int listings = 0;
        PortMap map(config.path(), [&] {
            ++listings;
            return QStringList{"/dev/ttyS0"};
        });

        QVERIFY(map.usesLinks());
        QCOMPARE(map.linksDir(), ports);
        QCOMPARE(map.pathFor(1), ports + "/com1");
        QCOMPARE(map.deviceFor(1), device);
        QCOMPARE(map.deviceFor(16), device);
        QCOMPARE(map.pathFor(2), QString()); // no link
        QCOMPARE(map.pathFor(3), QString()); // dangling link
        QCOMPARE(map.deviceFor(3), QString());
        QCOMPARE(listings, 0);

        QVERIFY(QFile::link(target.fileName(), ports + "/com2")); // links are read afresh
        QCOMPARE(map.deviceFor(2), device);
    }

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"

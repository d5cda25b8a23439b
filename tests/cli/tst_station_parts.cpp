// The station's port watch on a ports folder of pty links, and its CSV report on disk.
#include "portwatch.h"
#include "ptypeer.h"
#include "stationreport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace
{

// What a watch announced, "+COM1" or "-COM1", with the presences themselves.
struct Recorder {
    explicit Recorder(PortWatch &watch)
    {
        QObject::connect(&watch, &PortWatch::appeared, [this](const PortPresence &p) {
            events << u'+' + p.port;
            seen << p;
        });
        QObject::connect(&watch, &PortWatch::gone,
                         [this](const PortPresence &p) { events << u'-' + p.port; });
    }
    // Waits for `n` more events; returns how long that took (ms), or -1.
    qint64 waitFor(int n, int timeoutMs = 1000)
    {
        const int want = events.size() + n;
        QElapsedTimer t;
        t.start();
        while (events.size() < want && t.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return events.size() >= want ? t.elapsed() : -1;
    }
    QStringList events;
    QList<PortPresence> seen;
};

PortWatch::Options options(const QString &configDir)
{
    PortWatch::Options o;
    o.configDir = configDir;
    o.systemPorts = [] { return QStringList(); }; // no system devices: the folder alone counts
    return o;
}

} // namespace

class TestStationParts : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit()); }

    void presentAtStart_data()
    {
        QTest::addColumn<QStringList>("targets"); // empty: every port
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all, in COM order")
            << QStringList() << QStringList{"+COM1", "+COM2", "+COM5"};
        QTest::newRow("given, in their order")
            << QStringList{"COM5", "COM4", "com1", "COM1"} << QStringList{"+COM5", "+COM1"};
        QTest::newRow("device path") << QStringList{"PTY"} << QStringList{"+PTY"};
    }
    void presentAtStart()
    {
        QFETCH(QStringList, targets);
        QFETCH(QStringList, expected);
        QTemporaryDir config;
        PtyPeer a, b, c;
        c.linkAs(config.filePath("ports"), 5);
        a.linkAs(config.filePath("ports"), 1);
        b.linkAs(config.filePath("ports"), 2);
        QList<PortTarget> list;
        for (const QString &t : targets)
            list << resolvePort(t == "PTY" ? a.slavePath() : t);
        auto watch = targets.isEmpty() ? std::make_unique<PortWatch>(options(config.path()))
                                       : std::make_unique<PortWatch>(list, options(config.path()));
        Recorder rec(*watch);
        watch->start(); // announced before start() returns
        expected.replaceInStrings("PTY", a.slavePath());
        QCOMPARE(rec.events, expected);
        for (const PortPresence &p : std::as_const(rec.seen)) {
            const QString via =
                p.port.startsWith("COM") ? config.filePath("ports/com" + p.port.mid(3)) : p.port;
            QCOMPARE(p.device, QFileInfo(via).canonicalFilePath());
            QVERIFY(p.byId.isEmpty() && p.usbSerial.isEmpty());
        }
        QCOMPARE(rec.waitFor(1, 1300), -1); // the slow rescan finds nothing new
    }

    // Plug, unplug, and plug again a new pty on the same /dev/pts path.
    void plugUnplugReplug_data()
    {
        QTest::addColumn<bool>("folderFirst");
        QTest::addColumn<bool>("all");
        QTest::newRow("folder there, COM1 given") << true << false;
        QTest::newRow("folder made after start, every port") << false << true;
    }
    void plugUnplugReplug()
    {
        QFETCH(bool, folderFirst);
        QFETCH(bool, all);
        QTemporaryDir config;
        const QString ports = config.filePath("ports");
        if (folderFirst)
            QDir().mkpath(ports);
        auto watch =
            all ? std::make_unique<PortWatch>(options(config.path()))
                : std::make_unique<PortWatch>(QList{resolvePort("COM1")}, options(config.path()));
        Recorder rec(*watch);
        watch->start();
        QVERIFY(rec.events.isEmpty());

        auto pty = std::make_unique<PtyPeer>();
        const QString path = pty->slavePath();
        pty->linkAs(ports, 1);
        const qint64 plugMs = rec.waitFor(1);
        QVERIFY2(plugMs >= 0, "plug not noticed within 1 s");
        qInfo("plug noticed after %lld ms", plugMs);
        QFile::remove(ports + "/com1");
        QVERIFY(rec.waitFor(1) >= 0);
        pty.reset();
        pty = std::make_unique<PtyPeer>();
        if (pty->slavePath() != path)
            QSKIP("the kernel did not hand out the same pty number again");
        pty->linkAs(ports, 1);
        QVERIFY(rec.waitFor(1) >= 0);
        QCOMPARE(rec.events, (QStringList{"+COM1", "-COM1", "+COM1"}));
        QVERIFY(rec.seen[0].identity != rec.seen[1].identity);
    }

    // The link stays; the pty behind it is replaced by one with the same path between two
    // scans: only the node's identity tells, found by the slow rescan.
    void ptyReplacedUnderKeptLink()
    {
        QTemporaryDir config;
        auto pty = std::make_unique<PtyPeer>();
        const QString path = pty->slavePath();
        pty->linkAs(config.filePath("ports"), 1);
        PortWatch watch(QList{resolvePort("COM1")}, options(config.path()));
        Recorder rec(watch);
        watch.start();
        pty.reset();
        ::usleep(10000); // past the kernel's clock tick, which stamps the node
        pty = std::make_unique<PtyPeer>();
        if (pty->slavePath() != path)
            QSKIP("the kernel did not hand out the same pty number again");
        QVERIFY(rec.waitFor(2, 1500) >= 0);
        QCOMPARE(rec.events, (QStringList{"+COM1", "-COM1", "+COM1"}));
    }

    void csvField_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("plain") << "COM3" << QByteArray("COM3");
        QTest::newRow("empty") << "" << QByteArray("");
        QTest::newRow("blanks kept") << " a b " << QByteArray(" a b ");
        QTest::newRow("comma") << "a,b" << QByteArray("\"a,b\"");
        QTest::newRow("quote") << "say \"hi\"" << QByteArray("\"say \"\"hi\"\"\"");
        QTest::newRow("CR") << "a\rb" << QByteArray("\"a\rb\"");
        QTest::newRow("LF") << "a\nb" << QByteArray("\"a\nb\"");
        QTest::newRow("UTF-8") << "größe" << QByteArray("größe");
    }
    void csvField()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, field);
        QCOMPARE(StationReport::field(text), field);
    }

    void reportFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("report.csv");
        StationRow row{QDateTime(QDate(2026, 12, 7), QTime(14, 3, 11, 123), Qt::UTC),
                       "COM1",
                       "/dev/ttyUSB0",
                       "usb-FTDI_X-if00",
                       "A1,B2",
                       "ab12",
                       65536,
                       "success",
                       0,
                       1.2345};
        const QByteArray line = "2026-12-07T14:03:11.123Z,COM1,/dev/ttyUSB0,usb-FTDI_X-if00,"
                                "\"A1,B2\",ab12,65536,success,0,1.234\r\n";
        QCOMPARE(StationReport::formatRow(row), line);

        for (int run = 0; run < 2; ++run) { // the second run appends to the first one's rows
            StationReport report;
            QString error;
            QVERIFY2(report.open(path, &error), qPrintable(error));
            for (int i = 0; i < 2; ++i) {
                QVERIFY(report.append(row, &error));
                QFile f(path); // what a reader sees after each row: whole lines only
                QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll().endsWith("\r\n"));
            }
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), StationReport::header() + line + line + line + line);

        // A file ending mid-line (edited by hand) gets its line ended, not a row glued on.
        QFile::resize(path, f.size() - 2);
        StationReport again;
        QVERIFY(again.open(path, nullptr) && again.append(row));
        f.seek(0);
        QVERIFY(f.readAll().endsWith("1.234\r\n" + line));
    }

    void reportOpenErrors()
    {
        QTemporaryDir dir;
        StationReport report;
        QString error;
        QVERIFY(!report.open(dir.path(), &error)); // a folder
        QVERIFY(error.contains(dir.path()));
        QVERIFY(!report.open(dir.filePath("missing/report.csv"), &error));
        QVERIFY(error.contains("No such file"));
        QVERIFY(!report.append(StationRow{}) && !report.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestStationParts)
#include "tst_station_parts.moc"

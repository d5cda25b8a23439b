// The station's port watch on a ports folder of pty links, and its CSV report on disk.
#include "portwatch.h"
#include "ptypeer.h"
#include "stationreport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace
{

PortWatch::Options folderOnly(const QString &configDir)
{
    PortWatch::Options o;
    o.configDir = configDir;
    o.systemPorts = [] { return QStringList(); }; // no system devices: the folder alone counts
    return o;
}

// A started watch on `targets` (every port when empty) and what it announced: "+COM1", "-COM1".
struct Watched {
    Watched(const QString &configDir, const QStringList &targets)
    {
        const PortWatch::Options o = folderOnly(configDir);
        QList<PortTarget> list;
        for (const QString &t : targets)
            list << resolvePort(t);
        watch = targets.isEmpty() ? std::make_unique<PortWatch>(o)
                                  : std::make_unique<PortWatch>(list, o);
        QObject::connect(watch.get(), &PortWatch::appeared, [this](const PortPresence &p) {
            events << u'+' + p.port;
            seen << p;
        });
        QObject::connect(watch.get(), &PortWatch::gone,
                         [this](const PortPresence &p) { events << u'-' + p.port; });
        watch->start();
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
    std::unique_ptr<PortWatch> watch;
    QStringList events;
    QList<PortPresence> seen;
};

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
        targets.replaceInStrings("PTY", a.slavePath());
        expected.replaceInStrings("PTY", a.slavePath());
        Watched rec(config.path(), targets); // announced before start() returns
        QCOMPARE(rec.events, expected);
        const PortPresence &p = rec.seen.first(); // a pty: no by-id name, no USB
        QVERIFY(p.device.startsWith("/dev/pts/") && p.byId.isEmpty() && p.usbSerial.isEmpty());
        QCOMPARE(rec.waitFor(1, 1300), -1); // the slow rescan finds nothing new
    }

    void slotDeletesWatch()
    {
        QTemporaryDir config;
        PtyPeer a, b;
        a.linkAs(config.filePath("ports"), 1);
        b.linkAs(config.filePath("ports"), 2);
        auto *watch = new PortWatch(folderOnly(config.path()));
        int seen = 0;
        connect(watch, &PortWatch::appeared, [&] { ++seen, delete watch; });
        watch->start();
        QCOMPARE(seen, 1);
    }

    // Plug, unplug, and plug again a new pty on the same /dev/pts path: its link removed and
    // made again, or the link kept and the pty replaced between two scans (then only the
    // node's identity tells, and the slow rescan finds it).
    void plugUnplugReplug_data()
    {
        QTest::addColumn<bool>("folderFirst");
        QTest::addColumn<bool>("all");
        QTest::addColumn<bool>("keepLink");
        QTest::newRow("folder there, COM1 given") << true << false << false;
        QTest::newRow("folder made after start, every port") << false << true << false;
        QTest::newRow("pty replaced under its link") << true << false << true;
    }
    void plugUnplugReplug()
    {
        QFETCH(bool, folderFirst);
        QFETCH(bool, all);
        QFETCH(bool, keepLink);
        QTemporaryDir config;
        const QString ports = config.filePath("ports");
        if (folderFirst)
            QDir().mkpath(ports);
        Watched rec(config.path(), all ? QStringList() : QStringList{"COM1"});
        QVERIFY(rec.events.isEmpty());

        auto pty = std::make_unique<PtyPeer>();
        const QString path = pty->slavePath();
        pty->linkAs(ports, 1);
        const qint64 plugMs = rec.waitFor(1);
        QVERIFY2(plugMs >= 0, "plug not noticed within 1 s");
        qInfo("plug noticed after %lld ms", plugMs);
        if (!keepLink) {
            QFile::remove(ports + "/com1");
            QVERIFY(rec.waitFor(1) >= 0);
        }
        pty.reset();
        pty = std::make_unique<PtyPeer>();
        if (pty->slavePath() != path)
            QSKIP("the kernel did not hand out the same pty number again");
        if (!keepLink)
            pty->linkAs(ports, 1);
        const qint64 replugMs = rec.waitFor(keepLink ? 2 : 1);
        QVERIFY(replugMs >= 0);
        qInfo("plug again noticed after %lld ms", replugMs);
        QCOMPARE(rec.events, (QStringList{"+COM1", "-COM1", "+COM1"}));
        QVERIFY(rec.seen[0].identity != rec.seen[1].identity);
    }

    void csvField_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("empty") << "" << QByteArray("");
        QTest::newRow("blanks kept") << " a b " << QByteArray(" a b ");
        QTest::newRow("comma") << "a,b" << QByteArray("\"a,b\"");
        QTest::newRow("quote") << "say \"hi\"" << QByteArray("\"say \"\"hi\"\"\"");
        QTest::newRow("CR") << "a\rb" << QByteArray("\"a\rb\"");
        QTest::newRow("LF") << "a\nb" << QByteArray("\"a\nb\"");
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
        const QDateTime when(QDate(2026, 12, 7), QTime(14, 3, 11, 123), Qt::UTC);
        const StationRow row{when,    "COM1", "/dev/ttyUSB0", "usb-FTDI_X-if00",
                             "A1,B2", "ab12", 65536,          "success",
                             0,       1.2345};
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

        QString error;
        QVERIFY(!again.open(dir.path(), &error) && error.contains(dir.path())); // a folder
        QVERIFY(!again.open(dir.filePath("missing/report.csv"), &error));
        QVERIFY(error.contains("No such file") && !again.append(row));
    }
};

QTEST_GUILESS_MAIN(TestStationParts)
#include "tst_station_parts.moc"

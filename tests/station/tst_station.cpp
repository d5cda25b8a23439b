// vantrel-cli against a tray of virtual boards, the station's port watch and its CSV report.
#include "cliprocess.h"
#include "portwatch.h"
#include "ptypeer.h"
#include "stationreport.h"
#include "wire.h"

#include <QCryptographicHash>
#include <QTest>

#include <map>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using VBoard::Fault;

namespace
{

// A started watch on `targets` (every port when empty) and what it announced: "+COM1", "-COM1".
struct Watched {
    Watched(const QString &configDir, const QStringList &targets, bool dropAtFirst = false)
    {
        PortWatch::Options o;
        o.configDir = configDir;
        o.systemPorts = [] { return QStringList(); }; // the ports folder alone counts
        QList<PortTarget> list;
        for (const QString &t : targets)
            list << resolvePort(t);
        watch = targets.isEmpty() ? std::make_unique<PortWatch>(o)
                                  : std::make_unique<PortWatch>(list, o);
        QObject::connect(watch.get(), &PortWatch::appeared, [=, this](const PortPresence &p) {
            events << u'+' + p.port;
            seen << p;
            if (dropAtFirst) // the watch deleted by its own announcement's slot
                watch.reset();
        });
        QObject::connect(watch.get(), &PortWatch::gone,
                         [this](const PortPresence &p) { events << u'-' + p.port; });
        watch->start();
    }
    bool waitFor(int n, int timeoutMs = 1000)
    {
        const qsizetype want = events.size() + n;
        return waitUntil([&] { return events.size() >= want; }, timeoutMs);
    }
    std::unique_ptr<PortWatch> watch;
    QStringList events;
    QList<PortPresence> seen;
};

// A pseudo-terminal `columns` wide for a child's standard output, in raw mode (no CR added), and
// all it wrote. The test's events drain it, so that the child never waits for its reader.
struct Screen {
    explicit Screen(unsigned short columns)
    {
        winsize size{};
        size.ws_col = columns;
        size.ws_row = 24;
        if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0)
            qFatal("no pseudo-terminal");
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        ::fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Screen() { ::close(master); }
    // Makes it the standard output of the process that `p` starts, and closes it here.
    void outputOf(QProcess &p)
    {
        p.setChildProcessModifier([fd = slave] { ::dup2(fd, STDOUT_FILENO); });
    }
    void started() { ::close(slave); }
    void drain()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            text.append(buffer, n);
    }
    int master = -1, slave = -1;
    QByteArray text;
};

} // namespace

class TestStation : public QObject
{
    Q_OBJECT
private slots:
    // Four boards, one silent after three blocks: each end has its own status, the command 10.
    void severalBoardsOneFaulty()
    {
        BoardTray tray;
        const QByteArray image = testImage(30000);
        for (int com = 1; com <= 4; ++com)
            tray.plug(com, com == 3 ? VBoard::Options{.fault = Fault::SilentAfter, .silentAfter = 3}
                                    : VBoard::Options{.blockDelayMs = 1});
        CliProcess cli({"flash", tray.writeFile("fw.bin", image), "--port", "COM1-COM4", "--json"});
        QCOMPARE(cli.finish(), 10);
        std::map<QString, int> codes;
        const QList<QJsonObject> events = cli.events();
        for (const QJsonObject &e : events)
            if (e["event"] == "end")
                codes[e["port"].toString()] = e["exit_code"].toInt();
        QCOMPARE(codes,
                 (std::map<QString, int>{{"COM1", 0}, {"COM2", 0}, {"COM3", 7}, {"COM4", 0}}));
        const QJsonObject summary = events.last();
        QVERIFY(summary["event"] == "summary" && summary["passed"] == 3 && summary["failed"] == 1);
        for (int com : {1, 2, 4})
            QCOMPARE(tray.board(com).board().image(), image);
        QCOMPARE(tray.board(3).board().image(), image.left(4 * 1024));
    }

    // Boards present are flashed at once, one pulled and plugged again anew; a report row each.
    void stationPlugUnplugReplug()
    {
        BoardTray tray;
        const QByteArray image = testImage(20000);
        tray.plug(1);
        tray.plug(2);
        const QString report = tray.home.filePath("report.csv");
        CliProcess cli(
            {"station", tray.writeFile("fw.bin", image), "--all", "--json", "--report", report});
        const auto rows = [&] { return fileBytes(report).count('\n') - 1; };
        QVERIFY(waitUntil([&] { return rows() == 2; }));
        tray.unplug(2, true);
        QTest::qWait(300); // the station sees the board go before the new one comes
        tray.plug(2);
        QVERIFY(waitUntil([&] { return rows() == 3; }));
        QCOMPARE(tray.board(2).board().image(), image);
        cli.signal(SIGINT);
        QCOMPARE(cli.finish(), 0);

        QList<QByteArray> lines = fileBytes(report).split('\n');
        QCOMPARE(lines.takeFirst(), QByteArray("time,port,device,by_id,usb_serial,image_sha256,"
                                               "bytes,outcome,exit_code,seconds\r"));
        const QByteArray sha = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
        QStringList seen;
        for (const QByteArray &line : lines.first(lines.size() - 1)) {
            const QList<QByteArray> c = line.trimmed().split(',');
            QVERIFY(c.size() == 10 && c[5] == sha && c[6] == "20000");
            seen << QString(c[1] + " " + c[7] + " " + c[8]);
        }
        seen.sort();
        QCOMPARE(seen, QStringList({"COM1 success 0", "COM2 success 0", "COM2 success 0"}));
        const QJsonObject summary = cli.events().last();
        QVERIFY(summary["event"] == "summary" && summary["passed"] == 3 && summary["failed"] == 0);
    }

    // On a terminal the lines are redrawn in place, within its width (or $COLUMNS when it has
    // none), and the end tells the failed port's reason.
    void stationOnTerminal_data()
    {
        QTest::addColumn<int>("columns"); // of the terminal; 0: none
        QTest::addColumn<QByteArray>("env");
        QTest::addColumn<int>("width"); // of the widest line
        QTest::addColumn<QByteArray>("failedLine");
        QTest::newRow("70 columns")
            << 70 << QByteArray() << 69 << QByteArray("COM2  failed: download failed   ");
        QTest::newRow("$COLUMNS 40")
            << 0 << QByteArray("40") << 39 << QByteArray("COM2  failed: download failed\x1b[K");
    }
    void stationOnTerminal()
    {
        QFETCH(int, columns);
        QFETCH(QByteArray, env);
        QFETCH(int, width);
        QFETCH(QByteArray, failedLine);
        BoardTray tray;
        for (int com = 1; com <= 3; ++com)
            tray.plug(com, com == 2 ? VBoard::Options{.fault = Fault::SilentAfter, .silentAfter = 3}
                                    : VBoard::Options{});
        Screen screen((unsigned short)columns);
        const QString report = tray.home.filePath("report.csv");
        CliProcess cli({"station", tray.writeFile("fw.bin", testImage(20000)), "COM1-COM3",
                        "--report", report},
                       [&](QProcess &p) {
                           screen.outputOf(p);
                           QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
                           e.insert("COLUMNS", env);
                           p.setProcessEnvironment(e);
                       });
        screen.started();
        QVERIFY(waitUntil(
            [&] {
                screen.drain();
                return fileBytes(report).count('\n') == 4; // the header and a row per board
            },
            30000));
        cli.signal(SIGINT);
        QCOMPARE(cli.finish([&] { screen.drain(); }), 10);
        screen.drain();

        // Each drawing goes back over the one before: 3 ports and the totals.
        QVERIFY(screen.text.count("\x1b[4A\r") >= 1);
        for (QByteArray line : screen.text.split('\n')) {
            if (!line.endsWith("\x1b[K")) // not a drawn line
                continue;
            line.replace("\x1b[4A", "").replace("\x1b[K", "").replace("\r", "");
            QVERIFY2(line.size() <= width, line.constData());
        }
        const QByteArray last = screen.text.mid(screen.text.lastIndexOf("\x1b[4A"));
        QVERIFY2(last.contains(failedLine), last.constData());
        QVERIFY2(last.contains("\rCOM1  passed") &&
                     last.contains("2 passed, 1 failed, 0 interrupted"),
                 last.constData());
        QVERIFY2(last.contains("\x1b[K\nCOM2: download failed: block 3 (counted from 0, of 20 "
                               "blocks) went unanswered; check the hardware connection\n"
                               "2 passed, 1 failed in "),
                 last.constData());
    }

    // Intel HEX made by objcopy, at 0x08004000: converted, or flashed from a base below it.
    void firmwareWithBase_data()
    {
        QTest::addColumn<QStringList>("args"); // @hex: the HEX file, @out: a .bin to write
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("padding"); // 0xFF bytes before the data; -1: nothing written
        // clang-format off
        QTest::newRow("convert, base below") << QStringList{"convert", "@hex", "@out", "--base", "0x08000000"} << 0 << 0x4000;
        QTest::newRow("convert, base above") << QStringList{"convert", "@hex", "@out", "--base", "0x08004001"} << 3 << -1;
        QTest::newRow("flash, base below") << QStringList{"flash", "@hex", "-pCOM1", "--base", "134230016", "--json"} << 0 << 0x1000;
        QTest::newRow("flash, base above") << QStringList{"flash", "@hex", "-pCOM1", "--base", "0x08004400", "--json"} << 3 << -1;
        // clang-format on
    }

    void firmwareWithBase()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(int, padding);
        BoardTray tray;
        tray.plug(1);
        const QByteArray data = testImage(5000);
        const QString bin = tray.writeFile("data.bin", data);
        const QString hex = tray.home.filePath("app.hex");
        QCOMPARE(QProcess::execute("objcopy", {"-I", "binary", "-O", "ihex", "--change-addresses",
                                               "0x08004000", bin, hex}),
                 0);
        const QString out = tray.home.filePath("out.bin");
        args.replaceInStrings("@hex", hex).replaceInStrings("@out", out);
        CliProcess cli(args);
        QCOMPARE(cli.finish(), code);

        const QByteArray expected = QByteArray(qMax(padding, 0), char(0xFF)) + data;
        if (args[0] == "convert") { // a refused file writes nothing
            QCOMPARE(fileBytes(out, "<none>"), padding < 0 ? "<none>" : expected);
            return;
        }
        QCOMPARE(tray.board(1).board().image(), padding < 0 ? QByteArray() : expected);
        if (padding >= 0) {
            const QJsonObject start = cli.events().first();
            QCOMPARE(start["start_address"].toString() + " " + start["format"].toString(),
                     "0x08003000 intel_hex");
            QCOMPARE(start["span"].toInteger(), expected.size());
        }
    }

    // The ports present when the watch starts, announced before start() returns.
    void presentAtStart_data()
    {
        QTest::addColumn<QStringList>("targets"); // empty: every port
        QTest::addColumn<bool>("dropAtFirst");
        QTest::addColumn<QStringList>("expected");
        // clang-format off
        QTest::newRow("all, in COM order") << QStringList() << false << QStringList{"+COM1", "+COM2", "+COM5"};
        QTest::newRow("given, in their order") << QStringList{"COM5", "COM4", "com1", "COM1"} << false << QStringList{"+COM5", "+COM1"};
        QTest::newRow("device path") << QStringList{"PTY"} << false << QStringList{"+PTY"};
        QTest::newRow("watch deleted in the slot") << QStringList() << true << QStringList{"+COM1"};
        // clang-format on
    }
    void presentAtStart()
    {
        QFETCH(QStringList, targets);
        QFETCH(QStringList, expected);
        QFETCH(bool, dropAtFirst);
        QTemporaryDir config;
        PtyPeer a, b, c;
        c.linkAs(config.filePath("ports"), 5);
        a.linkAs(config.filePath("ports"), 1);
        b.linkAs(config.filePath("ports"), 2);
        targets.replaceInStrings("PTY", a.slavePath());
        expected.replaceInStrings("PTY", a.slavePath());
        Watched rec(config.path(), targets, dropAtFirst);
        QCOMPARE(rec.events, expected);
        const PortPresence &p = rec.seen.first(); // a pty: no by-id name, no USB
        QVERIFY(p.device.startsWith("/dev/pts/") && p.byId.isEmpty() && p.usbSerial.isEmpty());
        QVERIFY(!rec.waitFor(1, 1300)); // the slow rescan finds nothing new
    }

    // Plug, unplug, plug a new pty on the same path: its link remade, or kept (the identity tells).
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
        QVERIFY2(rec.waitFor(1), "plug not noticed within 1 s");
        if (!keepLink) {
            QFile::remove(ports + "/com1");
            QVERIFY(rec.waitFor(1));
        }
        pty.reset();
        pty = std::make_unique<PtyPeer>();
        if (pty->slavePath() != path)
            QSKIP("the kernel did not hand out the same pty number again");
        if (!keepLink)
            pty->linkAs(ports, 1);
        QVERIFY(rec.waitFor(keepLink ? 2 : 1));
        QCOMPARE(rec.events, (QStringList{"+COM1", "-COM1", "+COM1"}));
        QVERIFY(rec.seen[0].identity != rec.seen[1].identity);
    }

    void reportFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("report.csv");
        const QDateTime when(QDate(2026, 12, 7), QTime(14, 3, 11, 123), Qt::UTC);
        // RFC 4180 quoting: fields with a comma, a quote, CR or LF in them.
        const StationRow row{when,  "COM1",    "a\rb", " say \"hi\" ", "A1,\nB2", "",
                             65536, "success", 0,      1.2345};
        const QByteArray line = "2026-12-07T14:03:11.123Z,COM1,\"a\rb\",\" say \"\"hi\"\" \","
                                "\"A1,\nB2\",,65536,success,0,1.234\r\n";
        QCOMPARE(StationReport::formatRow(row), line);

        QString error;
        for (int run = 0; run < 2; ++run) { // the second run appends to the first one's row
            StationReport report;
            QVERIFY2(report.open(path, &error) && report.append(row, &error), qPrintable(error));
            QVERIFY(fileBytes(path).endsWith("\r\n")); // a reader sees whole lines only
        }
        QCOMPARE(fileBytes(path), StationReport::header() + line + line);

        // A file ending mid-line (edited by hand) gets its line ended, not a row glued on.
        QFile::resize(path, QFileInfo(path).size() - 2);
        StationReport again;
        QVERIFY(again.open(path, nullptr) && again.append(row));
        QVERIFY(fileBytes(path).endsWith("1.234\r\n" + line));
        QVERIFY(!again.open(dir.path(), &error) && error.contains(dir.path())); // a folder
        QVERIFY(!again.open(dir.filePath("missing/report.csv"), &error));
        QVERIFY(error.contains("No such file") && !again.append(row));
    }
};

QTEST_MAIN(TestStation)
#include "tst_station.moc"

// A tray of virtual boards against vantrel-cli as its own process: several boards at once, one
// of them faulty; station mode with boards plugged, pulled and plugged again; the report after
// Ctrl-C; and firmware files with a base address.
#include "cliprocess.h"
#include "wire.h"

#include <QCryptographicHash>
#include <QTest>

#include <map>

using VBoard::Fault;

class TestStation : public QObject
{
    Q_OBJECT
private slots:
    // Four boards at once, one silent after three blocks: the others take the whole image,
    // each end object has its board's own status, and the command's is 10.
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
        QCOMPARE(events.last()["event"].toString(), QStringLiteral("summary"));
        QCOMPARE(events.last()["passed"].toInt(), 3);
        QCOMPARE(events.last()["failed"].toInt(), 1);
        for (int com : {1, 2, 4})
            QCOMPARE(tray.board(com).board().image(), image);
        QCOMPARE(tray.board(3).board().image(), image.left(4 * 1024));
    }

    // Boards present at the start are flashed at once; a board pulled and plugged again (on a
    // new terminal that may reuse the old one's name) is flashed again; a new port is picked
    // up; Ctrl-C stops the run in progress and the report holds a row for every run.
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
        // A slow board is still taking blocks when Ctrl-C comes.
        PtyBoard &slow = tray.plug(5, {.blockDelayMs = 100});
        QVERIFY(waitUntil([&] { return slow.board().blocksReceived() >= 2; }));
        cli.signal(SIGINT);
        QCOMPARE(cli.finish(), 10);

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
        QCOMPARE(seen, QStringList({"COM1 success 0", "COM2 success 0", "COM2 success 0",
                                    "COM5 interrupted 130"}));
        const QJsonObject summary = cli.events().last();
        QCOMPARE(summary["event"].toString(), QStringLiteral("summary"));
        QCOMPARE(summary["passed"].toInt(), 3);
        QCOMPARE(summary["failed"].toInt(), 0);
        QCOMPARE(summary["interrupted"].toInt(), 1);
    }

    // Intel HEX made by objcopy, at 0x08004000: converted, or flashed from a base below it.
    void firmwareWithBase_data()
    {
        QTest::addColumn<QStringList>("args"); // @hex: the HEX file, @out: a .bin to write
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("padding"); // 0xFF bytes before the data; -1: nothing written
        // clang-format off
        QTest::newRow("convert") << QStringList{"convert", "@hex", "@out"} << 0 << 0;
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
            QCOMPARE(start["start_address"].toString(), QStringLiteral("0x08003000"));
            QCOMPARE(start["span"].toInteger(), expected.size());
            QCOMPARE(start["format"].toString(), QStringLiteral("intel_hex"));
        }
    }
};

QTEST_MAIN(TestStation)
#include "tst_station.moc"

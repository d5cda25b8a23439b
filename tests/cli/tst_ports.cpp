// Which ports vantrel-cli takes and what it says about them, as a script or an operator sees it.
#include "cliargs.h"
#include "cliprocess.h"
#include "portlock.h"
#include "wire.h"

#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using VBoard::Fault;

namespace
{

// Links in the ports folder: "N" a board on COMn, "-N" a broken comN, "N=M" comN to COMm's board.
void plugLinks(BoardTray &tray, const QStringList &links)
{
    for (const QString &l : links) {
        if (l.startsWith('-'))
            QFile::link("/dev/pts/9999", tray.link(-l.toInt()));
        else if (l.contains('='))
            QFile::link(tray.board(l.section(u'=', 1).toInt()).slavePath(),
                        tray.link(l.section(u'=', 0, 0).toInt()));
        else
            tray.plug(l.toInt());
    }
}

// "@slaveN": COMn's terminal; "@ports": the ports folder; "@fw": the image.
QStringList expand(QStringList args, BoardTray &tray, const QString &image)
{
    for (auto &[com, bay] : tray.bays)
        args.replaceInStrings(QStringLiteral("@slave%1").arg(com), bay->board->slavePath());
    return args.replaceInStrings("@ports", tray.config + "/ports").replaceInStrings("@fw", image);
}

// The ports named by the end objects, sorted.
QStringList endedPorts(const CliProcess &cli)
{
    QStringList ports;
    for (const QJsonObject &e : cli.events())
        if (e["event"] == "end")
            ports << e["port"].toString();
    ports.sort();
    return ports;
}

// "summary PASSED FAILED INTERRUPTED" from the last JSON object.
QString counts(const CliProcess &cli)
{
    const QJsonObject s = cli.events().last();
    return QStringLiteral("%1 %2 %3 %4")
        .arg(s["event"].toString())
        .arg(s["passed"].toInt())
        .arg(s["failed"].toInt())
        .arg(s["interrupted"].toInt());
}

// Starts vantrel-vboard on COMn of a config folder; returns the terminal it tells of, or "".
QString startBoard(QProcess &p, int com, const QString &config)
{
    p.start(VBOARD_PATH, {"--com", QString::number(com), "--config", config});
    QByteArray out; // "COMn is /dev/pts/N (link)"
    waitUntil([&] {
        out += p.readAllStandardOutput();
        return out.contains(" is ") || p.state() == QProcess::NotRunning;
    });
    const qsizetype at = out.indexOf(" is ");
    return at < 0 ? QString() : QString(out.mid(at + 4).split(' ').value(0));
}

} // namespace

class TestPorts : public QObject
{
    Q_OBJECT
private slots:
    // Ports that stand for no device, or one device under two names: refused, and explained.
    void portsRefused_data()
    {
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<QStringList>("args"); // @fw: the image
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("says");  // on stderr
        QTest::addColumn<QString>("portsSays"); // what `ports` says
        const QString back = "removing the folder (vantrel-vboard leaves it behind) brings back "
                             "the system's serial devices";
        const QStringList twice{"1", "3", "2=1"};
        // clang-format off
        QTest::newRow("empty folder") << QStringList{} << QStringList{"flash", "@fw", "-p", "COM3"} << 4 << QStringList{"vantrel-cli: COM3: it stands for no device: the ports folder @ports has no links at all", back} << "No ports: the ports folder @ports has no links at all";
        QTest::newRow("no link for it") << QStringList{"1"} << QStringList{"flash", "@fw", "-p", "COM3"} << 4 << QStringList{"@ports has no link com3", back} << "COM1 ";
        QTest::newRow("broken link") << QStringList{"-3"} << QStringList{"flash", "@fw", "-p", "COM3"} << 4 << QStringList{"@ports/com3 leads to /dev/pts/9999, which does not exist"} << "its link leads to /dev/pts/9999, which does not exist";
        QTest::newRow("--all, only a broken link") << QStringList{"-1"} << QStringList{"flash", "@fw", "--all"} << 4 << QStringList{"@ports/com1 leads to /dev/pts/9999"} << "COM1 ";
        QTest::newRow("station, no link for it") << QStringList{"1"} << QStringList{"station", "@fw", "-p", "COM3,COM1"} << 0 << QStringList{"COM3 stands for no device yet: the ports folder @ports has no link com3", back} << "COM1 ";
        QTest::newRow("COM1 and its device") << twice << QStringList{"flash", "@fw", "-p", "COM1", "-p", "@slave1"} << 2 << QStringList{"COM1 and @slave1 are one device (@slave1)"} << "";
        QTest::newRow("COM1 and COM01") << twice << QStringList{"flash", "@fw", "-p", "COM1", "-p", "COM01"} << 2 << QStringList{"a port is given twice"} << "";
        QTest::newRow("two links to one device") << twice << QStringList{"flash", "@fw", "-p", "COM2,COM1"} << 2 << QStringList{"COM2 and COM1 are one device"} << "";
        QTest::newRow("station: the device, then COM1") << twice << QStringList{"station", "@fw", "-p", "@slave1", "-p", "COM1"} << 2 << QStringList{"@slave1 and COM1 are one device"} << "";
        QTest::newRow("station: a range over both links") << twice << QStringList{"station", "@fw", "COM1-3"} << 2 << QStringList{"given twice"} << "";
        // clang-format on
    }

    void portsRefused()
    {
        QFETCH(QStringList, links);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QStringList, says);
        QFETCH(QString, portsSays);
        BoardTray tray;
        plugLinks(tray, links);
        const QString fw = tray.writeFile("fw.bin", testImage(2000));
        CliProcess cli(expand(args, tray, fw) << "--json");
        if (code == 0) { // a station says so at its start, and goes on watching
            waitUntil(
                [&] { return (cli.err += cli.p.readAllStandardError()).contains("no device"); });
            cli.signal(SIGINT);
        }
        QCOMPARE(cli.finish(), code);
        for (const QString &s : expand(says, tray, fw))
            QVERIFY2(cli.err.contains(s.toUtf8()), cli.err.constData());
        if (code == 2) { // a refused command line writes no JSON and sends nothing
            QVERIFY(cli.out.isEmpty());
            QCOMPARE(tray.board(1).received(), QByteArray());
        }
        CliProcess ports({"ports"});
        QCOMPARE(ports.finish(), 0);
        QVERIFY2(ports.out.contains(expand({portsSays}, tray, fw)[0].toUtf8()),
                 ports.out.constData());
    }

    // How --port and the arguments after the image become the ports of a run.
    void portLists_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("ports"); // joined by ','; "*": every port; "!text": refused
        // clang-format off
        QTest::newRow("a list with a range") << QStringList{"flash", "x", "-pcom4,COM1-2"} << "COM4,COM1,COM2";
        QTest::newRow("leading zeros") << QStringList{"flash", "x", "--port", "com01", "-p", "COM002"} << "COM1,COM2";
        QTest::newRow("bare device names") << QStringList{"flash", "x", "-p", "ttyUSB0,ttyACM1"} << "ttyUSB0,ttyACM1";
        QTest::newRow("a path keeps its commas") << QStringList{"flash", "x", "-p", "/dev/serial/by-id/usb-a,b"} << "/dev/serial/by-id/usb-a,b";
        QTest::newRow("an empty item") << QStringList{"flash", "x", "-p", "COM1,,COM2"} << "!an empty port in 'COM1,,COM2'";
        QTest::newRow("a trailing comma") << QStringList{"flash", "x", "-p", "COM1,"} << "!an empty port";
        QTest::newRow("twice in a list") << QStringList{"flash", "x", "-p", "COM1,com1"} << "!a port is given twice";
        QTest::newRow("a bad range in a list") << QStringList{"station", "x", "-p", "COM1,COM9-COM300"} << "!'COM9-COM300' is not a range";
        QTest::newRow("station without a port") << QStringList{"station", "x"} << "*";
        QTest::newRow("flash without a port") << QStringList{"flash", "x"} << "!flash: no port given";
        // clang-format on
    }

    void portLists()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, ports);
        const ParseResult r = parseCommandLine(args);
        if (ports.startsWith('!')) {
            QVERIFY2(r.error.contains(ports.mid(1)), qPrintable(r.error));
            QCOMPARE(CliProcess(args).finish(), 2);
            return;
        }
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QCOMPARE(r.args.allPorts ? QStringLiteral("*") : r.args.ports.join(u','), ports);
        QCOMPARE(r.args.manyBoards(), r.args.allPorts || r.args.ports.size() > 1);
    }

    // Every port is named by its COM number, a device two links lead to once; a refused image
    // ends each port.
    void everyPortByNumber_data()
    {
        QTest::addColumn<QStringList>("args"); // after the image
        QTest::addColumn<int>("length");       // of the image; 0 is refused
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<QString>("says"); // on stderr
        const QStringList both{"COM1", "COM3"};
        // clang-format off
        QTest::newRow("flash --all") << QStringList{"flash", "--all"} << 3000 << both << "";
        QTest::newRow("flash, a list") << QStringList{"flash", "--port", "COM1,COM3"} << 3000 << both << "";
        QTest::newRow("station, every port") << QStringList{"station"} << 3000 << both << "station: watching every port (now COM1, COM3)";
        QTest::newRow("station, a list") << QStringList{"station", "-p", "COM3,COM1"} << 3000 << both << "station: watching COM3, COM1";
        QTest::newRow("refused image, a list") << QStringList{"station", "-p", "COM3,COM1"} << 0 << both << "";
        QTest::newRow("refused image, every port") << QStringList{"station"} << 0 << both << "";
        QTest::newRow("refused image, no board") << QStringList{"station", "COM7-COM8"} << 0 << QStringList{"COM7", "COM8"} << "";
        // clang-format on
    }

    void everyPortByNumber()
    {
        QFETCH(QStringList, args);
        QFETCH(int, length);
        QFETCH(QStringList, ports);
        QFETCH(QString, says);
        BoardTray tray;
        plugLinks(tray, {"1", "3", "2=1"});
        const QByteArray image = testImage(length);
        args.insert(1, tray.writeFile("fw.bin", image));
        CliProcess cli(args << "--json");
        const auto done = [&](int com) { return tray.board(com).board().downloadsCompleted(); };
        if (length && args[0] == "station") {
            QVERIFY(waitUntil([&] { return done(1) + done(3) == 2; }));
            QTest::qWait(100); // the ends reach the station
            cli.signal(SIGINT);
        }
        QCOMPARE(cli.finish(), length ? 0 : 3);
        QCOMPARE(endedPorts(cli), ports);
        QVERIFY2(cli.err.contains(says.toUtf8()), cli.err.constData());
        if (length) {
            QCOMPARE(done(1), 1);
            QCOMPARE(tray.board(3).board().image(), image);
            return;
        }
        QCOMPARE(counts(cli), QStringLiteral("summary 0 %1 0").arg(ports.size()));
        const QList<QJsonObject> events = cli.events();
        for (const QJsonObject &e : events.mid(0, events.size() - 1))
            QVERIFY(e["event"] == "end" && e["outcome"] == "image_refused" && e["exit_code"] == 3);
        QCOMPARE(tray.board(1).received(), QByteArray());
    }

    // A closing signal cuts a slow board's run short: interrupted, not failed, everywhere.
    void stationInterrupted_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("oneFails");
        QTest::addColumn<int>("code");
        QTest::newRow("Ctrl-C") << SIGINT << false << 0;
        QTest::newRow("SIGTERM") << SIGTERM << false << 0;
        QTest::newRow("SIGHUP") << SIGHUP << false << 0;
        QTest::newRow("Ctrl-C, and a board that failed") << SIGINT << true << 10;
    }

    void stationInterrupted()
    {
        QFETCH(int, signal);
        QFETCH(bool, oneFails);
        QFETCH(int, code);
        BoardTray tray;
        tray.plug(1);
        if (oneFails)
            tray.plug(2, {.fault = Fault::NeverA});
        PtyBoard &slow = tray.plug(3, {.blockDelayMs = 100});
        const QString report = tray.home.filePath("report.csv");
        CliProcess cli({"station", tray.writeFile("fw.bin", testImage(20000)), "--json", "--report",
                        report, "--connect-timeout", "0.2"});
        QVERIFY(waitUntil([&] {
            return slow.board().blocksReceived() >= 2 &&
                   fileBytes(report).count('\n') >= 2 + oneFails;
        }));
        cli.signal(signal);
        QCOMPARE(cli.finish(), code);
        QStringList rows; // port and outcome
        for (const QByteArray &line : fileBytes(report).trimmed().split('\n').mid(1))
            rows << QString(line.split(',')[1] + ' ' + line.trimmed().split(',')[7]);
        rows.sort();
        QCOMPARE(rows.join(", "), oneFails ? "COM1 success, COM2 no_answer, COM3 interrupted"
                                           : "COM1 success, COM3 interrupted");
        QCOMPARE(counts(cli), QStringLiteral("summary 1 %1 1").arg(int(oneFails)));
        const QJsonObject summary = cli.events().last(); // boards per hour count passes
        const double perHour = 3'600'000.0 / summary["elapsed_ms"].toDouble();
        QVERIFY(qAbs(summary["boards_per_hour"].toDouble() - perHour) <= 1);
    }

    // `flash` and `ports`, run as nobody, give one advice for a device this user may not open.
    void permissionAdvice_data()
    {
        QTest::addColumn<unsigned>("mode");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("says");
        QTest::newRow("owner only") << 0600u << "root"
                                    << "only its owner (root)";
        QTest::newRow("dialout may") << 0660u << "dialout"
                                     << "sudo usermod -aG dialout $USER";
    }

    void permissionAdvice()
    {
        QFETCH(unsigned, mode);
        QFETCH(QString, group);
        QFETCH(QString, says);
        if (::geteuid() != 0 || !QFileInfo::exists("/usr/bin/setpriv"))
            QSKIP("needs root and setpriv to run as another user");
        BoardTray tray;
        const QString tty = tray.plug(3).slavePath();
        QVERIFY(QProcess::execute("chgrp", {group, tty}) == 0 &&
                ::chmod(qPrintable(tty), mode) == 0);
        for (const QString &dir : {tray.home.path(), tray.config, tray.config + "/ports"})
            ::chmod(qPrintable(dir), 0755);
        const QString fw = tray.writeFile("fw.bin", testImage(100));
        const QStringList asNobody{"--reuid=65534", "--regid=65534", "--clear-groups", CLI_PATH};
        QProcess flash, ports;
        flash.start("setpriv", asNobody + QStringList{"flash", fw, "-p", "COM3"});
        ports.start("setpriv", asNobody + QStringList{"ports", "--json"});
        QVERIFY(flash.waitForFinished(10000) && ports.waitForFinished(10000));
        QCOMPARE(flash.exitCode(), 4);
        const QString said = QString::fromUtf8(flash.readAllStandardError());
        const QJsonValue f = QJsonDocument::fromJson(ports.readAllStandardOutput())["findings"][0];
        QCOMPARE(f["id"].toString(), QStringLiteral("group"));
        QVERIFY2(said.contains(f["problem"].toString() + "; " + f["fix"].toString()),
                 qPrintable(said));
        QVERIFY2(said.contains(says) && !said.contains("usermod -aG root"), qPrintable(said));
    }

    // vantrel-vboard takes a broken link and keeps a live one; a port's holder is named, not it.
    void boardProcessOnALink()
    {
        BoardTray tray;
        QFile::link("/dev/pts/9999", tray.link(3));
        QProcess first, second;
        const QString tty = startBoard(first, 3, tray.config);
        QVERIFY(!tty.isEmpty());
        QCOMPARE(QFileInfo(tray.link(3)).symLinkTarget(), tty);
        startBoard(second, 3, tray.config);
        QVERIFY(waitUntil([&] { return second.state() == QProcess::NotRunning; }, 5000));
        QCOMPARE(second.exitCode(), 1);
        const QByteArray err = second.readAllStandardError();
        QVERIFY2(err.contains(("COM3 is taken: " + tray.link(3) + " leads to " + tty).toUtf8()),
                 err.constData());
        QCOMPARE(QFileInfo(tray.link(3)).symLinkTarget(), tty);

        const PortLock::Claim held = PortLock::claimDevice(tty);
        QCOMPARE(held.status, PortLock::Status::Claimed);
        CliProcess cli({"flash", tray.writeFile("fw.bin", testImage(100)), "-p", "COM3"});
        QCOMPARE(cli.finish(), 4);
        ::close(held.fd);
        QVERIFY2(cli.err.contains(QStringLiteral("pid %1 (tst_ports)").arg(::getpid()).toUtf8()),
                 cli.err.constData());
        QVERIFY2(!cli.err.contains("vantrel-vboard"), cli.err.constData());
        first.terminate();
        QVERIFY(first.waitForFinished(3000));
    }
};

QTEST_MAIN(TestPorts)
#include "tst_ports.moc"

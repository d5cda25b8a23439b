// Which ports vantrel-cli takes and how it tells about them, as a script or an operator sees it:
// the ports folder's messages, a device given twice under two names, lists of ports, every port
// by its COM number, the station's interrupted runs and refused image, the advice for a device
// this user may not open, and vantrel-vboard on a link that another board holds.
#include "cliargs.h"
#include "cliprocess.h"
#include "portlock.h"
#include "portprobe.h"
#include "wire.h"

#include <QJsonArray>
#include <QSet>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using VBoard::Fault;

namespace
{

// "@slaveN": COMn's terminal; "@ports": the ports folder; "@fw": the image.
QStringList expand(QStringList args, BoardTray &tray, const QString &image)
{
    for (auto &[com, bay] : tray.bays)
        args.replaceInStrings(QStringLiteral("@slave%1").arg(com), bay->board->slavePath());
    return args.replaceInStrings("@ports", tray.config + "/ports").replaceInStrings("@fw", image);
}

// The ports named by the end objects, in order of their names.
QStringList endedPorts(const CliProcess &cli)
{
    QStringList ports;
    for (const QJsonObject &e : cli.events())
        if (e["event"] == "end")
            ports << e["port"].toString();
    ports.sort();
    return ports;
}

// vantrel-vboard as its own process on COMn of a config folder.
struct VBoardProcess {
    VBoardProcess(int com, const QString &config)
    {
        p.start(VBOARD_PATH, {"--com", QString::number(com), "--config", config});
    }
    ~VBoardProcess()
    {
        if (p.state() != QProcess::NotRunning) {
            ::kill(pid_t(p.processId()), SIGTERM);
            p.waitForFinished(3000);
        }
    }
    // Waits for "COMn is /dev/pts/N (link)" and returns the terminal; "" when it never came.
    QString terminal()
    {
        waitUntil([&] {
            out += p.readAllStandardOutput();
            return out.contains(" is ") || p.state() == QProcess::NotRunning;
        });
        const qsizetype at = out.indexOf(" is ");
        return at < 0 ? QString() : QString(out.mid(at + 4).split(' ').value(0));
    }
    QProcess p;
    QByteArray out;
};

} // namespace

class TestPorts : public QObject
{
    Q_OBJECT
private slots:
    // A COM number the ports folder does not stand for: the message names the folder and how
    // to go back to the system's devices, or where a broken link leads; `ports` says the same.
    void portsFolderExplained_data()
    {
        QTest::addColumn<QStringList>("links"); // COM numbers with a board; -N: a broken comN
        QTest::addColumn<QStringList>("args");  // after "flash @fw"
        QTest::addColumn<QStringList>("says");  // on stderr, and in `ports` when @ports is named
        QTest::addColumn<QString>("portsSays");
        const QString back = "removing the folder (vantrel-vboard leaves it behind) brings back "
                             "the system's serial devices";
        // clang-format off
        QTest::newRow("empty folder") << QStringList{} << QStringList{"-p", "COM3"} << QStringList{"COM3: it stands for no device", "@ports has no links at all", back} << "No ports: the ports folder @ports has no links at all";
        QTest::newRow("no link for it") << QStringList{"1"} << QStringList{"-p", "COM3"} << QStringList{"@ports has no link com3", back} << "COM1 ";
        QTest::newRow("broken link") << QStringList{"-3"} << QStringList{"-p", "COM3"} << QStringList{"@ports/com3 leads to /dev/pts/9999, which does not exist"} << "its link leads to /dev/pts/9999, which does not exist";
        QTest::newRow("--all, empty folder") << QStringList{} << QStringList{"--all"} << QStringList{"@ports has no links at all", back} << "No ports";
        QTest::newRow("station, no link for it") << QStringList{"1"} << QStringList{"station", "-p", "COM3,COM1"} << QStringList{"COM3 stands for no device yet: the ports folder @ports has no link com3", back} << "COM1 ";
        QTest::newRow("--all, only a broken link") << QStringList{"-1"} << QStringList{"--all"} << QStringList{"@ports/com1 leads to /dev/pts/9999"} << "COM1 ";
        // clang-format on
    }

    void portsFolderExplained()
    {
        QFETCH(QStringList, links);
        QFETCH(QStringList, args);
        QFETCH(QStringList, says);
        QFETCH(QString, portsSays);
        BoardTray tray;
        for (const QString &l : links) {
            if (l.startsWith('-'))
                QFile::link("/dev/pts/9999", tray.link(-l.toInt()));
            else
                tray.plug(l.toInt());
        }
        const QString fw = tray.writeFile("fw.bin", testImage(2000));
        const bool station = args.removeAll("station") > 0;
        CliProcess cli(QStringList{station ? "station" : "flash", fw} + args);
        if (station) { // it says so at its start, and goes on watching
            waitUntil(
                [&] { return (cli.err += cli.p.readAllStandardError()).contains("no device"); });
            cli.signal(SIGINT);
        }
        QCOMPARE(cli.finish(), station ? 0 : 4);
        for (const QString &s : expand(says, tray, fw))
            QVERIFY2(cli.err.contains(s.toUtf8()), cli.err.constData());
        CliProcess ports({"ports"});
        QCOMPARE(ports.finish(), 0);
        QVERIFY2(ports.out.contains(expand({portsSays}, tray, fw)[0].toUtf8()),
                 ports.out.constData());
    }

    // One device under two names in one run is refused before anything is sent.
    void givenTwice_data()
    {
        QTest::addColumn<QStringList>("args"); // com2 is a second link to COM1's board
        QTest::addColumn<QString>("says");
        // clang-format off
        QTest::newRow("flash: COM1 and its device") << QStringList{"flash", "@fw", "-p", "COM1", "-p", "@slave1"} << "COM1 and @slave1 are one device (@slave1)";
        QTest::newRow("flash: COM1 and COM01") << QStringList{"flash", "@fw", "-p", "COM1", "-p", "COM01"} << "a port is given twice";
        QTest::newRow("flash: two links to one device") << QStringList{"flash", "@fw", "-p", "COM2,COM1"} << "COM2 and COM1 are one device";
        QTest::newRow("flash: a range over both links") << QStringList{"flash", "@fw", "COM1-COM3"} << "given twice";
        QTest::newRow("station: the device, then COM1") << QStringList{"station", "@fw", "-p", "@slave1", "-p", "COM1"} << "@slave1 and COM1 are one device";
        QTest::newRow("station: two links to one device") << QStringList{"station", "@fw", "COM1-2"} << "given twice";
        // clang-format on
    }

    void givenTwice()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        BoardTray tray;
        tray.plug(1);
        tray.plug(3);
        QFile::link(tray.board(1).slavePath(), tray.link(2));
        const QString fw = tray.writeFile("fw.bin", testImage(2000));
        CliProcess cli(expand(args, tray, fw) << "--json");
        QCOMPARE(cli.finish(), 2);
        QVERIFY2(cli.err.contains(expand({says}, tray, fw)[0].toUtf8()), cli.err.constData());
        QVERIFY(cli.out.isEmpty()); // a refused command line writes no JSON
        QCOMPARE(tray.board(1).received(), QByteArray());
    }

    // How --port and the arguments after the image become the ports of a run.
    void portLists_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("ports"); // joined by ','; "*": every port; "!text": refused
        // clang-format off
        QTest::newRow("a list") << QStringList{"flash", "x", "--port", "COM1,COM2"} << "COM1,COM2";
        QTest::newRow("the option twice") << QStringList{"flash", "x", "--port", "COM1", "--port", "COM2"} << "COM1,COM2";
        QTest::newRow("a range") << QStringList{"flash", "x", "-p", "COM1-COM2"} << "COM1,COM2";
        QTest::newRow("a list with a range") << QStringList{"flash", "x", "-pcom4,COM1-2"} << "COM4,COM1,COM2";
        QTest::newRow("leading zeros") << QStringList{"flash", "x", "-p", "com01,COM002"} << "COM1,COM2";
        QTest::newRow("bare device names") << QStringList{"flash", "x", "-p", "ttyUSB0,ttyACM1"} << "ttyUSB0,ttyACM1";
        QTest::newRow("a path keeps its commas") << QStringList{"flash", "x", "-p", "/dev/serial/by-id/usb-a,b"} << "/dev/serial/by-id/usb-a,b";
        QTest::newRow("an empty item") << QStringList{"flash", "x", "-p", "COM1,,COM2"} << "!an empty port in 'COM1,,COM2'";
        QTest::newRow("a trailing comma") << QStringList{"flash", "x", "-p", "COM1,"} << "!an empty port";
        QTest::newRow("twice in a list") << QStringList{"flash", "x", "-p", "COM1,com1"} << "!a port is given twice";
        QTest::newRow("a bad range in a list") << QStringList{"station", "x", "-p", "COM1,COM9-COM300"} << "!'COM9-COM300' is not a range";
        QTest::newRow("station without a port") << QStringList{"station", "x"} << "*";
        QTest::newRow("station with --all") << QStringList{"station", "x", "--all"} << "*";
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
            QProcess cli;
            cli.start(CLI_PATH, args);
            QVERIFY(cli.waitForFinished(5000));
            QCOMPARE(cli.exitCode(), 2);
            return;
        }
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QCOMPARE(r.args.allPorts ? QStringLiteral("*") : r.args.ports.join(u','), ports);
        QCOMPARE(r.args.manyBoards(), r.args.allPorts || r.args.ports.size() > 1);
    }

    // Every port is named by its COM number, in flash and in station alike; a device that two
    // links lead to is flashed once, under its first number.
    void everyPortByNumber_data()
    {
        QTest::addColumn<QStringList>("args"); // after the image
        QTest::addColumn<QString>("watching"); // what the station says at its start
        // clang-format off
        QTest::newRow("flash --all") << QStringList{"--all"} << "";
        QTest::newRow("flash, a list") << QStringList{"--port", "COM1,COM3"} << "";
        QTest::newRow("station --all") << QStringList{"station", "--all"} << "station: watching every port (now COM1, COM3)";
        QTest::newRow("station without a port") << QStringList{"station"} << "station: watching every port (now COM1, COM3)";
        QTest::newRow("station, a list") << QStringList{"station", "-p", "COM3,COM1"} << "station: watching COM3, COM1";
        // clang-format on
    }

    void everyPortByNumber()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, watching);
        BoardTray tray;
        const QByteArray image = testImage(3000);
        tray.plug(1);
        tray.plug(3);
        QFile::link(tray.board(1).slavePath(), tray.link(2));
        const bool station = args.removeAll("station") > 0;
        const QString fw = tray.writeFile("fw.bin", image);
        CliProcess cli(QStringList{station ? "station" : "flash", fw, "--json"} + args);
        const auto ended = [&] {
            return tray.board(1).board().downloadsCompleted() +
                   tray.board(3).board().downloadsCompleted();
        };
        if (station) {
            QVERIFY(waitUntil([&] { return ended() == 2; }));
            QTest::qWait(100); // the ends reach the station
            cli.signal(SIGINT);
        }
        QCOMPARE(cli.finish(), 0);
        QCOMPARE(endedPorts(cli), QStringList({"COM1", "COM3"}));
        QCOMPARE(tray.board(1).board().downloadsCompleted(), 1);
        QCOMPARE(tray.board(3).board().image(), image);
        QVERIFY2(cli.err.contains(watching.toUtf8()), cli.err.constData());
    }

    // The station's closing signal cuts a slow board's run short: counted as interrupted, not
    // failed, in the summary, the report and the exit status; boards per hour count passes.
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
        QStringList rows;
        for (const QByteArray &line : fileBytes(report).trimmed().split('\n').mid(1)) {
            const QList<QByteArray> c = line.trimmed().split(',');
            rows << QString(c[1] + ' ' + c[7]);
        }
        rows.sort();
        QStringList expected{"COM1 success", "COM3 interrupted"};
        if (oneFails)
            expected.insert(1, "COM2 no_answer");
        QCOMPARE(rows, expected);
        const QJsonObject summary = cli.events().last();
        QCOMPARE(summary["event"].toString(), QStringLiteral("summary"));
        QCOMPARE(summary["passed"].toInt(), 1);
        QCOMPARE(summary["failed"].toInt(), int(oneFails));
        QCOMPARE(summary["interrupted"].toInt(), 1);
        const double perHour = 3'600'000.0 / summary["elapsed_ms"].toDouble();
        QVERIFY(qAbs(summary["boards_per_hour"].toDouble() - perHour) <= 1);
    }

    // A station whose image is refused tells each port it watches, then sums up, as flash on
    // several ports does.
    void stationRefusedImage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("ports");
        QTest::newRow("given ports")
            << QStringList{"-p", "COM3,COM1"} << QStringList{"COM1", "COM3"};
        QTest::newRow("every port") << QStringList{} << QStringList{"COM1", "COM3"};
        QTest::newRow("a port with no board")
            << QStringList{"COM7-COM8"} << QStringList{"COM7", "COM8"};
    }

    void stationRefusedImage()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, ports);
        BoardTray tray;
        tray.plug(1);
        tray.plug(3);
        CliProcess cli(QStringList{"station", tray.writeFile("empty.bin", {}), "--json"} + args);
        QCOMPARE(cli.finish(), 3);
        QList<QJsonObject> events = cli.events();
        const QJsonObject summary = events.takeLast();
        QCOMPARE(summary["event"].toString(), QStringLiteral("summary"));
        QCOMPARE(summary["failed"].toInt(), ports.size());
        QCOMPARE(summary["passed"].toInt(), 0);
        QCOMPARE(summary["interrupted"].toInt(), 0);
        for (const QJsonObject &e : events)
            QVERIFY(e["event"] == "end" && e["outcome"] == "image_refused" && e["exit_code"] == 3);
        QCOMPARE(endedPorts(cli), ports);
        QCOMPARE(tray.board(1).received(), QByteArray());
    }

    // `flash` and `ports` give one advice for a device this user may not open. Run as the user
    // nobody; needs root to switch to it.
    void permissionAdvice_data()
    {
        QTest::addColumn<unsigned>("mode");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("says");
        QTest::newRow("owner only") << 0600u << "root"
                                    << "only its owner (root)";
        QTest::newRow("a terminal's group may only write")
            << 0620u << "tty" << QString(sampleUdevRule);
        QTest::newRow("group root") << 0660u << "root" << QString(sampleUdevRule);
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
        const QJsonArray findings =
            QJsonDocument::fromJson(ports.readAllStandardOutput())["findings"].toArray();
        QVERIFY(!findings.isEmpty());
        const QJsonObject f = findings[0].toObject();
        QCOMPARE(f["id"].toString(), QStringLiteral("group"));
        QVERIFY2(said.contains(f["problem"].toString() + "; " + f["fix"].toString()),
                 qPrintable(said));
        QVERIFY2(said.contains(says) && !said.contains("usermod -aG root"), qPrintable(said));
    }

    // A port held by another program: the holder is named, not the virtual board that keeps
    // its own terminal open.
    void holderNamed()
    {
        BoardTray tray;
        VBoardProcess board(3, tray.config);
        const QString tty = board.terminal();
        QVERIFY(!tty.isEmpty());
        const PortLock::Claim held = PortLock::claimDevice(tty);
        QCOMPARE(held.status, PortLock::Status::Claimed);
        CliProcess cli({"flash", tray.writeFile("fw.bin", testImage(100)), "-p", "COM3"});
        QCOMPARE(cli.finish(), 4);
        ::close(held.fd);
        QVERIFY2(cli.err.contains(QStringLiteral("pid %1 (tst_ports)").arg(::getpid()).toUtf8()),
                 cli.err.constData());
        QVERIFY2(!cli.err.contains("vantrel-vboard"), cli.err.constData());
    }

    // A second vantrel-vboard on a COM number: a live link is left to its board, a broken one
    // is taken.
    void secondBoardOnALink_data()
    {
        QTest::addColumn<bool>("live");
        QTest::newRow("a live link") << true;
        QTest::newRow("a broken link") << false;
    }

    void secondBoardOnALink()
    {
        QFETCH(bool, live);
        BoardTray tray;
        std::unique_ptr<VBoardProcess> first;
        QString before = "/dev/pts/9999";
        if (live) {
            first = std::make_unique<VBoardProcess>(3, tray.config);
            before = first->terminal();
            QVERIFY(!before.isEmpty());
        } else {
            QFile::link(before, tray.link(3));
        }
        VBoardProcess second(3, tray.config);
        const QString mine = second.terminal();
        if (live) {
            QVERIFY(waitUntil([&] { return second.p.state() == QProcess::NotRunning; }, 5000));
            QCOMPARE(second.p.exitCode(), 1);
            const QByteArray err = second.p.readAllStandardError();
            QVERIFY2(
                err.contains(("COM3 is taken: " + tray.link(3) + " leads to " + before).toUtf8()),
                err.constData());
            QCOMPARE(QFileInfo(tray.link(3)).symLinkTarget(), before);
        } else {
            QVERIFY(!mine.isEmpty());
            QCOMPARE(QFileInfo(tray.link(3)).symLinkTarget(), mine);
        }
    }
};

QTEST_MAIN(TestPorts)
#include "tst_ports.moc"

// vantrel-cli run by a script against a virtual board: exit status, JSON Lines, bytes received.
#include "bootloader.h"
#include "cliargs.h"
#include "cliprocess.h"
#include "configdir.h"
#include "e2erig.h"
#include "portlock.h"
#include "portprobe.h"
#include "ptypeer.h"
#include "settingsfile.h"

#include <QCryptographicHash>

#include <unistd.h>

using VBoard::Fault;
Q_DECLARE_METATYPE(VBoard::Options)

namespace
{

enum class During { Nothing, Unplug, Interrupt };

struct CliRig : BoardTray {
    explicit CliRig(const VBoard::Options &options = {}) : board(&plug(3, options)) {}

    // Runs the command; `during` happens once the board has taken `atBlock` blocks.
    int run(const QStringList &args, During during = During::Nothing, int atBlock = 0)
    {
        cli = std::make_unique<CliProcess>(args);
        bool done = during == During::Nothing;
        return cli->finish([&] {
            if (done || board->board().blocksReceived() < atBlock)
                return;
            done = true;
            during == During::Unplug ? unplug(3) : cli->signal(SIGINT);
        });
    }

    PtyBoard *board;
    std::unique_ptr<CliProcess> cli;
};

// The bytes sent from the first length frame on (connect requests repeat once per tick), or none.
QByteArray afterConnectRequests(QByteArray wire)
{
    while (!wire.startsWith(Bootloader::lengthHead)) {
        const QByteArray &r = wire.startsWith(Bootloader::downloadRequest)
                                  ? Bootloader::downloadRequest
                                  : Bootloader::resetRequest;
        if (!wire.startsWith(r))
            return {};
        wire.remove(0, r.size());
    }
    return wire;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void exitCodes_data()
    {
        QTest::addColumn<VBoard::Options>("board");
        QTest::addColumn<QStringList>("args"); // after "flash IMAGE"
        QTest::addColumn<int>("during");
        QTest::addColumn<int>("atBlock");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("received"); // image bytes the board took; -1 all of them
        const QStringList com3{"--port", "COM3"};
        // clang-format off
        QTest::newRow("success, auto reset, by device path") << VBoard::Options{.autoResetOnly = true, .answerRequest = 3}
            << QStringList{"--port", "@slave", "--auto-reset"} << 0 << 0 << 0 << -1;
        QTest::newRow("never A") << VBoard::Options{.fault = Fault::NeverA} << com3 + QStringList{"--connect-timeout", "0.3"} << 0 << 0 << 5 << 0;
        QTest::newRow("never B") << VBoard::Options{.fault = Fault::NeverB} << com3 << 0 << 0 << 6 << 0;
        QTest::newRow("silent after block 3") << VBoard::Options{.fault = Fault::SilentAfter, .silentAfter = 3} << com3 << 0 << 0 << 7 << 4 * 1024;
        QTest::newRow("never D") << VBoard::Options{.fault = Fault::NeverD} << com3 + QStringList{"--done-timeout", "0.3"} << 0 << 0 << 8 << -1;
        QTest::newRow("tty vanishes") << VBoard::Options{.blockDelayMs = 5} << com3 << int(During::Unplug) << 10 << 9 << -2;
        QTest::newRow("SIGINT") << VBoard::Options{.blockDelayMs = 5} << com3 << int(During::Interrupt) << 10 << 130 << -2;
        QTest::newRow("refused image") << VBoard::Options{} << com3 + QStringList{"@empty"} << 0 << 0 << 3 << 0;
        // clang-format on
    }

    void exitCodes()
    {
        QFETCH(VBoard::Options, board);
        QFETCH(QStringList, args);
        QFETCH(int, during);
        QFETCH(int, atBlock);
        QFETCH(int, code);
        QFETCH(int, received);
        CliRig rig(board);
        const QByteArray image = testImage(40000);
        QString file = rig.writeFile("fw.bin", image);
        if (args.removeAll("@empty"))
            file = rig.writeFile("empty.bin", QByteArray());
        args.replaceInStrings("@slave", rig.board->slavePath());
        QCOMPARE(rig.run(QStringList{"flash", file, "--json"} + args, During(during), atBlock),
                 code);

        // What the board took: all (-1), a given prefix, or (-2) a prefix cut short mid-run.
        const QByteArray took = rig.board->board().image();
        if (received == -2)
            QVERIFY(took.size() >= atBlock * 1024 && took.size() < image.size() &&
                    image.startsWith(took));
        else
            QCOMPARE(took, received == -1 ? image : image.left(received));

        const QList<QJsonObject> events = rig.cli->events();
        qint64 lastBlock = -1; // every line one JSON object naming its port, blocks in order
        for (const QJsonObject &e : events) {
            QVERIFY(e.contains("port") && e.contains("event"));
            if (e["event"] == "progress")
                QCOMPARE(e["block"].toInteger(), ++lastBlock);
        }
        const QJsonObject end = events.last();
        QVERIFY(end["event"] == "end" && end["exit_code"] == code);
        QCOMPARE(end["outcome"] == "success", code == 0);
        QCOMPARE(rig.cli->err.isEmpty(), code == 0); // a failure is always told on stderr
        if (code == 0)
            QCOMPARE(events.first()["sha256"].toString(),
                     QString(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()));
        if (During(during) != During::Unplug) { // whatever the end, the port is free again
            const PortLock::Claim after = PortLock::claimDevice(rig.board->slavePath());
            QCOMPARE(int(after.status), int(PortLock::Status::Claimed));
            ::close(after.fd);
        }
    }

    void sameBytesAsTheWindow_data()
    {
        QTest::addColumn<bool>("autoReset");
        QTest::addColumn<int>("length");
        QTest::newRow("1500, no reset") << false << 1500;
        QTest::newRow("70000, auto reset") << true << 70000;
    }

    void sameBytesAsTheWindow()
    {
        QFETCH(bool, autoReset);
        QFETCH(int, length);
        const QByteArray image = testImage(length);
        const VBoard::Options board{.autoResetOnly = autoReset, .answerRequest = 2};

        // The window's choices go to its settings file, which the command line then uses.
        E2eRig window(board);
        window.form->downloadRateBox->setCurrentIndex(2); // 38400, chosen as a list click does
        window.form->onDownloadRatePicked();
        window.form->resetRateBox->setCurrentIndex(5); // 38400
        window.form->onResetRatePicked();
        window.setAutoReset(autoReset);
        window.load(image);
        window.click();
        window.runToEnd(1000);
        QCOMPARE(window.status(), success);

        CliRig cli(board);
        QVERIFY(QFile::copy(vantrelSettingsPath(window.config),
                            vantrelSettingsPath(cli.home.filePath("vantrel"))));
        QCOMPARE(cli.run({"flash", cli.writeFile("fw.bin", image), "--port", "COM3"}), 0);
        const QByteArray sent = afterConnectRequests(cli.board->received());
        QVERIFY(!sent.isEmpty());
        QCOMPARE(sent, afterConnectRequests(window.board->received()));
        QCOMPARE(cli.board->board().image(), image);
        const QByteArray &out = cli.cli->out;
        QVERIFY(
            out.contains(autoReset ? "at 38400 baud, reset request at 38400" : "at 38400 baud\n"));
    }

    void traceHoldsEveryByte()
    {
        CliRig rig({.fault = Fault::StrayByte});
        const QByteArray image = testImage(5000);
        const QString trace = rig.home.filePath("run.trace");
        QCOMPARE(
            rig.run({"flash", rig.writeFile("fw.bin", image), "-pCOM3", "--trace", trace, "-q"}),
            0);
        QVERIFY(rig.cli->out.isEmpty()); // --quiet: nothing but errors
        QByteArray sent, steps;
        QByteArray *into = nullptr;
        qint64 lastUs = 0;
        for (const QByteArray &line : fileBytes(trace).split('\n')) {
            const QList<QByteArray> w = line.simplified().split(' ');
            if (line.isEmpty() || line.startsWith('#'))
                continue;
            const bool more = w[0].startsWith('+'); // a continuation: offset, then bytes
            if (!more) {
                QVERIFY(w[0].toLongLong() >= lastUs); // monotonic
                lastUs = w[0].toLongLong();
                into = w[1] == "TX" ? &sent : nullptr;
                steps += w[1] == "STEP" ? w[2] : QByteArray();
            }
            if (into && (more || !(w.size() > 3 && w[3] == "bytes")))
                *into += QByteArray::fromHex(w.mid(more ? 1 : 2).join());
        }
        QCOMPARE(sent, rig.board->received());
        QCOMPARE(steps, QByteArray("12340"));
    }

    // A bad line: status 2, its error on stderr; a good one: its ports, one spelling, in order,
    // once.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("bad");
        QTest::addColumn<QString>("said"); // the error, or the ports joined by ','
        // clang-format off
        QTest::newRow("no command") << QStringList{} << true << "no command";
        QTest::newRow("unknown option") << QStringList{"flash", "x.bin", "--bogus"} << true << "'--bogus'";
        QTest::newRow("value missing") << QStringList{"flash", "x.bin", "--port"} << true << "'--port'";
        QTest::newRow("bad rate") << QStringList{"flash", "x.bin", "-p", "COM1", "--baud=fast"} << true << "'fast'";
        QTest::newRow("zero timeout") << QStringList{"flash", "x", "-pCOM1", "--done-timeout", "0"} << true << "--done-timeout";
        QTest::newRow("two images") << QStringList{"flash", "a", "b", "-pCOM1"} << true << "'b'";
        QTest::newRow("ports takes --json only") << QStringList{"ports", "--baud", "9600"} << true << "ports: only --json applies";
        QTest::newRow("convert takes three") << QStringList{"convert", "a", "b", "-pCOM1"} << true << "convert: only --base, --raw, --json and --quiet apply";
        QTest::newRow("report is the station's") << QStringList{"flash", "x", "-pCOM1", "--report", "r.csv"} << true << "flash: --report applies to station only";
        QTest::newRow("a switch with a value") << QStringList{"--help=1"} << true << "option '--help' takes no value";
        QTest::newRow("reversed range after the image") << QStringList{"station", "x", "COM3-COM1"} << true << "station: unexpected argument 'COM3-COM1'";
        QTest::newRow("help wins") << QStringList{"flash", "--help", "--bogus"} << false << "";
        QTest::newRow("image after --") << QStringList{"flash", "-pCOM1", "--", "-x.bin"} << false << "COM1";
        QTest::newRow("digits kept") << QStringList{"flash", "x", "-p", "com0999"} << false << "COM0999";
        QTest::newRow("overlapping ranges") << QStringList{"station", "x", "COM1-COM2", "-p", "com2-3"} << false << "COM2,COM3,COM1";
        QTest::newRow("a device") << QStringList{"flash", "x", "-p", "/dev/ttyUSB0"} << false << "/dev/ttyUSB0";
        QTest::newRow("a value that looks like an option") << QStringList{"flash", "x", "--port", "--json"} << false << "--json";
        QTest::newRow("an option that drives the terminal") << QStringList{"flash", "fw.bin", "--x\x1b[2J"} << true << "unknown option '--x\\x1b[2J'";
        QTest::newRow("several traces on stderr") << QStringList{"flash", "fw.bin", "-p/dev/a", "-p/dev/b", "--trace", "-"} << true << "flash: --trace - takes the trace of one board";
        QTest::newRow("ports takes no time limit") << QStringList{"ports", "--json", "--connect-timeout", "1"} << true << "ports: only --json applies";
        // clang-format on
    }

    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, bad);
        QFETCH(QString, said);
        QProcess cli;
        cli.start(CLI_PATH, args);
        QVERIFY(cli.waitForFinished(5000));
        QCOMPARE(cli.exitCode() == 2, bad);
        if (bad)
            QVERIFY2(cli.readAllStandardError().contains(said.toUtf8()), qPrintable(said));
        else
            QCOMPARE(parseCommandLine(args).args.ports.join(u','), said);
    }

    // A name from outside (a link's target) is shown escaped, never sent to the terminal.
    void portsShowNames()
    {
        BoardTray tray;
        tray.plug(3);
        QVERIFY(QFile::link("/nonexistent/\x1b[2J\nCOM9", tray.link(5)));
        CliProcess ports({"ports"});
        QCOMPARE(ports.finish(), 0);
        QVERIFY2(ports.out.contains("/nonexistent/\\x1b[2J\\nCOM9"), ports.out.constData());
        QVERIFY(!ports.out.contains('\x1b'));
        for (const QByteArray &line : ports.out.trimmed().split('\n'))
            QVERIFY2(line.isEmpty() || line.startsWith("COM"), line.constData());
    }

    void noWidgets()
    {
        QProcess ldd;
        ldd.start("ldd", {CLI_PATH});
        QVERIFY(ldd.waitForFinished(5000));
        const QByteArray libs = ldd.readAllStandardOutput();
        QVERIFY2(libs.contains("libQt6Core") && !libs.contains("libQt6Gui"), libs.constData());
    }

    void portsAndDoctor()
    {
        // A system of its own: an FTDI adapter with a slow latency timer, brltty, ModemManager.
        QTemporaryDir root;
        const auto mk = [&](const QString &path, const QByteArray &content = {}) {
            QDir().mkpath(QFileInfo(root.filePath(path)).path());
            writeBytes(root.filePath(path), content);
        };
        SystemPaths paths{root.filePath("dev"),  root.filePath("sys"), root.filePath("proc"),
                          root.filePath("lock"), root.filePath("etc"), {root.filePath("lib")}};
        PtyPeer tty; // stands in for the adapter's device
        const QString usb = "sys/devices/usb1/1-2";
        mk(usb + "/idVendor", "0403\n");
        mk(usb + "/idProduct", "6001\n");
        mk(usb + "/serial", "A50285BI\n");
        mk(usb + "/1-2:1.0/ttyUSB0/latency_timer", "16\n");
        const QString tty0 = QFileInfo(tty.slavePath()).fileName();
        QDir().mkpath(root.filePath("sys/class/tty/" + tty0));
        QFile::link(root.filePath(usb + "/1-2:1.0/ttyUSB0"),
                    root.filePath("sys/class/tty/" + tty0 + "/device"));
        QDir().mkpath(root.filePath("dev/serial/by-id"));
        QFile::link(tty.slavePath(), root.filePath("dev/serial/by-id/usb-FTDI_FT232R-if00-port0"));
        mk("lib/85-brltty.rules");
        mk("proc/4242/comm", "ModemManager\n");

        PortInfo p = describeDevice("COM1", tty.slavePath(), paths);
        QVERIFY(p.state == PortInfo::State::Free && p.latencyTimer == 16);
        QCOMPARE(p.byId + " " + p.usbVendor + ":" + p.usbProduct + " " + p.usbSerial,
                 "usb-FTDI_FT232R-if00-port0 0403:6001 A50285BI");
        {
            const PortLock::Claim held = PortLock::claimDevice(tty.slavePath());
            QCOMPARE(describeDevice("COM1", tty.slavePath(), paths).state, PortInfo::State::Busy);
            ::close(held.fd);
        }
        p.state = PortInfo::State::NotPermitted; // as for a user outside the device's group
        QStringList ids;
        for (const Finding &f : diagnose({p}, paths))
            ids << f.id;
        QCOMPARE(ids, QStringList({"group", "modemmanager", "brltty", "latency"}));
        mk("etc/85-brltty.rules"); // masked locally
        QCOMPARE(diagnose({}, paths).size(), 1);
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"

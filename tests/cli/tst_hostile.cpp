// vantrel-cli among things it does not control: it must neither hang nor end with 0 on a fault.
#include "cliprocess.h"
#include "wire.h"

#include <QDir>
#include <QJsonArray>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// One Intel HEX record, checksum included.
QByteArray record(int type, quint16 address, const QByteArray &data)
{
    QByteArray r = QByteArray(1, char(data.size())) + char(address >> 8) + char(address);
    r += char(type) + data;
    quint8 sum = 0;
    for (char c : r)
        sum -= quint8(c);
    return ':' + (r + char(sum)).toHex().toUpper() + '\n';
}

// An Intel HEX image of `segments` full 64 KiB segments at 0x08000000.
QByteArray hexImage(int segments)
{
    QByteArray segment;
    for (int at = 0; at < 0x10000; at += 16)
        segment += record(0, quint16(at), testImage(16));
    QByteArray text;
    for (int s = 0; s < segments; ++s)
        text += record(4, 0, QByteArray().append(char((0x800 + s) >> 8)).append(char(0x800 + s))) +
                segment;
    return text + record(1, 0, {});
}

// True once `pid` has a handler of its own for `signalNumber`.
bool catches(qint64 pid, int signalNumber)
{
    for (const QByteArray &line : fileBytes(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1;
    return false;
}

// Plugs a board on each COM port and returns the arguments that name them.
QStringList plugAll(BoardTray &tray, const QList<int> &coms, const VBoard::Options &options = {})
{
    QStringList args;
    for (int com : coms) {
        tray.plug(com, options);
        args << QStringLiteral("-pCOM%1").arg(com);
    }
    return args;
}

// A field of each end object; "-" where it is missing.
QStringList ends(const CliProcess &cli, const QString &field)
{
    QStringList values;
    for (const QJsonObject &e : cli.events())
        if (e["event"].toString() == "end")
            values << e[field].toString("-");
    return values;
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT
private slots:
    void lockFolderEntries_data()
    {
        QTest::addColumn<QString>("entry"); // what stands in the lock folder
        QTest::addColumn<QString>("name");  // %1: the terminal's number
        QTest::addColumn<bool>("system");   // the system's lock folder, made private to the run
        QTest::addColumn<QString>("state"); // what `ports` says of the port
        QTest::addColumn<int>("flashCode");
        QTest::addColumn<QString>("message"); // how the last event's message ends
        // clang-format off
        QTest::newRow("FIFO, Qt's name") << "fifo" << "LCK..pts_%1" << false << "free" << 0 << "";
        QTest::newRow("FIFO, UUCP name") << "fifo" << "LCK..%1" << false << "free" << 0 << "";
        QTest::newRow("folder") << "folder" << "LCK..pts_%1" << false << "free" << 0 << "";
        QTest::newRow("link to a live lock") << "link" << "LCK..pts_%1" << false << "free" << 0 << "";
        QTest::newRow("live lock") << "live" << "LCK..pts_%1" << false << "busy" << 4 << "";
        QTest::newRow("live lock, UUCP name") << "live" << "LCK..%1" << false << "busy" << 4 << "";
        QTest::newRow("dead lock") << "dead" << "LCK..pts_%1" << false << "free" << 0 << "";
        QTest::newRow("FIFO in the system's folder") << "fifo" << "LCK..pts_%1" << true << "free" << 4 << "/LCK..pts_%1 is not a regular file";
        // clang-format on
    }

    // Only a regular file is a lock; anything else is passed over at once, and never removed.
    void lockFolderEntries()
    {
        QFETCH(QString, entry);
        QFETCH(QString, name);
        QFETCH(bool, system);
        if (system && QProcess::execute("unshare", {"-m", "mount", "--bind", "/tmp", "/run/lock"}))
            QSKIP("needs unshare(1) and the right to mount in a namespace of its own");
        BoardTray tray;
        PtyBoard &board = tray.plug(3);
        const QString locks = tray.home.filePath("locks");
        QVERIFY(QDir().mkpath(locks));
        const QString pts = board.slavePath().mid(board.slavePath().lastIndexOf('/') + 1);
        const QString lock = locks + '/' + name.arg(pts);
        const QString live = tray.writeFile("live", QByteArray::number(::getpid()) + '\n');
        if (entry == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(lock).constData(), 0644), 0);
        else if (entry == "folder")
            QVERIFY(QDir().mkpath(lock));
        else if (entry == "link")
            QVERIFY(QFile::link(live, lock));
        else
            writeBytes(lock, entry == "live" ? fileBytes(live) : QByteArray("  999999999\n"));
        const auto prepare = [&](QProcess &p) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            if (!system)
                env.insert("VANTREL_LOCK_DIR", locks);
            p.setProcessEnvironment(env);
            if (system) { // where Qt's serial port keeps its own lock file
                const QString inPrivate = R"(mount --bind "$1" /run/lock && shift && exec "$@")";
                p.setArguments(QStringList{"-m", "sh", "-c", inPrivate, "sh", locks, p.program()} +
                               p.arguments());
                p.setProgram("unshare");
            }
        };
        CliProcess ports({"ports", "--json"}, prepare);
        QCOMPARE(ports.finish(), 0);
        QString state;
        for (const QJsonValue &p : ports.events().last()["ports"].toArray())
            if (p["port"].toString() == "COM3")
                state = p["state"].toString();
        QTEST(state, "state");

        const QByteArray image = testImage(3000);
        CliProcess flash({"flash", tray.writeFile("fw.bin", image), "-pCOM3", "--json"}, prepare);
        QTEST(flash.finish(), "flashCode");
        const bool ok = flash.p.exitCode() == 0;
        QFETCH(QString, message);
        QVERIFY2(flash.events().last()["message"].toString().endsWith(message.replace("%1", pts)),
                 flash.out);
        QCOMPARE(board.board().image() == image, ok);
        QCOMPARE(board.received().isEmpty(), !ok);
        QVERIFY(QFileInfo(lock).exists());
    }

    void traceTargets_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QList<int>>("coms");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("said");    // on standard error, once per board
        QTest::addColumn<QString>("traceError"); // in each end object; "-": none
        const QList<int> one{3}, two{3, 4};
        // clang-format off
        QTest::newRow("FIFO without a reader") << "@fifo" << one << 2 << QByteArray("cannot write @fifo: not a regular file") << "-";
        QTest::newRow("FIFO with a reader") << "@fifo+reader" << one << 2 << QByteArray("not a regular file") << "-";
        QTest::newRow("device") << "/dev/null" << one << 2 << QByteArray("cannot write /dev/null: not a regular file") << "-";
        QTest::newRow("link to a device") << "@link" << one << 2 << QByteArray("not a regular file") << "-";
        QTest::newRow("folder") << "@home" << one << 2 << QByteArray("not a regular file") << "-";
        QTest::newRow("no such folder") << "@home/none/run.trace" << one << 2 << QByteArray("No such file or directory") << "-";
        QTest::newRow("standard error") << "-" << one << 0 << QByteArray("STEP 4 completion") << "-";
        QTest::newRow("cut short by the size limit") << "@limit" << one << 0 << QByteArray("was cut short: File too large") << "File too large";
        QTest::newRow("cut short, two boards") << "@limit" << two << 0 << QByteArray("was cut short: File too large") << "File too large";
        // clang-format on
    }

    // The trace goes to a regular file or standard error; anything else is refused before the
    // port is touched, and left as it was. One cut short is told, and the downloads count.
    void traceTargets()
    {
        QFETCH(QString, target);
        QFETCH(QList<int>, coms);
        QFETCH(QByteArray, said);
        BoardTray tray;
        const QString fifo = tray.home.filePath("fifo"), link = tray.home.filePath("link");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        QVERIFY(QFile::link("/dev/null", link));
        const int reader = target == "@fifo+reader"
                               ? ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK)
                               : -1;
        auto closeReader = qScopeGuard([reader] { ::close(reader); });
        const bool limited = target == "@limit";
        target.replace("@fifo+reader", fifo).replace("@fifo", fifo).replace("@link", link);
        target.replace("@home", tray.home.path()).replace("@limit", tray.home.filePath("run"));
        said.replace("@fifo", QFile::encodeName(fifo));
        const QByteArray image = testImage(40000);
        const QString fw = tray.writeFile("fw.bin", image);
        CliProcess cli(QStringList{"flash", fw, "--json", "--trace", target} + plugAll(tray, coms),
                       [limited](QProcess &p) {
                           if (limited)
                               p.setChildProcessModifier([] {
                                   ::signal(SIGXFSZ, SIG_IGN);
                                   const rlimit limit{4096, 4096};
                                   ::setrlimit(RLIMIT_FSIZE, &limit);
                               });
                       });
        QTEST(cli.finish(), "code");
        QVERIFY2(cli.err.count(said) == coms.size(), cli.err.constData());
        QFETCH(QString, traceError);
        QCOMPARE(ends(cli, "trace_error"), QStringList(coms.size(), traceError));
        for (int com : coms)
            QCOMPARE(tray.board(com).board().image() == image, cli.p.exitCode() == 0);
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
        QCOMPARE(fileBytes("/dev/null"), QByteArray());
    }

    void signalDuringRun_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QList<int>>("coms");
        QTest::addColumn<bool>("reading"); // the signal comes while a large image is read
        QTest::addColumn<bool>("ignored"); // when the program starts, as nohup leaves it
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("outcome");
        const QList<int> one{3};
        // clang-format off
        QTest::newRow("SIGINT while reading") << int(SIGINT) << one << true << false << 130 << "interrupted";
        QTest::newRow("SIGTERM while reading") << int(SIGTERM) << one << true << false << 143 << "terminated";
        QTest::newRow("SIGHUP while reading") << int(SIGHUP) << one << true << false << 129 << "terminated";
        QTest::newRow("SIGINT while reading, two boards") << int(SIGINT) << QList<int>{3, 4} << true << false << 130 << "interrupted";
        QTest::newRow("SIGHUP while downloading") << int(SIGHUP) << one << false << false << 129 << "terminated";
        QTest::newRow("SIGHUP under nohup") << int(SIGHUP) << one << false << true << 0 << "success";
        QTest::newRow("SIGINT in a background job") << int(SIGINT) << one << false << true << 0 << "success";
        // clang-format on
    }

    // A signal ends the run with its status and an end object per board, from the program's
    // first instruction on (not a byte goes out while the image is read); one ignored when the
    // program started stays ignored.
    void signalDuringRun()
    {
        QFETCH(int, signalNumber);
        QFETCH(QList<int>, coms);
        QFETCH(bool, reading);
        QFETCH(bool, ignored);
        QFETCH(QString, outcome);
        BoardTray tray;
        const QByteArray image = testImage(40000);
        const QString fw =
            reading ? tray.writeFile("big.hex", hexImage(320)) : tray.writeFile("fw.bin", image);
        const QStringList ports = plugAll(tray, coms, {.blockDelayMs = 5});
        CliProcess cli(QStringList{"flash", fw, "--json"} + ports, [&](QProcess &p) {
            if (ignored)
                p.setChildProcessModifier([signalNumber] { ::signal(signalNumber, SIG_IGN); });
        });
        QVERIFY(cli.p.waitForStarted()); // past exec: before it, the handlers are the test's
        PtyBoard &board = tray.board(coms[0]);
        bool sent = false;
        const int code = cli.finish([&] {
            if (!sent && (reading ? catches(cli.p.processId(), signalNumber)
                                  : board.board().blocksReceived() >= 10)) {
                sent = true;
                cli.signal(signalNumber);
            }
        });
        QVERIFY(sent);
        QTEST(code, "code");
        QCOMPARE(ends(cli, "outcome"), QStringList(coms.size(), outcome));
        QCOMPARE(board.board().image() == image, code == 0);
        for (int com : coms)
            QCOMPARE(tray.board(com).received().isEmpty(), reading);
        if (reading && coms.size() == 1) // its port not even opened
            QVERIFY(!cli.out.contains("\"start\""));
    }

    void closedDescriptors_data()
    {
        QTest::addColumn<QList<int>>("closed");
        QTest::addColumn<bool>("station"); // else one flash
        for (bool station : {false, true}) {
            const char *command = station ? "station, " : "flash, ";
            QTest::addRow("%sstdin", command) << QList<int>{0} << station;
            QTest::addRow("%sstdout", command) << QList<int>{1} << station;
            QTest::addRow("%sstderr", command) << QList<int>{2} << station;
            QTest::addRow("%sstdin and stdout", command) << QList<int>{0, 1} << station;
            QTest::addRow("%sall three", command) << QList<int>{0, 1, 2} << station;
        }
    }

    // Without its standard descriptors the program still downloads to its end: no pipe or file
    // of its own takes their place, and a station's report holds its header and a row per board.
    void closedDescriptors()
    {
        QFETCH(QList<int>, closed);
        QFETCH(bool, station);
        BoardTray tray;
        const QByteArray image = testImage(20000);
        const QString fw = tray.writeFile("fw.bin", image), report = tray.home.filePath("r.csv");
        plugAll(tray, {1, 2});
        CliProcess cli(station ? QStringList{"station", fw, "--all", "--report", report}
                               : QStringList{"flash", fw, "-pCOM1", "--json"},
                       [closed](QProcess &p) {
                           p.setChildProcessModifier([closed] {
                               for (int fd : closed)
                                   ::close(fd);
                           });
                       });
        if (station) { // it ends on SIGINT only
            QVERIFY(waitUntil([&] { return fileBytes(report).count('\n') >= 3; }));
            cli.signal(SIGINT);
        }
        QCOMPARE(cli.finish(), 0);
        QCOMPARE(tray.board(1).board().image(), image);
        if (!station && !closed.contains(1))
            QCOMPARE(cli.events().last()["outcome"].toString(), QStringLiteral("success"));
        const QList<QByteArray> lines = fileBytes(report).trimmed().split('\n');
        QCOMPARE(lines.size(), station ? 3 : 1);
        QVERIFY(!station || lines[0].startsWith("time,port,"));
        for (const QByteArray &line : lines.mid(1))
            QVERIFY2(line.trimmed().split(',').size() == 10 && line.contains(",success,0,"), line);
    }

    void fullOutput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("code");
        // clang-format off
        QTest::newRow("ports --json") << QStringList{"ports", "--json"} << "/dev/full" << 1;
        QTest::newRow("ports") << QStringList{"ports"} << "/dev/full" << 1;
        QTest::newRow("--help") << QStringList{"--help"} << "/dev/full" << 1;
        QTest::newRow("--version") << QStringList{"--version"} << "/dev/full" << 1;
        QTest::newRow("convert --json") << QStringList{"convert", "@image", "@out", "--json"} << "/dev/full" << 1;
        QTest::newRow("flash --json") << QStringList{"flash", "@image", "-pCOM3", "--json"} << "/dev/full" << 1;
        QTest::newRow("flash that fails keeps its status") << QStringList{"flash", "@image", "-pCOM9", "--json"} << "/dev/full" << 4;
        QTest::newRow("ports --json, writable") << QStringList{"ports", "--json"} << "/dev/null" << 0;
        QTest::newRow("flash --json, writable") << QStringList{"flash", "@image", "-pCOM3", "--json"} << "/dev/null" << 0;
        // clang-format on
    }

    // Output that cannot be written is a failure, told on standard error, as GNU tools do.
    void fullOutput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, output);
        BoardTray tray;
        PtyBoard &board = tray.plug(3);
        const QByteArray image = testImage(3000);
        args.replaceInStrings("@image", tray.writeFile("fw.bin", image));
        args.replaceInStrings("@out", tray.home.filePath("out.bin"));
        CliProcess cli(args, [&](QProcess &p) { p.setStandardOutputFile(output); });
        QTEST(cli.finish(), "code");
        QCOMPARE(cli.err.contains("write error on standard output"), output == "/dev/full");
        if (args.contains("-pCOM3")) // the download itself went through
            QCOMPARE(board.board().image(), image);
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"

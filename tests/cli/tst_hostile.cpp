// vantrel-cli among things it does not control: odd entries in the lock folder, a trace named
// after a FIFO or a device, signals early or ignored, closed standard descriptors and an
// output that cannot be written. Nothing of it may hang the program or end it with status 0
// when something went wrong.
#include "cliprocess.h"
#include "wire.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(std::function<void()>)

namespace
{

// A 16-byte-per-record Intel HEX image of `bytes` bytes (a multiple of 16) at 0x08000000.
QByteArray hexImage(qint64 bytes)
{
    QByteArray text;
    text.reserve(bytes / 16 * 44 + bytes / 65536 * 17 + 16);
    const auto record = [&](int type, quint16 address, const QByteArray &data) {
        QByteArray r;
        r.append(char(data.size())).append(char(address >> 8)).append(char(address & 0xff));
        r.append(char(type)).append(data);
        quint8 sum = 0;
        for (char c : r)
            sum += quint8(c);
        r.append(char(quint8(-sum)));
        text += ':' + r.toHex().toUpper() + '\n';
    };
    QByteArray data(16, '\0');
    for (int i = 0; i < 16; ++i)
        data[i] = char(i * 17);
    for (qint64 at = 0; at < bytes; at += 16) {
        const quint32 address = 0x08000000 + quint32(at);
        if ((address & 0xffff) == 0)
            record(4, 0, QByteArray(1, char(address >> 24)).append(char(address >> 16)));
        record(0, quint16(address), data);
    }
    record(1, 0, {});
    return text;
}

// True once `pid` has a handler of its own for `signalNumber` (its /proc status says so).
bool catches(qint64 pid, int signalNumber)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1;
    return false;
}

// Starts the program with the descriptors `closed` closed.
std::function<void(QProcess &)> closing(const QList<int> &closed)
{
    return [closed](QProcess &p) {
        p.setChildProcessModifier([closed] {
            for (int fd : closed)
                ::close(fd);
        });
    };
}

QJsonObject lastEvent(const CliProcess &cli)
{
    const QList<QJsonObject> events = cli.events();
    return events.isEmpty() ? QJsonObject() : events.last();
}

bool hasEvent(const CliProcess &cli, const QString &name)
{
    for (const QJsonObject &e : cli.events())
        if (e["event"].toString() == name)
            return true;
    return false;
}

// The state `ports --json` gives `port`, "" when it lists no such port.
QString portState(const CliProcess &cli, const QString &port)
{
    for (const QJsonValue &p : lastEvent(cli)["ports"].toArray())
        if (p["port"].toString() == port)
            return p["state"].toString();
    return QString();
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT
private slots:
    void lockFolderEntries_data()
    {
        QTest::addColumn<QString>("entry"); // what stands in the lock folder
        QTest::addColumn<bool>("qtName");   // LCK..pts_N, else the UUCP name LCK..N
        QTest::addColumn<int>("flashCode");
        QTest::addColumn<QString>("state"); // what `ports` says of the port
        // clang-format off
        QTest::newRow("FIFO, Qt's name") << "fifo" << true << 0 << "free";
        QTest::newRow("FIFO, UUCP name") << "fifo" << false << 0 << "free";
        QTest::newRow("folder") << "folder" << true << 0 << "free";
        QTest::newRow("link to a live lock") << "link" << true << 0 << "free";
        QTest::newRow("live lock") << "live" << true << 4 << "busy";
        QTest::newRow("live lock, UUCP name") << "live" << false << 4 << "busy";
        QTest::newRow("dead lock") << "dead" << true << 0 << "free";
        // clang-format on
    }

    // Only a regular file is a lock; anything else there is passed over, at once.
    void lockFolderEntries()
    {
        QFETCH(QString, entry);
        QFETCH(bool, qtName);
        BoardTray tray;
        PtyBoard &board = tray.plug(3);
        const QString locks = tray.home.filePath("locks");
        QVERIFY(QDir().mkpath(locks));
        const QString pts = board.slavePath().mid(board.slavePath().lastIndexOf('/') + 1);
        const QString lock = locks + (qtName ? "/LCK..pts_" : "/LCK..") + pts;
        const QString live = tray.writeFile("live", QByteArray::number(::getpid()) + '\n');
        if (entry == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(lock).constData(), 0644), 0);
        else if (entry == "folder")
            QVERIFY(QDir().mkpath(lock));
        else if (entry == "link")
            QVERIFY(QFile::link(live, lock));
        else
            writeBytes(lock, entry == "live" ? fileBytes(live) : QByteArray("  999999999\n"));
        qputenv("VANTREL_LOCK_DIR", QFile::encodeName(locks));
        auto unset = qScopeGuard([] { qunsetenv("VANTREL_LOCK_DIR"); });

        CliProcess ports({"ports", "--json"});
        QCOMPARE(ports.finish(), 0);
        QTEST(portState(ports, "COM3"), "state");

        const QByteArray image = testImage(3000);
        CliProcess flash({"flash", tray.writeFile("fw.bin", image), "-pCOM3", "--json"});
        QTEST(flash.finish(), "flashCode");
        QCOMPARE(board.board().image() == image, lastEvent(flash)["exit_code"].toInt() == 0);
        QVERIFY(QFileInfo(lock).exists()); // never removed: it is not ours
    }

    // A FIFO where Qt's serial port keeps its own lock file (the system's lock folder, made
    // private to the run): the port is refused at once, with the reason, and left alone.
    void fifoInSystemLockFolder()
    {
        if (QProcess::execute("unshare", {"-m", "mount", "--bind", "/tmp", "/run/lock"}) != 0)
            QSKIP("needs unshare(1) and the right to mount in a namespace of its own");
        BoardTray tray;
        PtyBoard &board = tray.plug(3);
        const QString locks = tray.home.filePath("locks");
        QVERIFY(QDir().mkpath(locks));
        const QString pts = board.slavePath().mid(board.slavePath().lastIndexOf('/') + 1);
        const QString fifo = locks + "/LCK..pts_" + pts;
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        const QString inPrivate = "mount --bind \"$1\" /run/lock && shift && exec \"$@\"";
        CliProcess cli({}, [&](QProcess &p) {
            p.setProgram("unshare");
            p.setArguments({"-m", "sh", "-c", inPrivate, "sh", locks, CLI_PATH, "flash",
                            tray.writeFile("fw.bin", testImage(3000)), "-pCOM3", "--json"});
        });
        QCOMPARE(cli.finish(), 4);
        QVERIFY2(lastEvent(cli)["message"].toString().endsWith(
                     QStringLiteral("/LCK..pts_%1 is not a regular file").arg(pts)),
                 cli.out.constData());
        QCOMPARE(board.received(), QByteArray());
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    }

    void traceTargets_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("said"); // on standard error
        // clang-format off
        QTest::newRow("FIFO without a reader") << "@fifo" << 2 << QByteArray("cannot write @fifo: not a regular file");
        QTest::newRow("FIFO with a reader") << "@fifo+reader" << 2 << QByteArray("not a regular file");
        QTest::newRow("device") << "/dev/null" << 2 << QByteArray("cannot write /dev/null: not a regular file");
        QTest::newRow("link to a device") << "@link" << 2 << QByteArray("not a regular file");
        QTest::newRow("folder") << "@home" << 2 << QByteArray("not a regular file");
        QTest::newRow("no such folder") << "@home/none/run.trace" << 2 << QByteArray("No such file or directory");
        QTest::newRow("standard error") << "-" << 0 << QByteArray("STEP 4 completion");
        // clang-format on
    }

    // The trace goes to a regular file or standard error; anything else is refused before the
    // port is touched, and the thing named is left as it was.
    void traceTargets()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, said);
        BoardTray tray;
        PtyBoard &board = tray.plug(3);
        const QString fifo = tray.home.filePath("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        QVERIFY(QFile::link("/dev/null", tray.home.filePath("link")));
        int reader = -1;
        if (target == "@fifo+reader")
            reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        auto closeReader = qScopeGuard([reader] {
            if (reader >= 0)
                ::close(reader);
        });
        target.replace("@fifo+reader", fifo).replace("@fifo", fifo);
        target.replace("@link", tray.home.filePath("link")).replace("@home", tray.home.path());
        said.replace("@fifo", QFile::encodeName(fifo));

        const QByteArray image = testImage(3000);
        CliProcess cli(
            {"flash", tray.writeFile("fw.bin", image), "-pCOM3", "-q", "--trace", target});
        QTEST(cli.finish(), "code");
        QVERIFY2(cli.err.contains(said), cli.err.constData());
        QCOMPARE(board.board().image().isEmpty(), cli.p.exitCode() != 0);
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
        QCOMPARE(fileBytes("/dev/null"), QByteArray());
    }

    void traceCutShort_data()
    {
        QTest::addColumn<QStringList>("ports");
        QTest::newRow("one board") << QStringList{"COM3"};
        QTest::newRow("two boards") << QStringList{"COM3", "COM4"};
    }

    // A trace that cannot be written to its end (here: the file size limit) is told on standard
    // error and in each end object; the downloads themselves go on and count.
    void traceCutShort()
    {
        QFETCH(QStringList, ports);
        BoardTray tray;
        const QByteArray image = testImage(40000);
        QStringList args{"flash", tray.writeFile("fw.bin", image), "--json", "--trace",
                         tray.home.filePath("run.trace")};
        for (const QString &port : ports) {
            tray.plug(port.mid(3).toInt());
            args << "--port" << port;
        }
        CliProcess cli(args, [](QProcess &p) {
            p.setChildProcessModifier([] {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{4096, 4096};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            });
        });
        QCOMPARE(cli.finish(), 0);
        QCOMPARE(cli.err.count("was cut short: File too large"), ports.size());
        int ends = 0;
        for (const QJsonObject &e : cli.events()) {
            if (e["event"].toString() != "end")
                continue;
            ++ends;
            QCOMPARE(e["trace_error"].toString(), QStringLiteral("File too large"));
            QCOMPARE(e["outcome"].toString(), QStringLiteral("success"));
        }
        QCOMPARE(ends, ports.size());
        for (const QString &port : ports)
            QCOMPARE(tray.board(port.mid(3).toInt()).board().image(), image);
    }

    void signalWhileReading_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("outcome");
        const QStringList one{"COM3"}, two{"COM3", "COM4"};
        QTest::newRow("SIGINT") << int(SIGINT) << one << 130 << "interrupted";
        QTest::newRow("SIGTERM") << int(SIGTERM) << one << 143 << "terminated";
        QTest::newRow("SIGHUP") << int(SIGHUP) << one << 129 << "terminated";
        QTest::newRow("SIGINT, two boards") << int(SIGINT) << two << 130 << "interrupted";
    }

    // A signal that comes while a large image is still being read ends the run as its own:
    // its status and an end object for each board, and not a byte goes out (one board's port
    // is not even opened).
    void signalWhileReading()
    {
        QFETCH(int, signalNumber);
        QFETCH(QStringList, ports);
        BoardTray tray;
        QStringList args{"flash", tray.writeFile("big.hex", hexImage(qint64(20) << 20)), "--json"};
        for (const QString &port : ports) {
            tray.plug(port.mid(3).toInt());
            args << "--port" << port;
        }
        CliProcess cli(args);
        QVERIFY(cli.p.waitForStarted());
        const qint64 pid = cli.p.processId();
        QVERIFY(waitUntil([&] { return catches(pid, signalNumber); }, 10000));
        cli.signal(signalNumber);
        QTEST(cli.finish(), "code");
        QStringList outcomes;
        for (const QJsonObject &e : cli.events())
            if (e["event"].toString() == "end")
                outcomes << e["outcome"].toString();
        QFETCH(QString, outcome);
        QCOMPARE(outcomes, QStringList(ports.size(), outcome));
        if (ports.size() == 1)
            QVERIFY(!hasEvent(cli, "start"));
        for (const QString &port : ports)
            QCOMPARE(tray.board(port.mid(3).toInt()).received(), QByteArray());
    }

    void ignoredSignals_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("ignored"); // when the program starts, as nohup leaves it
        QTest::addColumn<int>("code");
        QTest::newRow("SIGHUP under nohup") << int(SIGHUP) << true << 0;
        QTest::newRow("SIGINT in a background job") << int(SIGINT) << true << 0;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false << 129;
    }

    // A signal that was ignored when the program started stays ignored: the download goes on.
    void ignoredSignals()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, ignored);
        BoardTray tray;
        PtyBoard &board = tray.plug(3, {.blockDelayMs = 5});
        const QByteArray image = testImage(40000);
        CliProcess cli(
            {"flash", tray.writeFile("fw.bin", image), "-pCOM3", "--json"}, [&](QProcess &p) {
                if (ignored)
                    p.setChildProcessModifier([signalNumber] { ::signal(signalNumber, SIG_IGN); });
            });
        bool sent = false;
        const int code = cli.finish([&] {
            if (!sent && board.board().blocksReceived() >= 10) {
                sent = true;
                cli.signal(signalNumber);
            }
        });
        QVERIFY(sent);
        QTEST(code, "code");
        QCOMPARE(board.board().image() == image, code == 0);
    }

    void closedDescriptors_data()
    {
        QTest::addColumn<QList<int>>("closed");
        QTest::newRow("stdin") << QList<int>{0};
        QTest::newRow("stdout") << QList<int>{1};
        QTest::newRow("stderr") << QList<int>{2};
        QTest::newRow("stdin and stdout") << QList<int>{0, 1};
        QTest::newRow("all three") << QList<int>{0, 1, 2};
    }

    // Started with standard descriptors closed, the program still downloads to its end: no
    // pipe or file of its own takes their place.
    void closedDescriptors()
    {
        QFETCH(QList<int>, closed);
        BoardTray tray;
        PtyBoard &board = tray.plug(3);
        const QByteArray image = testImage(40000);
        CliProcess cli({"flash", tray.writeFile("fw.bin", image), "-pCOM3", "--json"},
                       closing(closed));
        QCOMPARE(cli.finish(), 0);
        QCOMPARE(board.board().image(), image);
        if (!closed.contains(1))
            QCOMPARE(lastEvent(cli)["outcome"].toString(), QStringLiteral("success"));
    }

    void stationWithClosedDescriptors_data() { closedDescriptors_data(); }

    // A station started without standard output writes its progress nowhere, never into
    // the report, which holds its header and one row per board; it ends on SIGINT only.
    void stationWithClosedDescriptors()
    {
        QFETCH(QList<int>, closed);
        BoardTray tray;
        tray.plug(1);
        tray.plug(2);
        const QString report = tray.home.filePath("report.csv");
        CliProcess cli(
            {"station", tray.writeFile("fw.bin", testImage(20000)), "--all", "--report", report},
            closing(closed));
        const auto rows = [&] { return fileBytes(report).count('\n') - 1; };
        QVERIFY(waitUntil([&] { return rows() >= 2; }));
        cli.signal(SIGINT);
        QCOMPARE(cli.finish(), 0);
        const QList<QByteArray> lines = fileBytes(report).trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith("time,port,"));
        for (const QByteArray &line : lines.mid(1))
            QVERIFY2(line.trimmed().split(',').size() == 10 && line.contains(",success,0,"),
                     line.constData());
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
        if (args.contains("-pCOM3"))
            QCOMPARE(board.board().image(), image); // the download itself went through
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"

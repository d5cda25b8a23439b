// vantrel-cli against files that are not what they seem: firmware under another format's name,
// outputs that are not files or have no room, a report that runs out of room, names that hold
// characters beyond U+FFFF or control characters. What the board takes, the exit status, the
// messages, the JSON and the files on disk.
#include "cliprocess.h"
#include "ptypeer.h"
#include "wire.h"

#include <QJsonDocument>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr quint32 flashAddress = 0x08004000;

QByteArray bigEndian32(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char(v >> (24 - 8 * i));
    return b;
}

// Intel HEX text of `data` at flashAddress: a linear address record, 16-byte data records, the
// end record.
QByteArray hexText(const QByteArray &data)
{
    QByteArray out;
    const auto record = [&](int type, quint16 offset, const QByteArray &bytes) {
        QByteArray r = char(bytes.size()) + bigEndian32(offset).right(2) + char(type) + bytes;
        uint sum = 0;
        for (const char b : r)
            sum += uchar(b);
        out += ':' + (r + char(-sum)).toHex().toUpper() + "\r\n";
    };
    record(4, 0, bigEndian32(flashAddress).left(2));
    for (qsizetype i = 0; i < data.size(); i += 16)
        record(0, quint16(flashAddress + i), data.mid(i, 16));
    record(1, 0, {});
    return out;
}

// S-record text of `data` at flashAddress: S0, S3 records of 16 bytes, S7.
QByteArray srecText(const QByteArray &data)
{
    QByteArray out;
    const auto record = [&](char type, QByteArray bytes) {
        bytes.prepend(char(bytes.size() + 1));
        uint sum = 0;
        for (const char b : bytes)
            sum += uchar(b);
        out += 'S' + QByteArray(1, type) + (bytes + char(~sum)).toHex().toUpper() + "\r\n";
    };
    record('0', QByteArray("\0\0fw", 4));
    for (qsizetype i = 0; i < data.size(); i += 16)
        record('3', bigEndian32(flashAddress + quint32(i)) + data.mid(i, 16));
    record('7', bigEndian32(flashAddress));
    return out;
}

// The data every firmware file of these tests holds.
QByteArray firmwareData()
{
    return testImage(2500);
}

// A file's content by its kind: "hex", "srec", "elf" (the magic number and random bytes),
// "colon" (a raw image that starts like HEX text but is none).
QByteArray contentOf(const QString &kind)
{
    if (kind == u"hex")
        return hexText(firmwareData());
    if (kind == u"srec")
        return srecText(firmwareData());
    if (kind == u"elf")
        return "\x7F"
               "ELF\x01\x01\x01" +
               testImage(3000);
    return ":10000000" + testImage(600); // no record: binary after the digits
}

bool isCharacterDevice(const QString &path)
{
    struct stat st {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

// A small tmpfs mounted for the test's life (root only), so that a disk really fills up.
struct SmallDisk {
    explicit SmallDisk(const QString &at, const QByteArray &size) : path(at)
    {
        QDir().mkpath(at);
        mounted = ::geteuid() == 0 && ::mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs",
                                              0, ("size=" + size).constData()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
    QString path;
    bool mounted = false;
};

// vantrel-cli run to its end with what it printed; `setup` prepares the process before it
// starts (its standard output, a limit in the child).
struct Finished {
    int code = -1;
    QByteArray out, err;
};
Finished runCli(const QStringList &args, const std::function<void(QProcess &)> &setup = {})
{
    QProcess p;
    if (setup)
        setup(p);
    p.start(QStringLiteral(CLI_PATH), args);
    Finished f;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return f;
    }
    f.out = p.readAllStandardOutput();
    f.err = p.readAllStandardError();
    f.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return f;
}

// A station as its own process, its output gathered as it comes.
struct StationProcess {
    StationProcess(const QStringList &args, qint64 fileSizeLimit = -1)
    {
        if (fileSizeLimit >= 0)
            p.setChildProcessModifier([fileSizeLimit] {
                const struct rlimit limit {
                    rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)
                };
                ::setrlimit(RLIMIT_FSIZE, &limit);
                ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
            });
        p.start(QStringLiteral(CLI_PATH), args);
    }
    void gather()
    {
        out += p.readAllStandardOutput();
        err += p.readAllStandardError();
    }
    int stop()
    {
        ::kill(pid_t(p.processId()), SIGINT);
        waitUntil([&] { return p.state() == QProcess::NotRunning; }, 30000);
        gather();
        return p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit
                   ? p.exitCode()
                   : -1;
    }
    QList<QJsonObject> events(const QString &kind) const
    {
        QList<QJsonObject> list;
        for (const QByteArray &line : out.split('\n'))
            if (const QJsonObject o = QJsonDocument::fromJson(line).object(); o["event"] == kind)
                list << o;
        return list;
    }

    QProcess p;
    QByteArray out, err;
};

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

    // A firmware file of `kind` named `name` in `tray`'s folder.
    static QString firmwareFile(BoardTray &tray, const QString &kind, const QString &name)
    {
        return tray.writeFile(name, contentOf(kind));
    }

private slots:
    // A file whose content is a firmware format other than its name says is never sent as it
    // is: refused with the format found and the ways on. --raw sends any file byte for byte.
    void contentDecides_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("raw");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said"); // in the refusal; "" for a run that succeeds
        const QString hex = "the content is Intel HEX, but the name says %1; rename it to .hex";
        const QString srec = "the content is S-record, but the name says %1; rename it to .srec";
        const QString elf = "the content is ELF, but the name says %1; rename it to .elf";
        const QString raw = "a raw image";
        // clang-format off
        QTest::newRow("flash HEX as .bin") << "hex" << "fw.bin" << "flash" << false << 3 << hex.arg(raw);
        QTest::newRow("flash HEX as .BIN") << "hex" << "FW.BIN" << "flash" << false << 3 << hex.arg(raw);
        QTest::newRow("flash HEX without extension") << "hex" << "firmware" << "flash" << false << 3 << hex.arg(raw);
        QTest::newRow("flash HEX as .s19") << "hex" << "fw.s19" << "flash" << false << 3 << hex.arg("S-record");
        QTest::newRow("flash HEX as .elf") << "hex" << "fw.elf" << "flash" << false << 3 << hex.arg("ELF");
        QTest::newRow("flash S-record as .bin") << "srec" << "fw.bin" << "flash" << false << 3 << srec.arg(raw);
        QTest::newRow("flash S-record as .hex") << "srec" << "fw.hex" << "flash" << false << 3 << srec.arg("Intel HEX");
        QTest::newRow("flash ELF as .bin") << "elf" << "fw.bin" << "flash" << false << 3 << elf.arg(raw);
        QTest::newRow("flash ELF as .hex") << "elf" << "fw.hex" << "flash" << false << 3 << elf.arg("Intel HEX");
        QTest::newRow("flash ELF as .elf.bin") << "elf" << "app.elf.bin" << "flash" << false << 3 << elf.arg(raw);
        QTest::newRow("flash HEX as .bin, raw") << "hex" << "fw.bin" << "flash" << true << 0 << "";
        QTest::newRow("flash ELF as .hex, raw") << "elf" << "fw.hex" << "flash" << true << 0 << "";
        QTest::newRow("flash S-record as .srec, raw") << "srec" << "fw.srec" << "flash" << true << 0 << "";
        QTest::newRow("flash HEX as .hex") << "hex" << "fw.hex" << "flash" << false << 0 << "";
        QTest::newRow("flash binary starting with a colon") << "colon" << "fw.bin" << "flash" << false << 0 << "";
        QTest::newRow("convert HEX as .bin") << "hex" << "fw.bin" << "convert" << false << 3 << hex.arg(raw);
        QTest::newRow("convert S-record as .txt") << "srec" << "fw.txt" << "convert" << false << 3 << srec.arg(raw);
        QTest::newRow("convert ELF as .s37") << "elf" << "fw.s37" << "convert" << false << 3 << elf.arg("S-record");
        QTest::newRow("convert HEX as .bin, raw") << "hex" << "fw.bin" << "convert" << true << 0 << "";
        QTest::newRow("convert S-record as .s19") << "srec" << "fw.s19" << "convert" << false << 0 << "";
        // clang-format on
    }
    void contentDecides()
    {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(QString, command);
        QFETCH(bool, raw);
        QFETCH(int, code);
        QFETCH(QString, said);
        BoardTray tray;
        tray.plug(3);
        const QString file = firmwareFile(tray, kind, name);
        const QString output = tray.home.filePath("out.bin");
        QStringList args{command, file};
        args << (command == u"flash" ? QStringList{"--port", "COM3", "--json"}
                                     : QStringList{output});
        if (raw)
            args << "--raw";
        CliProcess cli(args);
        QCOMPARE(cli.finish(), code);

        const bool converted = code == 0 && !raw && kind != u"colon";
        const QByteArray expected = code != 0   ? QByteArray()
                                    : converted ? firmwareData()
                                                : fileBytes(file);
        if (command == u"flash") {
            QCOMPARE(tray.board(3).board().image(), expected);
            const QJsonObject end = cli.events().last();
            QCOMPARE(end["exit_code"].toInt(), code);
            QVERIFY2(end["message"].toString().contains(said),
                     qPrintable(end["message"].toString()));
            if (code == 0)
                QCOMPARE(cli.events().first()["format"].toString(),
                         QString(converted ? kind == u"hex" ? "intel_hex" : "srecord" : "binary"));
        } else {
            QCOMPARE(fileBytes(output), expected);
        }
        if (code != 0) {
            QVERIFY2(cli.err.contains(said.toUtf8()) &&
                         cli.err.contains("or give --raw to send the file as it is"),
                     cli.err.constData());
            QVERIFY(!QFile::exists(output));
        }
    }

    // Outputs convert must not write through or turn into files; outputs with no room; standard
    // output. Whatever was at the path stays as it was when the command fails.
    void hostileOutputs_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said"); // on standard error
        // clang-format off
        QTest::newRow("a pipe") << "fifo" << 2 << "is a pipe, not a regular file; it is left as it is";
        QTest::newRow("/dev/null") << "/dev/null" << 2 << "/dev/null is a device, not a regular file";
        QTest::newRow("/dev/full") << "/dev/full" << 2 << "/dev/full is a device, not a regular file";
        QTest::newRow("a link to /dev/null") << "link" << 2 << "is a device, not a regular file";
        QTest::newRow("a folder") << "folder" << 2 << "is a folder, not a regular file";
        QTest::newRow("a full disk") << "full disk" << 1 << "No space left on device";
        QTest::newRow("refused image, old file") << "refused" << 3 << "the content is Intel HEX";
        QTest::newRow("old file replaced") << "old file" << 0 << "";
        QTest::newRow("- to a pipe") << "- pipe" << 0 << "";
        QTest::newRow("- to /dev/full") << "- /dev/full" << 1 << "cannot write the image to standard output: No space left on device";
        QTest::newRow("- to a terminal") << "- terminal" << 2 << "standard output is a terminal";
        QTest::newRow("- with --json") << "- json" << 2 << "--json and - both want standard output";
        // clang-format on
    }
    void hostileOutputs()
    {
        QFETCH(QString, setup);
        QFETCH(int, code);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString image = dir.filePath(setup == u"refused" ? "fw.bin" : "fw.hex");
        writeBytes(image, hexText(firmwareData()));
        SmallDisk disk(dir.filePath("disk"), "8k");
        if (setup == u"full disk" && !disk.mounted)
            QSKIP("a full disk needs a tmpfs mounted: run the test as root");
        const QByteArray old = testImage(3000).toHex().left(5000); // fits the small disk
        QString output = dir.filePath("out.bin");
        PtyPeer terminal;
        const std::function<void(QProcess &)> redirect =
            prepare(setup, disk, old, output, terminal);
        QStringList args{"convert", image, output};
        if (setup == u"- json")
            args << "--json";
        const Finished f = runCli(args, redirect);
        QCOMPARE(f.code, code);
        QVERIFY2(f.err.contains(said.toUtf8()), f.err.constData());
        checkAfter(setup, old, output, f, terminal);
    }

    // A row the report cannot take is taken back whole; the station says which row was lost
    // and why, flashes on, and ends with its own exit status.
    void reportShortWrite_data()
    {
        QTest::addColumn<QString>("room"); // "limit": RLIMIT_FSIZE; "disk": a full tmpfs
        QTest::addColumn<qint64>("spare"); // bytes that still fit after the report's rows
        QTest::addColumn<bool>("json");
        QTest::newRow("size limit, part of the row fits") << "limit" << 30LL << true;
        QTest::newRow("size limit, nothing fits") << "limit" << 0LL << true;
        QTest::newRow("size limit, plain output") << "limit" << 45LL << false;
        QTest::newRow("full disk") << "disk" << 30LL << true;
    }
    void reportShortWrite()
    {
        QFETCH(QString, room);
        QFETCH(qint64, spare);
        QFETCH(bool, json);
        BoardTray tray;
        SmallDisk disk(tray.home.filePath("disk"), "4k");
        if (room == u"disk" && !disk.mounted)
            QSKIP("a full disk needs a tmpfs mounted: run the test as root");
        const QString report = (room == u"disk" ? disk.path : tray.home.path()) + "/report.csv";
        // Rows of an earlier run, up to `spare` bytes short of the room.
        const qint64 before = room == u"disk" ? 4096 - spare : 1000;
        const QByteArray header = "time,port,device,by_id,usb_serial,image_sha256,bytes,outcome,"
                                  "exit_code,seconds\r\n";
        const QByteArray rows = header + QByteArray(before - header.size() - 2, 'x') + "\r\n";
        writeBytes(report, rows);
        const QByteArray image = testImage(5000);
        tray.plug(1);
        tray.plug(2);
        QStringList args{"station",  tray.writeFile("fw.bin", image),
                         "--port",   "COM1",
                         "--port",   "COM2",
                         "--report", report};
        if (json)
            args << "--json";
        StationProcess station(args, room == u"limit" ? before + spare : -1);
        QVERIFY(waitUntil([&] {
            station.gather();
            return station.err.count("lost the row of") == 2;
        }));
        QCOMPARE(station.stop(), 11);
        QCOMPARE(fileBytes(report), rows); // not a byte of half a row
        QCOMPARE(tray.board(1).board().image(), image);
        QCOMPARE(tray.board(2).board().image(), image);
        const QByteArray reason = room == u"limit" ? "File too large" : "No space left on device";
        for (const char *port : {"COM1", "COM2"})
            QVERIFY2(station.err.contains("vantrel-cli: the report " + report.toUtf8() +
                                          " lost the row of " + port +
                                          " (success, exit status 0): " + reason),
                     station.err.constData());
        if (!json)
            return;
        const QList<QJsonObject> lost = station.events("report_row_lost");
        QCOMPARE(lost.size(), 2);
        for (const QJsonObject &e : lost)
            QVERIFY(e["report"] == report && e["outcome"] == "success" &&
                    e["message"].toString().contains(QString::fromUtf8(reason)));
        QCOMPARE(station.events("summary").value(0)["report_rows_lost"].toInt(), 2);
    }

    // Stations started on one new report: one header, whoever comes first. A station decides
    // on the header only while it holds the file's lock: while another one (the test) holds it,
    // the file stays empty, and the header that one writes is the only one.
    void twoStationsOneHeader_data()
    {
        QTest::addColumn<bool>("peer"); // the test is the first station, holding the lock
        QTest::addColumn<int>("stations");
        QTest::newRow("two waiting on a station that writes the header") << true << 2;
        QTest::newRow("four at once") << false << 4;
    }
    void twoStationsOneHeader()
    {
        QFETCH(bool, peer);
        QFETCH(int, stations);
        BoardTray tray;
        const QString report = tray.home.filePath("report.csv");
        const QString image = tray.writeFile("fw.bin", testImage(100));
        const QByteArray header = "time,port,device,by_id,usb_serial,image_sha256,bytes,outcome,"
                                  "exit_code,seconds\r\n";
        const int fd = peer ? ::open(QFile::encodeName(report).constData(),
                                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)
                            : -1;
        QVERIFY(!peer || (fd >= 0 && ::flock(fd, LOCK_EX) == 0));
        std::vector<std::unique_ptr<StationProcess>> list;
        for (int i = 0; i < stations; ++i)
            list.push_back(std::make_unique<StationProcess>(
                QStringList{"station", image, "--port", "COM7", "--report", report}));
        if (peer) {
            QTest::qWait(300); // the stations are waiting for the lock by now
            QCOMPARE(fileBytes(report), QByteArray());
            QVERIFY(::write(fd, header.constData(), size_t(header.size())) == header.size());
            ::close(fd);
        }
        QVERIFY(waitUntil([&] {
            for (auto &s : list)
                s->gather();
            return std::all_of(list.begin(), list.end(),
                               [](auto &s) { return s->err.contains("Ctrl-C ends it"); });
        }));
        for (auto &s : list)
            QCOMPARE(s->stop(), 0); // no board was flashed, none failed
        QCOMPARE(fileBytes(report), header);
    }

    // Names with characters beyond U+FFFF come out of the JSON as they went in.
    void jsonNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("command");
        QTest::newRow("emoji, flash") << QString("fw-😀🚀.hex") << "flash";
        QTest::newRow("CJK Extension B, flash") << QString("固件𠀀𠮷.hex") << "flash";
        QTest::newRow("emoji, quote and backslash, convert")
            << QString("a\"b\\c 😀\t.hex") << "convert";
        QTest::newRow("CJK Extension B, convert") << QString("𪚥𠀀.hex") << "convert";
    }
    void jsonNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, command);
        BoardTray tray;
        tray.plug(3);
        const QString file = tray.writeFile(name, hexText(firmwareData()));
        const QString output = tray.home.filePath(name + ".bin");
        CliProcess cli(command == u"flash" ? QStringList{"flash", file, "--port", "COM3", "--json"}
                                           : QStringList{"convert", file, output, "--json"});
        QCOMPARE(cli.finish(), 0);
        QVERIFY2(!cli.out.contains("??"), cli.out.constData());
        QJsonParseError error{};
        const QJsonObject first =
            QJsonDocument::fromJson(cli.out.split('\n').first(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(first["image"].toString(), file);
        if (command == u"convert")
            QCOMPARE(first["output"].toString(), output);
    }

    // A name is shown, never obeyed: no line of its own, no terminal control.
    void plainNames_data()
    {
        QTest::addColumn<QString>("name");    // of the image file
        QTest::addColumn<QString>("port");    // "" for COM3, else a link of this name
        QTest::addColumn<QString>("command"); // flash, convert, or refused (an empty image)
        QTest::addColumn<QString>("shown");   // how the name is printed
        // clang-format off
        QTest::newRow("newline, flash") << "fw\nCOM9: forged.bin" << "" << "flash" << "fw\\nCOM9: forged.bin";
        QTest::newRow("ESC, flash") << "fw\x1b[2J\x1b[31m.bin" << "" << "flash" << "fw\\x1b[2J\\x1b[31m.bin";
        QTest::newRow("C1 CSI, flash") << QString("fw\u009b31m.bin") << "" << "flash" << "fw\\x9b31m.bin";
        QTest::newRow("newline and ESC, refused") << "bad\n\x1b]0;title\x07.bin" << "" << "refused" << "bad\\n\\x1b]0;title\\x07.bin";
        QTest::newRow("newline and ESC, convert") << "fw\n\x1b[1m.hex" << "" << "convert" << "fw\\n\\x1b[1m.hex";
        QTest::newRow("port link with newline and ESC") << "fw.bin" << "port\n\x1b[31mCOM1" << "flash" << "port\\n\\x1b[31mCOM1";
        // clang-format on
    }
    void plainNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, port);
        QFETCH(QString, command);
        QFETCH(QString, shown);
        BoardTray tray;
        tray.plug(3);
        const QString file = tray.writeFile(name, command == u"refused"   ? QByteArray()
                                                  : command == u"convert" ? hexText(firmwareData())
                                                                          : testImage(3000));
        QString portArg = QStringLiteral("COM3");
        if (!port.isEmpty()) {
            portArg = tray.home.filePath(port);
            QVERIFY(QFile::link(tray.board(3).slavePath(), portArg));
        }
        CliProcess cli(command == u"convert"
                           ? QStringList{"convert", file, tray.home.filePath("out.bin")}
                           : QStringList{"flash", file, "--port", portArg});
        QCOMPARE(cli.finish(), command == u"refused" ? 3 : 0);
        for (const QByteArray &text : {cli.out, cli.err})
            QVERIFY2(!text.contains('\x1b') && !text.contains("\xc2\x9b") && !text.contains('\x07'),
                     text.constData());
        QVERIFY2((cli.out + cli.err).contains(shown.toUtf8()), (cli.out + cli.err).constData());
        const QString linePrefix = command == u"convert" ? tray.home.filePath("out.bin")
                                   : port.isEmpty()      ? QStringLiteral("COM3")
                                                         : tray.home.path() + '/' + shown;
        for (const QByteArray &line : cli.out.trimmed().split('\n'))
            QVERIFY2(cli.out.isEmpty() || line.startsWith((linePrefix + ": ").toUtf8()),
                     line.constData());
        for (const QByteArray &line : cli.err.trimmed().split('\n'))
            QVERIFY2(cli.err.isEmpty() || line.startsWith("vantrel-cli: "), line.constData());
    }

private:
    // Makes what the row's output stands for; returns how the process's standard output is set.
    static std::function<void(QProcess &)> prepare(const QString &setup, const SmallDisk &disk,
                                                   const QByteArray &old, QString &output,
                                                   const PtyPeer &terminal)
    {
        if (setup == u"fifo")
            ::mkfifo(QFile::encodeName(output).constData(), 0600);
        if (setup == u"link")
            QFile::link("/dev/null", output);
        if (setup == u"folder") {
            QDir().mkpath(output);
            writeBytes(output + "/inside", old);
        }
        if (setup.startsWith(u'/'))
            output = setup;
        if (setup == u"full disk")
            output = disk.path + "/out.bin";
        if (setup == u"full disk" || setup == u"refused" || setup == u"old file") {
            writeBytes(output, old);
            ::chmod(QFile::encodeName(output).constData(), 0640);
        }
        if (!setup.startsWith(u"- "))
            return {};
        output = "-";
        const QString to = setup == u"- /dev/full"  ? QStringLiteral("/dev/full")
                           : setup == u"- terminal" ? terminal.slavePath()
                                                    : QString();
        return [to](QProcess &p) {
            if (!to.isEmpty())
                p.setStandardOutputFile(to);
        };
    }

    static void checkAfter(const QString &setup, const QByteArray &old, const QString &output,
                           const Finished &f, PtyPeer &terminal)
    {
        struct stat st {
        };
        const bool exists = ::stat(QFile::encodeName(output).constData(), &st) == 0;
        if (setup == u"fifo")
            QVERIFY(exists && S_ISFIFO(st.st_mode));
        if (setup.startsWith(u'/') || setup == u"link")
            QVERIFY(isCharacterDevice(output));
        if (setup == u"link")
            QCOMPARE(QFileInfo(output).symLinkTarget(), QStringLiteral("/dev/null"));
        if (setup == u"folder")
            QCOMPARE(fileBytes(output + "/inside"), old);
        if (setup == u"full disk" || setup == u"refused") { // untouched, nothing left beside it
            QCOMPARE(fileBytes(output), old);
            QCOMPARE(QDir(QFileInfo(output).path())
                         .entryList({"*out.bin*"}, QDir::Files | QDir::Hidden | QDir::System),
                     QStringList{"out.bin"});
        }
        if (setup == u"old file") { // replaced whole, its permissions kept
            QCOMPARE(fileBytes(output), firmwareData());
            QCOMPARE(st.st_mode & 07777, mode_t(0640));
        }
        if (setup == u"- pipe") {
            QCOMPARE(f.out, firmwareData());
            QVERIFY(f.err.contains("-: "));
        }
        if (setup == u"- terminal")
            QVERIFY(terminal.read(-1, 100).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"

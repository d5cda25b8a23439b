// vantrel-cli against files that are not what they seem: misnamed firmware, hostile outputs, a
// report that runs out of room, names with astral or control characters.
#include "cliprocess.h"
#include "ptypeer.h"
#include "wire.h"

#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr quint32 flashAddress = 0x08004000;
const QByteArray reportHeader = "time,port,device,by_id,usb_serial,image_sha256,bytes,outcome,"
                                "exit_code,seconds\r\n";

QByteArray bigEndian32(quint32 v)
{
    return QByteArray::fromHex(QByteArray::number(v, 16).rightJustified(8, '0'));
}

// One text record: `start`, then `body` and its checksum in hex (S-records count their bytes).
QByteArray record(const QByteArray &start, QByteArray body, bool srec)
{
    if (srec)
        body.prepend(char(body.size() + 1));
    uint sum = 0;
    for (const char b : body)
        sum += uchar(b);
    return start + (body + char(srec ? ~sum : -sum)).toHex().toUpper() + "\r\n";
}

// Intel HEX or S-record text (S0, S3, S7) of `data` at flashAddress, 16 bytes a record.
QByteArray textOf(const QByteArray &data, bool srec)
{
    QByteArray out =
        srec ? record("S0", QByteArray("\0\0fw", 4), true)
             : record(":", QByteArray("\2\0\0\4", 4) + bigEndian32(flashAddress).left(2), false);
    for (qsizetype i = 0; i < data.size(); i += 16) {
        const QByteArray at = bigEndian32(flashAddress + quint32(i)), bytes = data.mid(i, 16);
        out += srec ? record("S3", at + bytes, true)
                    : record(":", char(bytes.size()) + at.right(2) + '\0' + bytes, false);
    }
    return out + (srec ? record("S7", bigEndian32(flashAddress), true) : ":00000001FF\r\n");
}

const QByteArray firmwareData = testImage(2500); // what every firmware file here holds

// A file's content by kind: "hex", "srec", "elf" (magic and random bytes), "colon" (raw bytes
// that start like HEX text).
QByteArray contentOf(const QString &kind)
{
    if (kind == u"hex" || kind == u"srec")
        return textOf(firmwareData, kind == u"srec");
    if (kind == u"elf")
        return "\177ELF\1\1\1" + testImage(3000);
    return ":10000000" + testImage(600);
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

// What is at `path` and beside it: its type and mode, a link's target, the bytes of a file or
// of a folder's "inside", the names in its folder.
QByteArray stateOf(const QString &path)
{
    struct stat st {
    };
    ::lstat(QFile::encodeName(path).constData(), &st);
    const QFileInfo info(path);
    const QStringList beside =
        QDir(info.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    return QByteArray::number(st.st_mode, 8) + ' ' + info.symLinkTarget().toUtf8() + '|' +
           beside.join('|').toUtf8() + '|' +
           (S_ISREG(st.st_mode)   ? fileBytes(path)
            : S_ISDIR(st.st_mode) ? fileBytes(path + "/inside")
                                  : QByteArray());
}

// Gathers what a running station printed so far.
void gather(CliProcess &cli)
{
    cli.out += cli.p.readAllStandardOutput();
    cli.err += cli.p.readAllStandardError();
}

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    // Firmware whose content is another format than its name says is refused, never sent as it
    // is; --raw sends any file byte for byte. Names beyond U+FFFF come out of the JSON as given.
    void contentDecides_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("command"); // and --raw
        QTest::addColumn<QString>("said");    // in the refusal; "" for a run that succeeds
        const QString hex = "the content is Intel HEX, but the name says %1; rename it to .hex";
        const QString srec = "the content is S-record, but the name says %1; rename it to .srec";
        const QString elf = "the content is ELF, but the name says %1; rename it to .elf";
        const QString raw = "a raw image";
        // clang-format off
        QTest::newRow("flash HEX as .S19") << "hex" << "FW.S19" << "flash" << hex.arg("S-record");
        QTest::newRow("flash HEX as .elf") << "hex" << "fw.elf" << "flash" << hex.arg("ELF");
        QTest::newRow("flash S-record as .hex") << "srec" << "fw.hex" << "flash" << srec.arg("Intel HEX");
        QTest::newRow("flash ELF as .elf.bin") << "elf" << "app.elf.bin" << "flash" << elf.arg(raw);
        QTest::newRow("flash ELF as .hex, raw") << "elf" << "fw.hex" << "flash --raw" << "";
        QTest::newRow("flash HEX as .hex, emoji and CJK Extension B") << "hex" << QString("fw-😀𠮷.hex") << "flash" << "";
        QTest::newRow("flash binary starting with a colon") << "colon" << "fw.bin" << "flash" << "";
        QTest::newRow("convert S-record as .txt") << "srec" << "fw.txt" << "convert" << srec.arg(raw);
        QTest::newRow("convert HEX as .bin, raw") << "hex" << "fw.bin" << "convert --raw" << "";
        QTest::newRow("convert S-record, quote, backslash, tab, CJK") << "srec" << QString("a\"b\\c 𪚥\t.s19") << "convert" << "";
        // clang-format on
    }
    void contentDecides()
    {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(QString, command);
        QFETCH(QString, said);
        BoardTray tray;
        tray.plug(3);
        const QString file = tray.writeFile(name, contentOf(kind));
        const QString output = tray.home.filePath("out.bin");
        const bool flash = command.startsWith(u"flash"), raw = command.endsWith(u"raw");
        const int code = said.isEmpty() ? 0 : 3;
        CliProcess cli(QStringList{flash ? "flash" : "convert", file, "--json"} +
                       (flash ? QStringList{"--port", "COM3"} : QStringList{output}) +
                       (raw ? QStringList{"--raw"} : QStringList{}));
        QCOMPARE(cli.finish(), code);
        const bool converted = code == 0 && !raw && kind != u"colon";
        const QByteArray expected = code != 0   ? QByteArray()
                                    : converted ? firmwareData
                                                : fileBytes(file);
        QCOMPARE(flash ? tray.board(3).board().image() : fileBytes(output), expected);
        const QJsonObject first = cli.events().first(), end = cli.events().last();
        if (code == 0) {
            QCOMPARE(first["image"].toString(), file);
            QCOMPARE(first["output"].toString(), flash ? QString() : output);
        }
        if (flash) {
            QCOMPARE(end["exit_code"].toInt(), code);
            QVERIFY2(end["message"].toString().contains(said),
                     qPrintable(end["message"].toString()));
            if (code == 0)
                QCOMPARE(first["format"].toString(), QString(converted ? "intel_hex" : "binary"));
        }
        if (code != 0) {
            QVERIFY2(cli.err.contains(said.toUtf8()) &&
                         cli.err.contains("or give --raw to send the file as it is"),
                     cli.err.constData());
            QVERIFY(!QFile::exists(output));
        }
    }

    // Outputs convert must not write through or turn into files, outputs with no room, standard
    // output; whatever was at the path stays as it was when the command fails.
    void hostileOutputs_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said"); // on standard error
        // clang-format off
        QTest::newRow("a pipe") << "fifo" << 2 << "is a pipe, not a regular file; it is left as it is";
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
        writeBytes(image, contentOf("hex"));
        SmallDisk disk(dir.filePath("disk"), "8k");
        if (setup == u"full disk" && !disk.mounted)
            QSKIP("a full disk needs a tmpfs mounted: run the test as root");
        const QByteArray old = testImage(3000).toHex().left(5000); // fits the small disk
        QString output = setup == u"full disk" ? disk.path + "/out.bin" : dir.filePath("out.bin");
        if (setup == u"fifo")
            ::mkfifo(QFile::encodeName(output).constData(), 0600);
        if (setup == u"link")
            QFile::link("/dev/null", output);
        if (setup == u"folder")
            QVERIFY(QDir().mkpath(output) && QFile::copy(image, output + "/inside"));
        if (setup == u"full disk" || setup == u"refused" || setup == u"old file") {
            writeBytes(output, old);
            ::chmod(QFile::encodeName(output).constData(), 0640);
        }
        PtyPeer terminal;
        const QString to = setup == u"- /dev/full"  ? QStringLiteral("/dev/full")
                           : setup == u"- terminal" ? terminal.slavePath()
                                                    : QString(); // where standard output goes
        if (setup.startsWith(u"- "))
            output = "-";
        const QByteArray before = stateOf(output);
        CliProcess cli(QStringList{"convert", image, output} +
                           (setup == u"- json" ? QStringList{"--json"} : QStringList{}),
                       [&](QProcess &p) {
                           if (!to.isEmpty())
                               p.setStandardOutputFile(to);
                       });
        QCOMPARE(cli.finish(), code);
        QVERIFY2(cli.err.contains(said.toUtf8()), cli.err.constData());
        if (code != 0) // untouched, nothing left beside it
            QCOMPARE(stateOf(output), before);
        if (setup == u"old file") { // replaced whole, its permissions kept
            QCOMPARE(fileBytes(output), firmwareData);
            QVERIFY(stateOf(output).startsWith("100640 "));
        }
        if (setup == u"- pipe")
            QVERIFY(cli.out == firmwareData && cli.err.contains("-: "));
        if (setup == u"- terminal")
            QVERIFY(terminal.read(-1, 100).isEmpty());
    }

    // A row the report cannot take is taken back whole; the station says which row was lost
    // and why, flashes on, and ends with its own exit status.
    void reportShortWrite_data()
    {
        QTest::addColumn<QString>("room"); // "limit": RLIMIT_FSIZE; "disk": a full tmpfs
        QTest::addColumn<qint64>("spare"); // bytes that still fit after the report's rows
        QTest::addColumn<bool>("json");
        QTest::newRow("size limit, part of the row fits") << "limit" << 30LL << true;
        QTest::newRow("size limit, nothing fits, plain output") << "limit" << 0LL << false;
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
        const qint64 before = room == u"disk" ? 4096 - spare : 1000; // an earlier run's rows
        const QByteArray rows =
            reportHeader + QByteArray(before - reportHeader.size() - 2, 'x') + "\r\n";
        writeBytes(report, rows);
        const QByteArray image = testImage(5000);
        tray.plug(1);
        tray.plug(2);
        const QString args =
            "station %1 --port COM1 --port COM2 --report %2" + QString(json ? " --json" : "");
        const rlim_t limit = room == u"limit" ? rlim_t(before + spare) : RLIM_INFINITY;
        CliProcess station(
            args.arg(tray.writeFile("fw.bin", image), report).split(' '), [limit](QProcess &p) {
                p.setChildProcessModifier([limit] {
                    const rlimit l{limit, limit};
                    ::setrlimit(RLIMIT_FSIZE, &l);
                    ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
                });
            });
        QVERIFY(waitUntil([&] {
            gather(station);
            return station.err.count("lost the row of") == 2;
        }));
        station.signal(SIGINT);
        QCOMPARE(station.finish(), 11);
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
        const QList<QJsonObject> events = station.events();
        QCOMPARE(std::count_if(events.begin(), events.end(),
                               [&](const QJsonObject &e) {
                                   return e["event"] == "report_row_lost" &&
                                          e["report"] == report && e["outcome"] == "success" &&
                                          e["message"].toString().contains(
                                              QString::fromUtf8(reason));
                               }),
                 2);
        QVERIFY(events.last()["event"] == "summary" && events.last()["report_rows_lost"] == 2);
    }

    // Stations started on one new report write one header, and only while holding its lock.
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
        const int fd = peer ? ::open(QFile::encodeName(report).constData(),
                                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)
                            : -1;
        QVERIFY(!peer || (fd >= 0 && ::flock(fd, LOCK_EX) == 0));
        std::vector<std::unique_ptr<CliProcess>> list;
        for (int i = 0; i < stations; ++i)
            list.push_back(std::make_unique<CliProcess>(
                QStringList{"station", image, "--port", "COM7", "--report", report}));
        if (peer) {
            QTest::qWait(300); // the stations are waiting for the lock by now
            QCOMPARE(fileBytes(report), QByteArray());
            QVERIFY(::write(fd, reportHeader.constData(), size_t(reportHeader.size())) ==
                    reportHeader.size());
            ::close(fd);
        }
        QVERIFY(waitUntil([&] {
            for (auto &s : list)
                gather(*s);
            return std::all_of(list.begin(), list.end(),
                               [](auto &s) { return s->err.contains("Ctrl-C ends it"); });
        }));
        for (auto &s : list) {
            s->signal(SIGINT);
            QCOMPARE(s->finish(), 0); // no board was flashed, none failed
        }
        QCOMPARE(fileBytes(report), reportHeader);
    }

    // A name is shown, never obeyed: no line of its own, no terminal control.
    void plainNames_data()
    {
        QTest::addColumn<QString>("name");    // of the image file
        QTest::addColumn<QString>("port");    // "" for COM3, else a link of this name
        QTest::addColumn<QString>("command"); // flash, convert, or refused (an empty image)
        QTest::addColumn<QString>("shown");   // how the name is printed
        // clang-format off
        QTest::newRow("newline, ESC, C1 CSI, flash") << QString("fw\nCOM9: forged\x1b[2J\u009b31m.bin") << "" << "flash" << "fw\\nCOM9: forged\\x1b[2J\\x9b31m.bin";
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
                                                  : command == u"convert" ? contentOf("hex")
                                                                          : testImage(3000));
        const QString portArg = port.isEmpty() ? QStringLiteral("COM3") : tray.home.filePath(port);
        QVERIFY(port.isEmpty() || QFile::link(tray.board(3).slavePath(), portArg));
        CliProcess cli(command == u"convert"
                           ? QStringList{"convert", file, tray.home.filePath("out.bin")}
                           : QStringList{"flash", file, "--port", portArg});
        QCOMPARE(cli.finish(), command == u"refused" ? 3 : 0);
        const QByteArray all = cli.out + cli.err;
        QVERIFY2(!all.contains('\x1b') && !all.contains("\xc2\x9b") && !all.contains('\x07'),
                 all.constData());
        QVERIFY2(all.contains(shown.toUtf8()), all.constData());
        const QString linePrefix = command == u"convert" ? tray.home.filePath("out.bin")
                                   : port.isEmpty()      ? QStringLiteral("COM3")
                                                         : tray.home.path() + '/' + shown;
        for (const QByteArray &line : cli.out.trimmed().split('\n'))
            QVERIFY2(cli.out.isEmpty() || line.startsWith((linePrefix + ": ").toUtf8()),
                     line.constData());
        for (const QByteArray &line : cli.err.trimmed().split('\n'))
            QVERIFY2(cli.err.isEmpty() || line.startsWith("vantrel-cli: "), line.constData());
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"

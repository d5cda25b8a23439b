// The firmware readers against objcopy: inputs made at run time by binutils and the ARM
// cross-compiler from random data, the expected flat image from `objcopy -O binary --gap-fill
// 0xff` on the same file; refusals from corrupting those files.
#include "firmwareimage.h"

#include <QtTest>

using namespace FirmwareImage;
using Kind = Refusal::Kind;

namespace
{

// The lines of a text file, each with its line end ("\r\n" from objcopy).
QList<QByteArray> linesOf(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines)
        line += '\n';
    return lines;
}

// A HEX or S-record line with its checksum made right again after an edit.
QByteArray withChecksum(QByteArray line)
{
    const bool hex = line.startsWith(':');
    const QByteArray body = line.trimmed();
    const QByteArray bytes =
        QByteArray::fromHex(body.mid(hex ? 1 : 2, body.size() - (hex ? 3 : 4)));
    uint sum = 0;
    for (char b : bytes)
        sum += uchar(b);
    const uchar check = hex ? uchar(-sum) : uchar(~sum);
    return body.left(body.size() - 2) + QByteArray::number(check | 0x100, 16).right(2).toUpper() +
           "\r\n";
}

enum Edit {
    FlipChecksum,
    CutInLine,
    DropLast,
    SetType,
    BadDigit,
    LongerCount,
    Duplicate,
    ChangedDuplicate,
    OnlyEnd,
    AfterEnd,
    CountRecord,
    Garbage,
    ElfClass,
    ElfCut,
    None
};

QByteArray edited(const QByteArray &text, Edit edit, int n)
{
    QList<QByteArray> lines = linesOf(text);
    QByteArray &line = lines[qMin(n, int(lines.size())) - 1];
    switch (edit) {
    case FlipChecksum:
        line[line.size() - 3] = line[line.size() - 3] == '0' ? '1' : '0';
        break;
    case CutInLine:
        return text.left(text.indexOf(line) + 7);
    case DropLast:
        lines.removeLast();
        break;
    case SetType: // HEX type 06, or S4
        line = line.startsWith(':') ? withChecksum(line.left(7) + "06" + line.mid(9))
                                    : "S4" + line.mid(2);
        break;
    case BadDigit:
        line[11] = 'G';
        break;
    case LongerCount:
        line[2] = char(line[2] + 1);
        break;
    case Duplicate:
        lines.insert(n, line);
        break;
    case ChangedDuplicate: {
        QByteArray copy = line;
        copy[13] = copy[13] == 'F' ? '0' : 'F';
        lines.insert(n, withChecksum(copy));
        break;
    }
    case OnlyEnd:
        lines = {lines.last()};
        break;
    case AfterEnd:
        lines.append(lines[1]);
        break;
    case CountRecord:
        lines.insert(n, withChecksum("S5030000FF"));
        break;
    case Garbage:
        return QByteArray("\x7F"
                          "ELF\x01\x01\x01\x00garbage",
                          16);
    case ElfClass:
        return text.left(4) + '\x03' + text.mid(5);
    case ElfCut:
        return text.left(text.size() * n / 100);
    case None:
        break;
    }
    return lines.join();
}

} // namespace

class TestFirmwareImage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_missing; // the tools that are not installed

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QByteArray contentOf(const QString &name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    bool tool(const QString &program, const QStringList &args) const
    {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.start(program, args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            qWarning("%s %s: %s", qPrintable(program), qPrintable(args.join(' ')),
                     p.readAllStandardError().constData());
            return false;
        }
        return true;
    }
    void skipWithoutTools()
    {
        if (!m_missing.isEmpty())
            QSKIP(qPrintable(m_missing + " missing: run scripts/install-deps.sh"));
    }

private slots:
    void initTestCase()
    {
        for (const char *t : {"objcopy", "gcc", "arm-none-eabi-gcc", "arm-none-eabi-objcopy"}) {
            if (QStandardPaths::findExecutable(t).isEmpty())
                m_missing += QString::fromLatin1(t) + ' ';
        }
        if (!m_missing.isEmpty())
            return;
        QRandomGenerator rng(13);
        for (auto [name, size] : {std::pair{"r1.bin", 1001}, {"r2.bin", 333}, {"r3.bin", 70000}}) {
            QByteArray bytes(size, Qt::Uninitialized);
            for (char &b : bytes)
                b = char(rng.bounded(256));
            write(name, bytes);
        }
        write("fw.c", "int counter = 0x1234;\n"
                      "char message[] = \"flash image\";\n"
                      "int scratch[64];\n"
                      "void Reset_Handler(void) {\n"
                      "    for (;;) scratch[counter & 63] += message[counter++ % 11];\n"
                      "}\n"
                      "__attribute__((section(\".isr_vector\"))) const void *vectors[] = {\n"
                      "    (void *)0x20005000, (void *)Reset_Handler};\n");
        // .data's initial values follow .text in flash and are copied to RAM; .bss is zeroed.
        // The 8-byte vector table and .text share a segment with a gap between them.
        const QByteArray script = "MEMORY { FLASH (rx) : ORIGIN = 0x08004000, LENGTH = 64K\n"
                                  "         RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 20K }\n"
                                  "ENTRY(Reset_Handler)\n"
                                  "SECTIONS {\n"
                                  "  .isr_vector : { KEEP(*(.isr_vector)) } > FLASH\n"
                                  "  .text : ALIGN(16) { *(.text*) *(.rodata*) } > FLASH\n"
                                  "  .data : { *(.data*) } > RAM AT> FLASH\n"
                                  "  .bss : { *(.bss*) *(COMMON) } > RAM\n"
                                  "}\n";
        write("fw.ld", script);
        write("ram.ld", QByteArray(script).replace("> RAM AT> FLASH", "> RAM"));
        write(
            "host.ld",
            QByteArray(script).replace("0x08004000", "0x400000").replace("0x20000000", "0x600000"));
        const QString section = QStringLiteral("--set-section-flags=.b=alloc,load,contents");
        const QString arm = QStringLiteral("arm-none-eabi-gcc");
        const QStringList armFlags = {"-mcpu=cortex-m3", "-mthumb", "-O1", "-nostdlib", "fw.c"};
        const bool made =
            tool("objcopy", {"-I", "binary", "-O", "ihex", "--change-addresses", "0x08004003",
                             "r1.bin", "a.hex"}) &&
            tool("objcopy", {"-I", "ihex", "-O", "ihex", "--add-section", ".b=r2.bin", section,
                             "--change-section-address", ".b=0x08010005", "a.hex", "gaps.hex"}) &&
            tool("objcopy", {"-I", "ihex", "-O", "ihex", "--add-section", ".b=r2.bin", section,
                             "--change-section-address", ".b=0x20000000", "a.hex", "ram.hex"}) &&
            tool("objcopy", {"-I", "binary", "-O", "ihex", "--change-addresses", "0xFE00", "r3.bin",
                             "segment.hex"}) &&
            tool("objcopy", {"-I", "binary", "-O", "ihex", "--change-addresses", "0x0800FF07",
                             "r3.bin", "linear.ihx"}) &&
            tool("objcopy", {"-I", "ihex", "-O", "srec", "--srec-len", "37", "--srec-forceS3",
                             "gaps.hex", "gaps.s37"}) &&
            tool("objcopy", {"-I", "binary", "-O", "srec", "--srec-len", "7", "--change-addresses",
                             "0x00F00001", "r1.bin", "odd.s28"}) &&
            tool("objcopy", {"-I", "binary", "-O", "srec", "--change-addresses", "0x0101", "r2.bin",
                             "small.s19"}) &&
            tool(arm, armFlags + QStringList{"-T", "fw.ld", "-o", "fw.elf"}) &&
            tool(arm, armFlags + QStringList{"-mbig-endian", "-T", "fw.ld", "-o", "big.axf"}) &&
            tool(arm, armFlags + QStringList{"-T", "ram.ld", "-o", "ram.elf"}) &&
            tool("gcc", {"-O1", "-nostdlib", "-static", "-no-pie", "-fno-pic", "-T", "host.ld",
                         "fw.c", "-o", "host64.out"});
        QVERIFY(made);
    }

    void formatForPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Format>("format");
        QTest::newRow("hex") << "/a/app.hex" << Format::IntelHex;
        QTest::newRow("IHX") << "APP.IHX" << Format::IntelHex;
        QTest::newRow("s19 s28 s37") << "a.S28" << Format::SRecord;
        QTest::newRow("srec") << "a.SRec" << Format::SRecord;
        QTest::newRow("mot") << "a.mot" << Format::SRecord;
        QTest::newRow("elf") << "a.Elf" << Format::Elf;
        QTest::newRow("axf out") << "a.out" << Format::Elf;
        QTest::newRow("bin") << "a.BIN" << Format::Binary;
        QTest::newRow("dot in folder") << "/x.hex/app" << Format::Binary;
        QTest::newRow("hex.bin") << "app.hex.bin" << Format::Binary;
    }
    void formatForPath()
    {
        QFETCH(QString, path);
        QFETCH(Format, format);
        QCOMPARE(FirmwareImage::formatForPath(path), format);
    }

    void binaryAndUnreadable() // both go through the raw loader
    {
        const QByteArray raw("\x00\xFF:10", 5);
        write("raw.BIN", raw);
        const Result bin = read(path("raw.BIN"), 0x08004000);
        QVERIFY(bin.ok() && bin.data == raw && bin.span == 5 && bin.start == 0x08004000);
        QVERIFY(QDir(m_dir.path()).mkpath("folder.hex"));
        for (const QString &name : {QStringLiteral("missing.s19"), QStringLiteral("folder.hex")}) {
            const Result r = read(path(name));
            QCOMPARE(r.refusal.kind, Kind::FileUnreadable);
            ImageFile::Result file;
            file.outcome = r.refusal.fileOutcome;
            QCOMPARE(refusalMessage(r.refusal, name, false),
                     ImageFile::refusalMessage(file, name, false));
        }
    }

    void matchesObjcopy_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("objcopy"); // and the input format
        QTest::addColumn<quint64>("start");
        QTest::newRow("hex, odd start")
            << "a.hex" << QStringList{"objcopy", "-I", "ihex"} << quint64(0x08004003);
        QTest::newRow("hex, gap") << "gaps.hex" << QStringList{"objcopy", "-I", "ihex"}
                                  << quint64(0x08004003);
        QTest::newRow("hex, segment records")
            << "segment.hex" << QStringList{"objcopy", "-I", "ihex"} << quint64(0xFE00);
        QTest::newRow("ihx, across 64 KiB")
            << "linear.ihx" << QStringList{"objcopy", "-I", "ihex"} << quint64(0x0800FF07);
        QTest::newRow("s37, 37-byte records, gap")
            << "gaps.s37" << QStringList{"objcopy", "-I", "srec"} << quint64(0x08004003);
        QTest::newRow("s28, 7-byte records")
            << "odd.s28" << QStringList{"objcopy", "-I", "srec"} << quint64(0x00F00001);
        QTest::newRow("s19") << "small.s19" << QStringList{"objcopy", "-I", "srec"}
                             << quint64(0x0101);
        QTest::newRow("elf, .data after .text")
            << "fw.elf" << QStringList{"arm-none-eabi-objcopy"} << quint64(0x08004000);
        QTest::newRow("axf, big-endian")
            << "big.axf" << QStringList{"arm-none-eabi-objcopy"} << quint64(0x08004000);
        QTest::newRow("out, 64-bit") << "host64.out" << QStringList{"objcopy"} << quint64(0x400000);
    }
    void matchesObjcopy()
    {
        skipWithoutTools();
        QFETCH(QString, file);
        QFETCH(QStringList, objcopy);
        QFETCH(quint64, start);
        const QString program = objcopy.takeFirst();
        QVERIFY(tool(program, objcopy + QStringList{"-O", "binary", "--gap-fill", "0xff", file,
                                                    file + ".bin"}));
        const QByteArray expected = contentOf(file + ".bin");
        const Result r = read(path(file));
        QVERIFY2(r.ok(), qPrintable(refusalLine(r.refusal, file)));
        QCOMPARE(r.data, expected);
        QCOMPARE(r.span, expected.size());
        QCOMPARE(r.start, start);

        // The name's case does not matter; a base below the data pads it with 0xFF.
        write(file.toUpper(), contentOf(file));
        const Result based = read(path(file.toUpper()), start - 5);
        QCOMPARE(based.data, QByteArray(5, char(0xFF)) + expected);
        QCOMPARE(based.start, start - 5);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("edit");
        QTest::addColumn<int>("n");
        QTest::addColumn<qint64>("base"); // -1: none
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<qint64>("line"); // or the program header
        QTest::newRow("hex checksum")
            << "a.hex" << int(FlipChecksum) << 3 << -1LL << Kind::BadChecksum << 3LL;
        QTest::newRow("hex cut in a line")
            << "a.hex" << int(CutInLine) << 5 << -1LL << Kind::Truncated << 5LL;
        QTest::newRow("hex without end record")
            << "a.hex" << int(DropLast) << 0 << -1LL << Kind::Truncated << 65LL;
        QTest::newRow("hex record type 06")
            << "a.hex" << int(SetType) << 4 << -1LL << Kind::BadRecordType << 4LL;
        QTest::newRow("hex digit G")
            << "a.hex" << int(BadDigit) << 2 << -1LL << Kind::BadCharacter << 2LL;
        QTest::newRow("hex count too long")
            << "a.hex" << int(LongerCount) << 2 << -1LL << Kind::BadLength << 2LL;
        QTest::newRow("hex same data twice")
            << "a.hex" << int(Duplicate) << 6 << -1LL << Kind::None << 0LL;
        QTest::newRow("hex overlap disagrees")
            << "a.hex" << int(ChangedDuplicate) << 6 << -1LL << Kind::Overlap << 7LL;
        QTest::newRow("hex no data") << "a.hex" << int(OnlyEnd) << 0 << -1LL << Kind::NoData << 0LL;
        QTest::newRow("hex after end")
            << "a.hex" << int(AfterEnd) << 0 << -1LL << Kind::AfterEnd << 67LL;
        QTest::newRow("hex flash and RAM")
            << "ram.hex" << int(None) << 0 << -1LL << Kind::SpanTooLarge << 0LL;
        QTest::newRow("hex below base")
            << "a.hex" << int(None) << 0 << 0x08004004LL << Kind::BelowBase << 0LL;
        QTest::newRow("hex over 64 MiB from base")
            << "a.hex" << int(None) << 0 << 0x04004003LL << Kind::SpanTooLarge << 0LL;
        QTest::newRow("hex binary inside")
            << "r1.bin" << int(None) << 0 << -1LL << Kind::WrongContent << 1LL;
        QTest::newRow("s37 checksum")
            << "gaps.s37" << int(FlipChecksum) << 9 << -1LL << Kind::BadChecksum << 9LL;
        QTest::newRow("s37 S4") << "gaps.s37" << int(SetType) << 2 << -1LL << Kind::BadRecordType
                                << 2LL;
        QTest::newRow("s37 without S7")
            << "gaps.s37" << int(DropLast) << 0 << -1LL << Kind::Truncated << 38LL;
        QTest::newRow("s37 cut in a line")
            << "gaps.s37" << int(CutInLine) << 39 << -1LL << Kind::Truncated << 39LL;
        QTest::newRow("s37 wrong S5 count")
            << "gaps.s37" << int(CountRecord) << 3 << -1LL << Kind::BadCount << 4LL;
        QTest::newRow("s19 overlap disagrees")
            << "small.s19" << int(ChangedDuplicate) << 2 << -1LL << Kind::Overlap << 3LL;
        QTest::newRow("elf cut") << "fw.elf" << int(ElfCut) << 70 << -1LL << Kind::Truncated << 1LL;
        QTest::newRow("elf class 3")
            << "fw.elf" << int(ElfClass) << 0 << -1LL << Kind::BadHeader << -1LL;
        QTest::newRow("elf header only")
            << "fw.elf" << int(ElfCut) << 1 << -1LL << Kind::Truncated << -1LL;
        QTest::newRow("elf holding HEX")
            << "a.hex" << int(None) << 0 << -1LL << Kind::WrongContent << -1LL;
        QTest::newRow("elf data in RAM")
            << "ram.elf" << int(None) << 0 << -1LL << Kind::SpanTooLarge << -1LL;
    }
    void refused()
    {
        skipWithoutTools();
        QFETCH(QString, file);
        QFETCH(int, edit);
        QFETCH(int, n);
        QFETCH(qint64, base);
        QFETCH(Kind, kind);
        QFETCH(qint64, line);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const QString name = tag.section(' ', 0, 0) + '-' + QString::number(qHash(tag)) + '.' +
                             tag.section(' ', 0, 0);
        write(name, edited(contentOf(file), Edit(edit), n));
        const Result r = read(path(name), base < 0 ? std::nullopt : std::optional<quint64>(base));
        QCOMPARE(r.refusal.kind, kind);
        if (kind == Kind::None)
            return;
        QVERIFY(r.data.isEmpty() && r.span == 0);
        QCOMPARE(r.refusal.format == Format::Elf ? r.refusal.segment : r.refusal.line, line);
        const QString english = refusalLine(r.refusal, name);
        const QString chinese = refusalMessage(r.refusal, name, true);
        QVERIFY2(english.startsWith(name + ": ") && !english.contains('\n'), qPrintable(english));
        QVERIFY2(chinese.contains(name) && chinese.endsWith("已加载的Bin文件保持不变。"),
                 qPrintable(chinese));
        if (line > 0 && r.refusal.format != Format::Elf && kind != Kind::WrongContent)
            QVERIFY2(english.contains(QStringLiteral("line %1").arg(line)), qPrintable(english));
        if (kind == Kind::SpanTooLarge) { // names the flash and the RAM range
            QCOMPARE(r.refusal.low.first, quint64(tag.contains("elf") ? 0x08004000 : 0x08004003));
            const QString high = tag.contains("base") ? "0x080043EB" : "0x20000000";
            QVERIFY2(english.contains(high) && chinese.contains(high), qPrintable(english));
        }
    }
};

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"

// The firmware readers against `objcopy -O binary --gap-fill 0xff` on inputs binutils and the ARM
// cross-compiler make at run time from random data; refusals from corrupting those inputs.
#include "files.h"
#include "firmwareimage.h"

#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace FirmwareImage;
using Kind = Refusal::Kind;

namespace
{

// A HEX or S-record line (without its "\n") with its checksum made right again after an edit.
QByteArray withChecksum(QByteArray line)
{
    const bool hex = line.startsWith(':');
    line = line.trimmed().chopped(2);
    uint sum = 0;
    for (char b : QByteArray::fromHex(line.mid(hex ? 1 : 2)))
        sum += uchar(b);
    const uchar check = hex ? uchar(-sum) : uchar(~sum);
    return line + QByteArray::number(check | 0x100, 16).right(2).toUpper() + '\r';
}

// clang-format off
enum Edit { FlipChecksum, CutInLine, DropLast, SetType, BadDigit, LongerCount, Duplicate,
            ChangedDuplicate, OnlyEnd, AfterEnd, CountRecord, ElfClass, ElfCut, ElfNoPhysical,
            ElfCutSections, None };
// clang-format on

// A field of an ELF file, in its byte order.
quint64 elfField(const QByteArray &elf, qint64 at, int size)
{
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v |= quint64(uchar(elf[at + i])) << (8 * (elf[5] == 2 ? size - 1 - i : i));
    return v;
}

// `elf` with every program header's physical address 0, as from a script without load addresses.
QByteArray withoutPhysicalAddresses(QByteArray elf)
{
    const bool wide = elf[4] == 2;
    const quint64 at = elfField(elf, wide ? 32 : 28, wide ? 8 : 4);
    const quint64 size = elfField(elf, wide ? 54 : 42, 2);
    for (quint64 i = 0; i < elfField(elf, wide ? 56 : 44, 2); ++i)
        elf.replace(qsizetype(at + i * size) + (wide ? 24 : 12), wide ? 8 : 4,
                    QByteArray(wide ? 8 : 4, '\0'));
    return elf;
}

// `text` with `edit` made at its line `n` (1-based; ElfCut: keeps n percent of the file;
// ElfCutSections: keeps n bytes of the section header table).
QByteArray edited(const QByteArray &text, Edit edit, int n)
{
    QList<QByteArray> lines = text.split('\n'); // objcopy ends each line with "\r\n"
    QByteArray &line = lines[qBound(1, n, int(lines.size())) - 1];
    QByteArray copy = line;
    switch (edit) { // a record starts with the file's first character, ':' or 'S'
    case FlipChecksum:
        line[line.size() - 2] = line[line.size() - 2] == '0' ? '1' : '0';
        break;
    case CutInLine:
        return text.left(text.indexOf(line) + 7);
    case DropLast:
        return text.left(text.lastIndexOf(text[0]));
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
    case ChangedDuplicate:
        copy[13] = copy[13] == 'F' ? '0' : 'F';
        copy = withChecksum(copy);
        [[fallthrough]];
    case Duplicate:
        lines.insert(n, copy);
        break;
    case OnlyEnd:
        return text.mid(text.lastIndexOf(text[0]));
    case AfterEnd:
        return text + lines[1] + '\n';
    case CountRecord:
        lines.insert(n, withChecksum("S5030000FF"));
        break;
    case ElfClass:
        return text.left(4) + '\x03' + text.mid(5);
    case ElfCut:
        return text.left(text.size() * n / 100);
    case ElfNoPhysical:
        return withoutPhysicalAddresses(text);
    case ElfCutSections:
        return text.left(qsizetype(elfField(text, text[4] == 2 ? 40 : 32, text[4] == 2 ? 8 : 4)) +
                         n);
    case None:
        break;
    }
    return lines.join('\n');
}

} // namespace

class TestFirmwareImage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_missing; // the tools that are not installed

    // Runs a command line; what it prints shows in the test's output.
    static bool tool(const QString &line) { return QProcess::execute("sh", {"-c", line}) == 0; }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_dir.path())); // every file is made and read here
        for (const char *t : {"objcopy", "gcc", "arm-none-eabi-gcc", "arm-none-eabi-objcopy"})
            if (QStandardPaths::findExecutable(t).isEmpty())
                m_missing += QString::fromLatin1(t) + ' ';
        if (!m_missing.isEmpty())
            return;
        QRandomGenerator rng(13);
        for (auto [name, size] : {std::pair{"r1.bin", 1001}, {"r2.bin", 333}, {"r3.bin", 70000}}) {
            QList<quint32> words(size / 4 + 1);
            rng.fillRange(words.data(), words.size());
            writeBytes(name, QByteArray(reinterpret_cast<const char *>(words.constData()), size));
        }
        writeBytes("fw.c",
                   "int counter = 0x1234; char message[] = \"flash image\"; int scratch[64];\n"
                   "void Reset_Handler(void) { for (;;) scratch[counter & 63] += "
                   "message[counter++ % 11]; }\n"
                   "__attribute__((section(\".isr_vector\"))) const void *vectors[] = "
                   "{(void *)0x20005000, (void *)Reset_Handler};\n");
        // .data's initial values follow .text in flash and are copied to RAM; .bss is zeroed.
        // The 8-byte vector table and .text share a segment with a gap between them.
        const QByteArray script = "MEMORY { FLASH (rx) : ORIGIN = 0x08004000, LENGTH = 64K\n"
                                  "         RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 20K }\n"
                                  "ENTRY(Reset_Handler) SECTIONS {\n"
                                  "  .isr_vector : { KEEP(*(.isr_vector)) } > FLASH\n"
                                  "  .text : ALIGN(16) { *(.text*) *(.rodata*) } > FLASH\n"
                                  "  .data : { *(.data*) } > RAM AT> FLASH\n"
                                  "  .bss : { *(.bss*) *(COMMON) } > RAM }\n";
        writeBytes("fw.ld", script);
        writeBytes("ram.ld", QByteArray(script).replace("> RAM AT> FLASH", "> RAM"));
        writeBytes("flat.ld", QByteArray(script).replace("> RAM AT> FLASH", "> FLASH"));
        writeBytes(
            "host.ld",
            QByteArray(script).replace("0x08004000", "0x400000").replace("0x20000000", "0x600000"));
        const QString add = "objcopy -I ihex -O ihex --add-section .b=r2.bin "
                            "--set-section-flags=.b=alloc,load,contents --change-section-address";
        const QString arm = "arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -O1 -nostdlib fw.c";
        // clang-format off
        for (const QString &command : QStringList{
                 "objcopy -I binary -O ihex --change-addresses 0x08004003 r1.bin a.hex",
                 add + " .b=0x08010005 a.hex gaps.hex",
                 add + " .b=0x20000000 a.hex ram.hex",
                 "objcopy -I binary -O ihex --change-addresses 0xFE00 r3.bin segment.hex",
                 "objcopy -I binary -O ihex --change-addresses 0x0800FF07 r3.bin linear.ihx",
                 "objcopy -I ihex -O srec --srec-len 37 --srec-forceS3 gaps.hex gaps.s37",
                 "objcopy -I binary -O srec --srec-len 7 --change-addresses 0x00F00001 r1.bin odd.s28",
                 "objcopy -I binary -O srec --change-addresses 0x0101 r2.bin small.s19",
                 arm + " -T fw.ld -o fw.elf",
                 arm + " -mbig-endian -T fw.ld -o big.axf",
                 arm + " -T ram.ld -o ram.elf",
                 arm + " -T flat.ld -o flat.elf",
                 arm + " -mbig-endian -T flat.ld -o flatbig.axf",
                 "gcc -O1 -nostdlib -static -no-pie -fno-pic -Wl,--no-warn-rwx-segments -T host.ld fw.c -o host64.out"})
            QVERIFY(tool(command));
        // clang-format on
    }

    void binary() // the raw loader's bytes
    {
        // Only the last extension chooses a reader: these are raw images, whatever they hold.
        const QByteArray raw(":00000001FF\x00\xFF", 13);
        QVERIFY(QDir().mkpath("x.hex"));
        for (const char *name : {"raw.BIN", "app.hex.bin", "x.hex/app"}) {
            writeBytes(name, raw);
            const Result bin = read(name, 0x08004000);
            QVERIFY(bin.ok() && bin.data == raw && bin.span == 13 && bin.start == 0x08004000);
        }
    }

    // A file's start tells its format only by a whole text record with a good checksum.
    void contentFormat_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("format"); // -1: none
        const int hex = int(Format::IntelHex), srec = int(Format::SRecord);
        // clang-format off
        QTest::newRow("HEX after a BOM, blanks and CR LF") << QByteArray("\xEF\xBB\xBF \r\n\t:0400000001020304F2 \r\n") << hex;
        QTest::newRow("HEX, lower case, LF") << QByteArray(":0400000001020304f2\n:00000001FF\n") << hex;
        QTest::newRow("HEX checksum off by one") << QByteArray(":0400000001020304F3\r\n") << -1;
        QTest::newRow("HEX count longer than the record") << QByteArray(":0500000001020304F1\r\n") << -1;
        QTest::newRow("colon, then binary") << QByteArray(":\x00\x50\x00\x20\xC1\x01\x00\x08", 9) << -1;
        QTest::newRow("S1 record") << QByteArray("S1060000010203F3\r\n") << srec;
        QTest::newRow("S0 header") << QByteArray("S00600004844521B\n") << srec;
        QTest::newRow("S4 is no record") << QByteArray("S4060000010203F3\r\n") << -1;
        QTest::newRow("S1 checksum wrong") << QByteArray("S1060000010203F2\r\n") << -1;
        QTest::newRow("ELF magic") << QByteArray("\x7F" "ELF") << int(Format::Elf);
        QTest::newRow("ELF magic cut") << QByteArray("\x7F" "EL") << -1;
        QTest::newRow("empty") << QByteArray() << -1;
        // clang-format on
    }
    void contentFormat()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, format);
        const std::optional<Format> found = formatOfContent(content);
        QCOMPARE(found ? int(*found) : -1, format);
    }

    // Raw and firmware files go through one reader: the same checks, each with its size limit.
    // A row's path is its name in the test's folder, "%1" in the texts.
    void unreadable_data()
    {
        QTest::addColumn<QByteArray>("name"); // the bytes of the name on disk
        QTest::addColumn<qint64>("size");     // of the (sparse) file made; -1 none, -2 a folder,
                                              // -3 a pipe
        QTest::addColumn<QString>("chinese");
        QTest::addColumn<QString>("english");
        // clang-format off
        QTest::newRow("missing s19") << QByteArray("missing.s19") << -1LL
            << "文件“%1”不存在，请选择其它文件！" << "%1: no such file";
        QTest::newRow("folder hex") << QByteArray("folder.hex") << -2LL
            << "“%1”是文件夹，不是Bin文件，请选择其它文件！" << "%1: this is a folder, not an image file";
        QTest::newRow("pipe elf, nothing waits") << QByteArray("pipe.elf") << -3LL
            << "“%1”不是普通文件，请选择其它文件！"
            << "%1: not a regular file (a device, pipe or socket has no fixed length)";
        QTest::newRow("empty srec") << QByteArray("empty.srec") << 0LL
            << "文件“%1”是空文件（0字节），请选择其它文件！" << "%1: the file is empty (0 bytes)";
        QTest::newRow("hex over 1 GiB") << QByteArray("big.hex") << (1LL << 30) + 1
            << "文件“%1”有1073741825字节，超过了可读取的最大长度1073741824字节，请选择其它文件！"
            << "%1: 1073741825 bytes, more than the 1073741824 bytes a firmware file may have";
        QTest::newRow("bin of 64 MiB") << QByteArray("big.bin") << (64LL << 20)
            << "文件“%1”有67108864字节，超过了可下载的最大长度67108863字节，请选择其它文件！"
            << "%1: 67108864 bytes is more than the bootloader's length frame can announce "
               "(at most 67108863 bytes)";
        // A name that is not UTF-8 arrives with U+FFFD in it: not "no such file" but "rename it".
        QTest::newRow("hex name not UTF-8") << QByteArray("fw\xff.hex") << 1LL
            << "文件“%1”的名称含有无法识别的字符，无法使用，请把文件改名后再加载！"
            << "%1: the file name is not valid UTF-8; rename the file";
        QTest::newRow("bin name not UTF-8") << QByteArray("fw\xff.bin") << 1LL
            << "文件“%1”的名称含有无法识别的字符，无法使用，请把文件改名后再加载！"
            << "%1: the file name is not valid UTF-8; rename the file";
        // clang-format on
    }
    void unreadable()
    {
        QFETCH(QByteArray, name);
        QFETCH(qint64, size);
        QFETCH(QString, chinese);
        QFETCH(QString, english);
        const QString path = QFile::decodeName(name);
        if (size == -2)
            QVERIFY(QDir().mkdir(path));
        if (size == -3)
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        if (size >= 0) { // made through its bytes: a name that is not UTF-8 has no QString
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            QVERIFY(fd >= 0 && ::ftruncate(fd, size) == 0 && ::close(fd) == 0);
        }
        const auto remove = qScopeGuard([&] { std::remove(name.constData()); });
        const Result r = read(path);
        QVERIFY(!r.ok() && r.data.isEmpty());
        QCOMPARE(refusalMessage(r.refusal, path, false), chinese.arg(path));
        QCOMPARE(refusalLine(r.refusal, path), english.arg(path));
    }

    // A row's file is named after the first word of its tag, which so chooses the reader.
    void reads_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<int>("n");
        QTest::addColumn<qint64>("base"); // -1: none
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<qint64>("where"); // the image's start; a refusal's line or program header
        // clang-format off
        QTest::newRow("hex, odd start") << "a.hex" << None << 0 << -1LL << Kind::None << 0x08004003LL;
        QTest::newRow("hex, gap") << "gaps.hex" << None << 0 << -1LL << Kind::None << 0x08004003LL;
        QTest::newRow("hex, segment records") << "segment.hex" << None << 0 << -1LL << Kind::None << 0xFE00LL;
        QTest::newRow("ihx, across 64 KiB") << "linear.ihx" << None << 0 << -1LL << Kind::None << 0x0800FF07LL;
        QTest::newRow("s37, 37-byte records, gap") << "gaps.s37" << None << 0 << -1LL << Kind::None << 0x08004003LL;
        QTest::newRow("s28, 7-byte records") << "odd.s28" << None << 0 << -1LL << Kind::None << 0x00F00001LL;
        QTest::newRow("s19") << "small.s19" << None << 0 << -1LL << Kind::None << 0x0101LL;
        QTest::newRow("elf, .data after .text") << "fw.elf" << None << 0 << -1LL << Kind::None << 0x08004000LL;
        QTest::newRow("axf, big-endian") << "big.axf" << None << 0 << -1LL << Kind::None << 0x08004000LL;
        QTest::newRow("out, 64-bit") << "host64.out" << None << 0 << -1LL << Kind::None << 0x400000LL;
        QTest::newRow("hex same data twice") << "a.hex" << Duplicate << 6 << -1LL << Kind::None << 0x08004003LL;
        QTest::newRow("hex checksum") << "a.hex" << FlipChecksum << 3 << -1LL << Kind::BadChecksum << 3LL;
        QTest::newRow("hex cut in a line") << "a.hex" << CutInLine << 5 << -1LL << Kind::Truncated << 5LL;
        QTest::newRow("hex without end record") << "a.hex" << DropLast << 0 << -1LL << Kind::Truncated << 65LL;
        QTest::newRow("hex record type 06") << "a.hex" << SetType << 4 << -1LL << Kind::BadRecordType << 4LL;
        QTest::newRow("hex digit G") << "a.hex" << BadDigit << 2 << -1LL << Kind::BadCharacter << 2LL;
        QTest::newRow("hex count too long") << "a.hex" << LongerCount << 2 << -1LL << Kind::BadLength << 2LL;
        QTest::newRow("hex overlap disagrees") << "a.hex" << ChangedDuplicate << 6 << -1LL << Kind::Overlap << 7LL;
        QTest::newRow("hex no data") << "a.hex" << OnlyEnd << 0 << -1LL << Kind::NoData << 0LL;
        QTest::newRow("hex after end") << "a.hex" << AfterEnd << 0 << -1LL << Kind::AfterEnd << 67LL;
        QTest::newRow("hex flash and RAM") << "ram.hex" << None << 0 << -1LL << Kind::SpanTooLarge << 0LL;
        QTest::newRow("hex below base") << "a.hex" << None << 0 << 0x08004004LL << Kind::BelowBase << 0LL;
        QTest::newRow("hex over 64 MiB from base") << "a.hex" << None << 0 << 0x04004003LL << Kind::SpanTooLarge << 0LL;
        QTest::newRow("hex binary inside") << "r1.bin" << None << 0 << -1LL << Kind::WrongContent << 1LL;
        QTest::newRow("s37 checksum") << "gaps.s37" << FlipChecksum << 9 << -1LL << Kind::BadChecksum << 9LL;
        QTest::newRow("srec S4") << "gaps.s37" << SetType << 2 << -1LL << Kind::BadRecordType << 2LL;
        QTest::newRow("mot without S7") << "gaps.s37" << DropLast << 0 << -1LL << Kind::Truncated << 38LL;
        QTest::newRow("s37 cut in a line") << "gaps.s37" << CutInLine << 39 << -1LL << Kind::Truncated << 39LL;
        QTest::newRow("s37 wrong S5 count") << "gaps.s37" << CountRecord << 3 << -1LL << Kind::BadCount << 4LL;
        QTest::newRow("s19 overlap disagrees") << "small.s19" << ChangedDuplicate << 2 << -1LL << Kind::Overlap << 3LL;
        QTest::newRow("elf cut") << "fw.elf" << ElfCut << 70 << -1LL << Kind::Truncated << 1LL;
        QTest::newRow("elf class 3") << "fw.elf" << ElfClass << 0 << -1LL << Kind::BadHeader << -1LL;
        QTest::newRow("elf header only") << "fw.elf" << ElfCut << 1 << -1LL << Kind::Truncated << -1LL;
        QTest::newRow("elf holding HEX") << "a.hex" << None << 0 << -1LL << Kind::WrongContent << -1LL;
        QTest::newRow("elf data in RAM") << "ram.elf" << None << 0 << -1LL << Kind::SpanTooLarge << -1LL;
        // No physical addresses at all: the virtual ones place the segments, as objcopy does.
        QTest::newRow("elf, physical addresses 0") << "flat.elf" << ElfNoPhysical << 0 << -1LL << Kind::None << 0x08004000LL;
        QTest::newRow("axf, big-endian, physical addresses 0") << "flatbig.axf" << ElfNoPhysical << 0 << -1LL << Kind::None << 0x08004000LL;
        QTest::newRow("out, 64-bit, physical addresses 0") << "host64.out" << ElfNoPhysical << 0 << -1LL << Kind::None << 0x400000LL;
        QTest::newRow("elf, .data in RAM, physical addresses 0") << "fw.elf" << ElfNoPhysical << 0 << -1LL << Kind::SpanTooLarge << -1LL;
        QTest::newRow("elf section table cut") << "fw.elf" << ElfCutSections << 41 << -1LL << Kind::Truncated << -1LL;
        QTest::newRow("out section table cut") << "host64.out" << ElfCutSections << 100 << -1LL << Kind::Truncated << -1LL;
        // clang-format on
    }
    void reads()
    {
        if (!m_missing.isEmpty())
            QSKIP(qPrintable(m_missing + " missing: run scripts/install-deps.sh"));
        QFETCH(QString, file);
        QFETCH(qint64, base);
        QFETCH(Kind, kind);
        QFETCH(qint64, where);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const QString ext = tag.section(QRegularExpression("[ ,]"), 0, 0);
        const QString name = ext + '-' + QString::number(qHash(tag)) + '.' + ext;
        QFETCH(Edit, edit);
        QFETCH(int, n);
        const QByteArray content = edited(fileBytes(file), edit, n);
        writeBytes(name, content);
        const Result r = read(name, base < 0 ? std::nullopt : std::optional<quint64>(base));
        QCOMPARE(r.refusal.kind, kind);
        if (kind == Kind::None) { // objcopy's flat image from the same file
            const QString objcopy = ext == "elf" || ext == "axf" ? "arm-none-eabi-objcopy"
                                    : ext == "out"               ? "objcopy"
                                    : ext.endsWith('x')          ? "objcopy -I ihex"
                                                                 : "objcopy -I srec";
            QVERIFY(tool(objcopy + " -O binary --gap-fill 0xff " + name + ' ' + name + ".bin"));
            const QByteArray expected = fileBytes(name + ".bin");
            QCOMPARE(r.data, expected);
            QCOMPARE(QPair(r.start, r.span), QPair(quint64(where), qint64(expected.size())));
            // The name's case does not matter; a base below the data pads it with 0xFF.
            writeBytes(name.toUpper(), content);
            const Result based = read(name.toUpper(), where - 5);
            QCOMPARE(QPair(based.start, based.data),
                     QPair(quint64(where - 5), QByteArray(5, char(0xFF)) + expected));
            return;
        }
        QVERIFY(r.data.isEmpty() && r.span == 0);
        QCOMPARE(r.refusal.format == Format::Elf ? r.refusal.segment : r.refusal.line, where);
        const QString english = refusalLine(r.refusal, name);
        const QString chinese = refusalMessage(r.refusal, name, true);
        QVERIFY2(english.startsWith(name + ": ") && !english.contains('\n'), qPrintable(english));
        QVERIFY2(chinese.contains(name) && chinese.endsWith("已加载的Bin文件保持不变。"),
                 qPrintable(chinese));
        if (where > 0 && r.refusal.format != Format::Elf && kind != Kind::WrongContent)
            QVERIFY2(english.contains(QStringLiteral("line %1").arg(where)), qPrintable(english));
        if (tag.contains("section table")) // not the program headers' fault
            QCOMPARE(english, name + ": truncated: the section header table runs past its end");
        if (kind == Kind::SpanTooLarge) { // names the flash and the RAM range
            QCOMPARE(r.refusal.low.first, quint64(tag.contains("elf") ? 0x08004000 : 0x08004003));
            const QString high = tag.contains("base") ? "0x080043EB" : "0x20000000";
            QVERIFY2(english.contains(high) && chinese.contains(high), qPrintable(english));
        }
    }
};

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"

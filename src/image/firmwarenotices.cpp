// Why a firmware file was refused: the window's notice (Simplified Chinese) and the command
// line's one English line.
#include "firmwareimage.h"

namespace FirmwareImage
{

namespace
{

using Kind = Refusal::Kind;

QString number(qint64 n)
{
    return QString::number(n);
}

QString rangeText(const Range &range, const QString &dash)
{
    return hexAddress(range.first) + dash + hexAddress(range.last);
}

// A refusal told both ways: the window's sentence (Simplified Chinese, naming the file) and the
// command line's reason (English, after "PATH: ").
struct Texts {
    QString chinese;
    QString english;
};

Texts elfProblemTexts(const Refusal &r)
{
    const QString segment = number(r.segment);
    switch (r.elfProblem) {
    case ElfProblem::Class:
        return {QStringLiteral("既不是32位也不是64位"), QStringLiteral("neither 32- nor 64-bit")};
    case ElfProblem::ByteOrder:
        return {QStringLiteral("字节序无效"), QStringLiteral("no valid byte order")};
    case ElfProblem::HeaderSize:
        return {QStringLiteral("程序头表项太短"),
                QStringLiteral("program header entries too short")};
    case ElfProblem::TooManySegments:
        return {QStringLiteral("程序头多于65534个"),
                QStringLiteral("more than 65534 program headers")};
    case ElfProblem::FileLargerThanMemory:
        return {QStringLiteral("程序头[%1]的文件长度大于内存长度").arg(segment),
                QStringLiteral("program header [%1] has more file bytes than memory bytes")
                    .arg(segment)};
    case ElfProblem::TooManyPairs:
        return {QStringLiteral("段和节太多"), QStringLiteral("too many segments and sections")};
    case ElfProblem::AddressWraps:
        return {QStringLiteral("程序头[%1]的段超出了地址空间").arg(segment),
                QStringLiteral("program header [%1] runs past the end of the address space")
                    .arg(segment)};
    case ElfProblem::SectionHeaderSize:
        return {QStringLiteral("节头表项太短"), QStringLiteral("section header entries too short")};
    case ElfProblem::SectionsCut:
    case ElfProblem::None:
        break;
    }
    return {};
}

QString fileOutcomeEnglish(const Refusal &r)
{
    switch (r.fileOutcome) {
    case ImageFile::Outcome::NotFound:
        return QStringLiteral("no such file");
    case ImageFile::Outcome::NameNotUsable:
        return QStringLiteral("the file name is not valid UTF-8; rename the file");
    case ImageFile::Outcome::IsFolder:
        return QStringLiteral("this is a folder, not an image file");
    case ImageFile::Outcome::NotRegularFile:
        return QStringLiteral("not a regular file (a device, pipe or socket has no fixed length)");
    case ImageFile::Outcome::NoPermission:
        return QStringLiteral("no permission to read it");
    case ImageFile::Outcome::ReadFailed:
        return QStringLiteral("reading it failed");
    case ImageFile::Outcome::Empty:
        return QStringLiteral("the file is empty (0 bytes)");
    case ImageFile::Outcome::TooLarge:
        return QStringLiteral("%1 bytes is more than the bootloader's length frame can announce "
                              "(at most %2 bytes)")
            .arg(number(r.fileSize), number(maxSpan));
    case ImageFile::Outcome::ChangedWhileRead:
        return QStringLiteral("the file changed while it was read");
    case ImageFile::Outcome::OutOfMemory:
        return QStringLiteral("not enough memory for %1 bytes").arg(number(r.fileSize));
    case ImageFile::Outcome::CannotOpen:
    case ImageFile::Outcome::Loaded:
        break;
    }
    return QStringLiteral("cannot open it");
}

// The faults of one record of HEX or S-record text, each at its line.
struct RecordFault {
    Kind kind;
    const char16_t *chinese; // %1 the file, %2 the line
    const char *english;     // after "line N: "
};

constexpr RecordFault recordFaults[] = {
    {Kind::BadChecksum, u"文件%1第%2行的校验和错误，请选择其它文件！", "checksum error"},
    {Kind::BadCharacter, u"文件%1第%2行有非法字符，请选择其它文件！", "unexpected character"},
    {Kind::BadLength, u"文件%1第%2行的记录长度错误，请选择其它文件！",
     "record length does not fit its byte count or type"},
    {Kind::BadRecordType, u"文件%1第%2行的记录类型无效，请选择其它文件！", "unknown record type"},
    {Kind::BadCount, u"文件%1第%2行的记录数与之前的数据记录数不符，请选择其它文件！",
     "record count differs from the data records before it"},
    {Kind::AfterEnd, u"文件%1在结束记录之后还有内容（第%2行），请选择其它文件！",
     "records after the end record"},
};

QString atLine(const Refusal &r)
{
    return QStringLiteral("line %1: ").arg(r.line);
}

Texts recordTexts(const Refusal &r, const QString &file)
{
    for (const RecordFault &fault : recordFaults)
        if (fault.kind == r.kind)
            return {QString::fromUtf16(fault.chinese).arg(file, number(r.line)),
                    atLine(r) + QLatin1String(fault.english)};
    return {};
}

// Refusals of the file as a whole: its length, the memory for it, what it holds.
Texts wholeFileTexts(const Refusal &r, const QString &file)
{
    switch (r.kind) {
    case Kind::FileTooLarge:
        return {QStringLiteral("文件%1有%2字节，超过了可读取的最大长度%3字节，请选择其它文件！")
                    .arg(file, number(r.fileSize), number(maxFileSize)),
                QStringLiteral("%1 bytes, more than the %2 bytes a firmware file may have")
                    .arg(number(r.fileSize), number(maxFileSize))};
    case Kind::OutOfMemory:
        return {QStringLiteral("内存不足，无法加载文件%1！").arg(file),
                QStringLiteral("out of memory")};
    case Kind::WrongContent:
        return {
            QStringLiteral("文件%1的内容不是%2格式，与扩展名不符，请选择其它文件！")
                .arg(file, formatName(r.format)),
            QStringLiteral("the extension says %1, the content is not").arg(formatName(r.format))};
    case Kind::Misnamed:
        return {QStringLiteral("文件%1的内容是%2格式，与扩展名不符，请把文件改名为.%3后再加载！")
                    .arg(file, formatName(r.found), extensionOf(r.found)),
                QStringLiteral("the content is %1, but the name says %2")
                    .arg(formatName(r.found), r.format == Format::Binary
                                                  ? QStringLiteral("a raw image")
                                                  : formatName(r.format))};
    case Kind::NoData:
        return {QStringLiteral("文件%1中没有任何数据，请选择其它文件！").arg(file),
                QStringLiteral("no data")};
    default:
        return {};
    }
}

Texts truncatedTexts(const Refusal &r, const QString &file)
{
    if (r.format != Format::Elf)
        return {QStringLiteral("文件%1不完整，在第%2行中断，请选择其它文件！")
                    .arg(file, number(r.line)),
                QStringLiteral("truncated at line %1").arg(r.line)};
    if (r.elfProblem == ElfProblem::SectionsCut)
        return {QStringLiteral("文件%1不完整，节头表超出了文件末尾，请选择其它文件！").arg(file),
                QStringLiteral("truncated: the section header table runs past its end")};
    if (r.segment < 0)
        return {QStringLiteral("文件%1不完整，ELF文件头或程序头表超出了文件末尾，请选择其它文件！")
                    .arg(file),
                QStringLiteral("truncated: the ELF header or program headers run past its end")};
    return {QStringLiteral("文件%1不完整，程序头[%2]的段超出了文件末尾，请选择其它文件！")
                .arg(file, number(r.segment)),
            QStringLiteral("truncated: program header [%1]'s segment runs past its end")
                .arg(r.segment)};
}

Texts overlapTexts(const Refusal &r, const QString &file)
{
    const QString address = hexAddress(r.address);
    if (r.format == Format::Elf)
        return {
            QStringLiteral("文件%1的程序头[%2]与程序头[%3]在地址%4处的数据不一致，请选择其它文件！")
                .arg(file, number(r.segment), number(r.otherSegment), address),
            QStringLiteral("program header [%1]: data at %2 differs from program header [%3]")
                .arg(number(r.segment), address, number(r.otherSegment))};
    return {
        QStringLiteral("文件%1第%2行与第%3行在地址%4处的数据不一致，请选择其它文件！")
            .arg(file, number(r.line), number(r.otherLine), address),
        atLine(r) +
            QStringLiteral("data at %1 differs from line %2").arg(address, number(r.otherLine))};
}

// Refusals of where the data lies: too far apart, or below the required start.
Texts placeTexts(const Refusal &r, const QString &file)
{
    if (r.kind == Kind::BelowBase)
        return {QStringLiteral("文件%1的数据从地址%2开始，低于要求的起始地址%3，请选择其它文件！")
                    .arg(file, hexAddress(r.address), hexAddress(r.base.value_or(0))),
                QStringLiteral("data at %1 lies below the base address %2")
                    .arg(hexAddress(r.address), hexAddress(r.base.value_or(0)))};
    return {QStringLiteral("文件%1的数据最低在%2，最高在%3，%4共%5字节，超过了可下载的最大长度%6"
                           "字节，请选择其它文件！")
                .arg(file, rangeText(r.low, QStringLiteral("–")),
                     rangeText(r.high, QStringLiteral("–")),
                     r.base ? QStringLiteral("从起始地址%1起").arg(hexAddress(*r.base)) : QString(),
                     QString::number(r.span), number(maxSpan)),
            QStringLiteral("data from %1 to %2 spans %3 bytes%4, more than %5")
                .arg(rangeText(r.low, QStringLiteral("-")), rangeText(r.high, QStringLiteral("-")),
                     QString::number(r.span),
                     r.base ? QStringLiteral(" from base %1").arg(hexAddress(*r.base)) : QString(),
                     number(maxSpan))};
}

// Every refusal but an unreadable file, whose texts are the loader's. `file` is the path in
// quotes; substitution is one pass throughout, so a "%2" inside a file name stays as it is.
Texts textsOf(const Refusal &r, const QString &file)
{
    switch (r.kind) {
    case Kind::FileTooLarge:
    case Kind::OutOfMemory:
    case Kind::WrongContent:
    case Kind::Misnamed:
    case Kind::NoData:
        return wholeFileTexts(r, file);
    case Kind::BadChecksum:
    case Kind::BadCharacter:
    case Kind::BadLength:
    case Kind::BadRecordType:
    case Kind::BadCount:
    case Kind::AfterEnd:
        return recordTexts(r, file);
    case Kind::BadHeader: {
        const Texts problem = elfProblemTexts(r);
        return {QStringLiteral("文件%1的ELF文件头无效：%2，请选择其它文件！")
                    .arg(file, problem.chinese),
                QStringLiteral("bad ELF header: ") + problem.english};
    }
    case Kind::Truncated:
        return truncatedTexts(r, file);
    case Kind::Overlap:
        return overlapTexts(r, file);
    case Kind::SpanTooLarge:
    case Kind::BelowBase:
        return placeTexts(r, file);
    case Kind::None:
    case Kind::FileUnreadable:
        break;
    }
    return {};
}

} // namespace

QString formatName(Format format)
{
    switch (format) {
    case Format::IntelHex:
        return QStringLiteral("Intel HEX");
    case Format::SRecord:
        return QStringLiteral("S-record");
    case Format::Elf:
        return QStringLiteral("ELF");
    case Format::Binary:
        break;
    }
    return QStringLiteral("Bin");
}

QString refusalMessage(const Refusal &r, const QString &path, bool imageKept)
{
    if (r.kind == Kind::None)
        return QString();
    if (r.kind == Kind::FileUnreadable) {
        ImageFile::Result file;
        file.outcome = r.fileOutcome;
        file.size = r.fileSize;
        return ImageFile::refusalMessage(file, path, imageKept);
    }
    return ImageFile::keptNotice(textsOf(r, ImageFile::quoted(path)).chinese, imageKept);
}

QString refusalLine(const Refusal &r, const QString &path)
{
    if (r.kind == Kind::None)
        return QString();
    const QString why = r.kind == Kind::FileUnreadable
                            ? fileOutcomeEnglish(r)
                            : textsOf(r, ImageFile::quoted(path)).english;
    return path + QStringLiteral(": ") + why;
}

} // namespace FirmwareImage

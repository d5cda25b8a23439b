// Why a firmware file was refused: the window's notice (Simplified Chinese) and the command
// line's one English line.
#include "firmwareimage.h"

namespace FirmwareImage
{

namespace
{

using Kind = Refusal::Kind;

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

QString number(qint64 n)
{
    return QString::number(n);
}

QString rangeText(const Range &range, const QString &dash)
{
    return hexAddress(range.first) + dash + hexAddress(range.last);
}

QString elfProblemChinese(const Refusal &r)
{
    const QString header = QStringLiteral("程序头[%1]").arg(r.segment);
    switch (r.elfProblem) {
    case ElfProblem::Class:
        return QStringLiteral("既不是32位也不是64位");
    case ElfProblem::ByteOrder:
        return QStringLiteral("字节序无效");
    case ElfProblem::HeaderSize:
        return QStringLiteral("程序头表项太短");
    case ElfProblem::TooManySegments:
        return QStringLiteral("程序头多于65534个");
    case ElfProblem::FileLargerThanMemory:
        return header + QStringLiteral("的文件长度大于内存长度");
    case ElfProblem::TooManyPairs:
        return QStringLiteral("段和节太多");
    case ElfProblem::AddressWraps:
        return header + QStringLiteral("的段超出了地址空间");
    case ElfProblem::None:
        break;
    }
    return QString();
}

QString elfProblemEnglish(const Refusal &r)
{
    const QString header = QStringLiteral("program header [%1]").arg(r.segment);
    switch (r.elfProblem) {
    case ElfProblem::Class:
        return QStringLiteral("neither 32- nor 64-bit");
    case ElfProblem::ByteOrder:
        return QStringLiteral("no valid byte order");
    case ElfProblem::HeaderSize:
        return QStringLiteral("program header entries too short");
    case ElfProblem::TooManySegments:
        return QStringLiteral("more than 65534 program headers");
    case ElfProblem::FileLargerThanMemory:
        return header + QStringLiteral(" has more file bytes than memory bytes");
    case ElfProblem::TooManyPairs:
        return QStringLiteral("too many segments and sections");
    case ElfProblem::AddressWraps:
        return header + QStringLiteral(" runs past the end of the address space");
    case ElfProblem::None:
        break;
    }
    return QString();
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

} // namespace

QString refusalMessage(const Refusal &r, const QString &path, bool imageKept)
{
    if (r.kind == Kind::FileUnreadable) {
        ImageFile::Result file;
        file.outcome = r.fileOutcome;
        file.size = r.fileSize;
        return ImageFile::refusalMessage(file, path, imageKept);
    }
    // One-pass substitution throughout: a "%2" inside a file name stays as it is.
    const QString file = QStringLiteral("“") + path + QStringLiteral("”");
    const QString line = number(r.line);
    const bool elf = r.format == Format::Elf;
    QString text;
    switch (r.kind) {
    case Kind::None:
        return QString();
    case Kind::FileUnreadable:
        break;
    case Kind::FileTooLarge:
        text = QStringLiteral("文件%1有%2字节，超过了可读取的最大长度%3字节，请选择其它文件！")
                   .arg(file, number(r.fileSize), number(maxFileSize));
        break;
    case Kind::OutOfMemory:
        text = QStringLiteral("内存不足，无法加载文件%1！").arg(file);
        break;
    case Kind::WrongContent:
        text = QStringLiteral("文件%1的内容不是%2格式，与扩展名不符，请选择其它文件！")
                   .arg(file, formatName(r.format));
        break;
    case Kind::BadChecksum:
        text = QStringLiteral("文件%1第%2行的校验和错误，请选择其它文件！").arg(file, line);
        break;
    case Kind::BadCharacter:
        text = QStringLiteral("文件%1第%2行有非法字符，请选择其它文件！").arg(file, line);
        break;
    case Kind::BadLength:
        text = QStringLiteral("文件%1第%2行的记录长度错误，请选择其它文件！").arg(file, line);
        break;
    case Kind::BadRecordType:
        text = QStringLiteral("文件%1第%2行的记录类型无效，请选择其它文件！").arg(file, line);
        break;
    case Kind::BadCount:
        text = QStringLiteral("文件%1第%2行的记录数与之前的数据记录数不符，请选择其它文件！")
                   .arg(file, line);
        break;
    case Kind::AfterEnd:
        text = QStringLiteral("文件%1在结束记录之后还有内容（第%2行），请选择其它文件！")
                   .arg(file, line);
        break;
    case Kind::BadHeader:
        text = QStringLiteral("文件%1的ELF文件头无效：%2，请选择其它文件！")
                   .arg(file, elfProblemChinese(r));
        break;
    case Kind::Truncated:
        if (!elf)
            text = QStringLiteral("文件%1不完整，在第%2行中断，请选择其它文件！").arg(file, line);
        else if (r.segment < 0)
            text =
                QStringLiteral("文件%1不完整，ELF文件头或程序头表超出了文件末尾，请选择其它文件！")
                    .arg(file);
        else
            text = QStringLiteral("文件%1不完整，程序头[%2]的段超出了文件末尾，请选择其它文件！")
                       .arg(file, number(r.segment));
        break;
    case Kind::Overlap:
        if (elf)
            text = QStringLiteral(
                       "文件%1的程序头[%2]与程序头[%3]在地址%4处的数据不一致，请选择其它文件！")
                       .arg(file, number(r.segment), number(r.otherSegment), hexAddress(r.address));
        else
            text = QStringLiteral("文件%1第%2行与第%3行在地址%4处的数据不一致，请选择其它文件！")
                       .arg(file, line, number(r.otherLine), hexAddress(r.address));
        break;
    case Kind::NoData:
        text = QStringLiteral("文件%1中没有任何数据，请选择其它文件！").arg(file);
        break;
    case Kind::SpanTooLarge:
        text =
            QStringLiteral("文件%1的数据最低在%2，最高在%3，%4共%5字节，超过了可下载的最大长度%6"
                           "字节，请选择其它文件！")
                .arg(file, rangeText(r.low, QStringLiteral("–")),
                     rangeText(r.high, QStringLiteral("–")),
                     r.base ? QStringLiteral("从起始地址%1起").arg(hexAddress(*r.base)) : QString(),
                     QString::number(r.span), number(maxSpan));
        break;
    case Kind::BelowBase:
        text = QStringLiteral("文件%1的数据从地址%2开始，低于要求的起始地址%3，请选择其它文件！")
                   .arg(file, hexAddress(r.address), hexAddress(r.base.value_or(0)));
        break;
    }
    if (imageKept)
        text += QStringLiteral("\n已加载的Bin文件保持不变。");
    return text;
}

QString refusalLine(const Refusal &r, const QString &path)
{
    const QString at = QStringLiteral("line %1: ").arg(r.line);
    const bool elf = r.format == Format::Elf;
    QString why;
    switch (r.kind) {
    case Kind::None:
        return QString();
    case Kind::FileUnreadable:
        why = fileOutcomeEnglish(r);
        break;
    case Kind::FileTooLarge:
        why = QStringLiteral("%1 bytes, more than the %2 bytes a firmware file may have")
                  .arg(number(r.fileSize), number(maxFileSize));
        break;
    case Kind::OutOfMemory:
        why = QStringLiteral("out of memory");
        break;
    case Kind::WrongContent:
        why = QStringLiteral("the extension says %1, the content is not").arg(formatName(r.format));
        break;
    case Kind::BadChecksum:
        why = at + QStringLiteral("checksum error");
        break;
    case Kind::BadCharacter:
        why = at + QStringLiteral("unexpected character");
        break;
    case Kind::BadLength:
        why = at + QStringLiteral("record length does not fit its byte count or type");
        break;
    case Kind::BadRecordType:
        why = at + QStringLiteral("unknown record type");
        break;
    case Kind::BadCount:
        why = at + QStringLiteral("record count differs from the data records before it");
        break;
    case Kind::AfterEnd:
        why = at + QStringLiteral("records after the end record");
        break;
    case Kind::BadHeader:
        why = QStringLiteral("bad ELF header: ") + elfProblemEnglish(r);
        break;
    case Kind::Truncated:
        if (!elf)
            why = QStringLiteral("truncated at line %1").arg(r.line);
        else if (r.segment < 0)
            why = QStringLiteral("truncated: the ELF header or program headers run past its end");
        else
            why = QStringLiteral("truncated: program header [%1]'s segment runs past its end")
                      .arg(r.segment);
        break;
    case Kind::Overlap:
        if (elf)
            why = QStringLiteral("program header [%1]: data at %2 differs from program header [%3]")
                      .arg(number(r.segment), hexAddress(r.address), number(r.otherSegment));
        else
            why = at + QStringLiteral("data at %1 differs from line %2")
                           .arg(hexAddress(r.address), number(r.otherLine));
        break;
    case Kind::NoData:
        why = QStringLiteral("no data");
        break;
    case Kind::SpanTooLarge:
        why =
            QStringLiteral("data from %1 to %2 spans %3 bytes%4, more than %5")
                .arg(rangeText(r.low, QStringLiteral("-")), rangeText(r.high, QStringLiteral("-")),
                     QString::number(r.span),
                     r.base ? QStringLiteral(" from base %1").arg(hexAddress(*r.base)) : QString(),
                     number(maxSpan));
        break;
    case Kind::BelowBase:
        why = QStringLiteral("data at %1 lies below the base address %2")
                  .arg(hexAddress(r.address), hexAddress(r.base.value_or(0)));
        break;
    }
    return path + QStringLiteral(": ") + why;
}

} // namespace FirmwareImage

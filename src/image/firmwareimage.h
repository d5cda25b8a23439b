#pragma once

#include "blocksplit.h"
#include "imagefile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Firmware files as the toolchain writes them (Intel HEX, Motorola S-record, ELF) turned into
// the flat image the bootloader takes: every byte from the lowest address with data to the
// highest, gaps filled with 0xFF, the same bytes `objcopy -O binary --gap-fill 0xff` writes.
// A file is taken whole or refused with the reason and the place; there is no partial image.
namespace FirmwareImage
{

// Which reader a file goes to; its extension chooses (formatForPath, openDialogFilter).
enum class Format {
    Binary, // .bin and every extension no other reader claims: the file's bytes as they are
    IntelHex,
    SRecord,
    Elf,
};

// The reader a file name's extension selects (case-insensitive).
Format formatForPath(const QString &path);

// The firmware format `content` is written in, told by its start alone: the ELF magic number, or
// a first record of Intel HEX or S-record text that is whole and has a good checksum. Empty for
// anything else, a raw image among them.
std::optional<Format> formatOfContent(QByteArrayView content);

// The format's name as the notices write it: "Bin", "Intel HEX", "S-record", "ELF".
QString formatName(Format format);

// The extension a file of `format` is best named with: "hex", "srec", "elf", "bin".
QString extensionOf(Format format);

// How read() chooses the reader.
enum class Naming {
    ByExtension, // the extension alone: any other name is a raw image, taken as it is
    Checked,     // the extension, but content of another firmware format is refused (Misnamed)
    Raw,         // every file is a raw image, whatever its name and content
};

// The open dialog's choices as "description|pattern" pairs: raw images ("(*.BIN)|*.BIN"), then
// every extension a firmware reader claims, in one choice.
QString openDialogFilter();

// The longest flat image: what the length frame can announce, 64 MiB - 1.
constexpr qint64 maxSpan = BlockSplit::maxLength;
// The longest HEX, S-record or ELF file read: a 64 MiB - 1 image as 1-byte HEX records is
// about 900 MiB of text.
constexpr qint64 maxFileSize = qint64(1) << 30;

// An inclusive address range.
struct Range {
    quint64 first = 0;
    quint64 last = 0;
};

// What is wrong with an ELF header, program header or section header table.
enum class ElfProblem {
    None,
    Class,                // neither 32- nor 64-bit
    ByteOrder,            // neither little- nor big-endian
    HeaderSize,           // program header entries too small for their class
    TooManySegments,      // program header count kept in a section header (65535 or more)
    FileLargerThanMemory, // a segment has more bytes in the file than in memory
    TooManyPairs,         // over 2^20 pairs of load segment and section to match
    AddressWraps,         // a segment runs past the end of the address space
    SectionHeaderSize,    // section header entries too small for their class
    SectionsCut,          // with Truncated: the section header table runs past the file's end
};

struct Refusal {
    enum class Kind {
        None,           // not refused
        FileUnreadable, // the file could not be read: see fileOutcome
        FileTooLarge,   // more than maxFileSize bytes (fileSize)
        OutOfMemory,    // no memory for the file or the image
        WrongContent,   // not the format its extension names
        Misnamed,       // the content is another firmware format (found) than the name says
        BadChecksum,    // line
        BadCharacter,   // line: not a record, or not a hexadecimal digit
        BadLength,      // line: the byte count disagrees with the line or with the record type
        BadRecordType,  // line
        BadCount,       // line: an S5/S6 record count disagrees with the data records before it
        AfterEnd,       // line: more records after the end record
        BadHeader,      // ELF: elfProblem, segment
        Truncated,      // text: the line where the file stops; ELF: segment, or -1 for a header
                        // (elfProblem SectionsCut: the section header table)
        Overlap,        // address: the first byte two records disagree on (line, otherLine or
                        // segment, otherSegment)
        NoData,         // no data bytes at all
        SpanTooLarge,   // span from low.first (or base) to high.last over maxSpan
        BelowBase,      // address: the lowest data address, under base
    };
    Kind kind = Kind::None;
    Format format = Format::Binary; // the reader the name chose
    Format found = Format::Binary;  // misnamed: the format of the content
    qint64 line = 0;                // 1-based line of a HEX or S-record record; 0 when none
    qint64 otherLine = 0;           // overlap: the earlier record the line disagrees with
    int segment = -1;               // ELF: program header index; -1 when none
    int otherSegment = -1;
    ElfProblem elfProblem = ElfProblem::None;
    quint64 address = 0;
    std::optional<quint64> base; // the required start address, when one was given
    Range low, high;             // span too large: the lowest and the highest range with data
    quint64 span = 0;            // span too large: bytes from the start to high.last
    ImageFile::Outcome fileOutcome = ImageFile::Outcome::Loaded;
    qint64 fileSize = -1;
};

struct Result {
    Format format = Format::Binary; // the reader that made the image
    QByteArray data;                // the flat image; empty when refused
    quint64 start = 0;              // the address of data[0]
    qint64 span = 0;                // data.size()
    Refusal refusal;                // kind None when converted
    bool ok() const { return refusal.kind == Refusal::Kind::None; }
};

// Reads the file at `path` with the reader its extension selects and turns it into the flat
// image. With `base`, data below it is refused and the image starts at it, padded with 0xFF up to
// the lowest data. A binary file's bytes are the image as they are, starting at `base` (or 0).
// `naming` says whether the content may overrule the name.
Result read(const QString &path, std::optional<quint64> base = {},
            Naming naming = Naming::ByExtension);

// The notice that tells the operator why `path` was not loaded (Simplified Chinese), in the
// style of ImageFile::refusalMessage; with `imageKept` it adds that the loaded image stays.
QString refusalMessage(const Refusal &refusal, const QString &path, bool imageKept);

// One English line for the command line: "PATH: line 12: checksum error".
QString refusalLine(const Refusal &refusal, const QString &path);

// "0x08004000": at least 8 upper-case digits.
QString hexAddress(quint64 address);

} // namespace FirmwareImage

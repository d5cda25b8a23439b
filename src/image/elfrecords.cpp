// ELF, 32- or 64-bit, little- or big-endian: each PT_LOAD program header's p_filesz bytes from
// p_offset in the file, placed at its physical address p_paddr. That is where the loader puts a
// segment's initial bytes in flash (.data's values sit after .text there and are copied to RAM at
// start-up); a segment's memory beyond its file bytes (.bss) is zeroed at run time, not loaded.
//
// Of a segment's file bytes only those inside an allocated section with contents are taken (all
// of them when the file has no section headers): the linker's alignment padding between two
// sections of one segment stays a gap, filled with 0xFF like every other gap, as objcopy does.
#include "firmwarerecords.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace FirmwareImage::Records
{

namespace
{

using Kind = Refusal::Kind;

constexpr quint32 loadSegment = 1;         // PT_LOAD
constexpr quint16 countInSection = 0xFFFF; // PN_XNUM: the count lives in section header 0
constexpr quint32 noBits = 8;              // SHT_NOBITS: .bss, no bytes in the file
constexpr quint64 allocated = 2;           // SHF_ALLOC
// Pairs of segments and sections looked at; real firmware has a few of each.
constexpr quint64 maxPairs = quint64(1) << 20;

struct Piece {
    quint64 offset;
    quint64 size;
};

struct Load {
    int index;
    quint64 address;
    Piece file;
};

class Fields
{
public:
    Fields(const uchar *bytes, bool bigEndian) : m_bytes(bytes), m_big(bigEndian) {}
    quint64 get(qint64 at, int size) const
    {
        quint64 v = 0;
        for (int i = 0; i < size; ++i)
            v |= quint64(m_bytes[at + i]) << (8 * (m_big ? size - 1 - i : i));
        return v;
    }

private:
    const uchar *m_bytes;
    bool m_big;
};

Refusal refuse(Kind kind, int segment = -1, ElfProblem problem = ElfProblem::None)
{
    Refusal r;
    r.kind = kind;
    r.format = Format::Elf;
    r.segment = segment;
    r.elfProblem = problem;
    return r;
}

} // namespace

Refusal readElf(QByteArrayView file, Sink &sink)
{
    const auto *b = reinterpret_cast<const uchar *>(file.data());
    const qint64 n = file.size();
    if (n < 4 || b[0] != 0x7F || b[1] != 'E' || b[2] != 'L' || b[3] != 'F')
        return refuse(Kind::WrongContent);
    if (n < 6)
        return refuse(Kind::Truncated);
    const bool wide = b[4] == 2;
    if (b[4] != 1 && !wide)
        return refuse(Kind::BadHeader, -1, ElfProblem::Class);
    if (b[5] != 1 && b[5] != 2)
        return refuse(Kind::BadHeader, -1, ElfProblem::ByteOrder);
    if (n < (wide ? 64 : 52))
        return refuse(Kind::Truncated);
    const Fields f(b, b[5] == 2);
    const int word = wide ? 8 : 4;
    const quint64 tableAt = f.get(wide ? 32 : 28, word);
    const quint64 entrySize = f.get(wide ? 54 : 42, 2);
    const quint64 entries = f.get(wide ? 56 : 44, 2);
    if (entries == countInSection)
        return refuse(Kind::BadHeader, -1, ElfProblem::TooManySegments);
    if (entries == 0)
        return Refusal(); // no program headers (an object file): no data
    if (entrySize < quint64(wide ? 56 : 32))
        return refuse(Kind::BadHeader, -1, ElfProblem::HeaderSize);
    if (tableAt > quint64(n) || entries * entrySize > quint64(n) - tableAt)
        return refuse(Kind::Truncated);

    std::vector<Load> loads;
    for (quint64 i = 0; i < entries; ++i) {
        const qint64 at = qint64(tableAt + i * entrySize);
        if (f.get(at, 4) != loadSegment)
            continue;
        const quint64 offset = f.get(at + (wide ? 8 : 4), word);
        const quint64 address = f.get(at + (wide ? 24 : 12), word);
        const quint64 fileSize = f.get(at + (wide ? 32 : 16), word);
        const quint64 memorySize = f.get(at + (wide ? 40 : 20), word);
        if (fileSize == 0)
            continue;
        if (fileSize > memorySize)
            return refuse(Kind::BadHeader, int(i), ElfProblem::FileLargerThanMemory);
        if (fileSize - 1 > std::numeric_limits<quint64>::max() - address)
            return refuse(Kind::BadHeader, int(i), ElfProblem::AddressWraps);
        if (offset > quint64(n) || fileSize > quint64(n) - offset)
            return refuse(Kind::Truncated, int(i));
        loads.push_back({int(i), address, {offset, fileSize}});
    }

    // The sections with bytes to load; without a section table, each segment is one.
    const quint64 sectionsAt = f.get(wide ? 40 : 32, word);
    const quint64 sectionSize = f.get(wide ? 58 : 46, 2);
    const quint64 sections = sectionsAt == 0 ? 0 : f.get(wide ? 60 : 48, 2);
    std::vector<Piece> contents;
    if (sections > 0) {
        if (sectionSize < quint64(wide ? 64 : 40))
            return refuse(Kind::BadHeader, -1, ElfProblem::HeaderSize);
        if (sectionsAt > quint64(n) || sections * sectionSize > quint64(n) - sectionsAt)
            return refuse(Kind::Truncated);
        for (quint64 i = 0; i < sections; ++i) {
            const qint64 at = qint64(sectionsAt + i * sectionSize);
            const quint64 size = f.get(at + (wide ? 32 : 20), word);
            if (f.get(at + 4, 4) != noBits && (f.get(at + 8, word) & allocated) && size > 0)
                contents.push_back({f.get(at + (wide ? 24 : 16), word), size});
        }
        if (contents.size() * loads.size() > maxPairs)
            return refuse(Kind::BadHeader, -1, ElfProblem::TooManyPairs);
    }
    for (const Load &load : loads) {
        if (sections == 0) {
            sink.data(load.address, b + load.file.offset, qint64(load.file.size), load.index);
            continue;
        }
        const quint64 loadEnd = load.file.offset + load.file.size;
        for (const Piece &section : contents) {
            const quint64 from = std::max(section.offset, load.file.offset);
            const quint64 to = section.size > loadEnd - std::min(loadEnd, section.offset)
                                   ? loadEnd
                                   : section.offset + section.size;
            if (from < to)
                sink.data(load.address + (from - load.file.offset), b + from, qint64(to - from),
                          load.index);
        }
    }
    return Refusal();
}

} // namespace FirmwareImage::Records

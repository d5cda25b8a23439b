// ELF, 32- or 64-bit, little- or big-endian: each PT_LOAD program header's p_filesz bytes from
// p_offset in the file, placed at its physical address p_paddr. That is where the loader puts a
// segment's initial bytes in flash (.data's values sit after .text there and are copied to RAM at
// start-up); a segment's memory beyond its file bytes (.bss) is zeroed at run time, not loaded.
// A file whose program headers all have physical address 0 was linked without any, and its
// segments go to their virtual addresses p_vaddr, as objcopy places them.
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
    Fields() = default;
    Fields(const uchar *bytes, bool bigEndian) : m_bytes(bytes), m_big(bigEndian) {}
    quint64 get(qint64 at, int size) const
    {
        quint64 v = 0;
        for (int i = 0; i < size; ++i)
            v |= quint64(m_bytes[at + i]) << (8 * (m_big ? size - 1 - i : i));
        return v;
    }

private:
    const uchar *m_bytes = nullptr;
    bool m_big = false;
};

// The file as its identification describes it.
struct Elf {
    const uchar *bytes = nullptr;
    quint64 size = 0;
    bool wide = false; // 64-bit
    int word = 4;      // the width of an address, offset or size
    Fields f;
};

// A table of headers: where it starts, the size of one entry, how many.
struct Table {
    quint64 at = 0;
    quint64 entrySize = 0;
    quint64 entries = 0;
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

// The magic number, the class and the byte order, and room for the ELF header of that class.
Refusal identify(QByteArrayView file, Elf &e)
{
    const auto *b = reinterpret_cast<const uchar *>(file.data());
    const qint64 n = file.size();
    if (n < 4 || b[0] != 0x7F || b[1] != 'E' || b[2] != 'L' || b[3] != 'F')
        return refuse(Kind::WrongContent);
    if (n < 6)
        return refuse(Kind::Truncated);
    e.wide = b[4] == 2;
    if (b[4] != 1 && !e.wide)
        return refuse(Kind::BadHeader, -1, ElfProblem::Class);
    if (b[5] != 1 && b[5] != 2)
        return refuse(Kind::BadHeader, -1, ElfProblem::ByteOrder);
    if (n < (e.wide ? 64 : 52))
        return refuse(Kind::Truncated);
    e.bytes = b;
    e.size = quint64(n);
    e.word = e.wide ? 8 : 4;
    e.f = Fields(b, b[5] == 2);
    return Refusal();
}

// The program header table; no entries when the file has none (an object file).
Refusal programTable(const Elf &e, Table &programs)
{
    programs.at = e.f.get(e.wide ? 32 : 28, e.word);
    programs.entrySize = e.f.get(e.wide ? 54 : 42, 2);
    programs.entries = e.f.get(e.wide ? 56 : 44, 2);
    if (programs.entries == countInSection)
        return refuse(Kind::BadHeader, -1, ElfProblem::TooManySegments);
    if (programs.entries == 0)
        return Refusal();
    if (programs.entrySize < quint64(e.wide ? 56 : 32))
        return refuse(Kind::BadHeader, -1, ElfProblem::HeaderSize);
    if (programs.at > e.size || programs.entries * programs.entrySize > e.size - programs.at)
        return refuse(Kind::Truncated);
    return Refusal();
}

// Where in a program header its address lies: the physical one, or with `virtualAddress` the
// virtual one.
int addressField(const Elf &e, bool virtualAddress)
{
    return e.wide ? (virtualAddress ? 16 : 24) : (virtualAddress ? 8 : 12);
}

// True when every program header's physical address is 0.
bool noPhysicalAddresses(const Elf &e, const Table &programs)
{
    for (quint64 i = 0; i < programs.entries; ++i)
        if (e.f.get(qint64(programs.at + i * programs.entrySize) + addressField(e, false), e.word))
            return false;
    return true;
}

// The load segments with bytes in the file, in program header order.
Refusal loadSegments(const Elf &e, const Table &programs, std::vector<Load> &loads)
{
    const int addressAt = addressField(e, noPhysicalAddresses(e, programs));
    for (quint64 i = 0; i < programs.entries; ++i) {
        const qint64 at = qint64(programs.at + i * programs.entrySize);
        if (e.f.get(at, 4) != loadSegment)
            continue;
        const quint64 offset = e.f.get(at + (e.wide ? 8 : 4), e.word);
        const quint64 address = e.f.get(at + addressAt, e.word);
        const quint64 fileSize = e.f.get(at + (e.wide ? 32 : 16), e.word);
        const quint64 memorySize = e.f.get(at + (e.wide ? 40 : 20), e.word);
        if (fileSize == 0)
            continue;
        if (fileSize > memorySize)
            return refuse(Kind::BadHeader, int(i), ElfProblem::FileLargerThanMemory);
        if (fileSize - 1 > std::numeric_limits<quint64>::max() - address)
            return refuse(Kind::BadHeader, int(i), ElfProblem::AddressWraps);
        if (offset > e.size || fileSize > e.size - offset)
            return refuse(Kind::Truncated, int(i));
        loads.push_back({int(i), address, {offset, fileSize}});
    }
    return Refusal();
}

// The section header table; no entries when the file has none.
Table sectionTable(const Elf &e)
{
    Table sections;
    sections.at = e.f.get(e.wide ? 40 : 32, e.word);
    sections.entrySize = e.f.get(e.wide ? 58 : 46, 2);
    sections.entries = sections.at == 0 ? 0 : e.f.get(e.wide ? 60 : 48, 2);
    return sections;
}

// The file bytes of the allocated sections with contents, to be matched with `loads` segments.
Refusal sectionContents(const Elf &e, const Table &sections, size_t loads,
                        std::vector<Piece> &contents)
{
    if (sections.entrySize < quint64(e.wide ? 64 : 40))
        return refuse(Kind::BadHeader, -1, ElfProblem::SectionHeaderSize);
    if (sections.at > e.size || sections.entries * sections.entrySize > e.size - sections.at)
        return refuse(Kind::Truncated, -1, ElfProblem::SectionsCut);
    for (quint64 i = 0; i < sections.entries; ++i) {
        const qint64 at = qint64(sections.at + i * sections.entrySize);
        const quint64 size = e.f.get(at + (e.wide ? 32 : 20), e.word);
        if (e.f.get(at + 4, 4) != noBits && (e.f.get(at + 8, e.word) & allocated) && size > 0)
            contents.push_back({e.f.get(at + (e.wide ? 24 : 16), e.word), size});
    }
    if (contents.size() * loads > maxPairs)
        return refuse(Kind::BadHeader, -1, ElfProblem::TooManyPairs);
    return Refusal();
}

// Hands the sink the part of a segment's file bytes inside each section with contents.
void handSections(const Elf &e, const Load &load, const std::vector<Piece> &contents, Sink &sink)
{
    const quint64 loadEnd = load.file.offset + load.file.size;
    for (const Piece &section : contents) {
        const quint64 from = std::max(section.offset, load.file.offset);
        const quint64 to = section.size > loadEnd - std::min(loadEnd, section.offset)
                               ? loadEnd
                               : section.offset + section.size;
        if (from < to)
            sink.data(load.address + (from - load.file.offset), e.bytes + from, qint64(to - from),
                      load.index);
    }
}

} // namespace

Refusal readElf(QByteArrayView file, Sink &sink)
{
    Elf e;
    Table programs;
    Refusal fault = identify(file, e);
    if (fault.kind == Kind::None)
        fault = programTable(e, programs);
    if (fault.kind != Kind::None || programs.entries == 0)
        return fault; // no program headers: no data
    std::vector<Load> loads;
    fault = loadSegments(e, programs, loads);
    if (fault.kind != Kind::None)
        return fault;

    // The sections with bytes to load; without a section table, each segment is one.
    const Table sections = sectionTable(e);
    std::vector<Piece> contents;
    if (sections.entries > 0) {
        fault = sectionContents(e, sections, loads.size(), contents);
        if (fault.kind != Kind::None)
            return fault;
    }
    for (const Load &load : loads) {
        if (sections.entries > 0)
            handSections(e, load, contents, sink);
        else
            sink.data(load.address, e.bytes + load.file.offset, qint64(load.file.size), load.index);
    }
    return Refusal();
}

} // namespace FirmwareImage::Records

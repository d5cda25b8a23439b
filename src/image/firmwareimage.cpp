#include "firmwareimage.h"

#include "firmwarerecords.h"
#include "hugepages.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace FirmwareImage
{

namespace
{

using Kind = Refusal::Kind;

// The extensions that select each reader, in the order the file dialog lists them. A raw image
// is shown with the extension it has always had; any extension not listed is read raw too.
struct Extension {
    const char *name;
    Format format;
};
constexpr Extension extensions[] = {
    {"BIN", Format::Binary},   {"hex", Format::IntelHex}, {"ihx", Format::IntelHex},
    {"s19", Format::SRecord},  {"s28", Format::SRecord},  {"s37", Format::SRecord},
    {"srec", Format::SRecord}, {"mot", Format::SRecord},  {"elf", Format::Elf},
    {"axf", Format::Elf},      {"out", Format::Elf},
};

Result refused(Refusal r)
{
    Result result;
    result.refusal = std::move(r);
    return result;
}

Refusal refusal(Kind kind, Format format)
{
    Refusal r;
    r.kind = kind;
    r.format = format;
    return r;
}

// A run of data bytes at consecutive addresses, as the readers found it.
struct Run {
    quint64 address;
    const uchar *bytes;
    qint64 length;
};

// Keeps the readers' data: text records are decoded into one buffer (a text of n characters
// holds at most n / 2 data bytes), ELF segments stay where they are in the file. Records that
// continue the previous one join its run.
class Collector : public Records::Sink
{
public:
    explicit Collector(qint64 capacity)
        : m_buffer(capacity > 0 ? std::make_unique_for_overwrite<uchar[]>(size_t(capacity))
                                : nullptr)
    {
        prefault(m_buffer.get(), size_t(capacity), false); // the data may fill only a part
    }
    uchar *room(qint64) override { return m_buffer.get() + m_used; }
    void data(quint64 address, const uchar *bytes, qint64 length, qint64) override
    {
        if (length == 0)
            return;
        if (bytes == m_buffer.get() + m_used)
            m_used += length;
        if (!m_runs.empty()) {
            Run &last = m_runs.back();
            if (last.address + quint64(last.length) == address &&
                last.bytes + last.length == bytes) {
                last.length += length;
                return;
            }
        }
        m_runs.push_back({address, bytes, length});
    }
    std::vector<Run> &runs() { return m_runs; }

private:
    std::unique_ptr<uchar[]> m_buffer;
    qint64 m_used = 0;
    std::vector<Run> m_runs;
};

// Finds, in file order, the first record that puts a different byte at `address` than the
// first record that wrote it.
class OverlapFinder : public Records::Sink
{
public:
    explicit OverlapFinder(quint64 address) : m_address(address) {}
    uchar *room(qint64) override { return m_scratch; }
    void data(quint64 address, const uchar *bytes, qint64 length, qint64 where) override
    {
        if (m_later >= 0 || m_address < address || m_address - address >= quint64(length))
            return;
        const uchar value = bytes[m_address - address];
        if (m_earlier < 0)
            m_earlier = where, m_value = value;
        else if (value != m_value)
            m_later = where;
    }
    qint64 earlier() const { return m_earlier; }
    qint64 later() const { return m_later; }

private:
    quint64 m_address;
    uchar m_scratch[256];
    uchar m_value = 0;
    qint64 m_earlier = -1;
    qint64 m_later = -1;
};

Refusal readRecords(Format format, QByteArrayView content, Records::Sink &sink)
{
    switch (format) {
    case Format::IntelHex:
        return Records::readIntelHex(content, sink);
    case Format::SRecord:
        return Records::readSRecord(content, sink);
    case Format::Elf:
        return Records::readElf(content, sink);
    case Format::Binary:
        break;
    }
    return Refusal();
}

// The runs sorted by address, joined where they touch or overlap: the ranges with data.
std::vector<Range> rangesOf(const std::vector<Run> &sorted)
{
    std::vector<Range> ranges;
    for (const Run &run : sorted) {
        const quint64 last = run.address + quint64(run.length - 1);
        if (!ranges.empty() &&
            (run.address <= ranges.back().last || run.address - ranges.back().last == 1))
            ranges.back().last = std::max(ranges.back().last, last);
        else
            ranges.push_back({run.address, last});
    }
    return ranges;
}

// Where the image of the sorted runs starts (`base`, or their lowest address) and how long it
// is; refused when data lies below the base or the span is over `limit`.
struct Placement {
    quint64 start = 0;
    qint64 span = 0;
    Refusal refusal;
};

Placement place(Format format, const std::vector<Run> &sorted, std::optional<quint64> base,
                qint64 limit)
{
    const quint64 lowest = sorted.front().address;
    quint64 highest = 0;
    for (const Run &run : sorted)
        highest = std::max(highest, run.address + quint64(run.length - 1));
    Placement p;
    p.start = base ? *base : lowest;
    if (lowest < p.start) {
        p.refusal = refusal(Kind::BelowBase, format);
        p.refusal.address = lowest;
        p.refusal.base = base;
    } else if (highest - p.start >= quint64(limit)) {
        const std::vector<Range> ranges = rangesOf(sorted);
        p.refusal = refusal(Kind::SpanTooLarge, format);
        p.refusal.low = ranges.front();
        p.refusal.high = ranges.back();
        p.refusal.base = base;
        p.refusal.span = highest - p.start == ~0ULL ? ~0ULL : highest - p.start + 1;
    } else {
        p.span = qint64(highest - p.start) + 1;
    }
    return p;
}

// Writes each byte of the image once, from `start`: the sorted runs' bytes, 0xFF between them.
// Returns the first address where a run disagrees with the bytes an earlier run put there.
std::optional<quint64> layOut(const std::vector<Run> &sorted, quint64 start, uchar *image)
{
    qint64 covered = 0; // image bytes [0, covered) are written: the runs before, 0xFF between
    for (const Run &run : sorted) {
        const qint64 at = qint64(run.address - start);
        const qint64 end = at + run.length;
        if (at < covered) {
            const qint64 same = std::min(end, covered) - at;
            if (std::memcmp(image + at, run.bytes, size_t(same)) != 0) {
                qint64 i = 0;
                while (image[at + i] == run.bytes[i])
                    ++i;
                return run.address + quint64(i);
            }
        }
        if (at > covered)
            std::memset(image + covered, 0xFF, size_t(at - covered)); // the gap before the run
        if (end > covered) {
            const qint64 from = std::max(at, covered);
            std::memcpy(image + from, run.bytes + (from - at), size_t(end - from));
            covered = end;
        }
    }
    return std::nullopt;
}

// Two records disagree at `address`: the refusal names the first that wrote it and the first
// that differs, found by reading the file again.
Refusal overlapAt(Format format, QByteArrayView content, quint64 address)
{
    Refusal r = refusal(Kind::Overlap, format);
    r.address = address;
    OverlapFinder finder(address);
    readRecords(format, content, finder);
    if (format == Format::Elf)
        r.otherSegment = int(finder.earlier()), r.segment = int(finder.later());
    else
        r.otherLine = finder.earlier(), r.line = finder.later();
    return r;
}

// Lays the runs out from their lowest address (or `base`) to their highest, 0xFF between.
Result flatten(Format format, QByteArrayView content, std::vector<Run> &runs,
               std::optional<quint64> base, qint64 limit)
{
    if (runs.empty())
        return refused(refusal(Kind::NoData, format));
    std::stable_sort(runs.begin(), runs.end(),
                     [](const Run &a, const Run &b) { return a.address < b.address; });
    const Placement placement = place(format, runs, base, limit);
    if (placement.refusal.kind != Kind::None)
        return refused(placement.refusal);
    Result result;
    try {
        result.data = freshBuffer(placement.span);
    } catch (const std::bad_alloc &) {
        return refused(refusal(Kind::OutOfMemory, format));
    }
    auto *image = reinterpret_cast<uchar *>(result.data.data());
    if (const std::optional<quint64> clash = layOut(runs, placement.start, image))
        return refused(overlapAt(format, content, *clash));
    result.start = placement.start;
    result.span = placement.span;
    return result;
}

// Why a file that could not be read whole was refused. A HEX, S-record or ELF file over its
// limit, or without memory for its bytes, has refusals of its own; the rest are the loader's.
Refusal unreadable(Format format, const ImageFile::Result &file)
{
    Refusal r = refusal(Kind::FileUnreadable, format);
    const bool firmware = format != Format::Binary;
    if (firmware && file.outcome == ImageFile::Outcome::TooLarge)
        r.kind = Kind::FileTooLarge;
    else if (firmware && file.outcome == ImageFile::Outcome::OutOfMemory)
        r.kind = Kind::OutOfMemory;
    else
        r.fileOutcome = file.outcome;
    r.fileSize = file.size;
    return r;
}

} // namespace

Format formatForPath(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const Extension &extension : extensions)
        if (suffix == QString::fromLatin1(extension.name).toLower())
            return extension.format;
    return Format::Binary;
}

QString openDialogFilter()
{
    QStringList raw, firmware;
    for (const Extension &extension : extensions)
        (extension.format == Format::Binary ? raw : firmware)
            << QStringLiteral("*.") + QLatin1String(extension.name);
    // One choice: its patterns in brackets as its description, then the patterns.
    const auto choice = [](const QStringList &patterns) {
        const QString joined = patterns.join(QLatin1Char(';'));
        return QLatin1Char('(') + joined + QStringLiteral(")|") + joined;
    };
    return choice(raw) + QLatin1Char('|') + choice(firmware);
}

Result Records::convertWithin(Format format, QByteArrayView content, std::optional<quint64> base,
                              qint64 limit)
{
    try {
        Collector collector(format == Format::Elf ? 0 : content.size() / 2);
        const Refusal fault = readRecords(format, content, collector);
        if (fault.kind != Kind::None)
            return refused(fault);
        Result result = flatten(format, content, collector.runs(), base, limit);
        result.format = format;
        return result;
    } catch (const std::bad_alloc &) { // the decoded bytes, or a list of many scattered records
        return refused(refusal(Kind::OutOfMemory, format));
    }
}

QString extensionOf(Format format)
{
    switch (format) {
    case Format::IntelHex:
        return QStringLiteral("hex");
    case Format::SRecord:
        return QStringLiteral("srec");
    case Format::Elf:
        return QStringLiteral("elf");
    case Format::Binary:
        break;
    }
    return QStringLiteral("bin");
}

Result read(const QString &path, std::optional<quint64> base, Naming naming)
{
    const Format format = naming == Naming::Raw ? Format::Binary : formatForPath(path);
    ImageFile::Result file =
        ImageFile::read(path, format == Format::Binary ? maxSpan : maxFileSize);
    if (file.outcome != ImageFile::Outcome::Loaded)
        return refused(unreadable(format, file));
    if (naming == Naming::Checked) {
        const std::optional<Format> found = formatOfContent(file.data);
        if (found && *found != format) {
            Refusal r = refusal(Kind::Misnamed, format);
            r.found = *found;
            return refused(r);
        }
    }
    if (format != Format::Binary)
        return Records::convertWithin(format, file.data, base, maxSpan);
    Result r;
    r.start = base.value_or(0);
    r.span = file.data.size();
    r.data = std::move(file.data); // the loader's bytes as they are, not copied
    return r;
}

QString hexAddress(quint64 address)
{
    return QStringLiteral("0x") +
           QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

} // namespace FirmwareImage

// Intel HEX and Motorola S-record: lines of hexadecimal text, one record per line.
//
// Intel HEX ":LLAAAATT<data>CC": LL data bytes, a 16-bit offset, type 00 data, 01 end of file,
// 02 segment base (times 16), 03 start segment address, 04 upper 16 bits of the linear address,
// 05 start linear address; CC makes the sum of all bytes 0. A data byte lands at linear base +
// segment base + offset, and a record runs on straight across a 64 KiB boundary (as objcopy
// reads it).
//
// S-record "STLL<address><data>CC": LL counts the address, data and checksum bytes; S0 header,
// S1/S2/S3 data at a 16/24/32-bit address, S5/S6 the number of data records so far, S7/S8/S9
// end with a 32/24/16-bit start address; CC makes the sum of every byte after the type 0xFF.
//
// Both: blank lines, trailing blanks and CR LF line ends are fine; nothing but blanks may follow
// the end record, and a file without one is cut short.
#include "firmwarerecords.h"

#include <array>

namespace FirmwareImage::Records
{

namespace
{

using Kind = Refusal::Kind;

constexpr uchar notHex = 0xFF;

constexpr std::array<uchar, 256> makeNibbles()
{
    std::array<uchar, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[c] = notHex;
    for (int c = '0'; c <= '9'; ++c)
        t[c] = uchar(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        t[c] = uchar(c - 'A' + 10), t[c + 32] = uchar(c - 'A' + 10);
    return t;
}
constexpr std::array<uchar, 256> nibble = makeNibbles();

// A walk through the text, record by record.
class Text
{
public:
    Text(QByteArrayView text, Format format)
        : m_p(reinterpret_cast<const uchar *>(text.data())), m_end(m_p + text.size()),
          m_format(format)
    {
        if (m_end - m_p >= 3 && m_p[0] == 0xEF && m_p[1] == 0xBB && m_p[2] == 0xBF)
            m_p += 3; // a UTF-8 byte order mark some editors write
    }

    // Skips blanks and line ends up to the next record; false at the end of the text.
    bool nextRecord()
    {
        while (m_p < m_end) {
            const uchar c = *m_p;
            if (c == '\n') {
                ++m_line;
            } else if (c == '\r') {
                if (m_p + 1 == m_end || m_p[1] != '\n')
                    ++m_line; // a lone CR ends a line too
            } else if (c != ' ' && c != '\t') {
                m_recordLine = m_line;
                return true;
            }
            ++m_p;
        }
        return false;
    }

    uchar peek() const { return *m_p; }
    // The next character of the record; -1 at the end of the text.
    int take() { return m_p < m_end ? *m_p++ : -1; }
    qint64 recordLine() const { return m_recordLine; }

    // Decodes `count` bytes (2 digits each) into `out`, adding them to `sum`.
    Kind decode(uchar *out, int count, uint &sum)
    {
        if (m_end - m_p >= 2 * count) {
            uchar bad = 0;
            uint s = 0;
            for (int i = 0; i < count; ++i) {
                const uchar hi = nibble[m_p[2 * i]], lo = nibble[m_p[2 * i + 1]];
                bad |= hi | lo;
                const uchar b = uchar(hi << 4 | lo);
                out[i] = b;
                s += b;
            }
            if (!(bad & 0xF0)) {
                m_p += 2 * count;
                sum += s;
                return Kind::None;
            }
        }
        for (int i = 0; i < 2 * count; ++i, ++m_p) {
            if (m_p == m_end)
                return Kind::Truncated;
            if (nibble[*m_p] == notHex)
                return *m_p == '\r' || *m_p == '\n' ? shortLine() : Kind::BadCharacter;
        }
        return Kind::None; // not reached: the fast path takes every good record
    }

    // After the checksum: blanks, then the line's end.
    Kind endOfRecord()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\t'))
            ++m_p;
        if (m_p == m_end || *m_p == '\r' || *m_p == '\n')
            return Kind::None;
        return nibble[*m_p] != notHex ? Kind::BadLength : Kind::BadCharacter;
    }

    Refusal refuse(Kind kind) const
    {
        Refusal r;
        r.kind = kind;
        r.format = m_format;
        r.line = m_recordLine;
        return r;
    }

private:
    // A line that ends inside its record: the file's last line is cut off, any other is short.
    Kind shortLine() const
    {
        for (const uchar *q = m_p; q < m_end; ++q) {
            if (*q != ' ' && *q != '\t' && *q != '\r' && *q != '\n')
                return Kind::BadLength;
        }
        return Kind::Truncated;
    }

    const uchar *m_p;
    const uchar *m_end;
    Format m_format;
    qint64 m_line = 1;
    qint64 m_recordLine = 1;
};

// After the end record: blanks only.
Refusal afterEnd(Text &t)
{
    return t.nextRecord() ? t.refuse(Kind::AfterEnd) : Refusal();
}

} // namespace

Refusal readIntelHex(QByteArrayView view, Sink &sink)
{
    Text t(view, Format::IntelHex);
    if (!t.nextRecord())
        return t.refuse(Kind::NoData);
    if (t.peek() != ':')
        return t.refuse(Kind::WrongContent);
    quint64 linearBase = 0, segmentBase = 0;
    uchar head[4];
    uchar scratch[256];
    do {
        if (t.take() != ':')
            return t.refuse(Kind::BadCharacter);
        uint sum = 0;
        Kind k = t.decode(head, 4, sum);
        if (k != Kind::None)
            return t.refuse(k);
        const int count = head[0];
        const uint offset = uint(head[1]) << 8 | head[2];
        const int type = head[3];
        uchar *out = type == 0 ? sink.room(count) : scratch;
        uchar check[1];
        if ((k = t.decode(out, count, sum)) != Kind::None ||
            (k = t.decode(check, 1, sum)) != Kind::None || (k = t.endOfRecord()) != Kind::None)
            return t.refuse(k);
        if (sum & 0xFF)
            return t.refuse(Kind::BadChecksum);
        static constexpr int lengthOf[6] = {-1, 0, 2, 4, 2, 4}; // by type; -1: any
        if (type > 5)
            return t.refuse(Kind::BadRecordType);
        if (lengthOf[type] >= 0 && count != lengthOf[type])
            return t.refuse(Kind::BadLength);
        switch (type) {
        case 0:
            sink.data(linearBase + segmentBase + offset, out, count, t.recordLine());
            break;
        case 1:
            return afterEnd(t);
        case 2:
            segmentBase = (quint64(out[0]) << 8 | out[1]) << 4;
            break;
        case 4:
            linearBase = (quint64(out[0]) << 8 | out[1]) << 16;
            break;
        default: // 3, 5: where to start running, nothing to load
            break;
        }
    } while (t.nextRecord());
    return t.refuse(Kind::Truncated);
}

Refusal readSRecord(QByteArrayView view, Sink &sink)
{
    Text t(view, Format::SRecord);
    if (!t.nextRecord())
        return t.refuse(Kind::NoData);
    if (t.peek() != 'S')
        return t.refuse(Kind::WrongContent);
    static constexpr int addressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    quint64 dataRecords = 0;
    uchar scratch[256];
    do {
        if (t.take() != 'S')
            return t.refuse(Kind::BadCharacter);
        const int typeDigit = t.take();
        if (typeDigit < '0' || typeDigit > '9' || typeDigit == '4')
            return t.refuse(typeDigit < 0 ? Kind::Truncated : Kind::BadRecordType);
        const int type = typeDigit - '0';
        uint sum = 0;
        uchar head[5];
        Kind k = t.decode(head, 1, sum);
        if (k != Kind::None)
            return t.refuse(k);
        const int count = head[0];
        const int addressLength = addressBytes[type];
        if (count < addressLength + 1)
            return t.refuse(Kind::BadLength);
        if ((k = t.decode(head + 1, addressLength, sum)) != Kind::None)
            return t.refuse(k);
        quint64 address = 0;
        for (int i = 1; i <= addressLength; ++i)
            address = address << 8 | head[i];
        const int length = count - addressLength - 1;
        const bool isData = type >= 1 && type <= 3;
        uchar *out = isData ? sink.room(length) : scratch;
        uchar check[1];
        if ((k = t.decode(out, length, sum)) != Kind::None ||
            (k = t.decode(check, 1, sum)) != Kind::None || (k = t.endOfRecord()) != Kind::None)
            return t.refuse(k);
        if ((sum & 0xFF) != 0xFF)
            return t.refuse(Kind::BadChecksum);
        if (isData) {
            sink.data(address, out, length, t.recordLine());
            ++dataRecords;
        } else if (type != 0 && length != 0) {
            return t.refuse(Kind::BadLength); // S5 to S9 hold their address field only
        } else if (type == 5 || type == 6) {
            const quint64 modulo = quint64(1) << (8 * addressLength); // the counter wraps
            if (address != dataRecords % modulo)
                return t.refuse(Kind::BadCount);
        } else if (type >= 7) {
            return afterEnd(t);
        }
    } while (t.nextRecord());
    return t.refuse(Kind::Truncated);
}

} // namespace FirmwareImage::Records

// What a file holds, told by its first bytes: the ELF magic number, or a first record of Intel
// HEX or S-record text. A text record counts only when it is whole, of the length its byte count
// says and with a good checksum, so that a raw image is never taken for text by chance.
#include "firmwareimage.h"

namespace FirmwareImage
{

namespace
{

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The first line that is not blank, without its byte order mark, blanks and line end.
QByteArrayView firstRecord(QByteArrayView text)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    qsizetype from = 0;
    while (from < text.size() &&
           (text[from] == ' ' || text[from] == '\t' || text[from] == '\r' || text[from] == '\n'))
        ++from;
    qsizetype to = from;
    while (to < text.size() && text[to] != '\r' && text[to] != '\n')
        ++to;
    while (to > from && (text[to - 1] == ' ' || text[to - 1] == '\t'))
        --to;
    return text.sliced(from, to - from);
}

// The bytes that pairs of hex digits spell; empty when any is not a digit or one is left over.
QByteArray bytesOf(QByteArrayView digits)
{
    QByteArray bytes;
    if (digits.size() % 2 != 0)
        return bytes;
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        const int hi = hexDigit(digits[i]), lo = hexDigit(digits[i + 1]);
        if (hi < 0 || lo < 0)
            return QByteArray();
        bytes += char(hi << 4 | lo);
    }
    return bytes;
}

uint sumOf(const QByteArray &bytes)
{
    uint sum = 0;
    for (const char b : bytes)
        sum += uchar(b);
    return sum & 0xFF;
}

// ":LLAAAATT<data>CC", LL data bytes, every byte adding up to 0.
bool isIntelHexRecord(QByteArrayView record)
{
    if (!record.startsWith(':'))
        return false;
    const QByteArray bytes = bytesOf(record.sliced(1));
    return bytes.size() >= 5 && uchar(bytes[0]) + 5 == bytes.size() && sumOf(bytes) == 0;
}

// "STLL<address><data>CC", LL bytes after it, adding up to 0xFF.
bool isSRecord(QByteArrayView record)
{
    if (record.size() < 2 || record[0] != 'S' || record[1] < '0' || record[1] > '9' ||
        record[1] == '4')
        return false;
    const QByteArray bytes = bytesOf(record.sliced(2));
    return bytes.size() >= 3 && uchar(bytes[0]) + 1 == bytes.size() && sumOf(bytes) == 0xFF;
}

} // namespace

std::optional<Format> formatOfContent(QByteArrayView content)
{
    if (content.startsWith("\x7F"
                           "ELF"))
        return Format::Elf;
    const QByteArrayView record = firstRecord(content.first(qMin<qsizetype>(content.size(), 4096)));
    if (isIntelHexRecord(record))
        return Format::IntelHex;
    if (isSRecord(record))
        return Format::SRecord;
    return std::nullopt;
}

} // namespace FirmwareImage

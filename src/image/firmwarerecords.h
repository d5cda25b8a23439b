#pragma once

#include "firmwareimage.h"

#include <QtGlobal>

// The readers of the three firmware formats. Each walks its file once, checks every record and
// hands the data it finds, in file order, to a sink; the first fault ends the walk and comes
// back as the refusal (kind None when the whole file was good).
namespace FirmwareImage::Records
{

class Sink
{
public:
    virtual ~Sink() = default;
    // Where the next record's `length` data bytes are decoded to (text formats only; `length` is
    // at most 255, and a text of n characters never holds more than n / 2 data bytes).
    virtual uchar *room(qint64 length) = 0;
    // `length` bytes at `address`; `where` is the record's line (text) or program header (ELF).
    virtual void data(quint64 address, const uchar *bytes, qint64 length, qint64 where) = 0;
};

Refusal readIntelHex(QByteArrayView text, Sink &sink);
Refusal readSRecord(QByteArrayView text, Sink &sink);
Refusal readElf(QByteArrayView file, Sink &sink);

// Turns the content of a HEX, S-record or ELF file into the flat image of at most `limit` bytes,
// as read() does with maxSpan. A fuzzer passes a lower limit: building 64 MiB images from
// scattered addresses, it would spend its time filling them instead of searching.
Result convertWithin(Format format, QByteArrayView content, std::optional<quint64> base,
                     qint64 limit);

} // namespace FirmwareImage::Records

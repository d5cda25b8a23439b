#pragma once

#include <QByteArray>
#include <QString>

// The hex dump of an image as the preview shows it: the header line, CR LF, a line of 80
// asterisks, then for every 16 bytes CR LF and an 80-character row, with no line end after the
// last row. An empty image still gets one row, with every cell blank.
//
// A row, columns counted from 1:
//   1      blank
//   2-9    the address, 8 upper-case hex digits
//   10     "|"
//   11-58  16 cells " XY" (three blanks past the end of the image)
//   59-62  "|  |"
//   63-78  16 characters: the byte when 0x21 < byte < 0x7E, otherwise a blank
//   79-80  " |"
//
// The header counts each of its two CJK characters as two columns, so its "|" stands in
// column 10 and each column number over its byte cell.
//
// Every row is a pure function of the bytes, so any row or run of rows can be made on its own,
// straight from lookup tables into the caller's buffer.
namespace HexDump
{

constexpr int bytesPerRow = 16;
constexpr int rowChars = 80;
constexpr int headerLineChars = 56;
constexpr int starLineChars = 80;

// "   地址  | 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"
QString headerLine();
// 80 asterisks.
QString starLine();
// The header line, CR LF and the star line: the preview's content before any image is shown.
QString header();

// Rows in the dump of `length` bytes: ceil(length / 16), and 1 for an empty image.
constexpr qint64 rowCount(qint64 length)
{
    return length <= 0 ? 1 : (length + bytesPerRow - 1) / bytesPerRow;
}

// Characters in the whole text of the dump of `length` bytes.
constexpr qint64 textLength(qint64 length)
{
    return headerLineChars + 2 + starLineChars + (rowCount(length) * (2 + rowChars));
}

// Writes `count` rows of the dump of `data[0..length)` starting at `firstRow`, each preceded
// by CR LF, and returns the end.
char16_t *writeRows(const uchar *data, qint64 length, qint64 firstRow, qint64 count, char16_t *out);

// Row `row` of the dump of `data`.
QString row(const QByteArray &data, qint64 row);

// The whole dump text of `data`.
QString text(const QByteArray &data);

// The same text in UTF-8 (the rows are plain ASCII), for writing to a file or a pipe.
QByteArray utf8(const QByteArray &data);

} // namespace HexDump

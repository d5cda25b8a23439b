#pragma once

#include <QByteArray>
#include <QString>

// The hex dump of an image as the preview shows it: a header line, a line of 80 asterisks,
// then one 80-character row per 16 bytes, lines separated by CR LF, none after the last.
namespace HexDump
{

// "   地址  | 00 01 ... 0F", CR LF, 80 asterisks.
QString header();

// The whole dump text of `data` (one all-blank row when it is empty).
QString text(const QByteArray &data);

} // namespace HexDump

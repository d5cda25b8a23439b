#pragma once

#include <QByteArray>
#include <QString>

// The texts that describe a loaded image: beside the window's captions and in the command
// line's reports.

// The length in kilobytes as the size label shows it: length / 1024 rounded to one decimal
// (a value halfway between two tenths goes to the even tenth), in its shortest form, then
// "kB": 1024 -> "1kB", 1536 -> "1.5kB", 1280 -> "1.2kB", 52 -> "0.1kB", 51 -> "0kB".
QString kiloBytesText(qint64 length);

// The file name without its folder: the part after the last "/", the whole text when there is
// none.
QString fileNameOf(const QString &path);

// The SHA-256 of an image in lower-case hexadecimal, as the command line reports it.
QString sha256Hex(const QByteArray &image);

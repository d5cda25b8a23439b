#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>

// A pair in a hex sequence that is not a hexadecimal number.
class HexFormatError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Turns a hex sequence such as "44 4D 46" into bytes. Reading is by position: byte k comes
// from the characters at 3k and 3k+1 (0-based) and the character at 3k+2 is skipped whatever it
// is, so a trailing blank adds nothing and a final lone digit is one byte ("A" gives 0x0A).
// Lower-case digits convert the same. Throws HexFormatError on a pair that is not hex.
QByteArray hexSequenceBytes(const QString &text);

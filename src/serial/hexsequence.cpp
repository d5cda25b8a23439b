#include "hexsequence.h"

#include <string>

namespace
{

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

} // namespace

QByteArray hexSequenceBytes(const QString &text)
{
    const qsizetype count = (text.size() + 2) / 3;
    QByteArray bytes(count, '\0');
    for (qsizetype k = 0; k < count; ++k) {
        const qsizetype at = 3 * k;
        const int high = hexValue(text.at(at));
        int value = high;
        if (at + 1 < text.size()) {
            const int low = hexValue(text.at(at + 1));
            value = (high < 0 || low < 0) ? -1 : high * 16 + low;
        }
        if (value < 0)
            throw HexFormatError("not a hexadecimal byte at position " + std::to_string(at + 1));
        bytes[k] = char(value);
    }
    return bytes;
}

#include "hexsequence.h"

#include <cmath>

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

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
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

double leadingNumber(const QString &text)
{
    // Collect the characters of the number, skipping blanks, then let the C library convert.
    std::string number;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(text.at(i)))
            ++i;
    };
    auto digits = [&] {
        bool any = false;
        for (skipBlanks(); i < n && text.at(i).isDigit() && text.at(i).unicode() < 128;
             skipBlanks()) {
            number += char(text.at(i).unicode());
            ++i;
            any = true;
        }
        return any;
    };
    skipBlanks();
    if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        number += char(text.at(i++).unicode());
    bool mantissa = digits();
    skipBlanks();
    if (i < n && text.at(i) == QLatin1Char('.')) {
        ++i;
        number += '.';
        mantissa = digits() || mantissa;
    }
    if (!mantissa)
        return 0.0;
    skipBlanks();
    if (i < n && QStringLiteral("eEdD").contains(text.at(i))) {
        const qsizetype mark = i;
        std::string exponent = "e";
        ++i;
        skipBlanks();
        if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
            exponent += char(text.at(i++).unicode());
        const std::string before = number;
        number.clear();
        if (digits())
            number = before + exponent + number;
        else {
            number = before;
            i = mark;
        }
    }
    return std::strtod(number.c_str(), nullptr);
}

std::optional<qint16> portNumberFromText(const QString &text)
{
    const double value = leadingNumber(text.mid(3));
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // the default rounding mode: halves to even
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return qint16(rounded);
}

// The hex sequence and port number readers on arbitrary Latin-1 or UTF-16 text.
#include "fuzzcheck.h"
#include "hexsequence.h"
#include "portname.h"

#include <cmath>

namespace
{

int hexDigit(QChar c)
{
    const QString digits = QStringLiteral("0123456789ABCDEF");
    const qsizetype at = digits.indexOf(c.toUpper());
    return c.unicode() < 128 && at >= 0 ? int(at) : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    const bool wide = in.byte() & 1;
    const QByteArray raw = in.take(size);
    const QString text =
        wide ? QString(reinterpret_cast<const QChar *>(raw.constData()), raw.size() / 2)
             : QString::fromLatin1(raw);

    // Byte k comes from characters 3k and 3k+1; the character after each pair is skipped.
    QByteArray expected;
    bool wellFormed = true;
    for (qsizetype at = 0; at < text.size(); at += 3) {
        const int high = hexDigit(text[at]);
        const int low = at + 1 < text.size() ? hexDigit(text[at + 1]) : -2;
        wellFormed = wellFormed && high >= 0 && low != -1;
        expected.append(char(low == -2 ? high : high * 16 + low));
    }
    try {
        const QByteArray bytes = hexSequenceBytes(text);
        CHECK(wellFormed);
        CHECK(bytes == expected);
        CHECK(bytes.size() == (text.size() + 2) / 3);
    } catch (const HexFormatError &) {
        CHECK(!wellFormed);
    }

    const double number = leadingNumber(text.mid(3));
    const std::optional<qint16> port = portNumberFromText(text);
    if (port) {
        CHECK(std::isfinite(number));
        CHECK(double(*port) == std::nearbyint(number));
    } else {
        CHECK(!std::isfinite(number) || std::fabs(std::nearbyint(number)) > 32767.0);
    }
    return 0;
}

// The readers of port names on arbitrary Latin-1 or UTF-16 text: the window's lenient reading of
// its port box, and the command line's COMn and COMa-COMb.
#include "fuzzcheck.h"
#include "portname.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    const bool wide = in.byte() & 1;
    const QByteArray raw = in.take(size);
    const QString text =
        wide ? QString(reinterpret_cast<const QChar *>(raw.constData()), raw.size() / 2)
             : QString::fromLatin1(raw);

    const double number = leadingNumber(text.mid(3));
    const std::optional<qint16> port = portNumberFromText(text);
    if (port) {
        CHECK(std::isfinite(number));
        CHECK(double(*port) == std::nearbyint(number));
    } else {
        CHECK(!std::isfinite(number) || std::fabs(std::nearbyint(number)) > 32767.0);
    }

    // A COM name names a port the command line can open, and reads back from its own spelling.
    if (const std::optional<int> n = parseComName(text)) {
        CHECK(*n >= firstCom && *n <= lastCom);
        CHECK(text.startsWith(QLatin1String("COM"), Qt::CaseInsensitive));
        CHECK(parseComName(comName(*n)) == n);
        CHECK(upperComSpelling(text) == text.toUpper());
    }
    if (const std::optional<ComRange> range = parseComRange(text); range && range->valid()) {
        const QStringList names = range->names();
        CHECK(names.size() == range->last - range->first + 1);
        CHECK(parseComName(names.first()) == range->first);
        CHECK(parseComName(names.last()) == range->last);
    }
    return 0;
}

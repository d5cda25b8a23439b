#include "hexdump.h"

namespace HexDump
{

QString header()
{
    QString h = QStringLiteral("   地址  |");
    for (int i = 0; i < 16; ++i)
        h += QStringLiteral(" %1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
    h += QStringLiteral("\r\n");
    h += QString(80, QLatin1Char('*'));
    return h;
}

QString text(const QByteArray &data)
{
    static const char digits[] = "0123456789ABCDEF";
    const qsizetype len = data.size();
    const qsizetype rows = len == 0 ? 1 : (len + 15) / 16;
    QString out = header();
    out.reserve(out.size() + rows * 82);
    for (qsizetype r = 0; r < rows; ++r) {
        const qsizetype a = r * 16;
        out += QStringLiteral("\r\n ");
        for (int s = 28; s >= 0; s -= 4)
            out += QLatin1Char(digits[(quint64(a) >> s) & 0xF]);
        out += QLatin1Char('|');
        for (int j = 0; j < 16; ++j) {
            out += QLatin1Char(' ');
            if (a + j < len) {
                const quint8 b = quint8(data[a + j]);
                out += QLatin1Char(digits[b >> 4]);
                out += QLatin1Char(digits[b & 0xF]);
            } else {
                out += QStringLiteral("  ");
            }
        }
        out += QStringLiteral("|  |");
        for (int j = 0; j < 16; ++j) {
            const bool in = a + j < len;
            const quint8 b = in ? quint8(data[a + j]) : 0;
            out += (in && b > 0x21 && b < 0x7E) ? QLatin1Char(char(b)) : QLatin1Char(' ');
        }
        out += QStringLiteral(" |");
    }
    return out;
}

} // namespace HexDump

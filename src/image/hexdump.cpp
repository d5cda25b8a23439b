#include "hexdump.h"

#include "hugepages.h"

#include <array>
#include <cstring>

namespace HexDump
{

namespace
{

constexpr char hexDigits[] = "0123456789ABCDEF";

// Per-byte lookup tables for one character type. A cell entry is " XY" plus one spare
// character, so that it can be stored with one fixed-size copy; the next cell (or the bar after
// the last one) overwrites the spare.
template <typename Ch> struct Tables {
    std::array<std::array<Ch, 4>, 256> cell{};
    std::array<std::array<Ch, 2>, 256> pair{};
    std::array<Ch, 256> shown{};

    constexpr Tables()
    {
        for (int b = 0; b < 256; ++b) {
            const Ch hi = Ch(hexDigits[b >> 4]);
            const Ch lo = Ch(hexDigits[b & 0xF]);
            cell[b] = {Ch(' '), hi, lo, Ch(' ')};
            pair[b] = {hi, lo};
            // Only 34..125 show as themselves: blank, "!", "~", control bytes and 0x7F and
            // above show as blanks.
            shown[b] = (b > 0x21 && b < 0x7E) ? Ch(b) : Ch(' ');
        }
    }
};

template <typename Ch> constexpr Tables<Ch> tables{};

template <typename Ch> inline void putAddress(quint32 a, Ch *out)
{
    const auto &t = tables<Ch>;
    std::memcpy(out + 0, t.pair[(a >> 24) & 0xFF].data(), 2 * sizeof(Ch));
    std::memcpy(out + 2, t.pair[(a >> 16) & 0xFF].data(), 2 * sizeof(Ch));
    std::memcpy(out + 4, t.pair[(a >> 8) & 0xFF].data(), 2 * sizeof(Ch));
    std::memcpy(out + 6, t.pair[a & 0xFF].data(), 2 * sizeof(Ch));
}

template <typename Ch> void writeRowT(const uchar *data, qint64 length, qint64 row, Ch *out)
{
    const auto &t = tables<Ch>;
    const qint64 a = row * bytesPerRow;
    out[0] = Ch(' ');
    putAddress<Ch>(quint32(a), out + 1); // 8 digits: the address modulo 2^32
    out[9] = Ch('|');
    if (a >= 0 && a + bytesPerRow <= length) {
        const uchar *p = data + a;
        for (int j = 0; j < bytesPerRow; ++j)
            std::memcpy(out + 10 + 3 * j, t.cell[p[j]].data(), 4 * sizeof(Ch));
        out[58] = Ch('|');
        out[59] = Ch(' ');
        out[60] = Ch(' ');
        out[61] = Ch('|');
        for (int j = 0; j < bytesPerRow; ++j)
            out[62 + j] = t.shown[p[j]];
    } else {
        // The last, partial row (or the single row of an empty image): blank cells past the
        // end.
        const qint64 have = a < 0 ? 0 : qBound(qint64(0), length - a, qint64(bytesPerRow));
        const uchar *p = have > 0 ? data + a : nullptr;
        for (int j = 0; j < bytesPerRow; ++j) {
            Ch *c = out + 10 + 3 * j;
            if (j < have) {
                std::memcpy(c, t.cell[p[j]].data(), 3 * sizeof(Ch));
            } else {
                c[0] = c[1] = c[2] = Ch(' ');
            }
            out[62 + j] = j < have ? t.shown[p[j]] : Ch(' ');
        }
        out[58] = Ch('|');
        out[59] = Ch(' ');
        out[60] = Ch(' ');
        out[61] = Ch('|');
    }
    out[78] = Ch(' ');
    out[79] = Ch('|');
}

template <typename Ch>
Ch *writeRowsT(const uchar *data, qint64 length, qint64 firstRow, qint64 count, Ch *out)
{
    for (qint64 r = firstRow; r < firstRow + count; ++r) {
        out[0] = Ch('\r');
        out[1] = Ch('\n');
        writeRowT(data, length, r, out + 2);
        out += 2 + rowChars;
    }
    return out;
}

const uchar *bytes(const QByteArray &data)
{
    return reinterpret_cast<const uchar *>(data.constData());
}

} // namespace

QString headerLine()
{
    QString h = QStringLiteral("   地址  |");
    for (int i = 0; i < bytesPerRow; ++i) {
        h += QLatin1Char(' ');
        h += QLatin1Char(hexDigits[i >> 4]);
        h += QLatin1Char(hexDigits[i & 0xF]);
    }
    return h;
}

QString starLine()
{
    return QString(starLineChars, QLatin1Char('*'));
}

QString header()
{
    return headerLine() + QStringLiteral("\r\n") + starLine();
}

char16_t *writeRows(const uchar *data, qint64 length, qint64 firstRow, qint64 count, char16_t *out)
{
    return writeRowsT(data, length, firstRow, count, out);
}

QString row(const QByteArray &data, qint64 row)
{
    QString out(rowChars, Qt::Uninitialized);
    writeRowT(bytes(data), data.size(), row, reinterpret_cast<char16_t *>(out.data()));
    return out;
}

QString text(const QByteArray &data)
{
    const QString head = header();
    QString out(textLength(data.size()), Qt::Uninitialized);
    auto *p = reinterpret_cast<char16_t *>(out.data());
    adviseHugePages(p, out.size() * sizeof(char16_t));
    std::memcpy(p, head.constData(), head.size() * sizeof(char16_t));
    p = writeRowsT(bytes(data), data.size(), 0, rowCount(data.size()), p + head.size());
    Q_ASSERT(p == reinterpret_cast<char16_t *>(out.data()) + out.size());
    return out;
}

QByteArray utf8(const QByteArray &data)
{
    const QByteArray head = header().toUtf8();
    const qint64 rows = rowCount(data.size());
    QByteArray out(head.size() + rows * (2 + rowChars), Qt::Uninitialized);
    char *p = out.data();
    adviseHugePages(p, out.size());
    std::memcpy(p, head.constData(), head.size());
    p = writeRowsT(bytes(data), data.size(), 0, rows, p + head.size());
    Q_ASSERT(p == out.data() + out.size());
    return out;
}

} // namespace HexDump

#include "protocol.h"

#include <cmath>

namespace Protocol
{

QByteArray replyBytes(Reply reply)
{
    const quint8 x = quint8(reply);
    const char bytes[replyLength] = {char(x << 4 | 0x1), char(x << 4 | 0x2), char(x << 4 | 0x3),
                                     char(0x20 | x), char(0x10 | x)};
    return QByteArray(bytes, replyLength);
}

bool isReply(const QByteArray &read, Reply reply)
{
    return read.size() >= replyLength && read.left(replyLength) == replyBytes(reply);
}

std::optional<QByteArray> lengthField(qint32 blocks, qint32 remain)
{
    if (blocks < 0 || blocks > maxBlocks || remain < 0 || remain >= blockSize)
        return std::nullopt;
    QByteArray field(4, '\0');
    field[0] = char(blocks / 256);
    field[1] = char(blocks % 256);
    field[2] = char(remain / 256);
    field[3] = char(remain % 256);
    return field;
}

int progressPercent(qint32 n, qint32 total)
{
    if (total <= 0)
        return 0;
    int p = int(std::trunc(double(n + 1) * 100.0 / double(total)));
    if (p > 0)
        p -= 1;
    return p;
}

int progressWidth(double trackWidth, qint32 n, qint32 total)
{
    if (total <= 0)
        return 0;
    return int(std::nearbyint(trackWidth * double(n + 1) / double(total)));
}

QString progressText(int percent)
{
    return QStringLiteral("下载进度：") + QString::number(percent) + QLatin1Char('%');
}

} // namespace Protocol

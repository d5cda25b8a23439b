#include "bootloader.h"

namespace Bootloader
{

const QByteArray resetRequest = QByteArray::fromHex("F1F2F3F4F5E1E2E3E4E55D4D3D2D1D5C4C3C2C1C");
const QByteArray downloadRequest = QByteArray::fromHex("444D46");
const QByteArray lengthHead = QByteArray::fromHex("B1B2B3");
const QByteArray lengthTail = QByteArray::fromHex("1B2B3B");

QByteArray replyBytes(Reply reply)
{
    const quint8 x = quint8(reply);
    const char bytes[replyLength] = {char(x << 4 | 0x1), char(x << 4 | 0x2), char(x << 4 | 0x3),
                                     char(0x20 | x), char(0x10 | x)};
    return QByteArray(bytes, replyLength);
}

bool isReply(const QByteArray &frame, Reply reply)
{
    return frame.size() >= replyLength && frame.left(replyLength) == replyBytes(reply);
}

std::optional<QByteArray> lengthField(const BlockSplit &split)
{
    if (split.wholeBlocks < 0 || split.wholeBlocks > 0xFFFF)
        return std::nullopt;
    QByteArray field(4, '\0');
    field[0] = char(split.wholeBlocks >> 8);
    field[1] = char(split.wholeBlocks & 0xFF);
    field[2] = char(split.remainder >> 8);
    field[3] = char(split.remainder & 0xFF);
    return field;
}

} // namespace Bootloader

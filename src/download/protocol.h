#pragma once

#include "imagebuffer.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The STM32 serial bootloader's protocol as the host speaks it.
//
// The host wakes the bootloader with the download request (optionally preceded by the reset
// request at the reset baud rate), announces the image length in a 10-byte frame, sends the
// image in 1024-byte blocks (the last one shorter), one block per acknowledgement, and waits
// for the completion reply. Every reply is five bytes X1 X2 X3 2X 1X. No checksums.
namespace Protocol
{

// Requests, as hex sequences sent by SEND_HEX.
inline const QString RESET_REQUEST =
    QStringLiteral("F1 F2 F3 F4 F5 E1 E2 E3 E4 E5 5D 4D 3D 2D 1D 5C 4C 3C 2C 1C");
inline const QString DOWNLOAD_REQUEST = QStringLiteral("44 4D 46");
inline const QString LENGTH_HEAD = QStringLiteral("B1 B2 B3");
inline const QString LENGTH_TAIL = QStringLiteral("1B 2B 3B");

// The line settings that go with a baud-rate text.
inline const QString LINE_SUFFIX = QStringLiteral(",n,8,1");

enum class Reply : quint8 {
    A = 0xA, // answers the download request
    B = 0xB, // the length frame was taken
    C = 0xC, // a block was taken
    D = 0xD, // the last block was taken: complete
};

constexpr int replyLength = 5;
// The block size and the longest image are the image buffer's: 1024 bytes, 64 MiB - 1.
constexpr qint32 blockSize = ImageBuffer::blockSize;
// The length field carries the block count in 16 bits.
constexpr qint32 maxBlocks = qint32(ImageBuffer::maxLength / blockSize);
static_assert(maxBlocks == 65535);

// Tick limits: no reply B by the 54th tick of the length step is a connection failure, no
// reply C by the 51st tick after a block is a download failure.
constexpr int lengthStepTickLimit = 53;
constexpr int blockStepTickLimit = 50;

// The auto-reset cycle: one reset request (on tick 1 of the cycle) and four download requests
// every five ticks.
constexpr int resetCycleLength = 5;

// The five bytes of a reply: X1 X2 X3 2X 1X.
QByteArray replyBytes(Reply reply);

// True when the first five bytes of one read are the reply. A read of fewer than five bytes
// never matches.
bool isReply(const QByteArray &read, Reply reply);

// The length frame is sent on the 1st, 5th, 10th, 15th ... tick of the length step.
constexpr bool isLengthFrameTick(int tickCount)
{
    return tickCount == 1 || tickCount % 5 == 0;
}

// The 4-byte length field: whole blocks and remaining bytes, each as an unsigned 16-bit value,
// most significant byte first. Empty when the field cannot describe the image (more than
// 65535 blocks, or a negative count).
std::optional<QByteArray> lengthField(qint32 blocks, qint32 remain);

// Blocks in the image: the whole ones, plus one for a partial tail.
constexpr qint32 totalBlocks(qint32 blocks, bool noRemain)
{
    return noRemain ? blocks : blocks + 1;
}

// The percentage shown after block n of total was sent: (n + 1) * 100 / total truncated, then
// one less when above 0; the last block shows 99.
int progressPercent(qint32 n, qint32 total);

// The progress fill's width after block n of total: track * (n + 1) / total, rounded to the
// nearest whole twip, halves to even.
int progressWidth(double trackWidth, qint32 n, qint32 total);

// "下载进度：" followed by the percentage and "%".
QString progressText(int percent);

} // namespace Protocol
